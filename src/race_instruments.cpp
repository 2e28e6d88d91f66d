// The instrument overlay: history kept per physics step in a ring allocated once, panels and
// curves laid out once, and each frame one batch of shapes and one of text over the game.
#include "race_instruments.h"

#include <cmath>
#include <cstdio>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

namespace {

constexpr float kHalfPi = 1.5707964f;
constexpr int kWheels = 4;
constexpr int kHistoryMs = 5000;
constexpr int kTrailMs = 1000;
constexpr int kAccelerationTrailMs = 500;
// Every panel pixel is blended over the game each frame, which a software renderer pays for one
// by one: the panels are sized to what they hold, about 28% of the picture.
constexpr float kTextHeight = 18.0f;
constexpr float kLineHeight = 22.0f;
constexpr float kMargin = 6.0f;
// The panels start below a band left to what a browser page floats over the top of the picture:
// its row of buttons on a phone, and the label that says whether a replay is showing.
constexpr float kTop = 56.0f;
constexpr float kPadding = 6.0f;
constexpr float kTitleHeight = 26.0f; // a panel's title row, above its plot
constexpr float kReadoutWidth = 300.0f;
constexpr float kBarLeft = 96.0f;   // from the readouts' text origin; the bars run -1 to +1 over
constexpr float kBarWidth = 132.0f; //   this width, and the values follow them
constexpr float kCurvePanelWidth = 312.0f;
constexpr float kCurvePlotLeft = 16.0f; // within the panel
constexpr float kCurvePlotWidth = 280.0f;
constexpr float kCorneringPlotHeight = 140.0f;
constexpr float kTractionPlotHeight = 96.0f;
constexpr float kTickRow = 4.0f + kTextHeight; // the scale's labels under a plot
constexpr float kAccelerationPlotSize = 192.0f;
constexpr float kStripWidth = 456.0f;
constexpr float kStripHeight = 130.0f;
constexpr float kMaxAcceleration = 50.0f;
constexpr float kMaxRateOfTurn = 4.0f;
constexpr float kMaxStripSpeed = 50.0f;
// About how many segments a strip chart's line is drawn with, whatever the step.
constexpr int kStripSegments = 104;

constexpr SDL_Color kPanel{0, 0, 0, 150};
constexpr SDL_Color kGrid{255, 255, 255, 50};
constexpr SDL_Color kAxis{255, 255, 255, 110};
constexpr SDL_Color kCurve{235, 235, 235, 255};
constexpr SDL_Color kLabel{175, 175, 175, 255};
constexpr SDL_Color kValue{245, 245, 245, 255};
constexpr SDL_Color kTrack{255, 255, 255, 40};
constexpr SDL_Color kSpeed{120, 230, 120, 255};
constexpr SDL_Color kTurn{235, 235, 235, 255};
constexpr SDL_Color kWheelAngle{255, 150, 40, 255};
constexpr SDL_Color kAcceleration{245, 245, 245, 255};

float Clamp(float value, float low, float high) { return value < low ? low : (value > high ? high : value); }

// Where a curve k s / (1 + |a s|^e) peaks: |a s|^e = 1 / (e - 1).
float GetPeakSlip(const TyreCurve& curve)
{
    return static_cast<float>(std::pow(1.0 / (curve.exponent - 1.0), 1.0 / curve.exponent) / curve.scale);
}

// A line of `width` pixels from `from` to `to`, cut into dashes of `dash` pixels with gaps as long.
void AddDashedLine(orvo::ShapeBatch& batch, SDL_FPoint from, SDL_FPoint to, float dash, SDL_Color colour)
{
    const float dx = to.x - from.x;
    const float dy = to.y - from.y;
    const float length = std::sqrt(dx * dx + dy * dy);
    for (float at = 0.0f; at < length; at += 2.0f * dash) {
        const float end = at + dash < length ? at + dash : length;
        batch.AddLine({from.x + dx * at / length, from.y + dy * at / length},
                      {from.x + dx * end / length, from.y + dy * end / length}, 1.0f, colour);
    }
}

void AddCircle(orvo::ShapeBatch& batch, SDL_FPoint centre, float radius, SDL_Color colour)
{
    constexpr int kSegments = 48;
    SDL_FPoint previous{centre.x + radius, centre.y};
    for (int i = 1; i <= kSegments; ++i) {
        const double angle = 2.0 * 3.141592653589793 * i / kSegments;
        const SDL_FPoint next{centre.x + static_cast<float>(radius * std::cos(angle)),
                              centre.y + static_cast<float>(radius * std::sin(angle))};
        batch.AddLine(previous, next, 1.5f, colour);
        previous = next;
    }
}

} // namespace

SDL_FPoint Instruments::Plot::Map(float x, float y) const
{
    const float u = Clamp((x - xLow) / (xHigh - xLow), 0.0f, 1.0f);
    const float v = Clamp((y - yLow) / (yHigh - yLow), 0.0f, 1.0f);
    return SDL_FPoint{area.x + u * area.w, area.y + (1.0f - v) * area.h};
}

Instruments::Instruments(const orvo::Viewport& viewport, int stepMs)
    : stepMs(stepMs), history(static_cast<size_t>(kHistoryMs / stepMs)), layer(viewport.w, viewport.h), text(&font)
{
    font.LoadFile("res/gfx/font.png");
    LayOutFixedParts(viewport);
    // Room for a frame's worth, so that drawing allocates nothing.
    shapes.Reserve(4 * kStripSegments * 2 + 9 * kTrailSegments * 2 + 200);
    text.glyphs.Reserve(200);
}

const Instruments::Sample& Instruments::GetSample(int age) const
{
    const int size = static_cast<int>(history.size());
    return history[static_cast<size_t>((newest - age + size) % size)];
}

void Instruments::Record(const Car& car)
{
    const Car::StepValues& step = car.lastStep;
    newest = (newest + 1) % static_cast<int>(history.size());
    count = count < static_cast<int>(history.size()) ? count + 1 : count;
    Sample& sample = history[static_cast<size_t>(newest)];
    for (int i = 0; i < kWheels; ++i) {
        sample.slipAngles[i] = step.slipAngles[i];
        sample.lateralForces[i] = step.lateralForces[i];
        sample.longitudinalSlips[i] = step.longitudinalSlips[i];
        sample.tractionForces[i] = step.tractionForces[i];
    }
    // The change of velocity over the step, per second, turned into the car's frame as the step
    // saw it: forward along the nose, lateral to its right.
    const orvo::Vector2 acceleration = step.velocityChange * (1000.0f / static_cast<float>(stepMs));
    const orvo::Vector2 right(-step.forward.y, step.forward.x);
    sample.longitudinalAcceleration = acceleration.Dot(step.forward);
    sample.lateralAcceleration = acceleration.Dot(right);
    sample.speed = car.velocity.GetLength();
    sample.rateOfTurn = car.angularVelocity;
}

// ---------------------------------------------------------------------------------------------
// Layout: what stays the same from frame to frame

void Instruments::AddCurve(orvo::ShapeBatch& curves, orvo::TextBatch& labels, const Plot& plot, const TyreCurve& curve)
{
    // One sample every two pixels across the plot.
    const int samples = static_cast<int>(plot.area.w / 2.0f);
    SDL_FPoint previous{};
    for (int i = 0; i <= samples; ++i) {
        const float slip = plot.xLow + (plot.xHigh - plot.xLow) * static_cast<float>(i) / static_cast<float>(samples);
        const SDL_FPoint point = plot.Map(slip, GetPacejkaForce(slip, curve.stiffness, curve.scale, curve.exponent));
        if (i > 0) {
            curves.AddLine(previous, point, 2.0f, kCurve);
        }
        previous = point;
    }
    // The peak on both sides: a dashed line down from it to the axis, and its name.
    const float peak = GetPeakSlip(curve);
    for (const float side : {-1.0f, 1.0f}) {
        const SDL_FPoint top =
            plot.Map(side * peak, GetPacejkaForce(side * peak, curve.stiffness, curve.scale, curve.exponent));
        AddDashedLine(curves, top, plot.Map(side * peak, 0.0f), 4.0f, kAxis);
        curves.AddDisc(top, 3.5f, kCurve, 8);
    }
    const SDL_FPoint below = plot.Map(peak, 0.0f);
    labels.Add("peak", below.x + 4.0f, below.y + 4.0f, kTextHeight, kLabel);
}

void Instruments::LayOutFixedParts(const orvo::Viewport& viewport)
{
    const float width = static_cast<float>(viewport.w);
    const float height = static_cast<float>(viewport.h);
    const float left = kMargin;
    const float right = width - kMargin - kCurvePanelWidth;
    const float advance = font.MeasureWidth("0", kTextHeight);
    orvo::ShapeBatch fixedShapes;
    orvo::TextBatch fixedText(&font);
    const auto panel = [&](float x, float y, float w, float h) {
        fixedShapes.AddRect({x, y, w, h}, kPanel);
        layer.Show(SDL_Rect{static_cast<int>(x), static_cast<int>(y), static_cast<int>(w), static_cast<int>(h)});
    };
    const auto label = [&](const char* words, float x, float y, SDL_Color colour = kLabel) {
        return fixedText.Add(words, x, y, kTextHeight, colour);
    };
    const auto labelEndingAt = [&](const char* words, float right, float y) {
        label(words, right - font.MeasureWidth(words, kTextHeight), y);
    };
    // A plot's axes through its origin.
    const auto axes = [&](const Plot& plot) {
        const SDL_FRect& a = plot.area;
        const SDL_FPoint origin = plot.Map(0.0f, 0.0f);
        fixedShapes.AddLine({a.x, origin.y}, {a.x + a.w, origin.y}, 1.0f, kAxis);
        fixedShapes.AddLine({origin.x, a.y}, {origin.x, a.y + a.h}, 1.0f, kAxis);
    };
    // A curve's axes, and a faint line along its plot's top and bottom that shows its extent.
    const auto curveAxes = [&](const Plot& plot) {
        const SDL_FRect& a = plot.area;
        axes(plot);
        fixedShapes.AddLine({a.x, a.y}, {a.x + a.w, a.y}, 1.0f, kGrid);
        fixedShapes.AddLine({a.x, a.y + a.h}, {a.x + a.w, a.y + a.h}, 1.0f, kGrid);
    };

    // Readouts: a label column, bars from -1 to +1, the values after them.
    const float readoutHeight = 6.0f * kLineHeight + 2.0f * kPadding;
    panel(left, kTop, kReadoutWidth, readoutHeight);
    readoutOrigin = SDL_FPoint{left + kPadding, kTop + kPadding};
    const char* names[] = {"speed", "steer cmd", "steer", "wheel", "pedal cmd", "throttle"};
    for (int line = 0; line < 6; ++line) {
        const float y = readoutOrigin.y + kLineHeight * static_cast<float>(line);
        label(names[line], readoutOrigin.x, y);
        if (line > 0) {
            const float barLeft = readoutOrigin.x + kBarLeft;
            fixedShapes.AddRect({barLeft, y + 4.0f, kBarWidth, 11.0f}, kTrack);
            fixedShapes.AddRect({barLeft + kBarWidth * 0.5f - 1.0f, y + 1.0f, 2.0f, 17.0f}, kAxis);
        }
    }

    // Acceleration in the car's frame, rings every half of the range.
    const float accelerationTop = kTop + readoutHeight + kMargin;
    const float accelerationSide = kAccelerationPlotSize + 2.0f * kPadding;
    panel(left, accelerationTop, accelerationSide, kTitleHeight + kAccelerationPlotSize + kPadding);
    label("accel, car frame", left + kPadding, accelerationTop + kPadding);
    accelerationPlot =
        Plot{{left + kPadding, accelerationTop + kTitleHeight, kAccelerationPlotSize, kAccelerationPlotSize},
             -kMaxAcceleration,
             kMaxAcceleration,
             -kMaxAcceleration,
             kMaxAcceleration};
    const SDL_FRect& g = accelerationPlot.area;
    const SDL_FPoint centre = accelerationPlot.Map(0.0f, 0.0f);
    axes(accelerationPlot);
    for (const float ring : {0.5f, 1.0f}) {
        AddCircle(fixedShapes, centre, ring * g.w * 0.5f, kGrid);
    }
    label("fwd", centre.x + 4.0f, g.y);
    labelEndingAt("right", g.x + g.w, centre.y + 3.0f);
    label("50 u/s2", g.x, g.y + g.h - kTextHeight);

    // The cornering curve, with the wheels' colours as its key.
    const float corneringHeight = kTitleHeight + kCorneringPlotHeight + kTickRow + kPadding;
    panel(right, kTop, kCurvePanelWidth, corneringHeight);
    label("cornering", right + kPadding, kTop + kPadding);
    const char* wheels[kWheels] = {"FL", "FR", "RR", "RL"};
    const float keyLeft = right + kCurvePanelWidth - kPadding - font.MeasureWidth("FL FR RR RL", kTextHeight);
    for (int i = 0; i < kWheels; ++i) {
        label(wheels[i], keyLeft + 3.0f * advance * static_cast<float>(i), kTop + kPadding, kWheelColours[i]);
    }
    corneringPlot = Plot{{right + kCurvePlotLeft, kTop + kTitleHeight, kCurvePlotWidth, kCorneringPlotHeight},
                         -kHalfPi,
                         kHalfPi,
                         -1.0f,
                         1.0f};
    curveAxes(corneringPlot);
    AddCurve(fixedShapes, fixedText, corneringPlot, GetCorneringCurve());
    const float corneringTicks = corneringPlot.area.y + corneringPlot.area.h + 4.0f;
    label("-1.57", corneringPlot.area.x, corneringTicks);
    labelEndingAt("slip, rad  +1.57", corneringPlot.area.x + corneringPlot.area.w, corneringTicks);

    // The traction curve.
    const float tractionTop = kTop + corneringHeight + kMargin;
    panel(right, tractionTop, kCurvePanelWidth, kTitleHeight + kTractionPlotHeight + kTickRow + kPadding);
    label("traction", right + kPadding, tractionTop + kPadding);
    tractionPlot = Plot{{right + kCurvePlotLeft, tractionTop + kTitleHeight, kCurvePlotWidth, kTractionPlotHeight},
                        -1.5f,
                        1.5f,
                        -1.2f,
                        1.2f};
    curveAxes(tractionPlot);
    AddCurve(fixedShapes, fixedText, tractionPlot, GetTractionCurve());
    const float tractionTicks = tractionPlot.area.y + tractionPlot.area.h + 4.0f;
    label("-1.5", tractionPlot.area.x, tractionTicks);
    labelEndingAt("slip, u/s  +1.5", tractionPlot.area.x + tractionPlot.area.w, tractionTicks);

    // The strip chart, between the touch buttons at the bottom, its key in one line.
    const float stripLeft = std::floor((width - kStripWidth) * 0.5f);
    const float stripTop = height - kMargin - kStripHeight;
    panel(stripLeft, stripTop, kStripWidth, kStripHeight);
    float x = stripLeft + kPadding;
    const float keyTop = stripTop + 5.0f;
    x += label("5 s: ", x, keyTop);
    x += label("speed 0-50 ", x, keyTop, kSpeed);
    x += label("turn +-4 ", x, keyTop, kTurn);
    x += label("slip ", x, keyTop);
    x += label("FL ", x, keyTop, kWheelColours[0]);
    x += label("FR", x, keyTop, kWheelColours[1]);
    label(" +-1.57", x, keyTop);
    const SDL_FRect strip{stripLeft + kPadding, stripTop + kTitleHeight, kStripWidth - 2.0f * kPadding,
                          kStripHeight - kTitleHeight - kPadding};
    const float newestX = static_cast<float>(history.size() - 1);
    speedStrip = Plot{strip, -newestX, 0.0f, 0.0f, kMaxStripSpeed};
    signedStrip = Plot{strip, -newestX, 0.0f, -1.0f, 1.0f};
    const SDL_FPoint middle = signedStrip.Map(0.0f, 0.0f);
    fixedShapes.AddLine({strip.x, middle.y}, {strip.x + strip.w, middle.y}, 1.0f, kAxis);
    fixedShapes.AddLine({strip.x, strip.y + strip.h}, {strip.x + strip.w, strip.y + strip.h}, 1.0f, kGrid);
    for (int second = 1; second < kHistoryMs / 1000; ++second) {
        const float at = strip.x + strip.w * static_cast<float>(second) * 1000.0f / static_cast<float>(kHistoryMs);
        fixedShapes.AddLine({at, strip.y}, {at, strip.y + strip.h}, 1.0f, kGrid);
    }

    layer.Begin();
    fixedShapes.Draw();
    fixedText.Draw();
    layer.End();
}

// ---------------------------------------------------------------------------------------------
// Drawing: what changes every frame

void Instruments::AddReadouts(const Car& car)
{
    char value[32];
    std::snprintf(value, sizeof value, "%5.1f u/s", static_cast<double>(car.velocity.GetLength()));
    speedReadout = value;
    const float x = readoutOrigin.x;
    text.Add(speedReadout, x + kBarLeft, readoutOrigin.y, kTextHeight, kValue);

    const Car::StepValues& step = car.lastStep;
    const struct {
        float value;
        SDL_Color colour;
    } bars[] = {{step.control.x, kLabel},
                {car.steerAngle, kValue},
                {car.wheelAngle, kWheelAngle},
                {step.control.y, kLabel},
                {car.throttle, kSpeed}};
    for (int i = 0; i < 5; ++i) {
        const float y = readoutOrigin.y + kLineHeight * static_cast<float>(i + 1);
        const float centre = x + kBarLeft + kBarWidth * 0.5f;
        const float end = centre + kBarWidth * 0.5f * Clamp(bars[i].value, -1.0f, 1.0f);
        const float from = end < centre ? end : centre;
        shapes.AddRect({from, y + 4.0f, std::fabs(end - centre), 11.0f}, bars[i].colour);
        std::snprintf(value, sizeof value, "%+5.2f", static_cast<double>(bars[i].value));
        text.Add(value, x + kBarLeft + kBarWidth + 6.0f, y, kTextHeight, kValue);
    }
}

void Instruments::AddOperatingPoints(const Plot& plot, bool traction)
{
    const auto at = [&](const Sample& sample, int wheel) {
        return traction ? plot.Map(sample.longitudinalSlips[wheel], sample.tractionForces[wheel])
                        : plot.Map(sample.slipAngles[wheel], sample.lateralForces[wheel]);
    };
    // Rear wheels first and the front-left last, so that the front ones, which the driver
    // steers, stay on top.
    const int order[kWheels] = {3, 2, 1, 0};
    for (const int wheel : order) {
        AddTrail(kTrailMs, kWheelColours[wheel], [&](const Sample& sample) { return at(sample, wheel); });
    }
    for (const int wheel : order) {
        shapes.AddDisc(at(GetSample(0), wheel), wheel < 2 ? 6.0f : 5.0f, kWheelColours[wheel]);
    }
}

void Instruments::AddAcceleration()
{
    const auto at = [this](const Sample& sample) {
        return accelerationPlot.Map(sample.lateralAcceleration, sample.longitudinalAcceleration);
    };
    AddTrail(kAccelerationTrailMs, kAcceleration, at);
    shapes.AddDisc(at(GetSample(0)), 6.0f, kAcceleration);
}

void Instruments::AddStripChart()
{
    const int stride = static_cast<int>(history.size()) / kStripSegments;
    const auto series = [&](const Plot& plot, SDL_Color colour, auto value) {
        SDL_FPoint previous = plot.Map(0.0f, value(GetSample(0)));
        for (int age = stride; age < count; age += stride) {
            const SDL_FPoint point = plot.Map(-static_cast<float>(age), value(GetSample(age)));
            shapes.AddLine(previous, point, 2.0f, colour);
            previous = point;
        }
    };
    series(speedStrip, kSpeed, [](const Sample& s) { return s.speed; });
    series(signedStrip, kTurn, [](const Sample& s) { return s.rateOfTurn / kMaxRateOfTurn; });
    series(signedStrip, kWheelColours[1], [](const Sample& s) { return s.slipAngles[1] / kHalfPi; });
    series(signedStrip, kWheelColours[0], [](const Sample& s) { return s.slipAngles[0] / kHalfPi; });
}

void Instruments::Draw(const Car& car)
{
    if (!shown) {
        return;
    }
    layer.Draw();
    shapes.Clear();
    text.Clear();
    AddReadouts(car);
    if (count > 0) {
        AddStripChart();
        AddOperatingPoints(corneringPlot, false);
        AddOperatingPoints(tractionPlot, true);
        AddAcceleration();
    }
    shapes.DrawOpaque();
    text.Draw();
}

#ifdef __EMSCRIPTEN__
// The page's "Instruments" button: a press of I, through the same events as the key.
extern "C" EMSCRIPTEN_KEEPALIVE void orvo_toggle_instruments()
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.scancode = SDL_SCANCODE_I;
    event.key.keysym.sym = SDLK_i;
    SDL_PushEvent(&event);
    event.type = SDL_KEYUP;
    event.key.state = SDL_RELEASED;
    SDL_PushEvent(&event);
}
#endif

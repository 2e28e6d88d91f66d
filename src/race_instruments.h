// The instrument overlay: what the car's physics step computes, drawn live over the game in
// translucent panels along the picture's edges, so that a slide can be watched on the tyre curves
// as it happens and read back over the last seconds.
#pragma once

#include <string>
#include <vector>

#include "orvo/draw.h"
#include "race.h"

// Everything is laid out from the picture's edges, the top 56 pixels left clear; in the game's
// 1280 x 720 picture, with text 18 pixels high:
// - readouts (6, 56, 300 x 144): the speed, then one bar each, from -1 to +1 across x 108 to 240
//   with the value after it, for the steering command, `steerAngle`, `wheelAngle`, the pedal
//   command and `throttle`. The speed's value is at (108, 62).
// - acceleration (6, 206, 204 x 224): the car's acceleration in its own frame, lateral (to its
//   right) across and forward up, from -50 to +50 units per second squared over the 192-pixel
//   square centred at (108, 328), with a half-second trail.
// - cornering (962, 56, 312 x 194): the cornering curve, slip angle from -pi/2 at x 978 to +pi/2
//   at x 1258, force from +1 at y 82 to -1 at y 222, with each wheel's operating point and a
//   one-second trail behind it, and the peak marked on both sides.
// - traction (962, 256, 312 x 150): the traction curve, longitudinal slip from -1.5 at x 978 to
//   +1.5 units per second at x 1258, force from +1.2 at y 282 to -1.2 at y 378, with the wheels'
//   operating points.
// - the last 5 seconds (412, 584, 456 x 130): speed from 0 at y 708 to 50 units per second at
//   y 610, and about the middle line, rate of turn (+-4 rad/s) and the front wheels' slip angles
//   (+-pi/2), oldest at x 418, newest at x 862.
// The wheels' colours: front-left red, front-right yellow, rear-right cyan, rear-left violet.
class Instruments {
public:
    // What one physics step left, kept for the trails and the strip chart.
    struct Sample {
        float slipAngles[4];
        float lateralForces[4];
        float longitudinalSlips[4];
        float tractionForces[4];
        float lateralAcceleration;      // to the car's right, units per second squared
        float longitudinalAcceleration; // forward
        float speed;
        float rateOfTurn; // radians per second, clockwise
    };

    static constexpr SDL_Color kWheelColours[4] = {
        {255, 80, 60, 255}, {255, 220, 40, 255}, {60, 210, 255, 255}, {190, 120, 255, 255}};

    bool shown = false;
    std::string speedReadout; // the speed as the readout panel shows it, from the last drawing

    // Lays the panels out in the picture that `viewport` gives the size of, for `stepMs` steps.
    Instruments(const orvo::Viewport& viewport, int stepMs);
    Instruments(const Instruments&) = delete;
    Instruments& operator=(const Instruments&) = delete;

    void Toggle() { shown = !shown; }
    // Keeps what the car's last physics step computed; once per step, shown or not, so that the
    // past is there as soon as the overlay is.
    void Record(const Car& car);
    // Draws the overlay for `car`, the one being driven, when shown: the fixed parts in one copy,
    // then one batch of shapes and one of text.
    void Draw(const Car& car);

    // The samples kept, at most 5 seconds of steps, and the one `age` steps before the newest.
    int GetSampleCount() const { return count; }
    const Sample& GetSample(int age) const;

private:
    struct Plot {
        SDL_FRect area;
        float xLow, xHigh, yLow, yHigh;
        SDL_FPoint Map(float x, float y) const; // clamped to the area
    };

    int stepMs;
    std::vector<Sample> history; // ring buffer, allocated once
    int newest = -1;
    int count = 0;

    orvo::Font font;
    orvo::Layer layer;       // the panels, scales, curves and labels, drawn once
    orvo::ShapeBatch shapes; // this frame's bars and operating points
    orvo::TextBatch text;    // this frame's values

    SDL_FPoint readoutOrigin;
    Plot accelerationPlot;
    Plot corneringPlot;
    Plot tractionPlot;
    Plot speedStrip;  // speed against time
    Plot signedStrip; // rate of turn and slip angles, each scaled to +-1, against time

    void LayOutFixedParts(const orvo::Viewport& viewport);
    void AddCurve(orvo::ShapeBatch& curves, orvo::TextBatch& labels, const Plot& plot, const TyreCurve& curve);
    void AddReadouts(const Car& car);
    // Each adds its lines and points to this frame's shapes.
    void AddOperatingPoints(const Plot& plot, bool traction);
    void AddAcceleration();
    void AddStripChart();
    // A line through where `at` puts the samples of the last `ms` milliseconds, darkening toward
    // the oldest: opaque, as everything drawn per frame, since blending costs the most.
    template <typename Place> void AddTrail(int ms, SDL_Color colour, Place at)
    {
        const int length = count < ms / stepMs ? count : ms / stepMs;
        const int stride = length / kTrailSegments > 0 ? length / kTrailSegments : 1;
        for (int age = length - 1; age - stride >= 0; age -= stride) {
            const int weight = 40 + 150 * (length - age) / length; // of 255
            const auto shade = [weight](Uint8 c) { return static_cast<Uint8>(30 + (c - 30) * weight / 255); };
            shapes.AddLine(at(GetSample(age)), at(GetSample(age - stride)), 2.0f,
                           SDL_Color{shade(colour.r), shade(colour.g), shade(colour.b), 255});
        }
    }
    static constexpr int kTrailSegments = 25;
};

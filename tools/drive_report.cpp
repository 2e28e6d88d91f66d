// Scripted manoeuvres of the real race state: each presses the arrow keys through the state's own
// handlers, runs its physics steps and reads the car back, so the figures are those of the game.
#include "drive_report.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace drive {

namespace {

constexpr double kNotReached = std::numeric_limits<double>::quiet_NaN();
constexpr double kRadiansToDegrees = 180.0 / 3.14159265358979323846;
// Settled values are means over this many final seconds of a run.
constexpr double kSettleSeconds = 1.0;
// Runs that stop on a condition give up after this long.
constexpr double kGiveUpSeconds = 60.0;

struct ArrowKey {
    unsigned flag;
    SDL_Keycode code;
    const char* name; // in the CSV's keys column
    bool RaceState::*held;
};
constexpr ArrowKey kArrowKeys[] = {{kUp, SDLK_UP, "U", &RaceState::keyUp},
                                   {kDown, SDLK_DOWN, "D", &RaceState::keyDown},
                                   {kLeft, SDLK_LEFT, "L", &RaceState::keyLeft},
                                   {kRight, SDLK_RIGHT, "R", &RaceState::keyRight}};

SDL_Keysym KeysymOf(SDL_Keycode code)
{
    SDL_Keysym keysym{};
    keysym.sym = code;
    return keysym;
}

Sample ReadCar(const Car& car, double time, unsigned keys)
{
    const orvo::Spatial& placement = car.body->spatial;
    return Sample{time,           keys,           placement.position.x,     placement.position.y, placement.rotation,
                  car.velocity.x, car.velocity.y, car.velocity.GetLength(), car.angularVelocity,  car.steerAngle,
                  car.wheelAngle};
}

// The angle from the direction of travel to the nose, positive when the nose points clockwise
// (to the right) of where the car goes.
double DriftAngle(const Sample& sample)
{
    const double heading = sample.heading;
    const orvo::Vector2 forward(static_cast<float>(std::sin(heading)), static_cast<float>(-std::cos(heading)));
    return orvo::Vector2(sample.vx, sample.vy).GetAngleTo(forward);
}

// The time of the first sample that satisfies `reached`, or NaN.
template <typename Predicate> double FirstTime(const std::vector<Sample>& trace, Predicate reached)
{
    for (const Sample& sample : trace) {
        if (reached(sample)) {
            return sample.time;
        }
    }
    return kNotReached;
}

// The mean of `quantity` over the last second of the run.
template <typename Quantity> double Settled(const std::vector<Sample>& trace, Quantity quantity)
{
    // The first sample's time is one step.
    const double stepSeconds = trace.front().time;
    const size_t count = std::min(trace.size(), static_cast<size_t>(std::lround(kSettleSeconds / stepSeconds)));
    double sum = 0.0;
    for (size_t i = trace.size() - count; i < trace.size(); ++i) {
        sum += quantity(trace[i]);
    }
    return sum / static_cast<double>(count);
}

double PathLength(float startX, float startY, const std::vector<Sample>& trace)
{
    double length = 0.0;
    double x = startX;
    double y = startY;
    for (const Sample& sample : trace) {
        length += std::hypot(sample.x - x, sample.y - y);
        x = sample.x;
        y = sample.y;
    }
    return length;
}

std::string KeyNames(unsigned keys)
{
    std::string names;
    for (const ArrowKey& key : kArrowKeys) {
        if ((keys & key.flag) != 0) {
            names += key.name;
        }
    }
    return names.empty() ? "-" : names;
}

} // namespace

double Sample::ForwardSpeed() const
{
    const double h = heading;
    return vx * std::sin(h) - vy * std::cos(h);
}

Driver::Driver(RaceState& race) : race(race), held(kNoKeys)
{
    for (const ArrowKey& key : kArrowKeys) {
        held |= race.*key.held ? key.flag : kNoKeys;
    }
}

void Driver::Hold(unsigned keys)
{
    for (const ArrowKey& key : kArrowKeys) {
        const bool wanted = (keys & key.flag) != 0;
        const bool down = (held & key.flag) != 0;
        if (wanted && !down) {
            race.OnKeyDown(KeysymOf(key.code));
        } else if (!wanted && down) {
            race.OnKeyUp(KeysymOf(key.code));
        }
    }
    held = keys;
}

const Sample& Driver::Step()
{
    race.OnStepPhysicsTime();
    trace.push_back(ReadCar(*race.car, static_cast<double>(trace.size() + 1) * StepSeconds(), held));
    return trace.back();
}

void Driver::StepFor(double seconds)
{
    // At least `seconds`: 10 s of 3 ms steps are 3334 steps.
    const long steps = std::lround(std::ceil(seconds / StepSeconds() - 1e-9));
    for (long i = 0; i < steps; ++i) {
        Step();
    }
}

double Driver::StepSeconds() const { return race.game->physicsStepMs * 0.001; }

double Manoeuvre::Get(const std::string& figureName) const
{
    for (const Figure& figure : figures) {
        if (figure.name == figureName) {
            return figure.value;
        }
    }
    return kNotReached;
}

Manoeuvre Accelerate(RaceState& race)
{
    const orvo::Vector2 start = race.car->body->spatial.position;
    Driver driver(race);
    driver.Hold(kUp);
    driver.StepFor(10.0);

    Manoeuvre run{"acceleration", std::move(driver.trace), {}};
    for (int target : {10, 20, 30, 40, 45}) {
        const double time = FirstTime(run.trace, [target](const Sample& s) { return s.speed >= target; });
        run.figures.push_back({"time to " + std::to_string(target) + " units/s", time, "s"});
    }
    run.figures.push_back({"speed after 10 s", run.trace.back().speed, "units/s"});
    run.figures.push_back({"distance in 10 s", PathLength(start.x, start.y, run.trace), "units"});
    return run;
}

Manoeuvre Brake(RaceState& race)
{
    const orvo::Vector2 start = race.car->body->spatial.position;
    const double startSpeed = race.car->velocity.GetLength();
    Driver driver(race);
    driver.Hold(kDown);
    while (driver.Step().ForwardSpeed() > 1.0 && driver.trace.back().time < kGiveUpSeconds) {
    }

    Manoeuvre run{"braking", std::move(driver.trace), {}};
    run.figures.push_back({"speed at the start", startSpeed, "units/s"});
    run.figures.push_back({"time to 1 unit/s forward", run.trace.back().time, "s"});
    run.figures.push_back({"distance meanwhile", PathLength(start.x, start.y, run.trace), "units"});
    return run;
}

Manoeuvre Reverse(RaceState& race)
{
    Driver driver(race);
    driver.Hold(kDown);
    driver.StepFor(5.0);

    Manoeuvre run{"reversing", std::move(driver.trace), {}};
    const auto backwardSpeed = [](const Sample& s) { return -s.ForwardSpeed(); };
    run.figures.push_back({"time to 9 units/s backward",
                           FirstTime(run.trace, [&](const Sample& s) { return backwardSpeed(s) >= 9.0; }), "s"});
    run.figures.push_back({"steady backward speed", Settled(run.trace, backwardSpeed), "units/s"});
    return run;
}

Manoeuvre CornerSteadily(RaceState& race)
{
    Driver driver(race);
    driver.Hold(kUp | kRight);
    driver.StepFor(20.0);

    Manoeuvre run{"cornering", std::move(driver.trace), {}};
    const double speed = Settled(run.trace, [](const Sample& s) { return s.speed; });
    const double yawRate = Settled(run.trace, [](const Sample& s) { return s.yawRate; });
    const double drift = Settled(run.trace, DriftAngle);
    const double wheelAngle = Settled(run.trace, [](const Sample& s) { return s.wheelAngle; });
    run.figures.push_back({"settled speed", speed, "units/s"});
    run.figures.push_back({"settled yaw rate", yawRate, "rad/s"});
    run.figures.push_back({"turning radius", speed / yawRate, "units"});
    run.figures.push_back({"drift angle (nose right of travel)", drift * kRadiansToDegrees, "deg"});
    run.figures.push_back({"front wheel angle", wheelAngle * kRadiansToDegrees, "deg"});
    return run;
}

Manoeuvre SteerStep(RaceState& race)
{
    Driver driver(race);
    driver.Hold(kUp);
    while (driver.Step().speed < 30.0f && driver.trace.back().time < kGiveUpSeconds) {
    }
    const size_t steerStart = driver.trace.size();
    const double steerTime = driver.trace.back().time;
    driver.Hold(kRight);
    driver.StepFor(3.0);

    Manoeuvre run{"step-steer", std::move(driver.trace), {}};
    const Sample* peak = &run.trace[steerStart];
    for (size_t i = steerStart; i < run.trace.size(); ++i) {
        peak = run.trace[i].yawRate > peak->yawRate ? &run.trace[i] : peak;
    }
    run.figures.push_back({"speed when steering starts", run.trace[steerStart - 1].speed, "units/s"});
    run.figures.push_back({"peak yaw rate", peak->yawRate, "rad/s"});
    run.figures.push_back({"time to peak yaw rate", peak->time - steerTime, "s"});
    run.figures.push_back({"settled yaw rate (mean of last 1 s)",
                           Settled(run.trace, [](const Sample& s) { return s.yawRate; }), "rad/s"});
    run.figures.push_back({"speed after 3 s", run.trace.back().speed, "units/s"});
    return run;
}

TyreCurves SampleTyreCurves()
{
    TyreCurves curves;
    for (int i = -3000; i <= 3000; ++i) {
        const float slip = static_cast<float>(i) / 1000.0f;
        curves.samples.push_back(
            {slip, GetPacejkaForce(slip, 3.0f, 1.8f, 1.4f), GetPacejkaForce(slip, 7.0f, 4.0f, 1.3f)});
    }
    const TyreSample* cornering = &curves.samples.front();
    const TyreSample* traction = &curves.samples.front();
    for (const TyreSample& sample : curves.samples) {
        cornering = sample.cornering > cornering->cornering ? &sample : cornering;
        traction = sample.traction > traction->traction ? &sample : traction;
    }
    curves.figures = {{"cornering peak force (3, 1.8, 1.4)", cornering->cornering, "-"},
                      {"cornering peak at slip", cornering->slip, "rad"},
                      {"traction peak force (7, 4, 1.3)", traction->traction, "-"},
                      {"traction peak at slip", traction->slip, "units/s"}};
    return curves;
}

void WriteCsv(std::FILE* file, const std::vector<Sample>& trace)
{
    std::fprintf(file, "time,keys,x,y,heading,vx,vy,speed,yaw_rate,steer_angle,wheel_angle\n");
    for (const Sample& s : trace) {
        std::fprintf(file, "%.9g,%s,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n", s.time, KeyNames(s.keys).c_str(),
                     s.x, s.y, s.heading, s.vx, s.vy, s.speed, s.yawRate, s.steerAngle, s.wheelAngle);
    }
}

void WriteCsv(std::FILE* file, const std::vector<TyreSample>& samples)
{
    std::fprintf(file, "slip,cornering,traction\n");
    for (const TyreSample& s : samples) {
        std::fprintf(file, "%.9g,%.9g,%.9g\n", s.slip, s.cornering, s.traction);
    }
}

} // namespace drive

// Scripted manoeuvres of the real race state and the figures measured from them, behind the
// orvo-drive tool. Kept apart from the command line so that a test can drive them too.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "race.h"

namespace drive {

// Held arrow keys as bit flags.
enum Keys : unsigned { kNoKeys = 0, kLeft = 1, kRight = 2, kUp = 4, kDown = 8 };

// The car as it stands after one physics step.
struct Sample {
    double time;   // seconds since the manoeuvre began, counted in whole steps
    unsigned keys; // held during the step
    float x;
    float y;
    float heading;
    float vx;
    float vy;
    float speed; // as the model measures it, velocity.GetLength()
    float yawRate;
    float steerAngle;
    float wheelAngle;

    // Velocity along the nose: positive forward, negative backward.
    double ForwardSpeed() const;
};

// Presses and releases keys on a race state and steps it exactly as the game's loop does,
// recording one sample per step.
class Driver {
public:
    std::vector<Sample> trace;

    // Starts from the keys the race state already holds, so that a manoeuvre can carry on
    // from the end of another.
    explicit Driver(RaceState& race);
    // Presses the keys in `keys` not yet held and releases the held ones not in it.
    void Hold(unsigned keys);
    const Sample& Step();
    void StepFor(double seconds);
    double StepSeconds() const;

private:
    RaceState& race;
    unsigned held;
};

struct Figure {
    std::string name;
    double value; // NaN when the manoeuvre never got there
    std::string unit;
};

struct Manoeuvre {
    std::string name; // also the stem of its CSV file
    std::vector<Sample> trace;
    std::vector<Figure> figures;

    // The value of the figure called `name`; NaN when there is none.
    double Get(const std::string& figureName) const;
};

// Each from the race state as it is; all but braking expect a fresh one (the car at rest at the
// origin), braking the state that the acceleration run left.
Manoeuvre Accelerate(RaceState& race);
Manoeuvre Brake(RaceState& race);
Manoeuvre Reverse(RaceState& race);
Manoeuvre CornerSteadily(RaceState& race);
Manoeuvre SteerStep(RaceState& race);

// The cornering and traction tyre curves side by side.
struct TyreSample {
    float slip;
    float cornering;
    float traction;
};

struct TyreCurves {
    std::vector<TyreSample> samples;
    std::vector<Figure> figures;
};

TyreCurves SampleTyreCurves();

// CSV with a header row; floats with 9 significant digits, enough to read back the same float.
void WriteCsv(std::FILE* file, const std::vector<Sample>& trace);
void WriteCsv(std::FILE* file, const std::vector<TyreSample>& samples);

} // namespace drive

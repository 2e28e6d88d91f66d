// The car model: the tyre curve to the last bit, one step from known states to the digits worked
// out for them, invariants over long drives, and a golden trajectory that pins every bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "race.h"
#include "race_skid_marks.h"

using orvo::Vector2;
constexpr float kPi = 3.1415927f;

// `actual` rounds to the decimal digits given (within half a unit of the last); a whole number is exact.
static void ExpectDigits(float actual, const std::string& digits, const std::string& what)
{
    const size_t decimals = digits.find('.') == std::string::npos ? 0 : digits.size() - digits.find('.') - 1;
    const double tolerance = decimals == 0 ? 0 : 0.5000005 * std::pow(10.0, -static_cast<double>(decimals));
    EXPECT_NEAR(actual, std::stod(digits), tolerance) << what << ", expected " << digits;
}

TEST(TyreCurve, MatchesItsTableToTheLastBitForBothParameterSetsAndPassesNaNThrough)
{
    // Slip, then the cornering (3, 1.8, 1.4) and traction (7, 4, 1.3) forces rounded to float.
    const float rows[][3] = {{0.0f, 0.0f, 0.0f},
                             {0.05f, 0.14501847f, 0.31155235f},
                             {0.1f, 0.27506462f, 0.53686619f},
                             {-0.1f, -0.27506462f, -0.53686619f},
                             {0.2f, 0.48416993f, 0.80082428f},
                             {0.5f, 0.80521423f, 1.01089203f},
                             {1.0f, 0.91544443f, 0.99109912f},
                             {1.5707964f, 0.89165604f, 0.92359394f},
                             {2.0f, 0.85600626f, 0.87892628f},
                             {5.0f, 0.66155010f, 0.69819707f}};
    for (const auto& row : rows) {
        EXPECT_EQ(GetPacejkaForce(row[0], 3.0f, 1.8f, 1.4f), row[1]) << row[0];
        EXPECT_EQ(GetPacejkaForce(row[0], 7.0f, 4.0f, 1.3f), row[2]) << row[0];
    }
    EXPECT_TRUE(std::isnan(GetPacejkaForce(NAN, 3.0f, 1.8f, 1.4f)));
}

// Each test drives the car of a fresh race, at rest at the origin.
class CarStep : public testing::Test {
protected:
    static void SetUpTestSuite() { orvo::Init(); }
    static void TearDownTestSuite() { orvo::Exit(); }
    void Drive(const Vector2& control, int steps)
    {
        while (steps-- > 0) {
            car.OnStepPhysicsTime(control);
        }
    }
    float Speed() const { return car.velocity.GetLength(); }
    float Heading() const { return car.body->spatial.rotation; }

    orvo::Game game{8, 3};
    RaceState race{&game};
    Car& car = *race.car;
};

// Steps from a known state, checked to the digits worked out for them; the marker's x is 5 times the
// front-left slip angle. A rate of 3.3637 at rest decays in the step to one that turns by 0.01.
TEST_F(CarStep, StepsFromKnownStatesGiveTheWorkedOutValues)
{
    enum { kVx, kVy, kRate, kSteer, kWheel, kThrottle, kHeading, kMarker };
    const struct {
        const char* name;
        float vx, vy, rate, steer, wheel, heading, controlX, controlY;
        int steps;
        std::vector<std::pair<int, const char*>> expected;
    } examples[] = {
        // clang-format off
        {"at rest, no keys", 0, 0, 0, 0, 0, 0, 0, 0, 1, {{kVx, "0"}, {kVy, "0"}, {kRate, "0"}, {kWheel, "0"}, {kHeading, "0"}, {kMarker, "0"}}},
        {"spinning at rest", 0, 0, 0.5f, 0, 0, 0, 0, 0, 1, {{kVx, "0"}, {kVy, "0"}, {kRate, "0.4954739"}, {kMarker, "-3.927"}}},
        {"steering right from 0", 0, 0, 0, 0, 0, 0, 1, 0, 1, {{kSteer, "0.015"}, {kWheel, "0.015"}, {kMarker, "0.075"}}},
        {"steering left from 0.1", 0, 0, 0, 0.1f, 0, 0, -1, 0, 1, {{kSteer, "0.085"}, {kWheel, "0.085"}}},
        {"front-left slip of 0.1", 0, 0, 0, 0.085f, 0, 0, 1, 0, 1, {{kMarker, "0.500000"}}},
        {"pedal beyond full", 0, 0, 0, 0, 0, 0, 0, 1.5f, 1, {{kThrottle, "1"}}},
        {"pedal beyond reverse", 0, 0, 0, 0, 0, 0, 0, -1, 1, {{kThrottle, "-0.2"}}},
        {"straight at 10 steering 0.2", 0, -10, 0, 0.2f, 0, 0, 0.2f, 0, 1, {{kWheel, "0.1373901"}, {kVx, "0.0128766"}, {kVy, "-9.9982204"}, {kRate, "0.0129997"}}},
        {"steering 0.5 at 50", 0, -50, 0, 0.5f, 0, 0, 0.5f, 0, 1, {{kWheel, "0.15"}}},
        {"sliding sideways at 10", 10, 0, 0, 0, 0, 0, 0, 0, 1, {{kWheel, "0.3776707"}, {kVx, "9.937459"}, {kVy, "-0.0121257"}, {kRate, "-0.00080835"}, {kMarker, "-5.965628"}}},
        {"rolling backward at 5", 0, 5, 0, 0, 0, 0, 0, 0, 1, {{kVx, "0"}, {kVy, "5"}, {kRate, "0"}, {kMarker, "0"}}},
        {"creeping, wheels at 0.3", 0, -0.25f, 0, 0.3f, 0.3f, 0, 0.3f, 0, 1, {{kWheel, "0.2851508"}}},
        {"creeping backward", 0, 0.25f, 0, 0, 0, 0, 0, 0, 1, {{kWheel, "0"}, {kRate, "0"}}},
        {"up from rest", 0, 0, 0, 0, 0, 0, 0, 1, 1, {{kVx, "0"}, {kVy, "-0.0446"}}},
        {"down from rest reverses", 0, 0, 0, 0, 0, 0, 0, -1, 1, {{kVx, "0"}, {kVy, "0.0446"}}},
        {"down at 20 brakes", 0, -20, 0, 0, 0, 0, 0, -1, 1, {{kVy, "-19.9554"}}},
        {"down at 0.8 reverses", 0, -0.8f, 0, 0, 0, 0, 0, -1, 1, {{kVy, "-0.7554"}}},
        {"up at 49.5 aims at 50", 0, -49.5f, 0, 0, 0, 0, 0, 1, 1, {{kVy, "-49.5455"}}},
        {"up at 50 holds it", 0, -50, 0, 0, 0, 0, 0, 1, 1, {{kVy, "-50.0000"}}},
        {"half pedal rolls freely", 0, 0, 0, 0, 0, 0, 0, 0.5f, 1, {{kVy, "0"}}},
        {"53 steps right from 0", 0, 0, 0, 0, 0, 0, 1, 0, 53, {{kSteer, "0.78539819"}}},
        {"53 steps back from full", 0, 0, 0, 0.78539819f, 0, 0, 0, 0, 53, {{kSteer, "0"}}},
        {"down from rest for 12 s", 0, 0, 0, 0, 0, 0, 0, -1, 4000, {{kVx, "0"}, {kVy, "10.00"}}},
        {"turning across pi", 0, 0, 3.363783f, 0, 0, 3.14f, 0, 0, 1, {{kHeading, "-3.1331854"}}},
        // clang-format on
    };
    for (const auto& e : examples) {
        car.body->spatial.position = Vector2();
        car.body->spatial.rotation = e.heading;
        car.velocity = Vector2(e.vx, e.vy);
        car.angularVelocity = e.rate, car.steerAngle = e.steer, car.wheelAngle = e.wheel;
        testing::internal::CaptureStdout();
        Drive(Vector2(e.controlX, e.controlY), e.steps);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << e.name;
        const float actual[] = {car.velocity.x, car.velocity.y, car.angularVelocity, car.steerAngle,
                                car.wheelAngle, car.throttle,   Heading(),           car.redDot->spatial.position.x};
        for (const auto& [field, digits] : e.expected) {
            ExpectDigits(actual[field], digits, e.name + std::string(", field ") + std::to_string(field));
        }
        EXPECT_EQ(car.redDot->spatial.position.y, 10.0f) << e.name;
        EXPECT_EQ(car.lastStep.braking, std::string(e.name) == "down at 20 brakes") << e.name << ", kept for the sound";
    }
}

TEST_F(CarStep, LongRandomDriveStaysFiniteWithinTopSpeedWithTheHeadingWithinPiAndBrakingNeverSpeedsUpAndSounds)
{
    // Held arrows drawn afresh every 50 to 150 steps; raw mt19937 output is the same everywhere.
    std::mt19937 random(20240611);
    const auto held = [&](unsigned percent) { return random() % 100 < percent ? 1.0f : 0.0f; };
    Vector2 keys;
    float fastest = 0.0f;
    int brakingSteps = 0;
    float sound[2 * 144], loudest = 0.0f; // the sound of a 3 ms step, at 48 kHz
    for (int step = 0, next = 0; step < 100000; ++step) {
        if (step == next) {
            next += 50 + static_cast<int>(random() % 101);
            const float left = held(35), right = held(35), up = held(50), down = held(35);
            keys = Vector2(right - left, up - down);
        }
        const float before = Speed();
        const bool braking = keys.y < 0 && car.velocity.Dot(Vector2(std::sin(Heading()), -std::cos(Heading()))) > 1.5f;
        car.OnStepPhysicsTime(keys);
        ASSERT_TRUE(!braking || Speed() <= before) << "braking sped the car up at step " << step;
        brakingSteps += braking;
        const Vector2& at = car.body->spatial.position;
        for (float value : {at.x, at.y, car.velocity.x, car.velocity.y, car.angularVelocity, car.wheelAngle}) {
            ASSERT_TRUE(std::isfinite(value)) << "step " << step;
        }
        ASSERT_TRUE(Heading() >= -kPi && Heading() <= kPi) << "step " << step << ": " << Heading();
        ASSERT_LE(Speed(), 50.0f) << "step " << step;
        race.sound.SetInput(step < 99999 ? car.GetSoundInput() : CarSoundInput{NAN, INFINITY, 1, 1, NAN});
        race.sound.Render(sound, 144);
        for (const float sample : sound) {
            ASSERT_TRUE(sample >= -1.0f && sample <= 1.0f) << "step " << step << ": " << sample;
            loudest = std::max(loudest, std::fabs(sample));
        }
        fastest = Speed() > fastest ? Speed() : fastest;
    }
    EXPECT_TRUE(fastest > 30.0f && brakingSteps > 1000 && loudest > 0.2f) << "the checks cover speed, braking, sound";
}

TEST_F(CarStep, OverALongDriveLeftMirrorsRight)
{
    Car mirrored(&game, &race, Vector2(), 0.0f);
    for (const Vector2& keys : {Vector2(0, 1), Vector2(1, 1), Vector2(-1, 0), Vector2(0, -1)}) {
        for (int step = 0; step < 400; ++step) {
            car.OnStepPhysicsTime(keys);
            mirrored.OnStepPhysicsTime(Vector2(-keys.x, keys.y));
            const Vector2& other = mirrored.body->spatial.position;
            ASSERT_LT(car.body->spatial.position.GetDistance(Vector2(-other.x, other.y)), 1e-3f) << step;
            ASSERT_NEAR(Heading(), -mirrored.body->spatial.rotation, 1e-4f) << step;
        }
    }
    EXPECT_GT(std::fabs(car.body->spatial.position.x), 1.0f) << "the drive turned";
}

// Any change to the model's numerics changes this hash. Re-record the constant only on purpose,
// after checking that the change in behaviour is intended, and say why in the commit message.
TEST_F(CarStep, GoldenTrajectoryEndsInTheRecordedState)
{
    // Accelerate, turn right under power, flick left (the rear lets go), lift off in the slide,
    // counter-steer, brake to a stop and reverse, reverse turning, roll out.
    const std::pair<Vector2, int> script[] = {{{0, 1}, 900}, {{1, 1}, 400},  {{-1, 1}, 300},  {{-1, 0}, 250},
                                              {{1, 0}, 200}, {{0, -1}, 600}, {{-1, -1}, 300}, {{0, 0}, 400}};
    // Through the race's keys and steps, which give the car the same controls and lay the skid
    // marks too: nothing but the car's own step may move it.
    for (const auto& [keys, steps] : script) {
        race.keyLeft = keys.x<0, race.keyRight = keys.x> 0, race.keyUp = keys.y > 0, race.keyDown = keys.y < 0;
        for (int step = 0; step < steps; ++step) {
            race.OnStepPhysicsTime();
        }
    }
    EXPECT_GT(race.skidMarks->count, 200) << "marks laid on the way";
    const Vector2& at = car.body->spatial.position;
    uint64_t hash = 14695981039346656037ull; // 64-bit FNV-1a over the little-endian bit patterns
    for (float value : {at.x, at.y, Heading(), car.velocity.x, car.velocity.y, car.angularVelocity}) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (int byte = 0; byte < 4; ++byte) {
            hash = (hash ^ ((bits >> (8 * byte)) & 0xffu)) * 1099511628211ull;
        }
    }
    EXPECT_EQ(hash, 0xf4965e29dbf2db72u) << std::hex << "0x" << hash;
}

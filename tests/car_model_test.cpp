// The car model: the tyre curve, the known cases of the car step, a second derivation of the step
// that the real car must match bit for bit, long drives, a golden trajectory, and the step's
// freedom from allocation. Runs in-process with SDL's dummy video driver, from the project root.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <utility>

#include "race.h"

using orvo::Vector2;

// Allocation counting: operator new is replaced here and this target is linked with --wrap for
// malloc, calloc and realloc, so that calls from the statically linked engine and race code count
// too. Atomic so that the compiler keeps every switch of the flag around the calls it brackets.
static std::atomic<bool> countAllocations{false};
static std::atomic<long> allocationCount{0};

static void* Counted(void* pointer)
{
    allocationCount += countAllocations ? 1 : 0;
    return pointer;
}

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* pointer, std::size_t size);
void* __wrap_malloc(std::size_t size) { return Counted(__real_malloc(size)); }
void* __wrap_calloc(std::size_t count, std::size_t size) { return Counted(__real_calloc(count, size)); }
void* __wrap_realloc(void* pointer, std::size_t size) { return Counted(__real_realloc(pointer, size)); }
}

void* operator new(std::size_t size)
{
    if (void* pointer = Counted(__real_malloc(size == 0 ? 1 : size))) {
        return pointer;
    }
    throw std::bad_alloc();
}

// Kept out of line: inlined into a delete expression, the call to free would look to the compiler
// like freeing memory that came from operator new.
void* operator new[](std::size_t size) { return operator new(size); }
[[gnu::noinline]] void operator delete(void* pointer) noexcept { std::free(pointer); }
[[gnu::noinline]] void operator delete[](void* pointer) noexcept { std::free(pointer); }
[[gnu::noinline]] void operator delete(void* pointer, std::size_t) noexcept { std::free(pointer); }
[[gnu::noinline]] void operator delete[](void* pointer, std::size_t) noexcept { std::free(pointer); }

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kQuarterPi = 0.78539819f;
const Vector2 kNoKeys(0.0f, 0.0f);
const Vector2 kUp(0.0f, 1.0f);
const Vector2 kDown(0.0f, -1.0f);

uint32_t Bits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// `actual` must round to the decimal digits given (lie within half a unit of the last one); a
// whole number is exact.
void ExpectDigits(float actual, const char* digits)
{
    const char* point = std::strchr(digits, '.');
    const double tolerance = point ? 0.5 * std::pow(10.0, -static_cast<double>(std::strlen(point + 1))) * 1.000001 : 0;
    EXPECT_NEAR(actual, std::strtod(digits, nullptr), tolerance) << "expected " << digits;
}

float Cornering(float slip) { return GetPacejkaForce(slip, 3.0f, 1.8f, 1.4f); }
float Traction(float slip) { return GetPacejkaForce(slip, 7.0f, 4.0f, 1.3f); }

// ---------------------------------------------------------------------------------------------
// Tyre curve

TEST(TyreCurve, MatchesItsTableForBothParameterSetsToTheLastBit)
{
    // Slip, cornering and traction force; eight decimals pin each float down uniquely.
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
        EXPECT_EQ(Bits(Cornering(row[0])), Bits(row[1])) << row[0];
        EXPECT_EQ(Bits(Traction(row[0])), Bits(row[2])) << row[0];
    }
}

TEST(TyreCurve, IsOddExactlyIsZeroAtZeroAndPassesNaNThrough)
{
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        // Half on a grid through the peak region, half spread over many magnitudes.
        const float slip = i % 2 == 0 ? static_cast<float>(i) * 0.0005f
                                      : std::ldexp(static_cast<float>(random() % 1000000) / 1e6f,
                                                   static_cast<int>(random() % 40) - 30);
        EXPECT_EQ(Bits(Cornering(-slip)), Bits(-Cornering(slip))) << slip;
        EXPECT_EQ(Bits(Traction(-slip)), Bits(-Traction(slip))) << slip;
    }
    EXPECT_EQ(Bits(Cornering(0.0f)), 0u);
    EXPECT_EQ(Bits(Traction(0.0f)), 0u);
    EXPECT_TRUE(std::isnan(Cornering(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_TRUE(std::isnan(Traction(std::numeric_limits<float>::quiet_NaN())));
}

TEST(TyreCurve, PeaksWhereItsShapeExponentPutsItForBothParameterSets)
{
    const struct {
        float (*curve)(float);
        const char *position, *value;
    } peaks[] = {{Cornering, "1.0690", "0.91627"}, {Traction, "0.6312", "1.01960"}};
    for (const auto& peak : peaks) {
        const float at = std::strtof(peak.position, nullptr);
        const float top = peak.curve(at);
        ExpectDigits(top, peak.value);
        // The top is flat: neighbours closer than about 1e-3 may round to the same float.
        for (float step = 0.001f; step < 1.0f; step *= 1.5f) {
            EXPECT_LT(peak.curve(at - step), top) << peak.position << " - " << step;
            EXPECT_LT(peak.curve(at + step), top) << peak.position << " + " << step;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The car's state as the step sees it: its fields, the body's placement and the red marker.

std::array<float, 11> Fields(const Car& car)
{
    const orvo::Spatial& body = car.body->spatial;
    const Vector2& marker = car.redDot->spatial.position;
    return {body.position.x, body.position.y, body.rotation, car.velocity.x, car.velocity.y, car.angularVelocity,
            car.steerAngle,  car.wheelAngle,  car.throttle,  marker.x,       marker.y};
}

// Empty when both cars agree bit for bit, else the first field that differs.
std::string FirstDifference(const Car& expected, const Car& actual)
{
    const char* names[] = {"x",          "y",          "heading",  "vx",       "vy",      "angularVelocity",
                           "steerAngle", "wheelAngle", "throttle", "redDot.x", "redDot.y"};
    const auto a = Fields(expected), b = Fields(actual);
    for (size_t i = 0; i < a.size(); ++i) {
        if (Bits(a[i]) != Bits(b[i])) {
            char text[160];
            std::snprintf(text, sizeof text, "%s: expected %.9g, car %.9g", names[i], static_cast<double>(a[i]),
                          static_cast<double>(b[i]));
            return text;
        }
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// The step derived a second time from the model's description rather than from the car's code:
// plain float arithmetic, double library maths rounded where a value is kept, the described order
// of every sum. It moves a second car and keeps what the real step does not expose.

struct ReferenceTrace {
    Vector2 travelDirection, wheelTravelDirections[4], velocityAfterCornering;
    float slipAngles[4];
};

// Angles beyond a quarter turn become the angle against the reversed direction.
float Fold(float a)
{
    return std::fabs(a) > kHalfPi ? static_cast<float>(orvo::SignSide(a)) * (kPi - std::fabs(a)) : a;
}

// Direction of travel of `v`, blended toward the unit vector `pointing` below half a unit per second.
Vector2 TravelDirection(const Vector2& v, const Vector2& pointing)
{
    const float t = 2.0f * v.GetLength();
    if (t >= 1.0f) {
        return v.GetNormalized();
    }
    const Vector2 own = v.IsNearZero() ? Vector2(0.0f, 0.0f) : v.GetNormalized();
    const Vector2 blend = own * t + pointing * (1.0f - t);
    return blend.IsNearZero() ? pointing : blend.GetNormalized();
}

ReferenceTrace ReferenceStep(Car& car, const Vector2& control)
{
    ReferenceTrace r;
    const float ms = static_cast<float>(car.game->physicsStepMs);
    Vector2& position = car.body->spatial.position;
    float& heading = car.body->spatial.rotation;
    const float rate = ms * 0.005f, wanted = control.x - car.steerAngle;
    const float change = control.x > car.steerAngle   ? std::min(rate, wanted)
                         : control.x < car.steerAngle ? std::max(-rate, wanted)
                                                      : 0.0f;
    car.steerAngle = orvo::Clamp(car.steerAngle + change, -kQuarterPi, kQuarterPi);
    car.throttle = control.y < -0.2f ? -0.2f : (control.y > 1.0f ? 1.0f : control.y);

    // Contact-point velocities from lever brackets of length sqrt 2, not normalised.
    const double c = std::cos(static_cast<double>(heading));
    const double s = std::sin(static_cast<double>(heading));
    const float halfDiagonal = static_cast<float>(std::pow(static_cast<double>(0.7f * 0.7f + 0.7f * 0.7f), 0.5));
    const float leverX[4] = {float(c + s), float(c - s), float(-c - s), float(s - c)};
    const float leverY[4] = {float(s - c), float(c + s), float(c - s), float(-c - s)};
    Vector2 wheelVelocities[4];
    for (int i = 0; i < 4; ++i) {
        wheelVelocities[i] = car.velocity + Vector2(leverX[i], leverY[i]) * car.angularVelocity * halfDiagonal;
    }

    // Effective front-wheel angle: counter-steer mixed in with the drift, then reduced with speed.
    const Vector2 forward(static_cast<float>(s), static_cast<float>(-c));
    r.travelDirection = TravelDirection(car.velocity, forward);
    const float alignment = forward.x * r.travelDirection.x + forward.y * r.travelDirection.y;
    const float drift = Fold(forward.GetAngleTo(r.travelDirection));
    const float mix = static_cast<float>(
        0.7f * std::pow(static_cast<double>(orvo::Clamp(1.0f - std::fabs(alignment), 0.0f, 1.0f)), 0.5));
    const double previousFront = static_cast<double>(heading) + static_cast<double>(car.wheelAngle);
    car.wheelAngle = orvo::Clamp(drift, -kQuarterPi, kQuarterPi) * mix + car.steerAngle * (1.0f - mix);
    const double reduction =
        1.0f - 0.7f * std::pow(static_cast<double>(orvo::NormalizedClamp(car.velocity.GetLength(), 0.0f, 50.0f)), 0.5);
    car.wheelAngle = static_cast<float>(reduction * car.wheelAngle);

    // Per wheel: travel direction (the front ones lean toward their previous angle), slip angle,
    // and the cornering force along the axle, in proportion to the car's speed at that point.
    const Vector2 previousFacing(static_cast<float>(std::sin(previousFront)),
                                 static_cast<float>(-std::cos(previousFront)));
    Vector2 facings[4];
    float lateral[4];
    for (int i = 0; i < 4; ++i) {
        r.wheelTravelDirections[i] = TravelDirection(wheelVelocities[i], i < 2 ? previousFacing : forward);
        facings[i] = i < 2 ? forward.GetRotated(car.wheelAngle) : forward;
        r.slipAngles[i] = Fold(r.wheelTravelDirections[i].GetAngleTo(facings[i]));
        lateral[i] = Cornering(r.slipAngles[i]);
        const float speed = car.velocity.GetLength();
        const Vector2 axle = facings[i].GetRotated(kHalfPi);
        car.velocity = car.velocity + axle * lateral[i] * speed * 0.6f * ms * 0.001f;
    }
    r.velocityAfterCornering = car.velocity;
    // ... and on the rate of turn, front then rear of each side, by each wheel's own speed.
    for (int front = 0; front < 2; ++front) {
        car.angularVelocity =
            car.angularVelocity + wheelVelocities[front].GetLength() * lateral[front] * 0.6f * ms * 0.001f;
        car.angularVelocity =
            car.angularVelocity - wheelVelocities[front + 2].GetLength() * lateral[front + 2] * 0.6f * ms * 0.001f;
    }

    // Traction: each wheel pushed toward a target at most 1 from its rolling velocity: the drive
    // velocity, or zero when braking (down while moving forward faster than 1), or free rolling.
    const bool brake = control.y < -0.5f && car.velocity.GetLength() * alignment > 1.0f;
    Vector2 newVelocity = car.velocity;
    for (int i = 0; i < 4; ++i) {
        const Vector2 rolling =
            facings[i] * facings[i].Dot(r.wheelTravelDirections[i]) * wheelVelocities[i].GetLength();
        const Vector2 goal = brake ? Vector2() : facings[i] * car.throttle * 50.0f;
        const Vector2 target =
            control.y > 0.5f || control.y < -0.5f ? rolling.EnforceMaximumDeviation(goal, 1.0f) : rolling;
        const float slip = (target - wheelVelocities[i]).GetRotated(-facings[i].GetAngle()).x;
        newVelocity += facings[i] * Traction(slip) * 0.25f * 15.0f * ms * 0.001f;
    }
    car.velocity = newVelocity;
    car.redDot->spatial.position = Vector2(5.0f * r.slipAngles[0], 10.0f);

    // Semi-implicit: the new velocity and rate of turn move the car.
    position = position + car.velocity * ms * 0.001f;
    heading = orvo::ModulateIntoRange(heading + ms * car.angularVelocity * 0.001f, -kPi, kPi);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Fixture: one engine, game and race for the suite; for each test, the car under test and the
// reference car, both at rest at the origin.

class CarModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        orvo::Init();
        game = new orvo::Game(8, 3);
        race = new RaceState(game);
    }
    static void TearDownTestSuite()
    {
        delete race;
        delete game;
        orvo::Exit();
    }

    // Puts both cars at the origin with the given motion.
    void Place(Vector2 velocity, float steerAngle = 0.0f, float wheelAngle = 0.0f, float angularVelocity = 0.0f,
               float heading = 0.0f)
    {
        for (Car* each : {&car, &reference}) {
            each->body->spatial.position = Vector2(0.0f, 0.0f);
            each->body->spatial.rotation = heading;
            each->velocity = velocity;
            each->angularVelocity = angularVelocity;
            each->steerAngle = steerAngle;
            each->wheelAngle = wheelAngle;
        }
    }
    // Steps both cars once and checks that they agree bit for bit.
    ReferenceTrace StepBoth(const Vector2& control)
    {
        car.OnStepPhysicsTime(control);
        const ReferenceTrace trace = ReferenceStep(reference, control);
        EXPECT_EQ(FirstDifference(reference, car), "");
        return trace;
    }
    void Drive(const Vector2& control, int steps)
    {
        for (int i = 0; i < steps; ++i) {
            car.OnStepPhysicsTime(control);
        }
    }

    static inline orvo::Game* game = nullptr;
    static inline RaceState* race = nullptr;
    Car car{game, race, Vector2(0.0f, 0.0f), 0.0f};
    Car reference{game, race, Vector2(0.0f, 0.0f), 0.0f};
};

// ---------------------------------------------------------------------------------------------
// Steering, pedal and cornering

TEST_F(CarModelTest, AtRestWithNoKeysNothingMovesAndEverySlipIsZero)
{
    for (float slip : StepBoth(kNoKeys).slipAngles) {
        EXPECT_EQ(slip, 0.0f);
    }
    // Compared by value: the marker's zero takes its sign from the negated arc tangent.
    const auto fields = Fields(car);
    for (size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(fields[i], i == 10 ? 10.0f : 0.0f) << "field " << i;
    }
}

TEST_F(CarModelTest, SteeringMovesFifteenMilliradiansPerStepAndSaturatesAtQuarterPiAfter53Steps)
{
    StepBoth(Vector2(1.0f, 0.0f));
    EXPECT_EQ(car.steerAngle, 0.015f);
    EXPECT_EQ(car.wheelAngle, 0.015f);
    Place(Vector2(), 0.1f);
    StepBoth(Vector2(-1.0f, 0.0f));
    EXPECT_EQ(car.steerAngle, 0.085f);
    EXPECT_EQ(car.wheelAngle, 0.085f);

    Place(Vector2());
    for (int step = 1; step <= 60; ++step) {
        car.OnStepPhysicsTime(Vector2(1.0f, 0.0f));
        ASSERT_EQ(car.steerAngle == 0.78539819f, step >= 53) << step << ": " << car.steerAngle;
    }
    for (int step = 1; step <= 53; ++step) {
        car.OnStepPhysicsTime(kNoKeys);
        ASSERT_EQ(car.steerAngle == 0.0f, step == 53) << step << ": " << car.steerAngle;
    }
}

TEST_F(CarModelTest, PedalCommandIsClampedIntoThrottleRange)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::pair<float, float> cases[] = {{1.5f, 1.0f},   {1.0f, 1.0f},   {0.3f, 0.3f}, {-0.1f, -0.1f},
                                             {-1.0f, -0.2f}, {-7.0f, -0.2f}, {nan, nan}};
    for (const auto& c : cases) {
        Place(Vector2());
        StepBoth(Vector2(0.0f, c.first));
        EXPECT_EQ(Bits(car.throttle), Bits(c.second)) << c.first;
    }
}

TEST_F(CarModelTest, CorneringTurnsTheWheelsAndBendsVelocityAndRateOfTurnAsKnown)
{
    // Digits of the new wheel angle, the velocity after the cornering forces and the rate of turn.
    const struct {
        const char* name;
        Vector2 velocity;
        float steerAngle, angularVelocity;
        const char *wheelAngle, *vx, *vy, *rateOfTurn;
    } cases[] = {
        {"spinning at rest", Vector2(), 0.0f, 0.5f, "0", "0", "0", "0.4954739"},
        {"straight ahead", Vector2(0.0f, -10.0f), 0.2f, 0.0f, "0.1373901", "0.0128766", "-9.9982204", "0.0129997"},
        {"sliding sideways", Vector2(10.0f, 0.0f), 0.0f, 0.0f, "0.3776707", "9.937459", "-0.0121257", "-0.00080835"},
        {"rolling backward", Vector2(0.0f, 5.0f), 0.0f, 0.0f, "0", "0", "5", "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Place(c.velocity, c.steerAngle, 0.0f, c.angularVelocity);
        const Vector2 cornered = StepBoth(Vector2(c.steerAngle, 0.0f)).velocityAfterCornering;
        ExpectDigits(car.wheelAngle, c.wheelAngle);
        ExpectDigits(cornered.x, c.vx);
        ExpectDigits(cornered.y, c.vy);
        ExpectDigits(car.angularVelocity, c.rateOfTurn);
    }
    // Rolling backward (the last case) not even traction changes the velocity.
    EXPECT_EQ(car.velocity.x, 0.0f);
    EXPECT_EQ(car.velocity.y, 5.0f);
    // From 50 units per second on, speed reduces the wheel angle to 0.3 of the steering.
    for (float speed : {50.0f, 100.0f}) {
        Place(Vector2(0.0f, -speed), 0.5f);
        StepBoth(Vector2(0.5f, 0.0f));
        EXPECT_EQ(car.wheelAngle, 0.15f) << speed;
    }
}

TEST_F(CarModelTest, BelowHalfAUnitPerSecondTravelDirectionsBlendTowardWhereTheyPointedSilently)
{
    // The front wheels lean halfway toward their previous angle, 0.3 clockwise of the nose.
    Place(Vector2(0.0f, -0.25f), 0.3f, 0.3f);
    ReferenceTrace trace = StepBoth(Vector2(0.3f, 0.0f));
    for (int i = 0; i < 2; ++i) {
        ExpectDigits(trace.wheelTravelDirections[i].x, "0.149438");
        ExpectDigits(trace.wheelTravelDirections[i].y, "-0.988771");
    }
    ExpectDigits(car.wheelAngle, "0.2851508");
    // Slowly backward, the car's own blend is exactly zero and falls back to the nose, unprinted.
    Place(Vector2(0.0f, 0.25f));
    testing::internal::CaptureStdout();
    trace = StepBoth(kNoKeys);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(trace.travelDirection.x, 0.0f);
    EXPECT_EQ(trace.travelDirection.y, -1.0f);
}

// ---------------------------------------------------------------------------------------------
// Traction, braking and integration

TEST_F(CarModelTest, PedalPushesEveryWheelByTheTractionCurveAtItsSlipToTheTarget)
{
    // Straight ahead along -y nothing corners, and each wheel adds the same share in turn.
    const auto afterStep = [](float vy, float force) {
        for (int i = 0; i < 4; ++i) {
            vy += -1.0f * force * 0.25f * 15.0f * 3.0f * 0.001f;
        }
        return vy;
    };
    const float atOne = 0.99109912f, atHalf = 1.01089203f; // the traction curve at slips 1 and 0.5
    const struct {
        const char* name;
        float vy;
        Vector2 control;
        float force;
    } cases[] = {{"up from rest drives with a slip of 1", 0.0f, kUp, atOne},
                 {"down from rest reverses with a slip of -1", 0.0f, kDown, -atOne},
                 {"down at 20 brakes with a slip of -1", -20.0f, kDown, -atOne},
                 {"up at 49.5 aims at 50 itself, a slip of 0.5", -49.5f, kUp, atHalf}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Place(Vector2(0.0f, c.vy));
        StepBoth(c.control);
        EXPECT_EQ(car.velocity.x, 0.0f);
        EXPECT_EQ(car.velocity.y, afterStep(c.vy, c.force));
    }
    Place(Vector2());
    StepBoth(kUp);
    ExpectDigits(-car.velocity.y, "0.0446");
    ExpectDigits(-car.velocity.y / 0.003f, "14.87");
    // At 50 the slip and the force vanish up to rounding.
    Place(Vector2(0.0f, -50.0f));
    StepBoth(kUp);
    EXPECT_EQ(car.velocity.y, -50.0f);
}

TEST_F(CarModelTest, DownArrowBelowOneUnitPerSecondForwardReversesWithinAFewSteps)
{
    // About 0.0446 per step toward 10 backward: 0.8 units per second are gone after some 18 steps.
    Place(Vector2(0.0f, -0.8f));
    int steps = 0;
    for (; car.velocity.y <= 0.0f && steps < 100; ++steps) {
        StepBoth(kDown);
    }
    EXPECT_LE(steps, 20);
}

TEST_F(CarModelTest, HeadingWrapsAcrossPi)
{
    // Spinning at rest, the rate of turn decays from 0.5 to 0.4954739 in a step: this start turns
    // the car by 0.01.
    Place(Vector2(), 0.0f, 0.0f, 0.01f / 0.003f * 0.5f / 0.4954739f, 3.14f);
    StepBoth(kNoKeys);
    const float turned = 3.14f + 3.0f * car.angularVelocity * 0.001f;
    EXPECT_GT(turned, kPi);
    EXPECT_EQ(car.body->spatial.rotation, turned - 2.0f * kPi);
    ExpectDigits(car.body->spatial.rotation, "-3.1331854");
}

TEST_F(CarModelTest, RedMarkerFollowsTheFrontLeftSlipAngle)
{
    // At rest the front-left wheel travels straight ahead, where it pointed before, so its slip is
    // the new wheel angle: 0.085 + 0.015.
    Place(Vector2(), 0.085f);
    const float slip = StepBoth(Vector2(1.0f, 0.0f)).slipAngles[0];
    EXPECT_NEAR(slip, 0.1f, 1e-8f);
    EXPECT_EQ(car.redDot->spatial.position.x, 5.0f * slip);
    EXPECT_NEAR(car.redDot->spatial.position.x, 0.5f, 1e-7f);
    EXPECT_EQ(car.redDot->spatial.position.y, 10.0f);
}

// ---------------------------------------------------------------------------------------------
// Long drives

// A fixed pseudo-random sequence of held arrow keys that changes every 50 to 150 steps. Raw
// mt19937 output is the same on every standard library.
struct RandomKeys {
    std::mt19937 random{20240611};
    int remaining = 0;
    Vector2 control;

    Vector2 Next()
    {
        if (remaining-- == 0) {
            remaining = 49 + static_cast<int>(random() % 101);
            const auto held = [this](unsigned percent) { return random() % 100 < percent ? 1.0f : 0.0f; };
            const float left = held(35), right = held(35), up = held(50), down = held(35);
            control = Vector2(right - left, up - down);
        }
        return control;
    }
};

TEST_F(CarModelTest, MatchesTheReferenceBitForBitOverALongRandomDriveStayingFiniteWithTheHeadingWithinPi)
{
    RandomKeys keys;
    float fastest = 0.0f;
    for (int step = 0; step < 100000; ++step) {
        const Vector2 control = keys.Next();
        car.OnStepPhysicsTime(control);
        ReferenceStep(reference, control);
        ASSERT_EQ(FirstDifference(reference, car), "")
            << "step " << step << ", control " << control.x << ", " << control.y;
        for (float value : Fields(car)) {
            ASSERT_TRUE(std::isfinite(value)) << "step " << step;
        }
        const float heading = car.body->spatial.rotation;
        ASSERT_TRUE(heading >= -kPi && heading <= kPi) << "step " << step << ": " << heading;
        fastest = std::max(fastest, car.velocity.GetLength());
    }
    EXPECT_GT(fastest, 30.0f); // so the checks above cover the fast regime too
}

TEST_F(CarModelTest, FullThrottleApproachesFiftyThenTheDownArrowBrakesAndReversesToTen)
{
    int stepsToTopSpeed = -1;
    for (int step = 1; step <= 6000; ++step) {
        car.OnStepPhysicsTime(kUp);
        ASSERT_LE(car.velocity.GetLength(), 50.0f) << "step " << step;
        stepsToTopSpeed = stepsToTopSpeed < 0 && car.velocity.GetLength() > 49.99f ? step : stepsToTopSpeed;
    }
    // About 15 units per second squared up to 49 (some 1100 steps), then a fast last unit.
    EXPECT_GT(stepsToTopSpeed, 1000);
    EXPECT_LT(stepsToTopSpeed, 1400);
    EXPECT_EQ(car.velocity.x, 0.0f);
    for (int step = 0; car.velocity.y < -1.0f; ++step) {
        const float before = car.velocity.y;
        car.OnStepPhysicsTime(kDown);
        ASSERT_GE(car.velocity.y, before) << "braking step " << step;
        ASSERT_LT(step, 2000);
    }
    Drive(kDown, 4000);
    EXPECT_NEAR(car.velocity.y, 10.0f, 0.01f);
}

// Any change to the model's numerics changes this hash. Re-record the constant only on purpose,
// after checking that the change in behaviour is intended.
TEST_F(CarModelTest, GoldenTrajectoryEndsInTheRecordedState)
{
    Drive(kUp, 900);                   // accelerate to about 40
    Drive(Vector2(1.0f, 1.0f), 400);   // turn right under power
    Drive(Vector2(-1.0f, 1.0f), 300);  // flick left: the rear lets go
    Drive(Vector2(-1.0f, 0.0f), 250);  // lift off in the slide
    Drive(Vector2(1.0f, 0.0f), 200);   // counter-steer
    Drive(kDown, 600);                 // brake to a stop and reverse
    Drive(Vector2(-1.0f, -1.0f), 300); // reverse turning
    Drive(kNoKeys, 400);               // roll out
    const auto fields = Fields(car);
    uint64_t hash = 14695981039346656037ull; // 64-bit FNV-1a over the little-endian bit patterns
    for (size_t i = 0; i < 6; ++i) {         // position, heading, velocity, rate of turn
        for (int byte = 0; byte < 4; ++byte) {
            hash = (hash ^ ((Bits(fields[i]) >> (8 * byte)) & 0xffu)) * 1099511628211ull;
        }
    }
    EXPECT_EQ(hash, 0xf4965e29dbf2db72u) << std::hex << "0x" << hash;
}

TEST_F(CarModelTest, StepAllocatesNothing)
{
    const auto count = [](auto&& action) {
        allocationCount = 0;
        countAllocations = true;
        action();
        countAllocations = false;
        return allocationCount.load();
    };
    // The counters see this program's allocations: a malloc through the wrapper, and the race
    // state's camera list, which does allocate, through operator new.
    void* volatile block = nullptr;
    EXPECT_EQ(count([&] { block = std::malloc(16); }), 1);
    std::free(block);
    EXPECT_GE(count([] { race->OnStepPhysicsTime(); }), 1);

    RandomKeys keys;
    EXPECT_EQ(count([&] {
                  for (int step = 0; step < 10000; ++step) {
                      car.OnStepPhysicsTime(keys.Next());
                  }
              }),
              0);
}

} // namespace

// The car model: the tyre curve, the known cases of the car step, a second derivation of the
// step that the real car must match bit for bit, long drives, a golden trajectory, and the step's
// freedom from allocation. Runs in-process with SDL's dummy video driver, from the project root.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <string>

#include "race.h"

using orvo::Vector2;

// ---------------------------------------------------------------------------------------------
// Allocation counting. The global operator new is replaced here, and this target is linked with
// --wrap for malloc, calloc and realloc, so that calls from the statically linked engine and race
// code are seen too.

namespace {
// Atomic so that the compiler keeps every switch of the flag around the calls it brackets, even
// around a call it knows as the builtin malloc.
std::atomic<bool> countAllocations{false};
std::atomic<long> allocationCount{0};

void NoteAllocation()
{
    if (countAllocations) {
        ++allocationCount;
    }
}
} // namespace

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* pointer, std::size_t size);

void* __wrap_malloc(std::size_t size)
{
    NoteAllocation();
    return __real_malloc(size);
}

void* __wrap_calloc(std::size_t count, std::size_t size)
{
    NoteAllocation();
    return __real_calloc(count, size);
}

void* __wrap_realloc(void* pointer, std::size_t size)
{
    NoteAllocation();
    return __real_realloc(pointer, size);
}
}

void* operator new(std::size_t size)
{
    NoteAllocation();
    void* pointer = __real_malloc(size == 0 ? 1 : size);
    if (pointer == nullptr) {
        throw std::bad_alloc();
    }
    return pointer;
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

uint32_t Bits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Checks `actual` against a value known to the given decimal digits: it must round to exactly
// those digits, i.e. lie within half a unit of the last digit given.
void ExpectDigits(float actual, const char* digits)
{
    const char* point = std::strchr(digits, '.');
    const int decimals = point == nullptr ? 0 : static_cast<int>(std::strlen(point + 1));
    const double tolerance = 0.5 * std::pow(10.0, -decimals) * (1.0 + 1e-9);
    EXPECT_NEAR(actual, std::strtod(digits, nullptr), tolerance) << "expected " << digits;
}

// ---------------------------------------------------------------------------------------------
// Tyre curve

struct TyreRow {
    float slip;
    float cornering; // GetPacejkaForce(slip, 3, 1.8, 1.4)
    float traction;  // GetPacejkaForce(slip, 7, 4, 1.3)
};

TEST(TyreCurve, MatchesItsTableForBothParameterSetsToTheLastBit)
{
    // Each float is the one nearest the eight decimals given, which pin it down uniquely.
    const TyreRow rows[] = {
        {0.0f, 0.0f, 0.0f},
        {0.05f, 0.14501847f, 0.31155235f},
        {0.1f, 0.27506462f, 0.53686619f},
        {-0.1f, -0.27506462f, -0.53686619f},
        {0.2f, 0.48416993f, 0.80082428f},
        {0.5f, 0.80521423f, 1.01089203f},
        {1.0f, 0.91544443f, 0.99109912f},
        {1.5707964f, 0.89165604f, 0.92359394f},
        {2.0f, 0.85600626f, 0.87892628f},
        {5.0f, 0.66155010f, 0.69819707f},
    };
    for (const TyreRow& row : rows) {
        SCOPED_TRACE(row.slip);
        EXPECT_EQ(Bits(GetPacejkaForce(row.slip, 3.0f, 1.8f, 1.4f)), Bits(row.cornering));
        EXPECT_EQ(Bits(GetPacejkaForce(row.slip, 7.0f, 4.0f, 1.3f)), Bits(row.traction));
    }
}

TEST(TyreCurve, NegatingTheSlipNegatesTheForceExactly)
{
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        // Half the samples on a grid through the peak region, half spread over many magnitudes.
        const float slip = i % 2 == 0 ? static_cast<float>(i) * 0.0005f
                                      : std::ldexp(static_cast<float>(random() % 1000000) / 1e6f,
                                                   static_cast<int>(random() % 40) - 30);
        EXPECT_EQ(Bits(GetPacejkaForce(-slip, 3.0f, 1.8f, 1.4f)), Bits(-GetPacejkaForce(slip, 3.0f, 1.8f, 1.4f)))
            << slip;
        EXPECT_EQ(Bits(GetPacejkaForce(-slip, 7.0f, 4.0f, 1.3f)), Bits(-GetPacejkaForce(slip, 7.0f, 4.0f, 1.3f)))
            << slip;
    }
}

TEST(TyreCurve, IsZeroAtZeroAndPassesNaNThrough)
{
    EXPECT_EQ(Bits(GetPacejkaForce(0.0f, 3.0f, 1.8f, 1.4f)), Bits(0.0f));
    EXPECT_EQ(Bits(GetPacejkaForce(0.0f, 7.0f, 4.0f, 1.3f)), Bits(0.0f));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(std::isnan(GetPacejkaForce(nan, 3.0f, 1.8f, 1.4f)));
    EXPECT_TRUE(std::isnan(GetPacejkaForce(nan, 7.0f, 4.0f, 1.3f)));
}

struct TyrePeak {
    float stiffness, scale, exponent;
    const char* position; // slip of the peak, to the digits known
    const char* value;    // force at the peak
};

TEST(TyreCurve, PeaksWhereItsShapeExponentPutsItForBothParameterSets)
{
    const TyrePeak peaks[] = {{3.0f, 1.8f, 1.4f, "1.0690", "0.91627"}, {7.0f, 4.0f, 1.3f, "0.6312", "1.01960"}};
    for (const TyrePeak& peak : peaks) {
        SCOPED_TRACE(peak.position);
        const float at = std::strtof(peak.position, nullptr);
        const float top = GetPacejkaForce(at, peak.stiffness, peak.scale, peak.exponent);
        ExpectDigits(top, peak.value);
        // The curve is flat at its top, so neighbours closer than about 1e-3 can round to the same
        // float; from there out on both sides every sample lies below the peak.
        for (float step = 0.001f; step < 1.0f; step *= 1.5f) {
            EXPECT_LT(GetPacejkaForce(at - step, peak.stiffness, peak.scale, peak.exponent), top) << -step;
            EXPECT_LT(GetPacejkaForce(at + step, peak.stiffness, peak.scale, peak.exponent), top) << step;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The car's state as the step sees it: its fields, the body's placement and the red marker.

struct CarState {
    Vector2 position;
    float heading = 0.0f;
    Vector2 velocity;
    float angularVelocity = 0.0f;
    float steerAngle = 0.0f;
    float wheelAngle = 0.0f;
    float throttle = 0.0f;
    Vector2 redDot;
};

constexpr int kFieldCount = 11;
const char* const kFieldNames[kFieldCount] = {"position.x", "position.y",      "heading",    "velocity.x",
                                              "velocity.y", "angularVelocity", "steerAngle", "wheelAngle",
                                              "throttle",   "redDot.x",        "redDot.y"};

std::array<float, kFieldCount> Fields(const CarState& s)
{
    return {s.position.x, s.position.y, s.heading,  s.velocity.x, s.velocity.y, s.angularVelocity,
            s.steerAngle, s.wheelAngle, s.throttle, s.redDot.x,   s.redDot.y};
}

CarState Read(const Car& car)
{
    CarState s;
    s.position = car.body->spatial.position;
    s.heading = car.body->spatial.rotation;
    s.velocity = car.velocity;
    s.angularVelocity = car.angularVelocity;
    s.steerAngle = car.steerAngle;
    s.wheelAngle = car.wheelAngle;
    s.throttle = car.throttle;
    s.redDot = car.redDot->spatial.position;
    return s;
}

void Write(Car& car, const CarState& s)
{
    car.body->spatial.position = s.position;
    car.body->spatial.rotation = s.heading;
    car.velocity = s.velocity;
    car.angularVelocity = s.angularVelocity;
    car.steerAngle = s.steerAngle;
    car.wheelAngle = s.wheelAngle;
    car.throttle = s.throttle;
    car.redDot->spatial.position = s.redDot;
}

// Empty when both states are equal bit for bit, else the first field that differs.
std::string FirstDifference(const CarState& expected, const CarState& actual)
{
    const auto a = Fields(expected);
    const auto b = Fields(actual);
    for (int i = 0; i < kFieldCount; ++i) {
        if (Bits(a[i]) != Bits(b[i])) {
            char text[160];
            std::snprintf(text, sizeof text, "%s: expected %.9g (0x%08x), car %.9g (0x%08x)", kFieldNames[i],
                          static_cast<double>(a[i]), Bits(a[i]), static_cast<double>(b[i]), Bits(b[i]));
            return text;
        }
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// The step derived a second time, written from the model's description rather than from the
// car's code: plain float arithmetic, double-precision library maths rounded where a value is
// kept, and the model's order of every sum. It also keeps the quantities the real step does not
// expose, so that the known intermediate values can be checked.

struct ReferenceTrace {
    Vector2 wheelVelocities[4];
    Vector2 travelDirection;
    Vector2 wheelTravelDirections[4];
    float forwardAlignment = 0.0f;
    Vector2 wheelFacings[4];
    float slipAngles[4] = {};
    float lateralForces[4] = {};
    Vector2 velocityAfterCornering;
    Vector2 rollingVelocities[4];
    Vector2 targetVelocities[4];
    float longitudinalSlips[4] = {};
    float tractionForces[4] = {};
};

// Angles beyond a quarter turn become the angle against the reversed direction.
float FoldIntoHalfPi(float angle)
{
    if (std::fabs(angle) > kHalfPi) {
        return static_cast<float>(orvo::SignSide(angle)) * (kPi - std::fabs(angle));
    }
    return angle;
}

Vector2 UnitCopy(const Vector2& v)
{
    Vector2 unit = v;
    unit.Normalize();
    return unit;
}

// Direction of travel of `v`, blended toward the unit vector `pointing` below half a unit per
// second.
Vector2 TravelDirection(const Vector2& v, const Vector2& pointing)
{
    const float length = v.GetLength();
    if (length >= 0.5f) {
        return UnitCopy(v);
    }
    const float t = 2.0f * length;
    const Vector2 own = v.IsNearZero() ? Vector2(0.0f, 0.0f) : UnitCopy(v);
    const Vector2 blend(own.x * t + pointing.x * (1.0f - t), own.y * t + pointing.y * (1.0f - t));
    return blend.IsNearZero() ? pointing : UnitCopy(blend);
}

ReferenceTrace ReferenceStep(CarState& car, const Vector2& control, int physicsStepMs)
{
    ReferenceTrace trace;
    const float stepMs = static_cast<float>(physicsStepMs);

    // Steering toward the command at a limited rate, then the pedal.
    const float rate = stepMs * 0.005f;
    float change = 0.0f;
    if (control.x > car.steerAngle) {
        change = std::min(rate, control.x - car.steerAngle);
    } else if (control.x < car.steerAngle) {
        change = std::max(-rate, control.x - car.steerAngle);
    }
    car.steerAngle = orvo::Clamp(car.steerAngle + change, -kQuarterPi, kQuarterPi);
    car.throttle = control.y < -0.2f ? -0.2f : (control.y > 1.0f ? 1.0f : control.y);

    // Contact-point velocities.
    const float c = static_cast<float>(std::cos(static_cast<double>(car.heading)));
    const float s = static_cast<float>(std::sin(static_cast<double>(car.heading)));
    const float halfDiagonal = static_cast<float>(std::pow(static_cast<double>(0.7f * 0.7f + 0.7f * 0.7f), 0.5));
    const float omega = car.angularVelocity;
    const float leverX[4] = {c + s, c - s, -c - s, s - c};
    const float leverY[4] = {s - c, c + s, c - s, -c - s};
    for (int i = 0; i < 4; ++i) {
        trace.wheelVelocities[i] = Vector2(car.velocity.x + leverX[i] * omega * halfDiagonal,
                                           car.velocity.y + leverY[i] * omega * halfDiagonal);
    }

    // Directions of travel; the front wheels lean toward their angle of the previous step.
    const Vector2 forward(s, -c);
    trace.travelDirection = TravelDirection(car.velocity, forward);
    const double previousFront = static_cast<double>(car.heading) + static_cast<double>(car.wheelAngle);
    const Vector2 previousFacing(static_cast<float>(std::sin(previousFront)),
                                 static_cast<float>(-std::cos(previousFront)));
    for (int i = 0; i < 4; ++i) {
        trace.wheelTravelDirections[i] = TravelDirection(trace.wheelVelocities[i], i < 2 ? previousFacing : forward);
    }

    // Effective front-wheel angle: counter-steer mixed in with the drift, then reduced with speed.
    trace.forwardAlignment = forward.x * trace.travelDirection.x + forward.y * trace.travelDirection.y;
    const float drift = FoldIntoHalfPi(forward.GetAngleTo(trace.travelDirection));
    const float mix = static_cast<float>(
        0.7f * std::pow(static_cast<double>(orvo::Clamp(1.0f - std::fabs(trace.forwardAlignment), 0.0f, 1.0f)), 0.5));
    car.wheelAngle = orvo::Clamp(drift, -kQuarterPi, kQuarterPi) * mix + car.steerAngle * (1.0f - mix);
    const float speedFraction = orvo::NormalizedClamp(car.velocity.GetLength(), 0.0f, 50.0f);
    car.wheelAngle =
        static_cast<float>((1.0f - 0.7f * std::pow(static_cast<double>(speedFraction), 0.5)) * car.wheelAngle);

    // Slip angles against the facings.
    const Vector2 frontFacing = forward.GetRotated(car.wheelAngle);
    for (int i = 0; i < 4; ++i) {
        trace.wheelFacings[i] = i < 2 ? frontFacing : forward;
        trace.slipAngles[i] = trace.wheelTravelDirections[i].GetAngleTo(trace.wheelFacings[i]);
    }
    for (float& slip : trace.slipAngles) {
        slip = FoldIntoHalfPi(slip);
    }

    // Cornering: along each axle on the velocity, in proportion to the car's current speed.
    for (int i = 0; i < 4; ++i) {
        trace.lateralForces[i] = GetPacejkaForce(trace.slipAngles[i], 3.0f, 1.8f, 1.4f);
        const float speed = car.velocity.GetLength();
        const Vector2 axle = trace.wheelFacings[i].GetRotated(kHalfPi);
        car.velocity.x = car.velocity.x + axle.x * trace.lateralForces[i] * speed * 0.6f * stepMs * 0.001f;
        car.velocity.y = car.velocity.y + axle.y * trace.lateralForces[i] * speed * 0.6f * stepMs * 0.001f;
    }
    trace.velocityAfterCornering = car.velocity;
    // ... and on the rate of turn, front then rear of each side, by each wheel's own speed.
    for (int front = 0; front < 2; ++front) {
        const int rear = front + 2;
        car.angularVelocity = car.angularVelocity + trace.wheelVelocities[front].GetLength() *
                                                        trace.lateralForces[front] * 0.6f * stepMs * 0.001f;
        car.angularVelocity = car.angularVelocity - trace.wheelVelocities[rear].GetLength() *
                                                        trace.lateralForces[rear] * 0.6f * stepMs * 0.001f;
    }

    // Traction: each wheel driven or braked toward a target rolling velocity.
    Vector2 newVelocity = car.velocity;
    for (int i = 0; i < 4; ++i) {
        const Vector2& facing = trace.wheelFacings[i];
        trace.rollingVelocities[i] =
            facing * facing.Dot(trace.wheelTravelDirections[i]) * trace.wheelVelocities[i].GetLength();
        const Vector2 driveVelocity = facing * car.throttle * 50.0f;
        const Vector2& rolling = trace.rollingVelocities[i];
        if (control.y > 0.5f) {
            trace.targetVelocities[i] = rolling.EnforceMaximumDeviation(driveVelocity, 1.0f);
        } else if (control.y < -0.5f) {
            const float forwardSpeed = car.velocity.GetLength() * trace.forwardAlignment;
            trace.targetVelocities[i] = forwardSpeed > 1.0f ? rolling.EnforceMaximumDeviation(Vector2(), 1.0f)
                                                            : rolling.EnforceMaximumDeviation(driveVelocity, 1.0f);
        } else {
            trace.targetVelocities[i] = rolling;
        }
        const Vector2 difference = trace.targetVelocities[i] - trace.wheelVelocities[i];
        trace.longitudinalSlips[i] = difference.GetRotated(-facing.GetAngle()).x;
        trace.tractionForces[i] = GetPacejkaForce(trace.longitudinalSlips[i], 7.0f, 4.0f, 1.3f);
        newVelocity += facing * trace.tractionForces[i] * 0.25f * 15.0f * stepMs * 0.001f;
    }
    car.velocity = newVelocity;

    car.redDot = Vector2(5.0f * trace.slipAngles[0], 10.0f);

    // Semi-implicit integration with the new velocity and rate of turn.
    car.position.x = car.position.x + car.velocity.x * stepMs * 0.001f;
    car.position.y = car.position.y + car.velocity.y * stepMs * 0.001f;
    car.heading = orvo::ModulateIntoRange(car.heading + stepMs * car.angularVelocity * 0.001f, -kPi, kPi);
    return trace;
}

// ---------------------------------------------------------------------------------------------
// Fixture: one engine, game and race for the test; a fresh car at the origin for each test.

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

    void SetUp() override { car = new Car(game, race, Vector2(0.0f, 0.0f), 0.0f); }
    void TearDown() override { delete car; }

    // Puts the car in `start`, steps it and the reference once, and checks they agree bit for bit.
    ReferenceTrace StepBoth(const CarState& start, const Vector2& control)
    {
        Write(*car, start);
        car->OnStepPhysicsTime(control);
        CarState reference = start;
        const ReferenceTrace trace = ReferenceStep(reference, control, game->physicsStepMs);
        EXPECT_EQ(FirstDifference(reference, Read(*car)), "");
        return trace;
    }

    static orvo::Game* game;
    static RaceState* race;
    Car* car = nullptr;
};

orvo::Game* CarModelTest::game = nullptr;
RaceState* CarModelTest::race = nullptr;

CarState Moving(float vx, float vy)
{
    CarState s;
    s.velocity = Vector2(vx, vy);
    return s;
}

const Vector2 kNoKeys(0.0f, 0.0f);
const Vector2 kUp(0.0f, 1.0f);
const Vector2 kDown(0.0f, -1.0f);

// ---------------------------------------------------------------------------------------------
// Steering and pedal

TEST_F(CarModelTest, AtRestWithNoKeysNothingMovesAndEverySlipIsZero)
{
    const ReferenceTrace trace = StepBoth(CarState(), kNoKeys);
    // The marker is placed from the zero slip angle, whose sign bit comes from the negated arc
    // tangent; it is compared by value.
    EXPECT_EQ(car->redDot->spatial.position.x, 0.0f);
    CarState expected;
    expected.redDot = Vector2(car->redDot->spatial.position.x, 10.0f);
    EXPECT_EQ(FirstDifference(expected, Read(*car)), "");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(trace.wheelTravelDirections[i].x, 0.0f);
        EXPECT_EQ(trace.wheelTravelDirections[i].y, -1.0f);
        EXPECT_EQ(trace.wheelFacings[i].y, -1.0f);
        EXPECT_EQ(trace.slipAngles[i], 0.0f);
    }
}

TEST_F(CarModelTest, SteeringFollowsTheCommandAtFifteenMilliradiansPerStep)
{
    const ReferenceTrace trace = StepBoth(CarState(), Vector2(1.0f, 0.0f));
    EXPECT_EQ(car->steerAngle, 0.015f);
    EXPECT_EQ(car->wheelAngle, 0.015f);
    // At rest the front wheels travel where they pointed before (straight ahead), so the slip is
    // the new angle, up to the rounding of the rotation and the arc tangent.
    EXPECT_NEAR(trace.slipAngles[0], 0.015f, 2e-9f);
    EXPECT_NEAR(trace.slipAngles[1], 0.015f, 2e-9f);
    CarState steered;
    steered.steerAngle = 0.1f;
    StepBoth(steered, Vector2(-1.0f, 0.0f));
    EXPECT_EQ(car->steerAngle, 0.085f);
    EXPECT_EQ(car->wheelAngle, 0.085f);
}

TEST_F(CarModelTest, SteeringSaturatesAtQuarterPiAfter53StepsAndReturnsAsFast)
{
    const Vector2 right(1.0f, 0.0f);
    for (int step = 1; step <= 60; ++step) {
        car->OnStepPhysicsTime(right);
        if (step < 53) {
            ASSERT_LT(car->steerAngle, kQuarterPi) << step;
        } else {
            ASSERT_EQ(car->steerAngle, 0.78539819f) << step;
        }
    }
    for (int step = 1; step <= 53; ++step) {
        car->OnStepPhysicsTime(kNoKeys);
        ASSERT_EQ(car->steerAngle == 0.0f, step == 53) << step << " " << car->steerAngle;
    }
}

TEST_F(CarModelTest, PedalCommandIsClampedIntoThrottleRange)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float pedal;
        float throttle;
    } cases[] = {{1.5f, 1.0f}, {1.0f, 1.0f}, {0.3f, 0.3f}, {-0.1f, -0.1f}, {-1.0f, -0.2f}, {-7.0f, -0.2f}};
    for (const auto& c : cases) {
        StepBoth(CarState(), Vector2(0.0f, c.pedal));
        EXPECT_EQ(car->throttle, c.throttle) << c.pedal;
    }
    StepBoth(CarState(), Vector2(0.0f, nan));
    EXPECT_TRUE(std::isnan(car->throttle));
}

// ---------------------------------------------------------------------------------------------
// Cornering

TEST_F(CarModelTest, SpinningAtRestSlowsTheSpinAndLeavesTheCarInPlace)
{
    CarState spinning;
    spinning.angularVelocity = 0.5f;
    const ReferenceTrace trace = StepBoth(spinning, kNoKeys);
    const char* expectedX[4] = {"0.494975", "0.494975", "-0.494975", "-0.494975"};
    const char* expectedY[4] = {"-0.494975", "0.494975", "0.494975", "-0.494975"};
    const float expectedSlip[4] = {-kQuarterPi, -kQuarterPi, kQuarterPi, kQuarterPi};
    for (int i = 0; i < 4; ++i) {
        ExpectDigits(trace.wheelVelocities[i].x, expectedX[i]);
        ExpectDigits(trace.wheelVelocities[i].y, expectedY[i]);
        EXPECT_NEAR(trace.slipAngles[i], expectedSlip[i], 1e-7f) << i;
    }
    EXPECT_EQ(trace.velocityAfterCornering.x, 0.0f);
    EXPECT_EQ(trace.velocityAfterCornering.y, 0.0f);
    ExpectDigits(car->angularVelocity, "0.4954739");
    // Free rolling leaves only the rounding of each wheel's projection onto its facing as a
    // longitudinal slip, a force of a few 1e-8.
    EXPECT_LT(car->velocity.GetLength(), 1e-8f);
}

TEST_F(CarModelTest, StraightAheadTheWheelAngleShrinksWithSpeed)
{
    CarState state = Moving(0.0f, -10.0f);
    state.steerAngle = 0.2f;
    const ReferenceTrace trace = StepBoth(state, Vector2(0.2f, 0.0f));
    ExpectDigits(car->wheelAngle, "0.1373901");
    EXPECT_NEAR(trace.slipAngles[0], car->wheelAngle, 1e-8f);
    EXPECT_NEAR(trace.slipAngles[1], car->wheelAngle, 1e-8f);
    EXPECT_EQ(trace.slipAngles[2], 0.0f);
    EXPECT_EQ(trace.slipAngles[3], 0.0f);

    for (float speed : {50.0f, 100.0f}) {
        state = Moving(0.0f, -speed);
        state.steerAngle = 0.5f;
        StepBoth(state, Vector2(0.5f, 0.0f));
        EXPECT_EQ(car->wheelAngle, 0.15f) << speed;
    }
}

TEST_F(CarModelTest, SteeredFrontWheelsPullTheCarIntoTheTurn)
{
    CarState state = Moving(0.0f, -10.0f);
    state.steerAngle = 0.2f;
    const ReferenceTrace trace = StepBoth(state, Vector2(0.2f, 0.0f));
    ExpectDigits(trace.velocityAfterCornering.x, "0.0128766");
    ExpectDigits(trace.velocityAfterCornering.y, "-9.9982204");
    ExpectDigits(car->angularVelocity, "0.0129997");
    // The traction half then only adds the rounding of free rolling (below 1e-6 here).
    EXPECT_NEAR(car->velocity.x, 0.0128766f, 1e-6f);
    EXPECT_NEAR(car->velocity.y, -9.9982204f, 1e-6f);
}

TEST_F(CarModelTest, SlidingSidewaysCounterSteersTowardTheSlide)
{
    const ReferenceTrace trace = StepBoth(Moving(10.0f, 0.0f), kNoKeys);
    EXPECT_EQ(trace.forwardAlignment, 0.0f);
    ExpectDigits(car->wheelAngle, "0.3776707");
    EXPECT_EQ(trace.slipAngles[2], -1.5707964f);
    EXPECT_EQ(trace.slipAngles[3], -1.5707964f);
    ExpectDigits(trace.slipAngles[0], "-1.1931256");
    ExpectDigits(trace.slipAngles[1], "-1.1931256");
    ExpectDigits(trace.velocityAfterCornering.x, "9.937459");
    ExpectDigits(trace.velocityAfterCornering.y, "-0.0121257");
    ExpectDigits(car->angularVelocity, "-0.00080835");
}

TEST_F(CarModelTest, RollingBackwardFoldsTheSlipAnglesAndRaisesNoForce)
{
    const ReferenceTrace trace = StepBoth(Moving(0.0f, 5.0f), kNoKeys);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(trace.wheelTravelDirections[i].y, 1.0f) << i;
        EXPECT_EQ(trace.slipAngles[i], 0.0f) << i;
    }
    EXPECT_EQ(car->velocity.x, 0.0f);
    EXPECT_EQ(car->velocity.y, 5.0f);
    EXPECT_EQ(car->angularVelocity, 0.0f);
    EXPECT_EQ(car->body->spatial.position.y, 5.0f * 3.0f * 0.001f); // velocity x step ms x 0.001
}

TEST_F(CarModelTest, BelowHalfAUnitPerSecondFrontWheelsLeanTowardTheirPreviousAngle)
{
    CarState state = Moving(0.0f, -0.25f);
    state.steerAngle = 0.3f;
    state.wheelAngle = 0.3f;
    const ReferenceTrace trace = StepBoth(state, Vector2(0.3f, 0.0f));
    for (int i = 0; i < 2; ++i) {
        ExpectDigits(trace.wheelTravelDirections[i].x, "0.149438");
        ExpectDigits(trace.wheelTravelDirections[i].y, "-0.988771");
    }
    ExpectDigits(car->wheelAngle, "0.2851508");
}

TEST_F(CarModelTest, SlowlyBackwardTheTravelDirectionFallsBackToTheNoseSilently)
{
    testing::internal::CaptureStdout();
    const ReferenceTrace trace = StepBoth(Moving(0.0f, 0.25f), kNoKeys);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(trace.travelDirection.x, 0.0f);
    EXPECT_EQ(trace.travelDirection.y, -1.0f);
    EXPECT_EQ(trace.forwardAlignment, 1.0f);
    EXPECT_TRUE(std::isfinite(car->wheelAngle));
}

// ---------------------------------------------------------------------------------------------
// Traction and braking

TEST_F(CarModelTest, UpArrowFromRestPushesEachWheelAlongItsFacing)
{
    const ReferenceTrace trace = StepBoth(CarState(), kUp);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(trace.rollingVelocities[i].GetLength(), 0.0f);
        EXPECT_EQ(trace.targetVelocities[i].y, -1.0f);
        EXPECT_EQ(trace.longitudinalSlips[i], 1.0f);
        ExpectDigits(trace.tractionForces[i], "0.99110");
    }
    EXPECT_EQ(car->velocity.x, 0.0f);
    ExpectDigits(-car->velocity.y, "0.0446");
    ExpectDigits(-car->velocity.y / 0.003f, "14.87");
}

TEST_F(CarModelTest, DownArrowAtRestReversesAndAtSpeedBrakes)
{
    ReferenceTrace trace = StepBoth(CarState(), kDown);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(trace.longitudinalSlips[i], -1.0f);
        ExpectDigits(trace.tractionForces[i], "-0.99110");
    }
    EXPECT_GT(car->velocity.y, 0.0f);

    trace = StepBoth(Moving(0.0f, -20.0f), kDown);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(trace.targetVelocities[i].y, -19.0f);
        EXPECT_EQ(trace.longitudinalSlips[i], -1.0f);
    }
    // Straight ahead nothing corners, so the step adds the four wheels' shares in turn.
    float expectedY = -20.0f;
    for (int i = 0; i < 4; ++i) {
        expectedY += -1.0f * -0.99109912f * 0.25f * 15.0f * 3.0f * 0.001f;
    }
    EXPECT_EQ(car->velocity.y, expectedY);
}

TEST_F(CarModelTest, DownArrowBelowOneUnitPerSecondReversesWithinAFewSteps)
{
    const ReferenceTrace trace = StepBoth(Moving(0.0f, -0.8f), kDown);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(trace.targetVelocities[i].y, 0.2f, 1e-6f); // 10 - 9.8, rounded twice
    }
    int steps = 1;
    while (car->velocity.y <= 0.0f && steps < 100) {
        car->OnStepPhysicsTime(kDown);
        ++steps;
    }
    // About 0.0446 per step: 0.8 units per second are gone after some 18 steps.
    EXPECT_LE(steps, 20);
}

TEST_F(CarModelTest, UpArrowNearTopSpeedPushesByTheSlipToTheDriveVelocity)
{
    const ReferenceTrace trace = StepBoth(Moving(0.0f, -49.5f), kUp);
    const float force = 1.01089203f; // the traction curve at a slip of 0.5
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(trace.targetVelocities[i].y, -50.0f);
        EXPECT_EQ(trace.longitudinalSlips[i], 0.5f);
        EXPECT_EQ(trace.tractionForces[i], force);
    }
    // Straight ahead nothing corners, so the step adds the four wheels' shares to -49.5 in turn.
    float expectedY = -49.5f;
    for (int i = 0; i < 4; ++i) {
        expectedY += -1.0f * force * 0.25f * 15.0f * 3.0f * 0.001f;
    }
    EXPECT_EQ(car->velocity.y, expectedY);

    const ReferenceTrace atTop = StepBoth(Moving(0.0f, -50.0f), kUp);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(atTop.tractionForces[i], 0.0f, 1e-5f);
    }
}

// ---------------------------------------------------------------------------------------------
// Integration and the marker

TEST_F(CarModelTest, HeadingWrapsAcrossPi)
{
    // A car spinning at rest: its rate of turn decays by the same fraction every step (0.4954739
    // from 0.5), so this start makes the step turn the car by 0.01.
    CarState spinning;
    spinning.heading = 3.14f;
    spinning.angularVelocity = 0.01f / 0.003f * 0.5f / 0.4954739f;
    StepBoth(spinning, kNoKeys);
    const float turned = 3.14f + 3.0f * car->angularVelocity * 0.001f;
    EXPECT_GT(turned, kPi);
    EXPECT_EQ(car->body->spatial.rotation, turned - 2.0f * kPi);
    ExpectDigits(car->body->spatial.rotation, "-3.1331854");
}

TEST_F(CarModelTest, RedMarkerFollowsTheFrontLeftSlipAngle)
{
    // At rest the front-left wheel travels where it pointed in the previous step (straight ahead
    // here), so its slip is the new wheel angle: 0.085 + 0.015.
    CarState steered;
    steered.steerAngle = 0.085f;
    const ReferenceTrace trace = StepBoth(steered, Vector2(1.0f, 0.0f));
    EXPECT_NEAR(trace.slipAngles[0], 0.1f, 1e-8f);
    EXPECT_EQ(car->redDot->spatial.position.x, 5.0f * trace.slipAngles[0]);
    EXPECT_NEAR(car->redDot->spatial.position.x, 0.5f, 1e-7f);
    EXPECT_EQ(car->redDot->spatial.position.y, 10.0f);
}

// ---------------------------------------------------------------------------------------------
// Long drives

// A fixed pseudo-random sequence of held arrow keys that changes every 50 to 150 steps. Raw
// mt19937 output is the same on every standard library.
class RandomKeys {
public:
    Vector2 Next()
    {
        if (remaining == 0) {
            remaining = 50 + static_cast<int>(random() % 101);
            const bool left = random() % 100 < 35;
            const bool right = random() % 100 < 35;
            const bool up = random() % 100 < 50;
            const bool down = random() % 100 < 35;
            control = Vector2((right ? 1.0f : 0.0f) - (left ? 1.0f : 0.0f), (up ? 1.0f : 0.0f) - (down ? 1.0f : 0.0f));
        }
        --remaining;
        return control;
    }

private:
    std::mt19937 random{20240611};
    int remaining = 0;
    Vector2 control;
};

constexpr int kRandomDriveSteps = 100000;

TEST_F(CarModelTest, MatchesTheReferenceModelBitForBitOverALongRandomDrive)
{
    RandomKeys keys;
    CarState expected = Read(*car);
    for (int step = 0; step < kRandomDriveSteps; ++step) {
        const Vector2 control = keys.Next();
        car->OnStepPhysicsTime(control);
        ReferenceStep(expected, control, game->physicsStepMs);
        const std::string difference = FirstDifference(expected, Read(*car));
        ASSERT_EQ(difference, "") << "step " << step << ", control (" << control.x << ", " << control.y << ")";
    }
}

TEST_F(CarModelTest, LongRandomDriveStaysFiniteWithTheHeadingWithinPi)
{
    RandomKeys keys;
    float fastest = 0.0f;
    for (int step = 0; step < kRandomDriveSteps; ++step) {
        car->OnStepPhysicsTime(keys.Next());
        const CarState state = Read(*car);
        for (float value : Fields(state)) {
            ASSERT_TRUE(std::isfinite(value)) << "step " << step;
        }
        ASSERT_GE(state.heading, -kPi) << "step " << step;
        ASSERT_LE(state.heading, kPi) << "step " << step;
        fastest = std::max(fastest, state.velocity.GetLength());
    }
    // The drive reaches real speeds, so the bound above covers the fast regime too.
    EXPECT_GT(fastest, 30.0f);
}

TEST_F(CarModelTest, FullThrottleApproachesFiftyThenTheDownArrowBrakesAndReversesToTen)
{
    int stepsToTopSpeed = -1;
    for (int step = 1; step <= 6000; ++step) {
        car->OnStepPhysicsTime(kUp);
        const float speed = car->velocity.GetLength();
        ASSERT_LE(speed, 50.0f) << "step " << step;
        if (stepsToTopSpeed < 0 && speed > 49.99f) {
            stepsToTopSpeed = step;
        }
    }
    // About 15 units per second squared up to 49 (some 1100 steps), then a fast last unit.
    EXPECT_GT(stepsToTopSpeed, 1000);
    EXPECT_LT(stepsToTopSpeed, 1400);
    EXPECT_EQ(car->velocity.x, 0.0f);

    float previous = -car->velocity.y;
    int step = 0;
    while (-car->velocity.y > 1.0f) {
        car->OnStepPhysicsTime(kDown);
        ASSERT_LE(-car->velocity.y, previous) << "braking step " << step;
        previous = -car->velocity.y;
        ASSERT_LT(++step, 2000);
    }
    for (int i = 0; i < 4000; ++i) {
        car->OnStepPhysicsTime(kDown);
    }
    EXPECT_NEAR(car->velocity.y, 10.0f, 0.01f);
}

// ---------------------------------------------------------------------------------------------
// Golden trajectory: any change to the model's numerics changes this hash. Re-record the constant
// only on purpose, after checking that the change in behaviour is intended.

constexpr uint64_t kGoldenTrajectoryHash = 0x3abf686a50d14630;

TEST_F(CarModelTest, GoldenTrajectoryEndsInTheRecordedState)
{
    const struct {
        int steps;
        Vector2 control;
    } script[] = {
        {900, kUp},                   // accelerate to about 40
        {400, Vector2(1.0f, 1.0f)},   // turn right under power
        {300, Vector2(-1.0f, 1.0f)},  // flick left: the rear lets go
        {250, Vector2(-1.0f, 0.0f)},  // lift off in the slide
        {200, Vector2(1.0f, 0.0f)},   // counter-steer
        {600, kDown},                 // brake to a stop and reverse
        {300, Vector2(-1.0f, -1.0f)}, // reverse turning
        {400, kNoKeys},               // roll out
    };
    for (const auto& part : script) {
        for (int i = 0; i < part.steps; ++i) {
            car->OnStepPhysicsTime(part.control);
        }
    }
    const CarState state = Read(*car);
    uint64_t hash = 14695981039346656037ull; // 64-bit FNV-1a over the little-endian bit patterns
    for (float value : {state.position.x, state.position.y, state.heading, state.velocity.x, state.velocity.y,
                        state.angularVelocity}) {
        const uint32_t bits = Bits(value);
        for (int byte = 0; byte < 4; ++byte) {
            hash = (hash ^ ((bits >> (8 * byte)) & 0xffu)) * 1099511628211ull;
        }
    }
    EXPECT_EQ(hash, kGoldenTrajectoryHash) << std::hex << "0x" << hash;
}

// ---------------------------------------------------------------------------------------------
// Allocation

TEST_F(CarModelTest, StepAllocatesNothing)
{
    // The counters see allocations from this program: one malloc through the wrapper...
    allocationCount = 0;
    countAllocations = true;
    void* volatile block = std::malloc(16);
    countAllocations = false;
    std::free(block);
    ASSERT_EQ(allocationCount.load(), 1);

    RandomKeys keys;
    allocationCount = 0;
    countAllocations = true;
    for (int step = 0; step < 10000; ++step) {
        car->OnStepPhysicsTime(keys.Next());
    }
    countAllocations = false;
    EXPECT_EQ(allocationCount.load(), 0);

    // ... and the race state's camera list, which does allocate, through operator new.
    allocationCount = 0;
    countAllocations = true;
    race->OnStepPhysicsTime();
    countAllocations = false;
    EXPECT_GE(allocationCount.load(), 1);
}

} // namespace

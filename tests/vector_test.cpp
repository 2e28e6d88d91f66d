// The vector rules the car model leans on: lengths that snap to zero, normalisation that warns
// but carries on, the exact rounding of quarter turns, and the angle and deviation helpers.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "orvo/vector2.h"

namespace {

using orvo::Vector2;

constexpr float kQuarterTurn = 1.5707964f; // the float nearest pi/2, a little more than pi/2
constexpr float kPi = 3.1415927f;

const char* const kGetNormalizedWarning = "[Vector2::GetNormalized] Trying to normalize 0-vector";
const char* const kNormalizeWarning = "[Vector2::Normalize] Trying to normalize 0-vector";

template <typename Action> std::string CaptureStdout(Action action)
{
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

struct LengthCase {
    Vector2 vector;
    float length;
};

TEST(Vector2, LengthsBelowOneMillionthSnapToExactlyZero)
{
    const LengthCase cases[] = {
        {{0.0f, 0.0f}, 0.0f},   {{3.0f, 4.0f}, 5.0f},    {{-3.0f, -4.0f}, 5.0f},
        {{5e-07f, 0.0f}, 0.0f}, {{0.0f, -9e-07f}, 0.0f}, {{1e-06f, 0.0f}, 1e-06f}, // the snap is strict
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.vector.x << ", " << c.vector.y << ")");
        EXPECT_EQ(c.vector.GetLength(), c.length);
    }
    EXPECT_EQ(Vector2(1.0f, 2.0f).GetDistance(Vector2(1.0000005f, 2.0f)), 0.0f);
    EXPECT_EQ(Vector2(1.0f, 2.0f).GetDistance(Vector2(4.0f, -2.0f)), 5.0f);
    EXPECT_TRUE(std::isnan(Vector2(NAN, 0.0f).GetLength()));
}

TEST(Vector2, IsNearZeroNeedsBothComponentsStrictlyBelowOneMillionth)
{
    EXPECT_TRUE(Vector2(0.0f, 0.0f).IsNearZero());
    EXPECT_TRUE(Vector2(9e-07f, -9e-07f).IsNearZero());
    EXPECT_FALSE(Vector2(1e-06f, 0.0f).IsNearZero());
    EXPECT_FALSE(Vector2(0.0f, -1e-06f).IsNearZero());
    EXPECT_FALSE(Vector2(5e-07f, 2e-06f).IsNearZero());
}

struct NormalizeCase {
    Vector2 vector;
    std::string printed;
    Vector2 normalized;
};

// A tiny vector still comes out with unit length; the exact zero vector has no direction and
// stays zero rather than turning into NaN.
TEST(Vector2, GetNormalizedWarnsAboutNearZeroVectorsOnOneLineAndCarriesOn)
{
    const std::string bothWarnings = std::string(kGetNormalizedWarning) + kNormalizeWarning;
    const NormalizeCase cases[] = {
        {{3.0f, 4.0f}, "", {0.6f, 0.8f}},
        {{1e-07f, 0.0f}, bothWarnings, {1.0f, 0.0f}},
        {{0.0f, 0.0f}, bothWarnings, {0.0f, 0.0f}},
    };
    for (const NormalizeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.vector.x << ", " << c.vector.y << ")");
        Vector2 normalized(5.0f, 5.0f);
        EXPECT_EQ(CaptureStdout([&] { normalized = c.vector.GetNormalized(); }), c.printed);
        EXPECT_EQ(normalized.x, c.normalized.x);
        EXPECT_EQ(normalized.y, c.normalized.y);
    }

    Vector2 inPlace;
    EXPECT_EQ(CaptureStdout([&] { inPlace.Normalize(); }), kNormalizeWarning);
    EXPECT_EQ(inPlace.x, 0.0f);
    EXPECT_EQ(inPlace.y, 0.0f);
}

// The float quarter turn has a cosine of about -4.37e-08 rather than 0, which shows in the last
// bits wherever one component is large against the other; a rotation in float precision, or one
// that assumes cos = 0 and sin = 1, differs from this in those bits.
TEST(Vector2, QuarterTurnRoundsEachComponentOnceFromDoublePrecision)
{
    const long double c = std::cos(static_cast<long double>(kQuarterTurn));
    const long double s = std::sin(static_cast<long double>(kQuarterTurn));
    const Vector2 inputs[] = {
        {1.0f, 0.0f},
        {0.0f, -1.0f},
        {3.0f, 4.0f},
        {1e6f, 1.0f},
        {3070034.0f, -3.36592579f},
        {-4388651.0f, 1.86126328f},
        {4745418.5f, 0.202587128f},
    };
    for (const Vector2& v : inputs) {
        SCOPED_TRACE(testing::Message() << "(" << v.x << ", " << v.y << ")");
        const Vector2 rotated = v.GetRotated(kQuarterTurn);
        EXPECT_EQ(rotated.x, static_cast<float>(v.x * c - v.y * s));
        EXPECT_EQ(rotated.y, static_cast<float>(v.x * s + v.y * c));
    }
    // Positive angles turn clockwise on a screen whose y axis points down.
    EXPECT_EQ(Vector2(0.0f, -1.0f).GetRotated(kQuarterTurn).x, 1.0f);
    EXPECT_EQ(Vector2(1.0f, 0.0f).GetRotated(kQuarterTurn).y, 1.0f);
    EXPECT_EQ(Vector2(1.0f, 0.0f).GetRotated(kQuarterTurn).x, -4.371139e-08f);
}

TEST(Vector2, GetAngleLiesBetweenZeroAndTwoPiAndKeepsNegativeZero)
{
    EXPECT_EQ(Vector2(1.0f, 0.0f).GetAngle(), 0.0f);
    EXPECT_EQ(Vector2(0.0f, 1.0f).GetAngle(), kQuarterTurn);
    EXPECT_EQ(Vector2(-1.0f, 0.0f).GetAngle(), kPi);
    EXPECT_EQ(Vector2(0.0f, -1.0f).GetAngle(), 4.712389f);
    // A tiny negative angle wraps all the way up to the float 2 pi.
    EXPECT_EQ(Vector2(1.0f, -1e-30f).GetAngle(), 6.2831855f);

    const float negativeZero = Vector2(1.0f, -0.0f).GetAngle();
    EXPECT_EQ(negativeZero, 0.0f);
    EXPECT_TRUE(std::signbit(negativeZero));
}

TEST(Vector2, GetAngleToIsSignedTowardPositiveRotationAndIgnoresLengths)
{
    EXPECT_EQ(Vector2(1.0f, 0.0f).GetAngleTo(Vector2(0.0f, 1.0f)), kQuarterTurn);
    EXPECT_EQ(Vector2(1.0f, 0.0f).GetAngleTo(Vector2(0.0f, -1.0f)), -kQuarterTurn);
    EXPECT_EQ(Vector2(2.0f, 0.0f).GetAngleTo(Vector2(0.0f, 5.0f)), kQuarterTurn);
    EXPECT_EQ(Vector2(1.0f, 0.0f).GetAngleTo(Vector2(-1.0f, 0.0f)), kPi);
    EXPECT_EQ(Vector2(1.0f, 0.0f).GetAngleTo(Vector2(-1.0f, -0.0f)), -kPi);

    const Vector2 unit = Vector2(0.6f, -0.8f);
    for (const float turn : {-3.0f, -1.2f, -0.01f, 0.0f, 0.3f, 2.5f, 3.1f}) {
        EXPECT_NEAR(unit.GetAngleTo(unit.GetRotated(turn)), turn, 1e-6f) << "turn " << turn;
    }
}

struct DeviationCase {
    Vector2 anchor;
    Vector2 deviant;
    float maximumDeviation;
    Vector2 expected;
};

TEST(Vector2, EnforceMaximumDeviationPullsOnlyWhatLiesBeyondTheLimit)
{
    const DeviationCase cases[] = {
        {{2.0f, 0.0f}, {0.0f, 0.0f}, 1.0f, {1.0f, 0.0f}}, {{0.5f, 0.0f}, {0.0f, 0.0f}, 1.0f, {0.0f, 0.0f}},
        {{1.0f, 0.0f}, {0.0f, 0.0f}, 1.0f, {0.0f, 0.0f}}, // exactly at the limit: unchanged
        {{0.0f, 0.0f}, {3.0f, 4.0f}, 1.0f, {0.6f, 0.8f}}, {{-1.0f, 2.0f}, {-1.0f, 12.0f}, 4.0f, {-1.0f, 6.0f}},
    };
    for (const DeviationCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "anchor (" << c.anchor.x << ", " << c.anchor.y << ") deviant ("
                                        << c.deviant.x << ", " << c.deviant.y << ")");
        const Vector2 result = c.anchor.EnforceMaximumDeviation(c.deviant, c.maximumDeviation);
        EXPECT_NEAR(result.x, c.expected.x, 1e-6f);
        EXPECT_NEAR(result.y, c.expected.y, 1e-6f);
    }
}

TEST(Vector2, EnforceMaximumDeviationReadsASnappedDistanceAsZeroAndStaysSilent)
{
    Vector2 result;
    const std::string printed =
        CaptureStdout([&] { result = Vector2(0.0f, 0.0f).EnforceMaximumDeviation(Vector2(5e-07f, 0.0f), 0.0f); });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(result.x, 5e-07f);
    EXPECT_EQ(result.y, 0.0f);
}

} // namespace

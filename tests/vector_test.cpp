// The vector rules the car model leans on: lengths that snap to zero, normalisation that warns
// but carries on, the exact rounding of quarter turns, and the angle and deviation helpers.
#include <cmath>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "orvo/vector2.h"

namespace {

using orvo::Vector2;
using XY = std::pair<float, float>; // compared exactly and printed by gtest
using Printed = std::pair<std::string, XY>;

constexpr float kQuarterTurn = 1.5707964f; // the float nearest pi/2, a little more than pi/2
constexpr float kPi = 3.1415927f;

XY Of(const Vector2& v) { return {v.x, v.y}; }

// What `make` prints to stdout, with the vector it returns.
template <typename Make> Printed PrintedAndResult(Make make)
{
    testing::internal::CaptureStdout();
    const Vector2 result = make();
    return {testing::internal::GetCapturedStdout(), Of(result)};
}

TEST(Vector2, LengthsBelowOneMillionthSnapToZeroAndNearZeroNeedsBothComponentsBelowIt)
{
    EXPECT_EQ(Vector2(3, 4).GetLength(), 5.0f);
    EXPECT_EQ(Vector2(5e-07f, 0).GetLength(), 0.0f);
    EXPECT_EQ(Vector2(0, -9e-07f).GetLength(), 0.0f);
    EXPECT_EQ(Vector2(1e-06f, 0).GetLength(), 1e-06f); // the snap is strict
    EXPECT_TRUE(std::isnan(Vector2(NAN, 0).GetLength()));

    EXPECT_TRUE(Vector2(9e-07f, -9e-07f).IsNearZero());
    EXPECT_FALSE(Vector2(1e-06f, 0).IsNearZero());
    EXPECT_FALSE(Vector2(0, -1e-06f).IsNearZero());
    EXPECT_FALSE(Vector2(5e-07f, 2e-06f).IsNearZero()); // both components must be small
}

// A tiny vector still comes out with unit length; the exact zero vector has no direction and
// stays zero rather than turning into NaN.
TEST(Vector2, NormalizingWarnsAboutNearZeroVectorsOnOneLineAndCarriesOn)
{
    const std::string bothWarnings =
        "[Vector2::GetNormalized] Trying to normalize 0-vector[Vector2::Normalize] Trying to normalize 0-vector";
    EXPECT_EQ(PrintedAndResult([] { return Vector2(3, 4).GetNormalized(); }), Printed("", {0.6f, 0.8f}));
    EXPECT_EQ(PrintedAndResult([] { return Vector2(1e-07f, 0).GetNormalized(); }), Printed(bothWarnings, {1, 0}));
    EXPECT_EQ(PrintedAndResult([] { return Vector2(0, 0).GetNormalized(); }), Printed(bothWarnings, {0, 0}));
}

// The float quarter turn's cosine is -4.37e-08, not 0: it shows in the last bits wherever one component
// dwarfs the other, so a rotation in float, or one assuming cos = 0 and sin = 1, differs there.
TEST(Vector2, QuarterTurnRoundsEachComponentOnceFromDoublePrecisionAndTurnsClockwise)
{
    const long double c = std::cos(static_cast<long double>(kQuarterTurn));
    const long double s = std::sin(static_cast<long double>(kQuarterTurn));
    for (const Vector2& v : {Vector2(3, 4), Vector2(1e6f, 1), Vector2(3070034.0f, -3.36592579f),
                             Vector2(-4388651.0f, 1.86126328f), Vector2(4745418.5f, 0.202587128f)}) {
        EXPECT_EQ(Of(v.GetRotated(kQuarterTurn)),
                  XY(static_cast<float>(v.x * c - v.y * s), static_cast<float>(v.x * s + v.y * c)))
            << "from " << testing::PrintToString(Of(v));
    }
    // On a screen whose y axis points down, right turns to down and up turns to right.
    EXPECT_EQ(Of(Vector2(1, 0).GetRotated(kQuarterTurn)), XY(-4.371139e-08f, 1));
    EXPECT_EQ(Of(Vector2(0, -1).GetRotated(kQuarterTurn)), XY(1, 4.371139e-08f));
}

TEST(Vector2, GetAngleLiesBetweenZeroAndTwoPiAndKeepsNegativeZero)
{
    EXPECT_EQ(Vector2(0, 1).GetAngle(), kQuarterTurn);
    EXPECT_EQ(Vector2(-1, 0).GetAngle(), kPi);
    EXPECT_EQ(Vector2(0, -1).GetAngle(), 4.712389f);
    EXPECT_EQ(Vector2(1, -1e-30f).GetAngle(), 6.2831855f); // wraps all the way up to the float 2 pi
    EXPECT_EQ(Vector2(1, 0).GetAngle(), 0.0f);
    const float negativeZero = Vector2(1, -0.0f).GetAngle();
    EXPECT_TRUE(negativeZero == 0.0f && std::signbit(negativeZero)) << negativeZero;
}

TEST(Vector2, GetAngleToIsSignedTowardPositiveRotationAndIgnoresLengths)
{
    EXPECT_EQ(Vector2(1, 0).GetAngleTo(Vector2(0, 1)), kQuarterTurn);
    EXPECT_EQ(Vector2(2, 0).GetAngleTo(Vector2(0, -5)), -kQuarterTurn);
    EXPECT_EQ(Vector2(1, 0).GetAngleTo(Vector2(-1, 0)), kPi);
    EXPECT_EQ(Vector2(1, 0).GetAngleTo(Vector2(-1, -0.0f)), -kPi);
    const Vector2 unit(0.6f, -0.8f);
    for (const float turn : {-3.0f, -1.2f, -0.01f, 0.0f, 0.3f, 2.5f, 3.1f}) {
        EXPECT_NEAR(unit.GetAngleTo(unit.GetRotated(turn)), turn, 1e-6f) << "turn " << turn;
    }
}

TEST(Vector2, EnforceMaximumDeviationPullsOnlyWhatLiesBeyondTheLimit)
{
    const auto expectNear = [](const Vector2& result, float x, float y) {
        EXPECT_NEAR(result.x, x, 1e-6f);
        EXPECT_NEAR(result.y, y, 1e-6f);
    };
    expectNear(Vector2(2, 0).EnforceMaximumDeviation(Vector2(0, 0), 1), 1, 0);
    expectNear(Vector2(0.5f, 0).EnforceMaximumDeviation(Vector2(0, 0), 1), 0, 0);
    expectNear(Vector2(1, 0).EnforceMaximumDeviation(Vector2(0, 0), 1), 0, 0); // at the limit: unchanged
    expectNear(Vector2(0, 0).EnforceMaximumDeviation(Vector2(3, 4), 1), 0.6f, 0.8f);
    expectNear(Vector2(-1, 2).EnforceMaximumDeviation(Vector2(-1, 12), 4), -1, 6);
    // A distance that snaps to zero is no deviation: unchanged, and no zero-vector warning.
    EXPECT_EQ(PrintedAndResult([] { return Vector2(0, 0).EnforceMaximumDeviation(Vector2(5e-07f, 0), 0); }),
              Printed("", {5e-07f, 0}));
}

} // namespace

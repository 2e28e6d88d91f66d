// The engine's vector and scalar rules that the car model leans on: lengths that snap to zero,
// angles and their wrapping, clamps, the S-curve and the sign of zero, down to the rounding.

#include <gtest/gtest.h>

#include "orvo/utils.h"
#include "orvo/vector2.h"

using orvo::Vector2;
constexpr float kPi = 3.1415927f, kHalfPi = 1.5707964f;

TEST(Maths, EdgeCasesComeOutExactly)
{
    const Vector2 right(1, 0), origin(0, 0);
    const struct {
        const char* what;
        float actual, expected, tolerance = 0; // exact unless a tolerance is given
    } cases[] = {
        // clang-format off
        {"length of (3, 4)", Vector2(3, 4).GetLength(), 5},
        {"length of (5e-07, 0) snaps to 0", Vector2(5e-07f, 0).GetLength(), 0},
        {"length of (1e-06, 0): the snap is strict", Vector2(1e-06f, 0).GetLength(), 1e-06f},
        {"(1e-06, 0) is not near zero", float(Vector2(1e-06f, 0).IsNearZero()), 0},
        {"(9e-07, -9e-07) is near zero", float(Vector2(9e-07f, -9e-07f).IsNearZero()), 1},
        {"(5e-07, 2e-06) is not near zero", float(Vector2(5e-07f, 2e-06f).IsNearZero()), 0},
        {"(3, 4) normalized, x", Vector2(3, 4).GetNormalized().x, 0.6f},
        {"(1, 0) turned a quarter clockwise, x", right.GetRotated(kHalfPi).x, -4.371139e-08f},
        {"angle of (0, -1)", Vector2(0, -1).GetAngle(), 4.712389f},
        {"angle of (1, -1e-30) wraps up to the float 2 pi", Vector2(1, -1e-30f).GetAngle(), 6.2831855f},
        {"(2, 0) to (0, -5)", Vector2(2, 0).GetAngleTo(Vector2(0, -5)), -kHalfPi},
        {"anchor (2, 0) pulls (0, 0) to x 1", Vector2(2, 0).EnforceMaximumDeviation(origin, 1).x, 1},
        {"anchor (1, 0) at exactly 1 leaves (0, 0)", right.EnforceMaximumDeviation(origin, 1).x, 0},
        {"anchor (0, 0) pulls (3, 4) to y 0.8", origin.EnforceMaximumDeviation(Vector2(3, 4), 1).y, 0.8f, 1e-6f},
        {"wrap 4 into [-pi, pi]", orvo::ModulateIntoRange(4, -kPi, kPi), -2.2831855f},
        {"wrap pi into [-pi, pi]", orvo::ModulateIntoRange(kPi, -kPi, kPi), kPi},
        {"wrap -pi into [-pi, pi]", orvo::ModulateIntoRange(-kPi, -kPi, kPi), -kPi},
        {"wrap -7 into [0, 3]", orvo::ModulateIntoRange(-7, 0, 3), 2},
        {"wrap 1e20 into [0, 3] by its exact remainder", orvo::ModulateIntoRange(1e20f, 0, 3), 2},
        {"wrap -5e9 into [0, 3] by its exact remainder", orvo::ModulateIntoRange(-5e9f, 0, 3), 1},
        {"clamp 0.5 to [1, 1]", orvo::Clamp(0.5f, 1, 1), 1},
        {"normalized clamp 80 in [0, 50]", orvo::NormalizedClamp(80, 0, 50), 1},
        {"normalized clamp 4 in [2, 10]", orvo::NormalizedClamp(4, 2, 10), 0.25f},
        {"curve keeps the midpoint", orvo::Curve(0.5f, 0.3f), 0.5f},
        {"curve of 0.25 with amount 1", orvo::Curve(0.25f, 1), 0.1464466f, 1e-7f},
        {"sign side of -0", float(orvo::SignSide(-0.0f)), 1},
        {"sign side of -1e-30", float(orvo::SignSide(-1e-30f)), -1},
        {"sign side of NaN", float(orvo::SignSide(NAN)), -1},
        {"NaN clamped is NaN", float(std::isnan(orvo::Clamp(NAN, 0, 1))), 1},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(c.actual, c.expected, c.tolerance) << c.what;
    }
}

// The whole warning on one line; a caller that checks first never prints it.
TEST(Maths, NormalizingANearZeroVectorWarnsOnOneLineAndCarriesOn)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(Vector2(1e-07f, 0).GetNormalized().x, 1.0f);
    EXPECT_EQ(Vector2(0, 0).EnforceMaximumDeviation(Vector2(5e-07f, 0), 0).x, 5e-07f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[Vector2::GetNormalized] Trying to normalize 0-vector[Vector2::Normalize] Trying to normalize 0-vector");
}

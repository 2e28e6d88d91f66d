// The scalar helpers of the car step: wrapping the heading, clamping with asserted bounds, the
// S-curve and the sign that counts zero as positive.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "orvo/utils.h"

namespace {

using orvo::ModulateIntoRange;

constexpr float kPi = 3.1415927f;
constexpr float kInfinity = std::numeric_limits<float>::infinity();

TEST(ModulateIntoRange, WrapsByWholeWidthsAndKeepsBothEndsOfTheClosedRange)
{
    EXPECT_EQ(ModulateIntoRange(4.0f, -kPi, kPi), -2.2831855f);
    EXPECT_EQ(ModulateIntoRange(kPi, -kPi, kPi), kPi);
    EXPECT_EQ(ModulateIntoRange(-kPi, -kPi, kPi), -kPi);
    EXPECT_EQ(ModulateIntoRange(10.0f, 0.0f, 3.0f), 1.0f);
    EXPECT_EQ(ModulateIntoRange(-7.0f, 0.0f, 3.0f), 2.0f);
    EXPECT_EQ(ModulateIntoRange(0.0f, 0.0f, 3.0f), 0.0f);
    EXPECT_EQ(ModulateIntoRange(3.0f, 0.0f, 3.0f), 3.0f);
}

// As the heading is wrapped every physics step: a plain walk by whole widths.
TEST(ModulateIntoRange, MatchesTheStepwiseWalkForValuesAFewWidthsOutside)
{
    const float ranges[][2] = {{-kPi, kPi}, {0.0f, 3.0f}, {-1.0f, 0.5f}, {10.0f, 10.25f}};
    for (const auto& [min, max] : ranges) {
        for (int i = -4000; i <= 4000; ++i) {
            float walked = min + (max - min) * (i * 0.00271f);
            const float value = walked;
            while (walked < min) {
                walked += max - min;
            }
            while (walked > max) {
                walked -= max - min;
            }
            ASSERT_EQ(ModulateIntoRange(value, min, max), walked) << value << " into [" << min << ", " << max << "]";
        }
    }
}

// The walk would never end for far values: the width is lost in the value's rounding, so the exact
// remainder must come back instead (fmod is exact, and so are the shifts by one width in double).
TEST(ModulateIntoRange, ReturnsTheExactRemainderForFarValuesAndNaNOrTheValueWhereThereIsNoWrap)
{
    for (const float value : {kInfinity, -kInfinity, NAN}) {
        EXPECT_TRUE(std::isnan(ModulateIntoRange(value, -kPi, kPi))) << value;
    }
    EXPECT_EQ(ModulateIntoRange(5.0f, 1.0f, 1.0f), 5.0f); // an empty or reversed range: nothing to wrap into
    EXPECT_EQ(ModulateIntoRange(-5.0f, 2.0f, 1.0f), -5.0f);
    const float ranges[][2] = {{-kPi, kPi}, {0.0f, 3.0f}, {-1.0f, 0.5f}};
    for (const auto& [min, max] : ranges) {
        for (const float value : {1e30f, -1e30f, 3.4e38f, 123456789.0f, -5e9f}) {
            const double width = static_cast<double>(max) - min;
            double exact = std::fmod(static_cast<double>(value), width);
            exact += exact < min ? width : (exact > max ? -width : 0.0);
            const float wrapped = ModulateIntoRange(value, min, max);
            // The two ends of the closed range are congruent, so either may stand for the other.
            EXPECT_EQ(wrapped == min && static_cast<float>(exact) == max ? max : wrapped, static_cast<float>(exact))
                << value << " into [" << min << ", " << max << "]";
        }
    }
}

TEST(Clamp, LimitsToTheBoundsPassesNaNThroughAndNormalizedClampMapsOntoZeroToOne)
{
    EXPECT_EQ(orvo::Clamp(5.0f, 0.0f, 1.0f), 1.0f);
    EXPECT_EQ(orvo::Clamp(-1.0f, 0.0f, 1.0f), 0.0f);
    EXPECT_EQ(orvo::Clamp(0.5f, 1.0f, 1.0f), 1.0f); // equal bounds are allowed
    EXPECT_TRUE(std::isnan(orvo::Clamp(NAN, 0.0f, 1.0f)));
    EXPECT_EQ(orvo::NormalizedClamp(80.0f, 0.0f, 50.0f), 1.0f);
    EXPECT_EQ(orvo::NormalizedClamp(4.0f, 2.0f, 10.0f), 0.25f);
    EXPECT_TRUE(std::isnan(orvo::NormalizedClamp(NAN, 0.0f, 50.0f)));
}

TEST(ClampDeathTest, BadBoundsStopTheProgramNamingTheBrokenCondition)
{
    EXPECT_DEATH(orvo::Clamp(0.5f, 1.0f, 0.0f), "utils\\.cpp.*max >= min");
    EXPECT_DEATH(orvo::NormalizedClamp(1.0f, 1.0f, 1.0f), "utils\\.cpp.*max > min");
}

TEST(Curve, KeepsTheEndsAndMidpointAndBlendsTheSCurveByAmount)
{
    for (const float amount : {0.0f, 0.3f, 1.0f}) {
        EXPECT_EQ(orvo::Curve(0.5f, amount), 0.5f) << "amount " << amount;
        EXPECT_EQ(orvo::Curve(1.0f, amount), 1.0f) << "amount " << amount;
        EXPECT_NEAR(orvo::Curve(0.0f, amount), 0.0f, 1e-15f) << "amount " << amount;
    }
    EXPECT_NEAR(orvo::Curve(0.25f, 1.0f), 0.1464466f, 1e-7f);
    EXPECT_NEAR(orvo::Curve(0.25f, 0.5f), 0.5f * 0.1464466f + 0.5f * 0.25f, 1e-7f);
}

TEST(SignSide, CountsZeroOfEitherSignAsPositiveAndNaNAsNegative)
{
    EXPECT_EQ(orvo::SignSide(0.0f), 1);
    EXPECT_EQ(orvo::SignSide(-0.0f), 1);
    EXPECT_EQ(orvo::SignSide(-1e-30f), -1);
    EXPECT_EQ(orvo::SignSide(NAN), -1);
}

} // namespace

// The scalar helpers of the car step: wrapping the heading, clamping with asserted bounds, the
// S-curve and the sign that counts zero as positive.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "orvo/utils.h"

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kInfinity = std::numeric_limits<float>::infinity();

// The wrap as a plain walk by whole widths, for values a few widths outside the range.
float WrapStepwise(float value, float min, float max)
{
    const float width = max - min;
    while (value < min) {
        value += width;
    }
    while (value > max) {
        value -= width;
    }
    return value;
}

// The value of [min, max] congruent to `value` modulo the width, from exact arithmetic: fmod is
// exact, and the few shifts by one width that follow are exact in double for these ranges.
float ExactRemainder(float value, float min, float max)
{
    const double width = static_cast<double>(max) - min;
    double r = std::fmod(static_cast<double>(value), width);
    while (r > max) {
        r -= width;
    }
    while (r < min) {
        r += width;
    }
    return static_cast<float>(r);
}

struct WrapCase {
    float value;
    float min;
    float max;
    float expected;
};

TEST(ModulateIntoRange, WrapsByWholeWidthsAndKeepsBothEndsOfTheClosedRange)
{
    const WrapCase cases[] = {
        {4.0f, -kPi, kPi, -2.2831855f}, {kPi, -kPi, kPi, kPi},    {-kPi, -kPi, kPi, -kPi},  {10.0f, 0.0f, 3.0f, 1.0f},
        {-7.0f, 0.0f, 3.0f, 2.0f},      {0.0f, 0.0f, 3.0f, 0.0f}, {3.0f, 0.0f, 3.0f, 3.0f}, {0.5f, -1.0f, 1.0f, 0.5f},
    };
    for (const WrapCase& c : cases) {
        EXPECT_EQ(orvo::ModulateIntoRange(c.value, c.min, c.max), c.expected)
            << c.value << " into [" << c.min << ", " << c.max << "]";
    }
}

TEST(ModulateIntoRange, MatchesTheStepwiseWalkForValuesAFewWidthsOutside)
{
    const float ranges[][2] = {{-kPi, kPi}, {0.0f, 3.0f}, {-1.0f, 0.5f}, {10.0f, 10.25f}};
    for (const auto& range : ranges) {
        const float width = range[1] - range[0];
        for (int i = -4000; i <= 4000; ++i) {
            const float value = range[0] + width * (i * 0.00271f);
            ASSERT_EQ(orvo::ModulateIntoRange(value, range[0], range[1]), WrapStepwise(value, range[0], range[1]))
                << value << " into [" << range[0] << ", " << range[1] << "]";
        }
    }
}

// The walk would never end here: the width is lost in the value's rounding, so the exact
// remainder must come back instead, inside the range.
TEST(ModulateIntoRange, ReturnsTheExactRemainderForValuesTheWidthCannotMove)
{
    const float ranges[][2] = {{-kPi, kPi}, {0.0f, 3.0f}, {-1.0f, 0.5f}};
    for (const auto& range : ranges) {
        for (const float value : {1e30f, -1e30f, 3.4e38f, 123456789.0f, -5e9f}) {
            SCOPED_TRACE(testing::Message() << value << " into [" << range[0] << ", " << range[1] << "]");
            const float wrapped = orvo::ModulateIntoRange(value, range[0], range[1]);
            EXPECT_GE(wrapped, range[0]);
            EXPECT_LE(wrapped, range[1]);
            const float expected = ExactRemainder(value, range[0], range[1]);
            // The two ends of the closed range are congruent, so either may stand for the other.
            if (expected == range[1] && wrapped == range[0]) {
                continue;
            }
            EXPECT_EQ(wrapped, expected);
        }
    }
}

TEST(ModulateIntoRange, ReturnsForArgumentsThatHaveNoWrap)
{
    EXPECT_TRUE(std::isnan(orvo::ModulateIntoRange(kInfinity, -kPi, kPi)));
    EXPECT_TRUE(std::isnan(orvo::ModulateIntoRange(-kInfinity, -kPi, kPi)));
    EXPECT_TRUE(std::isnan(orvo::ModulateIntoRange(NAN, -kPi, kPi)));
    // An empty or reversed range returns the value as it is.
    EXPECT_EQ(orvo::ModulateIntoRange(5.0f, 1.0f, 1.0f), 5.0f);
    EXPECT_EQ(orvo::ModulateIntoRange(5.0f, 2.0f, 1.0f), 5.0f);
    EXPECT_EQ(orvo::ModulateIntoRange(-5.0f, 2.0f, 1.0f), -5.0f);
}

TEST(Clamp, LimitsToTheBoundsAndPassesNaNThrough)
{
    EXPECT_EQ(orvo::Clamp(5.0f, 0.0f, 1.0f), 1.0f);
    EXPECT_EQ(orvo::Clamp(-1.0f, 0.0f, 1.0f), 0.0f);
    EXPECT_EQ(orvo::Clamp(0.25f, 0.0f, 1.0f), 0.25f);
    EXPECT_EQ(orvo::Clamp(0.5f, 1.0f, 1.0f), 1.0f);
    EXPECT_TRUE(std::isnan(orvo::Clamp(NAN, 0.0f, 1.0f)));
}

TEST(NormalizedClamp, MapsTheClampedValueOntoZeroToOne)
{
    EXPECT_EQ(orvo::NormalizedClamp(25.0f, 0.0f, 50.0f), 0.5f);
    EXPECT_EQ(orvo::NormalizedClamp(80.0f, 0.0f, 50.0f), 1.0f);
    EXPECT_EQ(orvo::NormalizedClamp(-3.0f, 0.0f, 50.0f), 0.0f);
    EXPECT_EQ(orvo::NormalizedClamp(4.0f, 2.0f, 10.0f), 0.25f);
    EXPECT_TRUE(std::isnan(orvo::NormalizedClamp(NAN, 0.0f, 50.0f)));
}

TEST(ClampDeathTest, BadBoundsStopTheProgramNamingTheBrokenCondition)
{
    EXPECT_DEATH(orvo::Clamp(0.5f, 1.0f, 0.0f), "utils\\.cpp.*max >= min");
    EXPECT_DEATH(orvo::Clamp(0.5f, 0.0f, NAN), "max >= min");
    EXPECT_DEATH(orvo::NormalizedClamp(1.0f, 1.0f, 1.0f), "utils\\.cpp.*max > min");
    EXPECT_DEATH(orvo::NormalizedClamp(1.0f, 2.0f, 1.0f), "max > min");
}

TEST(Curve, KeepsTheEndsAndMidpointAndBlendsTheSCurveByAmount)
{
    for (const float amount : {0.0f, 0.3f, 1.0f}) {
        EXPECT_EQ(orvo::Curve(0.5f, amount), 0.5f) << "amount " << amount;
        EXPECT_EQ(orvo::Curve(1.0f, amount), 1.0f) << "amount " << amount;
        EXPECT_NEAR(orvo::Curve(0.0f, amount), 0.0f, 1e-15f) << "amount " << amount;
    }
    EXPECT_NEAR(orvo::Curve(0.25f, 1.0f), 0.1464466f, 1e-7f);
    EXPECT_EQ(orvo::Curve(0.25f, 0.0f), 0.25f);
    EXPECT_NEAR(orvo::Curve(0.25f, 0.5f), 0.5f * 0.1464466f + 0.5f * 0.25f, 1e-7f);
}

TEST(SignSide, CountsZeroOfEitherSignAsPositiveAndNaNAsNegative)
{
    EXPECT_EQ(orvo::SignSide(0.0f), 1);
    EXPECT_EQ(orvo::SignSide(-0.0f), 1);
    EXPECT_EQ(orvo::SignSide(2.5f), 1);
    EXPECT_EQ(orvo::SignSide(kInfinity), 1);
    EXPECT_EQ(orvo::SignSide(-1e-30f), -1);
    EXPECT_EQ(orvo::SignSide(-kInfinity), -1);
    EXPECT_EQ(orvo::SignSide(NAN), -1);
}

} // namespace

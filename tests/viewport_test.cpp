// The fitted viewport and the absolute physics clock of the main loop, both pure arithmetic.
#include <cstdint>

#include <gtest/gtest.h>

#include "orvo/orvo.h"

namespace {

struct FitCase {
    int windowWidth;
    int windowHeight;
    float aspect;
    orvo::Viewport expected;
};

TEST(FitViewport, CentresTheLargestRectangleOfTheRatioWithTheOddPixelInTheRightOrBottomBar)
{
    const FitCase cases[] = {
        {1280, 720, 1.777777f, {0, 0, 1280, 720}},
        {1280, 720, 16.0f / 9.0f, {0, 0, 1280, 720}},
        {1280, 1024, 16.0f / 9.0f, {0, 152, 1280, 720}},
        {800, 600, 16.0f / 9.0f, {0, 75, 800, 450}},
        // The float 4/3 makes the margin 479.99..., truncated to 479.
        {1920, 1080, 4.0f / 3.0f, {239, 0, 1441, 1080}},
        {1000, 1000, 1.0f, {0, 0, 1000, 1000}},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.windowWidth << "x" << c.windowHeight << " ratio " << c.aspect);
        const orvo::Viewport fitted = orvo::FitViewport(orvo::Viewport{0, 0, c.windowWidth, c.windowHeight},
                                                        c.windowWidth, c.windowHeight, c.aspect);
        EXPECT_EQ(fitted.x, c.expected.x);
        EXPECT_EQ(fitted.y, c.expected.y);
        EXPECT_EQ(fitted.w, c.expected.w);
        EXPECT_EQ(fitted.h, c.expected.h);
    }
}

TEST(FitViewport, ChangesOnlyTheAxisThatGetsBars)
{
    const orvo::Viewport start{5, 6, 7, 8};
    const orvo::Viewport barsAboveAndBelow = orvo::FitViewport(start, 1280, 1024, 16.0f / 9.0f);
    EXPECT_EQ(barsAboveAndBelow.x, 5);
    EXPECT_EQ(barsAboveAndBelow.w, 7);
    EXPECT_EQ(barsAboveAndBelow.y, 152);
    EXPECT_EQ(barsAboveAndBelow.h, 720);

    const orvo::Viewport barsLeftAndRight = orvo::FitViewport(start, 1920, 1080, 4.0f / 3.0f);
    EXPECT_EQ(barsLeftAndRight.x, 239);
    EXPECT_EQ(barsLeftAndRight.w, 1441);
    EXPECT_EQ(barsLeftAndRight.y, 6);
    EXPECT_EQ(barsLeftAndRight.h, 8);

    const orvo::Viewport exactFit = orvo::FitViewport(start, 900, 900, 1.0f);
    EXPECT_EQ(exactFit.x, 5);
    EXPECT_EQ(exactFit.y, 6);
    EXPECT_EQ(exactFit.w, 7);
    EXPECT_EQ(exactFit.h, 8);
}

struct DueCase {
    uint64_t frameStart;
    uint64_t startTicks;
    int physicsStepMs;
    int64_t stepCount;
    int64_t expectedDue;
};

constexpr uint64_t kTwoTo31 = uint64_t{1} << 31;            // 24.8 days of milliseconds
constexpr uint64_t kSeventyFiveDays = 75ull * 86400 * 1000; // past 2^31 steps of 3 ms

TEST(CountDuePhysicsSteps, KeepsTheClockAbsoluteAndNeverGoesNegative)
{
    const DueCase cases[] = {
        {1000, 1000, 3, 0, 0}, // the first frame runs no step
        {1008, 1000, 3, 0, 2}, // 8 / 3 truncated
        {1009, 1000, 3, 2, 1},
        {1030, 1000, 3, 0, 10}, // a 30 ms frame
        {1039, 1000, 3, 3, 10}, // the frame after a slow one catches up
        {1005, 1000, 3, 5, 0},  // ahead of the clock: nothing, not a negative count
        {1016, 1000, 8, 1, 1},
        // Long sessions: the tick difference passes 2^31 ms, then the step count passes 2^31.
        {1000 + kTwoTo31 + 5, 1000, 3, 715827883, 1},
        {7 + kSeventyFiveDays, 7, 3, 2160000000 - 4, 4},
        {5000000000 + kSeventyFiveDays + 2, 5000000000, 3, 2159999990, 10},
    };
    for (const DueCase& c : cases) {
        EXPECT_EQ(orvo::CountDuePhysicsSteps(c.frameStart, c.startTicks, c.physicsStepMs, c.stepCount), c.expectedDue)
            << "frame at " << c.frameStart << ", start " << c.startTicks << ", " << c.stepCount << " steps run";
    }
}

} // namespace

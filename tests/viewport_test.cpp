// The fitted viewport and the absolute physics clock of the main loop, both pure arithmetic.
#include <cstdint>
#include <tuple>

#include <gtest/gtest.h>

#include "orvo/orvo.h"

namespace {

using Rect = std::tuple<int, int, int, int>;

// Only the axis that gets bars changes; the other keeps the previous viewport's values (5, 6, 7, 8).
TEST(FitViewport, CentresTheLargestRectangleOfTheRatioWithTheOddPixelInTheRightOrBottomBar)
{
    const struct {
        int windowWidth, windowHeight;
        float aspect;
        Rect expected;
    } cases[] = {
        {1280, 720, 1.777777f, {0, 6, 1280, 8}},   // a hair wider than the ratio: a margin that truncates to 0
        {1280, 720, 16.0f / 9.0f, {5, 0, 7, 720}}, // a hair narrower: bars of 0 above and below
        {900, 900, 1.0f, {5, 6, 7, 8}},            // an exact fit changes nothing
        {1280, 1024, 16.0f / 9.0f, {5, 152, 7, 720}},
        {800, 600, 16.0f / 9.0f, {5, 75, 7, 450}},
        {1920, 1080, 4.0f / 3.0f, {239, 6, 1441, 8}}, // the float 4/3 makes the margin 479.99..., truncated
    };
    for (const auto& c : cases) {
        const orvo::Viewport fitted = orvo::FitViewport({5, 6, 7, 8}, c.windowWidth, c.windowHeight, c.aspect);
        EXPECT_EQ(Rect(fitted.x, fitted.y, fitted.w, fitted.h), c.expected)
            << c.windowWidth << "x" << c.windowHeight << " ratio " << c.aspect;
    }
}

constexpr uint64_t kTwoTo31 = uint64_t{1} << 31;            // 24.8 days of milliseconds
constexpr uint64_t kSeventyFiveDays = 75ull * 86400 * 1000; // past 2^31 steps of 3 ms

TEST(CountDuePhysicsSteps, KeepsTheClockAbsoluteAndNeverGoesNegative)
{
    const struct {
        uint64_t frameStart, startTicks;
        int physicsStepMs;
        int64_t stepCount, expectedDue;
    } cases[] = {
        {1000, 1000, 3, 0, 0},  // the first frame runs no step
        {1008, 1000, 3, 0, 2},  // 8 / 3 truncated
        {1030, 1000, 3, 0, 10}, // a 30 ms frame
        {1039, 1000, 3, 3, 10}, // the frame after a slow one catches up
        {1005, 1000, 3, 5, 0},  // ahead of the clock: nothing, not a negative count
        {1016, 1000, 8, 1, 1},
        // Long sessions: the tick difference passes 2^31 ms, then the step count passes 2^31.
        {1000 + kTwoTo31 + 5, 1000, 3, 715827883, 1},
        {7 + kSeventyFiveDays, 7, 3, 2160000000 - 4, 4},
        {5000000000 + kSeventyFiveDays + 2, 5000000000, 3, 2159999990, 10},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orvo::CountDuePhysicsSteps(c.frameStart, c.startTicks, c.physicsStepMs, c.stepCount), c.expectedDue)
            << "frame at " << c.frameStart << ", start " << c.startTicks << ", " << c.stepCount << " steps run";
    }
}

} // namespace

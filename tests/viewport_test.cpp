// Where things land on the screen: the viewport fitted into the window, placements composed up the
// node tree, the camera's mapping into viewport pixels, and the pixel rectangles sprites take.

#include <gtest/gtest.h>

#include <vector>

#include "orvo/orvo.h"

using orvo::Spatial;
using Rect = std::tuple<int, int, int, int>;
using Placement = std::tuple<float, float, float, float>; // x, y, depth, rotation: compared exactly
constexpr float kHalfPi = 1.5707964f;

static Placement Of(const Spatial& s) { return {s.position.x, s.position.y, s.depth, s.rotation}; }
template <typename R> static Rect Of(const R& r) { return {r.x, r.y, r.w, r.h}; }

// Only the axis that gets bars changes; the other keeps the previous viewport's values (5, 6, 7, 8).
TEST(FitViewport, CentresTheLargestRectangleOfTheRatioWithTheOddPixelInTheRightOrBottomBar)
{
    const struct {
        int windowWidth, windowHeight;
        float aspect;
        Rect expected;
    } cases[] = {
        {1280, 720, 1.777777f, {0, 6, 1280, 8}},      // a hair wider than the ratio: a margin truncated to 0
        {1280, 720, 16.0f / 9.0f, {5, 0, 7, 720}},    // a hair narrower: bars of 0 above and below
        {1281, 720, 16.0f / 9.0f, {0, 6, 1280, 8}},   // a margin of 1 from the float ratio: its pixel goes right
        {1280, 1024, 16.0f / 9.0f, {5, 152, 7, 720}}, // bars above and below
        {800, 600, 16.0f / 9.0f, {5, 75, 7, 450}},
        {1920, 1080, 4.0f / 3.0f, {239, 6, 1441, 8}}, // the float 4/3 makes the margin 479.99..., truncated
        {800, 601, 16.0f / 9.0f, {5, 75, 7, 450}},    // an odd margin: its odd pixel goes to the bottom bar
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Of(orvo::FitViewport({5, 6, 7, 8}, c.windowWidth, c.windowHeight, c.aspect)), c.expected)
            << c.windowWidth << "x" << c.windowHeight << " ratio " << c.aspect;
    }
}

// The window keeps its place only where all of it lies on one display's usable area.
TEST(WindowPosition, KeepsItsPlaceWhereItFitsOnOneDisplayAndIsCentredOnTheFirstOtherwise)
{
    const int centred = SDL_WINDOWPOS_CENTERED_DISPLAY(0);
    const struct {
        std::vector<SDL_Rect> displays;
        int x, y;
    } cases[] = {
        {{{0, 0, 2800, 1000}}, 1376, 140},
        {{{0, 0, 2656, 860}}, 1376, 140},                                // to the last pixel
        {{{0, 0, 2655, 860}}, centred, centred},                         // one short
        {{{0, 0, 1920, 1080}}, centred, centred},                        // a common screen
        {{{0, 0, 1280, 720}, {1280, 0, 1920, 1080}}, 1376, 140},         // wholly on the second display
        {{{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}}, centred, centred}, // across two displays
        {{}, centred, centred},
    };
    for (const auto& c : cases) {
        const SDL_Point at = orvo::ChooseWindowPosition(1280, 720, c.displays.data(), int(c.displays.size()));
        EXPECT_EQ(std::make_pair(at.x, at.y), std::make_pair(c.x, c.y)) << c.displays.size() << " displays";
    }
}

TEST(SceneNode, PlacementComposesRigidMotionsUpTheChainAndNeverInheritsSize)
{
    orvo::SpatialNode parent, child(&parent);
    parent.spatial = Spatial{{10, 0}, 3, kHalfPi, {40, 40}};
    child.spatial = Spatial{{1, 0}, 2, 0.25f, {2, 3}};
    const Spatial derived = child.GetDerivedSpatial();
    EXPECT_EQ(Of(derived), Placement(10, 1, 5, 1.8207964f));
    EXPECT_EQ(std::make_pair(derived.size.x, derived.size.y), std::make_pair(2.0f, 3.0f));
}

// At depth 100 and a quarter-pi field of view the viewport spans 41.421356 world units down.
TEST(WorldToScreen, CameraPositionLandsOnTheViewportCentreAndTurningTheCameraTurnsTheWorldBack)
{
    orvo::Camera camera;
    camera.spatial.depth = 100;
    const orvo::Viewport viewport{0, 0, 1280, 720};
    const Spatial centre = orvo::WorldToScreenSpatial(Spatial{{0, 0}, 0, 0.5f}, viewport, camera);
    EXPECT_EQ(Of(centre), Placement(640, 360, 0, 0.5f));
    EXPECT_EQ(std::make_pair(centre.size.x, centre.size.y), std::make_pair(17.382338f, 17.382338f));
    EXPECT_EQ(Of(orvo::WorldToScreenSpatial(Spatial{{1, 0}, 0, 0}, viewport, camera)),
              Placement(657.38232f, 360, 0, 0));
    camera.spatial.rotation = kHalfPi;
    EXPECT_EQ(Of(orvo::WorldToScreenSpatial(Spatial{{1, 0}, 0, 0}, viewport, camera)),
              Placement(640, 342.61768f, 0, -kHalfPi));
}

// Placed in pixels a sprite's rectangle is truncated; mapped through a camera it is rounded outward.
TEST(SpriteRect, ScreenSpaceTruncatesWhileWorldSpaceRoundsOutward)
{
    const struct {
        Spatial mapped;
        Rect screen, world;
    } cases[] = {
        {Spatial{{10.7f, 5.2f}, 0, 0, {3.5f, 2.5f}}, {8, 3, 3, 2}, {8, 3, 4, 3}},
        {Spatial{{0, 0}, 0, 0, {3, 3}}, {-1, -1, 3, 3}, {-2, -2, 3, 3}},
        {Spatial{{640, 360}, 0, 0, {17.382338f, 17.382338f}}, {631, 351, 17, 17}, {631, 351, 18, 18}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Of(orvo::Sprite::ScreenRect(c.mapped)), c.screen) << c.mapped.position.x;
        EXPECT_EQ(Of(orvo::Sprite::WorldRect(c.mapped)), c.world) << c.mapped.position.x;
    }
}

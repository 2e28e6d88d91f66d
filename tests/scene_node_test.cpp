// Placement of scene nodes up the parent chain, the camera mapping into viewport pixels, and the
// pixel rectangles sprites derive from a mapped placement.
#include <tuple>

#include <gtest/gtest.h>

#include "orvo/orvo.h"

namespace {

using orvo::Spatial;
using orvo::SpatialNode;
using Placement = std::tuple<float, float, float, float>; // x, y, depth, rotation: compared exactly

constexpr float kQuarterTurn = 1.5707964f;

Placement Of(const Spatial& s) { return {s.position.x, s.position.y, s.depth, s.rotation}; }

TEST(SceneNode, PlacementComposesRigidMotionsUpTheChainAndNeverInheritsSize)
{
    SpatialNode parent;
    parent.spatial = Spatial{{10, 0}, 3, kQuarterTurn, {40, 40}}; // must neither scale the offset nor the size
    EXPECT_EQ(Of(parent.GetDerivedSpatial()), Placement(10, 0, 3, kQuarterTurn)) << "a root is where it says";
    EXPECT_EQ(parent.GetDerivedSpatial().size.x, 40.0f);

    SpatialNode child(&parent);
    child.spatial = Spatial{{1, 0}, 2, 0.25f, {2, 3}};
    const Spatial derived = child.GetDerivedSpatial();
    EXPECT_EQ(Of(derived), Placement(10, 1, 5, 1.8207964f));
    EXPECT_EQ(derived.size.x, 2.0f);
    EXPECT_EQ(derived.size.y, 3.0f);

    // Two quarter turns above a grandchild flip its offset: (0, 2) + (-1, -0.5).
    SpatialNode anchor, body(&anchor), tyre(&body);
    anchor.spatial = Spatial{{0, 0}, 1, kQuarterTurn};
    body.spatial = Spatial{{2, 0}, 1, kQuarterTurn};
    tyre.spatial = Spatial{{1, 0.5f}, 1, 0.1f};
    EXPECT_EQ(Of(tyre.GetDerivedSpatial()), Placement(-1, 1.5f, 3, 3.2415927f));
}

// At depth 100 and a quarter-pi field of view the viewport spans 41.421356 world units down.
TEST(WorldToScreen, CameraPositionLandsOnTheViewportCentreAndTurningTheCameraTurnsTheWorldBack)
{
    orvo::Camera camera;
    camera.spatial.depth = 100;
    const orvo::Viewport viewport{0, 0, 1280, 720};
    const Spatial centre = orvo::WorldToScreenSpatial(Spatial{{0, 0}, 0, 0.5f}, viewport, camera);
    EXPECT_EQ(Of(centre), Placement(640, 360, 0, 0.5f));
    EXPECT_EQ(centre.size.x, 17.382338f);
    EXPECT_EQ(centre.size.y, 17.382338f);
    EXPECT_EQ(Of(orvo::WorldToScreenSpatial(Spatial{{1, 0}, 0, 0}, viewport, camera)),
              Placement(657.38232f, 360, 0, 0));

    camera.spatial.rotation = kQuarterTurn;
    EXPECT_EQ(Of(orvo::WorldToScreenSpatial(Spatial{{1, 0}, 0, 0}, viewport, camera)),
              Placement(640, 342.61768f, 0, -kQuarterTurn));

    // The renderer applies the viewport's offset, not the mapping; twice as far is half the size.
    camera.spatial = Spatial{{5, 3}, 100, 0};
    const Spatial far = orvo::WorldToScreenSpatial(Spatial{{5, 3}, 100, 0.7f}, {100, 50, 1280, 720}, camera);
    EXPECT_EQ(Of(far), Placement(640, 360, 100, 0.7f));
    EXPECT_NEAR(far.size.x, 17.382338f / 2, 1e-5f);
}

TEST(SpriteRect, ScreenSpaceTruncatesWhileWorldSpaceRoundsOutward)
{
    using Rect = std::tuple<int, int, int, int>;
    const auto fields = [](const SDL_Rect& r) { return Rect(r.x, r.y, r.w, r.h); };
    const struct {
        Spatial mapped;
        Rect screen, world;
    } cases[] = {
        {Spatial{{10.7f, 5.2f}, 0, 0, {3.5f, 2.5f}}, {8, 3, 3, 2}, {8, 3, 4, 3}},
        {Spatial{{0, 0}, 0, 0, {3, 3}}, {-1, -1, 3, 3}, {-2, -2, 3, 3}},
        {Spatial{{640, 360}, 0, 0, {1280, 720}}, {0, 0, 1280, 720}, {0, 0, 1280, 720}},
        {Spatial{{640, 360}, 0, 0, {17.382338f, 17.382338f}}, {631, 351, 17, 17}, {631, 351, 18, 18}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "at (" << c.mapped.position.x << ", " << c.mapped.position.y << ")");
        EXPECT_EQ(fields(orvo::Sprite::ScreenRect(c.mapped)), c.screen);
        EXPECT_EQ(fields(orvo::Sprite::WorldRect(c.mapped)), c.world);
    }
}

} // namespace

// Placement of scene nodes up the parent chain, the camera mapping into viewport pixels, and the
// pixel rectangles sprites derive from a mapped placement.
#include <vector>

#include <gtest/gtest.h>

#include "orvo/orvo.h"

namespace {

using orvo::Spatial;
using orvo::SpatialNode;
using orvo::Vector2;

constexpr float kQuarterTurn = 1.5707964f;

TEST(SceneNode, RootPlacementIsItsLocalOneIncludingSize)
{
    SpatialNode root;
    root.spatial.position = Vector2(3.5f, -2.0f);
    root.spatial.depth = 7.0f;
    root.spatial.rotation = 0.4f;
    root.spatial.size = Vector2(6.0f, 2.0f);
    const Spatial derived = root.GetDerivedSpatial();
    EXPECT_EQ(derived.position.x, 3.5f);
    EXPECT_EQ(derived.position.y, -2.0f);
    EXPECT_EQ(derived.depth, 7.0f);
    EXPECT_EQ(derived.rotation, 0.4f);
    EXPECT_EQ(derived.size.x, 6.0f);
    EXPECT_EQ(derived.size.y, 2.0f);
}

TEST(SceneNode, ChildKeepsItsOffsetAndAngleAsARigidMotionAndItsOwnSize)
{
    SpatialNode parent;
    parent.spatial.position = Vector2(10.0f, 0.0f);
    parent.spatial.rotation = kQuarterTurn;
    parent.spatial.depth = 3.0f;
    parent.spatial.size = Vector2(40.0f, 40.0f); // must neither scale the offset nor the size
    SpatialNode child(&parent);
    child.spatial.position = Vector2(1.0f, 0.0f);
    child.spatial.rotation = 0.25f;
    child.spatial.depth = 2.0f;
    child.spatial.size = Vector2(2.0f, 3.0f);

    const Spatial derived = child.GetDerivedSpatial();
    EXPECT_EQ(derived.position.x, 10.0f);
    EXPECT_EQ(derived.position.y, 1.0f);
    EXPECT_EQ(derived.rotation, 1.8207964f);
    EXPECT_EQ(derived.depth, 5.0f);
    EXPECT_EQ(derived.size.x, 2.0f);
    EXPECT_EQ(derived.size.y, 3.0f);
}

TEST(SceneNode, ThreeLevelsComposeTheWholeChain)
{
    SpatialNode anchor;
    anchor.spatial.rotation = kQuarterTurn;
    anchor.spatial.depth = 1.0f;
    SpatialNode body(&anchor);
    body.spatial.position = Vector2(2.0f, 0.0f); // lands at (0, 2), turned by a half turn in all
    body.spatial.rotation = kQuarterTurn;
    body.spatial.depth = 1.0f;
    SpatialNode tyre(&body);
    tyre.spatial.position = Vector2(1.0f, 0.5f); // a half turn flips the offset
    tyre.spatial.rotation = 0.1f;
    tyre.spatial.depth = 1.0f;

    const Spatial derived = tyre.GetDerivedSpatial();
    EXPECT_NEAR(derived.position.x, -1.0f, 1e-6f);
    EXPECT_NEAR(derived.position.y, 1.5f, 1e-6f);
    EXPECT_NEAR(derived.rotation, 3.2415927f, 1e-6f);
    EXPECT_EQ(derived.depth, 3.0f);
}

class WorldToScreen : public testing::Test {
protected:
    WorldToScreen() { camera.spatial.depth = 100.0f; }

    Spatial Map(float x, float y) const
    {
        Spatial spatial;
        spatial.position = Vector2(x, y);
        return orvo::WorldToScreenSpatial(spatial, viewport, camera);
    }

    orvo::Viewport viewport{0, 0, 1280, 720};
    orvo::Camera camera;
};

// At depth 100 and a quarter-pi field of view the viewport spans 41.421356 world units down.
TEST_F(WorldToScreen, CameraPositionLandsOnTheViewportCentreAtTheProjectedScale)
{
    const Spatial centre = Map(0.0f, 0.0f);
    EXPECT_EQ(centre.position.x, 640.0f);
    EXPECT_EQ(centre.position.y, 360.0f);
    EXPECT_EQ(centre.size.x, 17.382338f);
    EXPECT_EQ(centre.size.y, 17.382338f);

    const Spatial right = Map(1.0f, 0.0f);
    EXPECT_EQ(right.position.x, 657.38232f);
    EXPECT_EQ(right.position.y, 360.0f);
}

TEST_F(WorldToScreen, TurningTheCameraTurnsTheWorldTheOtherWay)
{
    camera.spatial.rotation = kQuarterTurn;
    const Spatial mapped = Map(1.0f, 0.0f);
    EXPECT_EQ(mapped.position.x, 640.0f);
    EXPECT_EQ(mapped.position.y, 342.61768f);
    EXPECT_EQ(mapped.rotation, -kQuarterTurn);
}

TEST_F(WorldToScreen, OffsetCameraCentresItsPositionWhateverTheSpatialsRotation)
{
    camera.spatial.position = Vector2(5.0f, 3.0f);
    viewport = orvo::Viewport{100, 50, 1280, 720}; // the renderer applies the offset, not the mapping
    Spatial spatial;
    spatial.position = Vector2(5.0f, 3.0f);
    spatial.rotation = 0.7f;
    spatial.depth = 100.0f; // twice as far: half the size
    const Spatial mapped = orvo::WorldToScreenSpatial(spatial, viewport, camera);
    EXPECT_EQ(mapped.position.x, 640.0f);
    EXPECT_EQ(mapped.position.y, 360.0f);
    EXPECT_EQ(mapped.rotation, 0.7f);
    EXPECT_EQ(mapped.depth, 100.0f);
    EXPECT_NEAR(mapped.size.x, 17.382338f / 2.0f, 1e-5f);
}

std::vector<int> Fields(const SDL_Rect& rect) { return {rect.x, rect.y, rect.w, rect.h}; }

struct RectCase {
    Vector2 position;
    Vector2 size;
    SDL_Rect screen; // truncated toward zero
    SDL_Rect world;  // rounded outward
};

TEST(SpriteRect, ScreenSpaceTruncatesWhileWorldSpaceRoundsOutward)
{
    const RectCase cases[] = {
        {{10.7f, 5.2f}, {3.5f, 2.5f}, {8, 3, 3, 2}, {8, 3, 4, 3}},
        {{0.0f, 0.0f}, {3.0f, 3.0f}, {-1, -1, 3, 3}, {-2, -2, 3, 3}},
        {{640.0f, 360.0f}, {1280.0f, 720.0f}, {0, 0, 1280, 720}, {0, 0, 1280, 720}},
        {{640.0f, 360.0f}, {17.382338f, 17.382338f}, {631, 351, 17, 17}, {631, 351, 18, 18}},
    };
    for (const RectCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "at (" << c.position.x << ", " << c.position.y << ") size (" << c.size.x
                                        << ", " << c.size.y << ")");
        Spatial spatial;
        spatial.position = c.position;
        spatial.size = c.size;
        EXPECT_EQ(Fields(orvo::Sprite::ScreenRect(spatial)), Fields(c.screen));
        EXPECT_EQ(Fields(orvo::Sprite::WorldRect(spatial)), Fields(c.world));
    }
}

} // namespace

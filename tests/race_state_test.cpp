// The race scene without a window: arrow keys and the control they make, the trailing camera,
// the tile lattice, the car as built and as placed for drawing, and a clean release of it all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "orvo/orvo.h"
#include "race.h"

using orvo::Vector2;

namespace {

// Exact equality of both components, with both vectors in the failure message.
testing::AssertionResult Is(const Vector2& v, float x, float y)
{
    return (v.x == x && v.y == y ? testing::AssertionSuccess() : testing::AssertionFailure())
           << "(" << v.x << ", " << v.y << ") against (" << x << ", " << y << ")";
}

class RaceStateTest : public testing::Test {
protected:
    static void SetUpTestSuite() { orvo::Init(); }
    static void TearDownTestSuite() { orvo::Exit(); }
    void Send(const std::vector<SDL_Keycode>& keys, bool down)
    {
        for (const SDL_Keycode sym : keys) {
            SDL_Keysym keysym{};
            keysym.sym = sym;
            down ? race.OnKeyDown(keysym) : race.OnKeyUp(keysym);
        }
    }
    // The held arrows as the letters L, R, U, D in that order, "-" where not held.
    std::string Held() const
    {
        return {race.keyLeft ? 'L' : '-', race.keyRight ? 'R' : '-', race.keyUp ? 'U' : '-', race.keyDown ? 'D' : '-'};
    }

    orvo::Game game{8, 3};
    RaceState race{&game};
};

TEST_F(RaceStateTest, ArrowKeysHoldFlagsThatMakeTheControlVectorAndOppositeKeysCancel)
{
    const SDL_Keycode L = SDLK_LEFT, R = SDLK_RIGHT, U = SDLK_UP, D = SDLK_DOWN;
    const struct {
        std::vector<SDL_Keycode> keys;
        std::string held;
        float x, y;
    } cases[] = {{{}, "----", 0, 0},      {{L}, "L---", -1, 0},        {{R}, "-R--", 1, 0},    {{U}, "--U-", 0, 1},
                 {{D}, "---D", 0, -1},    {{L, R}, "LR--", 0, 0},      {{U, D}, "--UD", 0, 0}, {{L, U}, "L-U-", -1, 1},
                 {{R, D}, "-R-D", 1, -1}, {{L, R, U, D}, "LRUD", 0, 0}};
    for (const auto& c : cases) {
        Send(c.keys, true);
        EXPECT_EQ(Held(), c.held);
        EXPECT_TRUE(Is(race.GetControl(), c.x, c.y)) << c.held;
        Send(c.keys, false);
        EXPECT_EQ(Held(), "----") << "after releasing " << c.held;
    }
    Send({SDLK_ESCAPE, SDLK_F12, SDLK_a, SDLK_KP_8}, true);
    EXPECT_EQ(Held(), "----") << "other keys change nothing";
}

TEST_F(RaceStateTest, CameraStartsOnTheLookAheadPointThenTrailsTheLast200)
{
    race.keyUp = true;
    race.OnStepPhysicsTime();
    const Car& car = *race.car;
    const Vector2 lookAhead = car.body->spatial.position + car.velocity * 0.5f;
    ASSERT_LT(car.velocity.y, 0.0f);
    EXPECT_TRUE(Is(race.camera.spatial.position, lookAhead.x, lookAhead.y));
    for (int step = 2; step <= 260; ++step) {
        race.OnStepPhysicsTime();
        ASSERT_EQ(race.cameraTargets.size(), static_cast<size_t>(std::min(step, 200))) << step;
    }
    // Accelerating up the screen, the camera lags behind the newest look-ahead point.
    EXPECT_GT(race.camera.spatial.position.y, race.cameraTargets.back().y);
}

TEST_F(RaceStateTest, CameraDepthIs100AtRestAnd120At50UnitsPerSecond)
{
    race.OnStepPhysicsTime();
    EXPECT_EQ(race.camera.spatial.depth, 100.0f);
    race.car->velocity = Vector2(0.0f, -50.0f); // rolling straight ahead, nothing changes the speed
    race.OnStepPhysicsTime();
    ASSERT_EQ(race.car->velocity.GetLength(), 50.0f);
    EXPECT_EQ(race.camera.spatial.depth, 120.0f);
}

// The tile of column c and row r is tiles[r * 6 + c]; a half tile rounds away from zero.
TEST_F(RaceStateTest, TilesLieOnThe18UnitLatticeAroundTheSnappedCamera)
{
    const Vector2 cameras[] = {{0, 0}, {8.9f, 0}, {9, 0}, {-9, 0}, {-8.99f, -9.01f}, {1000.5f, -777.3f}};
    const Vector2 centres[] = {{0, 0}, {0, 0}, {18, 0}, {-18, 0}, {0, -18}, {1008, -774}};
    for (int i = 0; i < 6; ++i) {
        race.camera.spatial.position = cameras[i];
        race.OrderGrid();
        for (int tile = 0; tile < 24; ++tile) {
            const orvo::Spatial& placed = race.tiles[tile]->spatial;
            EXPECT_TRUE(Is(placed.position, -45.0f + 18.0f * (tile % 6) + centres[i].x,
                           -27.0f + 18.0f * (tile / 6) + centres[i].y))
                << "camera " << i << ", tile " << tile;
            EXPECT_TRUE(Is(placed.size, 18.0f, 18.0f));
        }
    }
}

// Front-left, front-right, rear-right, rear-left; the nose points along local -y.
TEST_F(RaceStateTest, CarIsBuiltWithTyresAtTheCornersAndTheOverlayCoversTheViewport)
{
    const Car& car = *race.car;
    const Vector2 corners[] = {{-0.7f, -0.7f}, {0.7f, -0.7f}, {0.7f, 0.7f}, {-0.7f, 0.7f}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_LT(car.tyres[i]->spatial.position.GetDistance(corners[i]), 2e-07f) << i;
        EXPECT_TRUE(Is(car.tyres[i]->spatial.size, 0.5f, 0.8f)) << i;
    }
    EXPECT_TRUE(Is(car.body->spatial.size, 2.0f, 2.0f));
    EXPECT_TRUE(Is(race.hud->spatial.position, 640.0f, 360.0f));
    EXPECT_TRUE(Is(race.hud->spatial.size, 1280.0f, 720.0f));
}

TEST_F(RaceStateTest, DrawingPlacesTheShadowFromTheBodyAndTurnsOnlyTheFrontTyres)
{
    Car& car = *race.car;
    car.body->spatial = orvo::Spatial{Vector2(5.0f, -3.0f), 2.0f, 0.7f, Vector2(3.0f, 1.5f)};
    car.steerAngle = 0.5f; // the tyres show wheelAngle, not the driver's steering
    car.wheelAngle = 0.3f;
    race.OnStepGraphicsTime();
    const orvo::Spatial& shade = car.shade->spatial;
    EXPECT_TRUE(Is(shade.position, 5.0f + 0.15f, -3.0f + 0.1f));
    EXPECT_EQ(shade.rotation, 0.7f);
    EXPECT_TRUE(Is(shade.size, 3.0f * 1.2f, 1.5f * 1.2f));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(car.tyres[i]->spatial.rotation, i < 2 ? 0.3f : 0.0f) << i;
    }
}

// SDL counts its own live allocations: a texture or window resource left behind keeps its share.
TEST_F(RaceStateTest, DeletingARaceReleasesWhatItsCreationTook)
{
    const int before = SDL_GetNumAllocations();
    delete new RaceState(&game);
    EXPECT_EQ(SDL_GetNumAllocations(), before);
}

} // namespace

// The race scene without a window: key flags and control, the trailing camera, the tile lattice,
// the car as built and as set up for drawing, and the release of every texture the scene made.
#include <gtest/gtest.h>

#include <SDL_image.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "orvo/orvo.h"
#include "race.h"

using orvo::Vector2;

// Texture creation and destruction are wrapped at link time (--wrap; the engine and the race are
// static libraries) so that the scene's release can be checked one texture at a time.
extern "C" {
static std::vector<SDL_Texture*> createdTextures;
static std::vector<SDL_Texture*> destroyedTextures;
SDL_Texture* __real_SDL_CreateTextureFromSurface(SDL_Renderer* renderer, SDL_Surface* surface);
void __real_SDL_DestroyTexture(SDL_Texture* texture);
SDL_Texture* __wrap_SDL_CreateTextureFromSurface(SDL_Renderer* renderer, SDL_Surface* surface)
{
    createdTextures.push_back(__real_SDL_CreateTextureFromSurface(renderer, surface));
    return createdTextures.back();
}
void __wrap_SDL_DestroyTexture(SDL_Texture* texture)
{
    destroyedTextures.push_back(texture);
    __real_SDL_DestroyTexture(texture);
}
}

namespace {

// Exact equality of both components, with both vectors in the failure message.
::testing::AssertionResult Is(const Vector2& v, float x, float y)
{
    return (v.x == x && v.y == y ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
           << "(" << v.x << ", " << v.y << ") against (" << x << ", " << y << ")";
}

class RaceStateTest : public ::testing::Test {
protected:
    orvo::Game* game = nullptr;
    RaceState* race = nullptr;

    void SetUp() override
    {
        orvo::Init();
        game = new orvo::Game(8, 3);
        game->SetMaximizedViewport(1.777777f);
        createdTextures.clear(), destroyedTextures.clear();
        race = new RaceState(game);
    }
    void TearDown() override
    {
        delete race;
        delete game;
        orvo::Exit();
    }
    void Send(const std::vector<SDL_Keycode>& keys, bool down)
    {
        for (const SDL_Keycode sym : keys) {
            SDL_Keysym keysym{};
            keysym.sym = sym;
            down ? race->OnKeyDown(keysym) : race->OnKeyUp(keysym);
        }
    }
    // The held arrows as the letters L, R, U, D in that order, "-" where not held.
    std::string Held() const
    {
        return {race->keyLeft ? 'L' : '-', race->keyRight ? 'R' : '-', race->keyUp ? 'U' : '-',
                race->keyDown ? 'D' : '-'};
    }
};

TEST_F(RaceStateTest, ArrowKeysHoldFlagsThatMakeTheControlVectorAndOppositeKeysCancel)
{
    const SDL_Keycode L = SDLK_LEFT, R = SDLK_RIGHT, U = SDLK_UP, D = SDLK_DOWN;
    const struct {
        std::vector<SDL_Keycode> keys; // a key given twice is a key repeat
        std::string held;
        float x, y;
    } cases[] = {{{}, "----", 0, 0},        {{L, L}, "L---", -1, 0},      {{R}, "-R--", 1, 0},
                 {{U, U}, "--U-", 0, 1},    {{D}, "---D", 0, -1},         {{L, R}, "LR--", 0, 0},
                 {{U, D}, "--UD", 0, 0},    {{L, R, U, D}, "LRUD", 0, 0}, {{L, U}, "L-U-", -1, 1},
                 {{R, R, D}, "-R-D", 1, -1}};
    for (const auto& c : cases) {
        Send(c.keys, true);
        EXPECT_EQ(Held(), c.held);
        EXPECT_TRUE(Is(race->GetControl(), c.x, c.y)) << c.held;
        std::vector<SDL_Keycode> once = c.keys;
        once.erase(std::unique(once.begin(), once.end()), once.end());
        Send(once, false);
        EXPECT_EQ(Held(), "----") << "after one key-up for each of " << c.held;
    }
    const std::vector<SDL_Keycode> others = {SDLK_ESCAPE, SDLK_F12, SDLK_a, SDLK_SPACE, SDLK_RETURN, SDLK_KP_8};
    Send(others, true);
    EXPECT_EQ(Held(), "----");
    Send({L, R, U, D}, true);
    Send(others, false);
    EXPECT_EQ(Held(), "LRUD");
}

TEST_F(RaceStateTest, CameraStartsOnTheLookAheadPointThenTrailsTheMeanOfTheLast200)
{
    race->keyUp = race->keyRight = true;
    std::deque<Vector2> expected; // the look-ahead points, kept independently of the race
    for (int step = 1; step <= 260; ++step) {
        race->OnStepPhysicsTime();
        expected.push_back(race->car->body->spatial.position + race->car->velocity * 0.5f);
        if (expected.size() > 200) {
            expected.pop_front();
        }
        if (step == 1) { // the held keys reached the car, which moved: the first point says something
            ASSERT_FALSE(expected.back().IsNearZero());
            EXPECT_TRUE(Is(race->camera.spatial.position, expected.back().x, expected.back().y));
        }
        double sumX = 0.0, sumY = 0.0;
        for (const Vector2& target : expected) {
            sumX += target.x, sumY += target.y;
        }
        const double n = static_cast<double>(expected.size());
        ASSERT_EQ(race->cameraTargets.size(), expected.size()) << step;
        ASSERT_TRUE(Is(race->camera.spatial.position, static_cast<float>(sumX / n), static_cast<float>(sumY / n)))
            << "camera off the mean at step " << step;
    }
    EXPECT_EQ(race->cameraTargets.size(), 200u);
}

TEST_F(RaceStateTest, CameraDepthIs100AtRestAnd120At50UnitsPerSecond)
{
    race->OnStepPhysicsTime();
    EXPECT_EQ(race->camera.spatial.depth, 100.0f);
    race->car->velocity = Vector2(0.0f, -50.0f); // rolling straight ahead, nothing changes the speed
    race->OnStepPhysicsTime();
    ASSERT_EQ(race->car->velocity.GetLength(), 50.0f);
    EXPECT_EQ(race->camera.spatial.depth, 120.0f);
}

TEST_F(RaceStateTest, TilesLieOnThe18UnitLatticeAroundTheSnappedCamera)
{
    const Vector2 cameras[] = {{0, 0}, {8.9f, 0}, {9, 0}, {-9, 0}, {-8.99f, -9.01f}, {26.9f, 27}, {1000.5f, -777.3f}};
    const Vector2 centres[] = {{0, 0}, {0, 0}, {18, 0}, {-18, 0}, {0, -18}, {18, 36}, {1008, -774}};
    for (int i = 0; i < 7; ++i) {
        race->camera.spatial.position = cameras[i];
        race->OrderGrid();
        for (int column = 0; column < 6; ++column) {
            for (int row = 0; row < 4; ++row) {
                const orvo::Sprite& tile = *race->tiles[row * 6 + column];
                const Vector2 expected(-45.0f + 18.0f * column + centres[i].x, -27.0f + 18.0f * row + centres[i].y);
                EXPECT_TRUE(Is(tile.spatial.position, expected.x, expected.y)) << "camera " << i;
                EXPECT_TRUE(Is(tile.spatial.size, 18.0f, 18.0f));
                EXPECT_EQ(tile.parent, &race->world);
            }
        }
    }
}

TEST_F(RaceStateTest, CarIsBuiltAtItsPlaceWithTyresAtTheCornersAndTheOverlayFromTheViewport)
{
    const Car& car = *race->car;
    EXPECT_EQ(car.body->parent, &race->world);
    EXPECT_TRUE(Is(car.body->spatial.position, 0.0f, 0.0f));
    EXPECT_TRUE(Is(car.body->spatial.size, 2.0f, 2.0f));
    EXPECT_EQ(car.body->spatial.rotation, 0.0f);
    // Front-left, front-right, rear-right, rear-left; the nose points along local -y.
    const Vector2 corners[] = {{-0.7f, -0.7f}, {0.7f, -0.7f}, {0.7f, 0.7f}, {-0.7f, 0.7f}};
    for (int i = 0; i < 4; ++i) {
        const orvo::Sprite& tyre = *car.tyres[i];
        EXPECT_EQ(tyre.parent, car.body) << i;
        EXPECT_NEAR(tyre.spatial.position.x, corners[i].x, 2e-07) << i;
        EXPECT_NEAR(tyre.spatial.position.y, corners[i].y, 2e-07) << i;
        EXPECT_TRUE(Is(tyre.spatial.size, 0.5f, 0.8f)) << i;
        EXPECT_EQ(tyre.spatial.rotation, 0.0f) << i;
    }
    for (const orvo::Sprite* dot : {car.redDot, car.blueDot}) {
        EXPECT_EQ(dot->parent, &race->world);
        EXPECT_TRUE(Is(dot->spatial.position, 0.0f, 0.0f));
        EXPECT_TRUE(Is(dot->spatial.size, 0.5f, 0.5f));
    }
    // Until the first drawing pass the shadow keeps the size its image gave it.
    SDL_Surface* shadeImage = IMG_Load("res/gfx/carshade.png");
    ASSERT_NE(shadeImage, nullptr);
    EXPECT_EQ(car.shade->parent, &race->world);
    EXPECT_TRUE(Is(car.shade->spatial.size, static_cast<float>(shadeImage->w), static_cast<float>(shadeImage->h)));
    SDL_FreeSurface(shadeImage);
    EXPECT_EQ(race->hud->parent, nullptr);
    EXPECT_TRUE(Is(race->hud->spatial.position, 640.0f, 360.0f));
    EXPECT_TRUE(Is(race->hud->spatial.size, 1280.0f, 720.0f));
    game->viewport = orvo::Viewport{3, 5, 1001, 563}; // odd sizes halve with truncation
    RaceState odd(game);
    EXPECT_TRUE(Is(odd.hud->spatial.position, 500.0f, 281.0f));
    EXPECT_TRUE(Is(odd.hud->spatial.size, 1001.0f, 563.0f));

    // A turned car carries its tyres in the body's frame.
    Car turned(game, race, Vector2(3.0f, -4.0f), 1.0f);
    EXPECT_TRUE(Is(turned.body->spatial.position, 3.0f, -4.0f));
    EXPECT_EQ(turned.body->spatial.rotation, 1.0f);
    for (int i = 0; i < 4; ++i) {
        const Vector2& parked = car.tyres[i]->spatial.position;
        EXPECT_TRUE(Is(turned.tyres[i]->spatial.position, parked.x, parked.y)) << i;
        EXPECT_EQ(turned.tyres[i]->GetDerivedSpatial().rotation, 1.0f) << i;
    }
}

TEST_F(RaceStateTest, DrawingPlacesTheShadowFromTheBodyAndTurnsOnlyTheFrontTyres)
{
    Car& car = *race->car;
    car.body->spatial = orvo::Spatial{Vector2(5.0f, -3.0f), 2.0f, 0.7f, Vector2(3.0f, 1.5f)};
    car.steerAngle = 0.5f; // the tyres show wheelAngle, not the driver's steering
    car.wheelAngle = 0.3f;
    race->OnStepGraphicsTime();
    const orvo::Spatial& shade = car.shade->spatial;
    EXPECT_TRUE(Is(shade.position, 5.0f + 0.15f, -3.0f + 0.1f));
    EXPECT_EQ(shade.depth, 2.0f);
    EXPECT_EQ(shade.rotation, 0.7f);
    EXPECT_TRUE(Is(shade.size, 3.0f * 1.2f, 1.5f * 1.2f));
    const std::vector<float> tyreAngles = {car.tyres[0]->spatial.rotation, car.tyres[1]->spatial.rotation,
                                           car.tyres[2]->spatial.rotation, car.tyres[3]->spatial.rotation};
    EXPECT_EQ(tyreAngles, (std::vector<float>{0.3f, 0.3f, 0.0f, 0.0f}));
    car.Draw(race->camera, Vector2(-1.0f, 2.0f));
    EXPECT_TRUE(Is(shade.position, 5.0f - 1.0f, -3.0f + 2.0f));
}

TEST_F(RaceStateTest, DeletingTheRaceDestroysEachOfIts33TexturesOnce)
{
    ASSERT_EQ(createdTextures.size(), 33u); // overlay, 24 tiles, 8 car sprites
    EXPECT_TRUE(destroyedTextures.empty());
    delete race;
    race = nullptr;
    std::sort(createdTextures.begin(), createdTextures.end());
    std::sort(destroyedTextures.begin(), destroyedTextures.end());
    EXPECT_EQ(destroyedTextures, createdTextures); // as sorted lists: each one destroyed exactly once
}

} // namespace

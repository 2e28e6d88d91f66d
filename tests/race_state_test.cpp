// The race scene without a window: key flags and the control vector, the camera that trails the
// car, the tile lattice, the car as built, the shadow and front tyres set up for drawing, and the
// release of every texture the scene created.
#include <gtest/gtest.h>

#include <SDL_image.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <set>
#include <vector>

#include "orvo/orvo.h"
#include "race.h"

using orvo::Vector2;

// Every texture made from an image and every texture destroyed through the engine is recorded,
// so that the release of the scene can be checked one texture at a time. The wraps are linked in
// with --wrap; the engine and the race are static libraries, so their calls go through here.
namespace {
std::vector<SDL_Texture*> createdTextures;
std::vector<SDL_Texture*> destroyedTextures;
} // namespace

extern "C" {
SDL_Texture* __real_SDL_CreateTextureFromSurface(SDL_Renderer* renderer, SDL_Surface* surface);
void __real_SDL_DestroyTexture(SDL_Texture* texture);

SDL_Texture* __wrap_SDL_CreateTextureFromSurface(SDL_Renderer* renderer, SDL_Surface* surface)
{
    SDL_Texture* texture = __real_SDL_CreateTextureFromSurface(renderer, surface);
    createdTextures.push_back(texture);
    return texture;
}

void __wrap_SDL_DestroyTexture(SDL_Texture* texture)
{
    destroyedTextures.push_back(texture);
    __real_SDL_DestroyTexture(texture);
}
}

namespace {

SDL_Keysym KeyOf(SDL_Keycode sym)
{
    SDL_Keysym keysym{};
    keysym.sym = sym;
    return keysym;
}

class RaceStateTest : public ::testing::Test {
protected:
    orvo::Game* game = nullptr;
    RaceState* race = nullptr;

    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_RENDER_DRIVER", "software", 1);
        orvo::Init();
        game = new orvo::Game(8, 3);
        game->SetMaximizedViewport(1.777777f);
        createdTextures.clear();
        destroyedTextures.clear();
        race = new RaceState(game);
    }

    void TearDown() override
    {
        delete race;
        delete game;
        orvo::Exit();
    }

    Vector2 LookAheadPoint() const { return race->car->body->spatial.position + race->car->velocity * 0.5f; }
};

// ---------------------------------------------------------------------------------------------
// Keys and control

struct ArrowKey {
    SDL_Keycode sym;
    bool RaceState::*flag;
};

const ArrowKey kArrows[] = {
    {SDLK_LEFT, &RaceState::keyLeft},
    {SDLK_RIGHT, &RaceState::keyRight},
    {SDLK_UP, &RaceState::keyUp},
    {SDLK_DOWN, &RaceState::keyDown},
};

std::vector<bool> Flags(const RaceState& race) { return {race.keyLeft, race.keyRight, race.keyUp, race.keyDown}; }

TEST_F(RaceStateTest, EachArrowSetsAndClearsOnlyItsOwnFlagAndRepeatsDoNotCount)
{
    for (const ArrowKey& arrow : kArrows) {
        SCOPED_TRACE(arrow.sym);
        race->OnKeyDown(KeyOf(arrow.sym));
        race->OnKeyDown(KeyOf(arrow.sym));
        EXPECT_TRUE(race->*arrow.flag);
        const std::vector<bool> flags = Flags(*race);
        EXPECT_EQ(std::count(flags.begin(), flags.end(), true), 1);
        race->OnKeyUp(KeyOf(arrow.sym));
        EXPECT_EQ(Flags(*race), std::vector<bool>(4, false));
    }
}

TEST_F(RaceStateTest, OtherKeysIncludingEscapeAndF12ChangeNoFlag)
{
    const SDL_Keycode others[] = {SDLK_ESCAPE, SDLK_F12, SDLK_a, SDLK_SPACE, SDLK_RETURN, SDLK_KP_8};
    for (const SDL_Keycode sym : others) {
        race->OnKeyDown(KeyOf(sym));
    }
    EXPECT_EQ(Flags(*race), std::vector<bool>(4, false));

    for (const ArrowKey& arrow : kArrows) {
        race->OnKeyDown(KeyOf(arrow.sym));
    }
    for (const SDL_Keycode sym : others) {
        race->OnKeyUp(KeyOf(sym));
    }
    EXPECT_EQ(Flags(*race), std::vector<bool>(4, true));
}

TEST_F(RaceStateTest, ControlVectorFollowsTheHeldKeysAndOppositeKeysCancel)
{
    struct Case {
        bool left, right, up, down;
        float x, y;
    };
    const Case cases[] = {
        {false, false, false, false, 0.0f, 0.0f}, {true, false, false, false, -1.0f, 0.0f},
        {false, true, false, false, 1.0f, 0.0f},  {false, false, true, false, 0.0f, 1.0f},
        {false, false, false, true, 0.0f, -1.0f}, {true, true, false, false, 0.0f, 0.0f},
        {false, false, true, true, 0.0f, 0.0f},   {true, true, true, true, 0.0f, 0.0f},
        {true, false, true, false, -1.0f, 1.0f},  {false, true, false, true, 1.0f, -1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.left << c.right << c.up << c.down);
        race->keyLeft = c.left;
        race->keyRight = c.right;
        race->keyUp = c.up;
        race->keyDown = c.down;
        const Vector2 control = race->GetControl();
        EXPECT_EQ(control.x, c.x);
        EXPECT_EQ(control.y, c.y);
    }
}

TEST_F(RaceStateTest, PhysicsStepHandsTheHeldKeysToTheCar)
{
    race->OnKeyDown(KeyOf(SDLK_RIGHT));
    race->OnKeyDown(KeyOf(SDLK_DOWN));
    race->OnStepPhysicsTime();
    EXPECT_EQ(race->car->steerAngle, 3 * 0.005f);
    EXPECT_EQ(race->car->throttle, -0.2f);

    race->OnKeyUp(KeyOf(SDLK_RIGHT));
    race->OnKeyUp(KeyOf(SDLK_DOWN));
    race->OnKeyDown(KeyOf(SDLK_LEFT));
    race->OnKeyDown(KeyOf(SDLK_UP));
    race->OnStepPhysicsTime();
    EXPECT_EQ(race->car->steerAngle, 0.0f); // steered back by one step's worth
    EXPECT_EQ(race->car->throttle, 1.0f);
}

// ---------------------------------------------------------------------------------------------
// Camera

TEST_F(RaceStateTest, CameraStartsOnTheLookAheadPointThenTrailsTheMeanOfTheLast200)
{
    race->keyUp = true;
    race->keyRight = true;
    std::deque<Vector2> recorded;
    for (int step = 1; step <= 260; ++step) {
        race->OnStepPhysicsTime();
        recorded.push_back(LookAheadPoint());
        if (recorded.size() > 200) {
            recorded.pop_front();
        }
        if (step == 1) {
            // The car has moved, so the first point says something; the camera sits exactly on it.
            ASSERT_FALSE(recorded.back().IsNearZero());
            EXPECT_EQ(race->camera.spatial.position.x, recorded.back().x);
            EXPECT_EQ(race->camera.spatial.position.y, recorded.back().y);
        }
        if (step > 2 && step < 199 && step != 150) {
            continue;
        }
        SCOPED_TRACE(step);
        ASSERT_EQ(race->cameraTargets.size(), recorded.size());
        ASSERT_TRUE(std::equal(recorded.begin(), recorded.end(), race->cameraTargets.begin(),
                               [](const Vector2& a, const Vector2& b) { return a.x == b.x && a.y == b.y; }));
        double sumX = 0.0;
        double sumY = 0.0;
        for (const Vector2& target : race->cameraTargets) {
            sumX += target.x;
            sumY += target.y;
        }
        const double count = static_cast<double>(race->cameraTargets.size());
        EXPECT_EQ(race->camera.spatial.position.x, static_cast<float>(sumX / count));
        EXPECT_EQ(race->camera.spatial.position.y, static_cast<float>(sumY / count));
    }
    EXPECT_EQ(race->cameraTargets.size(), 200u);
    // Moving, so the camera lags behind the newest point rather than sitting on it.
    EXPECT_NE(race->camera.spatial.position.y, race->cameraTargets.back().y);
}

TEST_F(RaceStateTest, CameraDepthIs100AtRestAndGrowsByFourTenthsOfTheSpeed)
{
    race->OnStepPhysicsTime();
    EXPECT_EQ(race->camera.spatial.depth, 100.0f);

    // Rolling straight ahead with no key held, nothing changes the speed.
    race->car->velocity = Vector2(0.0f, -50.0f);
    race->OnStepPhysicsTime();
    ASSERT_EQ(race->car->velocity.GetLength(), 50.0f);
    EXPECT_EQ(race->camera.spatial.depth, 120.0f);

    race->car->velocity = Vector2(0.0f, -20.0f);
    race->OnStepPhysicsTime();
    ASSERT_EQ(race->car->velocity.GetLength(), 20.0f);
    EXPECT_EQ(race->camera.spatial.depth, 108.0f);
}

// ---------------------------------------------------------------------------------------------
// Tile lattice

TEST_F(RaceStateTest, TilesLieOnThe18UnitLatticeAroundTheSnappedCamera)
{
    struct Case {
        float cameraX, cameraY, originX, originY;
    };
    const Case cases[] = {
        {0.0f, 0.0f, 0.0f, 0.0f},     {8.9f, 0.0f, 0.0f, 0.0f},
        {9.0f, 0.0f, 18.0f, 0.0f},    {-9.0f, 0.0f, -18.0f, 0.0f},
        {0.0f, 9.0f, 0.0f, 18.0f},    {-8.99f, -9.01f, 0.0f, -18.0f},
        {26.9f, 27.0f, 18.0f, 36.0f}, {1000.5f, -777.3f, 1008.0f, -774.0f},
    };
    const float columnsX[] = {-45.0f, -27.0f, -9.0f, 9.0f, 27.0f, 45.0f};
    const float rowsY[] = {-27.0f, -9.0f, 9.0f, 27.0f};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "camera " << c.cameraX << ", " << c.cameraY);
        race->camera.spatial.position = Vector2(c.cameraX, c.cameraY);
        race->OrderGrid();
        for (int column = 0; column < 6; ++column) {
            for (int row = 0; row < 4; ++row) {
                const orvo::Spatial& tile = race->tiles[row * 6 + column]->spatial;
                EXPECT_EQ(tile.position.x, columnsX[column] + c.originX);
                EXPECT_EQ(tile.position.y, rowsY[row] + c.originY);
                EXPECT_EQ(tile.size.x, 18.0f);
                EXPECT_EQ(tile.size.y, 18.0f);
                EXPECT_EQ(tile.rotation, 0.0f);
                EXPECT_EQ(race->tiles[row * 6 + column]->parent, &race->world);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Construction

TEST_F(RaceStateTest, CarIsBuiltParkedAtTheOriginWithItsWheelsAtTheCorners)
{
    const Car& car = *race->car;
    EXPECT_EQ(car.body->parent, &race->world);
    EXPECT_EQ(car.body->spatial.position.x, 0.0f);
    EXPECT_EQ(car.body->spatial.position.y, 0.0f);
    EXPECT_EQ(car.body->spatial.rotation, 0.0f);
    EXPECT_EQ(car.body->spatial.size.x, 2.0f);
    EXPECT_EQ(car.body->spatial.size.y, 2.0f);
    EXPECT_TRUE(car.velocity.IsNearZero());
    EXPECT_EQ(car.angularVelocity, 0.0f);
    EXPECT_EQ(car.steerAngle, 0.0f);
    EXPECT_EQ(car.wheelAngle, 0.0f);

    // Front-left, front-right, rear-right, rear-left; the nose points along local -y.
    const Vector2 corners[] = {{-0.7f, -0.7f}, {0.7f, -0.7f}, {0.7f, 0.7f}, {-0.7f, 0.7f}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const orvo::Sprite& tyre = *car.tyres[i];
        EXPECT_EQ(tyre.parent, car.body);
        EXPECT_NEAR(tyre.spatial.position.x, corners[i].x, 2e-07);
        EXPECT_NEAR(tyre.spatial.position.y, corners[i].y, 2e-07);
        EXPECT_EQ(tyre.spatial.size.x, 0.5f);
        EXPECT_EQ(tyre.spatial.size.y, 0.8f);
        EXPECT_EQ(tyre.spatial.rotation, 0.0f);
    }

    for (const orvo::Sprite* dot : {car.redDot, car.blueDot}) {
        EXPECT_EQ(dot->parent, &race->world);
        EXPECT_EQ(dot->spatial.position.x, 0.0f);
        EXPECT_EQ(dot->spatial.position.y, 0.0f);
        EXPECT_EQ(dot->spatial.size.x, 0.5f);
        EXPECT_EQ(dot->spatial.size.y, 0.5f);
    }

    // Until the first drawing pass the shadow keeps the size its image gave it.
    SDL_Surface* shadeImage = IMG_Load("res/gfx/carshade.png");
    ASSERT_NE(shadeImage, nullptr);
    EXPECT_EQ(car.shade->parent, &race->world);
    EXPECT_EQ(car.shade->spatial.size.x, static_cast<float>(shadeImage->w));
    EXPECT_EQ(car.shade->spatial.size.y, static_cast<float>(shadeImage->h));
    SDL_FreeSurface(shadeImage);
}

TEST_F(RaceStateTest, TurnedCarKeepsItsTyresInTheBodysFrame)
{
    Car turned(game, race, Vector2(3.0f, -4.0f), 1.0f);
    EXPECT_EQ(turned.body->spatial.position.x, 3.0f);
    EXPECT_EQ(turned.body->spatial.position.y, -4.0f);
    EXPECT_EQ(turned.body->spatial.rotation, 1.0f);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(turned.tyres[i]->spatial.position.x, race->car->tyres[i]->spatial.position.x);
        EXPECT_EQ(turned.tyres[i]->spatial.position.y, race->car->tyres[i]->spatial.position.y);
        EXPECT_EQ(turned.tyres[i]->spatial.rotation, 0.0f);
        EXPECT_EQ(turned.tyres[i]->GetDerivedSpatial().rotation, 1.0f);
    }
}

TEST_F(RaceStateTest, HudCoversTheViewportItWasBuiltWithAndKeepsThatPlacement)
{
    EXPECT_EQ(race->hud->parent, nullptr);
    EXPECT_EQ(race->hud->spatial.position.x, 640.0f);
    EXPECT_EQ(race->hud->spatial.position.y, 360.0f);
    EXPECT_EQ(race->hud->spatial.size.x, 1280.0f);
    EXPECT_EQ(race->hud->spatial.size.y, 720.0f);
    EXPECT_EQ(race->camera.spatial.depth, 100.0f);
    EXPECT_TRUE(race->cameraTargets.empty());

    // Odd sizes halve with truncation; later viewport changes leave the overlay alone.
    game->viewport = orvo::Viewport{3, 5, 1001, 563};
    RaceState odd(game);
    game->viewport = orvo::Viewport{0, 0, 1280, 720};
    odd.OnStepGraphicsTime();
    EXPECT_EQ(odd.hud->spatial.position.x, 500.0f);
    EXPECT_EQ(odd.hud->spatial.position.y, 281.0f);
    EXPECT_EQ(odd.hud->spatial.size.x, 1001.0f);
    EXPECT_EQ(odd.hud->spatial.size.y, 563.0f);
}

// ---------------------------------------------------------------------------------------------
// Drawing set-up

TEST_F(RaceStateTest, DrawingPlacesTheShadowFromTheBodyAndTurnsOnlyTheFrontTyres)
{
    Car& car = *race->car;
    car.body->spatial.position = Vector2(5.0f, -3.0f);
    car.body->spatial.depth = 2.0f;
    car.body->spatial.rotation = 0.7f;
    car.body->spatial.size = Vector2(3.0f, 1.5f);
    car.wheelAngle = 0.3f;

    race->OnStepGraphicsTime();

    const orvo::Spatial& shade = car.shade->spatial;
    EXPECT_EQ(shade.position.x, 5.0f + 0.15f);
    EXPECT_EQ(shade.position.y, -3.0f + 0.1f);
    EXPECT_EQ(shade.depth, 2.0f);
    EXPECT_EQ(shade.rotation, 0.7f);
    EXPECT_EQ(shade.size.x, 3.0f * 1.2f);
    EXPECT_EQ(shade.size.y, 1.5f * 1.2f);
    EXPECT_EQ(car.tyres[0]->spatial.rotation, 0.3f);
    EXPECT_EQ(car.tyres[1]->spatial.rotation, 0.3f);
    EXPECT_EQ(car.tyres[2]->spatial.rotation, 0.0f);
    EXPECT_EQ(car.tyres[3]->spatial.rotation, 0.0f);

    // The wheels follow wheelAngle, not the driver's steering.
    car.steerAngle = 0.5f;
    car.wheelAngle = -0.1f;
    car.Draw(race->camera, Vector2(-1.0f, 2.0f));
    EXPECT_EQ(shade.position.x, 5.0f - 1.0f);
    EXPECT_EQ(shade.position.y, -3.0f + 2.0f);
    EXPECT_EQ(car.tyres[0]->spatial.rotation, -0.1f);
    EXPECT_EQ(car.tyres[1]->spatial.rotation, -0.1f);
    EXPECT_EQ(car.tyres[3]->spatial.rotation, 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Release

TEST_F(RaceStateTest, DeletingTheRaceDestroysEachOfIts33TexturesOnce)
{
    const std::set<SDL_Texture*> created(createdTextures.begin(), createdTextures.end());
    EXPECT_EQ(createdTextures.size(), 33u); // overlay, 24 tiles, 8 car sprites
    EXPECT_EQ(created.size(), createdTextures.size());
    EXPECT_TRUE(destroyedTextures.empty());

    delete race;
    race = nullptr;

    std::map<SDL_Texture*, int> destroyCounts;
    for (SDL_Texture* texture : destroyedTextures) {
        ++destroyCounts[texture];
    }
    EXPECT_EQ(destroyedTextures.size(), 33u);
    for (SDL_Texture* texture : created) {
        EXPECT_EQ(destroyCounts[texture], 1) << texture;
    }
    EXPECT_EQ(destroyCounts.size(), created.size());
}

} // namespace

// The race scene without a window: arrow keys and the control they make, the trailing camera,
// the tile lattice, and the car as built and as placed for drawing.
#include <gtest/gtest.h>

#include <SDL_image.h>

#include "orvo/orvo.h"
#include "race.h"

using orvo::Vector2;

// Exact equality of both components, with both vectors in the failure message.
static testing::AssertionResult Is(const Vector2& v, float x, float y)
{
    return (v.x == x && v.y == y ? testing::AssertionSuccess() : testing::AssertionFailure())
           << "(" << v.x << ", " << v.y << ") against (" << x << ", " << y << ")";
}

class RaceStateTest : public testing::Test {
protected:
    static void SetUpTestSuite() { orvo::Init(); }
    static void TearDownTestSuite() { orvo::Exit(); }
    orvo::Game game{8, 3};
    RaceState race{&game};
    Car& car = *race.car;
};

// Keys other than the arrows change nothing; releasing every key held brings the control back to rest.
TEST_F(RaceStateTest, ArrowKeysMakeTheControlVectorAndOppositeKeysCancel)
{
    const SDL_Keycode L = SDLK_LEFT, R = SDLK_RIGHT, U = SDLK_UP, D = SDLK_DOWN;
    const struct {
        std::vector<SDL_Keycode> keys;
        float x, y;
    } cases[] = {{{L}, -1, 0},    {{R}, 1, 0},     {{U}, 0, 1},
                 {{D}, 0, -1},    {{L, R}, 0, 0},  {{U, D}, 0, 0},
                 {{L, U}, -1, 1}, {{R, D}, 1, -1}, {{L, R, U, D, SDLK_a}, 0, 0}};
    for (const auto& c : cases) {
        for (const bool down : {true, false}) {
            for (const SDL_Keycode key : c.keys) {
                down ? race.OnKeyDown({SDL_SCANCODE_UNKNOWN, key, 0, 0})
                     : race.OnKeyUp({SDL_SCANCODE_UNKNOWN, key, 0, 0});
            }
            EXPECT_TRUE(down ? Is(race.GetControl(), c.x, c.y) : Is(race.GetControl(), 0, 0)) << c.keys.size();
        }
    }
    race.OnKeyDown({SDL_SCANCODE_UNKNOWN, SDLK_ESCAPE, 0, 0});
    EXPECT_TRUE(!race.keyLeft && !race.keyRight && !race.keyUp && !race.keyDown);
}

// The camera sits at the mean of the last 200 look-ahead points (half a second ahead of the car)
// and draws back from depth 100 by 0.4 per unit of speed.
TEST_F(RaceStateTest, CameraStartsOnTheLookAheadPointThenTrailsTheLast200AndDrawsBackWithSpeed)
{
    race.OnStepPhysicsTime();
    EXPECT_EQ(race.camera.spatial.depth, 100.0f);
    race.keyUp = true;
    for (int step = 2; step <= 260; ++step) {
        race.OnStepPhysicsTime();
        ASSERT_EQ(race.cameraTargets.size(), static_cast<size_t>(std::min(step, 200))) << step;
    }
    // Accelerating up the screen, the camera lags behind the newest look-ahead point.
    EXPECT_TRUE(Is(race.cameraTargets.back(), 0.0f, car.body->spatial.position.y + car.velocity.y * 0.5f));
    EXPECT_GT(race.camera.spatial.position.y, race.cameraTargets.back().y);
    car.velocity = Vector2(0.0f, -50.0f); // rolling straight ahead: nothing changes the speed
    race.keyUp = false;
    race.OnStepPhysicsTime();
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

// Front-left, front-right, rear-right, rear-left; the nose points along local -y. The shadow
// follows the body (offset by 0.15, 0.1; 1.2 times its size) and the tyres show the wheel angle.
TEST_F(RaceStateTest, CarHasTyresAtItsCornersShowingTheWheelAngleAndItsShadowBesideIt)
{
    const Vector2 corners[] = {{-0.7f, -0.7f}, {0.7f, -0.7f}, {0.7f, 0.7f}, {-0.7f, 0.7f}};
    car.body->spatial = orvo::Spatial{Vector2(5.0f, -3.0f), 2.0f, 0.7f, Vector2(3.0f, 1.5f)};
    car.steerAngle = 0.5f, car.wheelAngle = 0.3f;
    race.OnStepGraphicsTime();
    for (int i = 0; i < 4; ++i) {
        EXPECT_LT(car.tyres[i]->spatial.position.GetDistance(corners[i]), 2e-07f) << i;
        EXPECT_TRUE(Is(car.tyres[i]->spatial.size, 0.5f, 0.8f)) << i;
        EXPECT_EQ(car.tyres[i]->spatial.rotation, i < 2 ? 0.3f : 0.0f) << i;
    }
    const orvo::Spatial& shade = car.shade->spatial;
    EXPECT_TRUE(Is(shade.position, 5.0f + 0.15f, -3.0f + 0.1f));
    EXPECT_TRUE(Is(shade.size, 3.0f * 1.2f, 1.5f * 1.2f));
    EXPECT_EQ(shade.rotation, 0.7f);
}

// The overlay's frame leaves out only what is transparent: the middle of the image, with a pixel to
// spare all round, has no alpha at all, and the frame drawn over the ground looks as the whole
// image drawn there did, in the window and in full-screen windows with bars above or beside.
TEST_F(RaceStateTest, OverlayFrameLooksAsTheWholeImageInTheWindowAndFullScreen)
{
    SDL_Surface* loaded = IMG_Load("res/gfx/hud.png");
    SDL_Surface* image = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGBA32, 0);
    SDL_FreeSurface(loaded);
    ASSERT_NE(image, nullptr) << SDL_GetError();
    const orvo::NineSliceInsets frame = RaceState::kHudFrame;
    int alpha = 0;
    for (int y = frame.top - 1; y <= image->h - frame.bottom; ++y) {
        for (int x = frame.left - 1; x <= image->w - frame.right; ++x) {
            alpha += static_cast<const Uint8*>(image->pixels)[y * image->pitch + 4 * x + 3];
        }
    }
    EXPECT_EQ(alpha, 0);
    SDL_FreeSurface(image);

    SDL_Renderer* renderer = orvo::GetSDLRenderer();
    const auto readBack = [&](int width, int height, bool whole) {
        SDL_SetRenderDrawColor(renderer, 90, 120, 60, 255);
        SDL_RenderClear(renderer);
        whole ? race.hud->Draw() : race.DrawOverlay();
        std::vector<Uint32> pixels(static_cast<size_t>(width) * height);
        EXPECT_EQ(SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_RGB888, pixels.data(), width * 4), 0);
        return pixels;
    };
    for (const SDL_Point window :
         {SDL_Point{1280, 720}, SDL_Point{1920, 1200}, SDL_Point{2560, 1080}, SDL_Point{1600, 1200}}) {
        SDL_SetWindowSize(orvo::GetSDLWindow(), window.x, window.y);
        const std::vector<Uint32> whole = readBack(window.x, window.y, true);
        const std::vector<Uint32> framed = readBack(window.x, window.y, false);
        // Where two pieces meet, each filters only its own part of the image: a level or two at most.
        int largest = 0;
        for (size_t i = 0; i < whole.size(); ++i) {
            for (const int shift : {0, 8, 16}) {
                const int difference = static_cast<int>(whole[i] >> shift & 0xFF) - (framed[i] >> shift & 0xFF);
                largest = std::max(largest, std::abs(difference));
            }
        }
        EXPECT_LE(largest, 4) << window.x << " x " << window.y;
    }
    SDL_SetWindowSize(orvo::GetSDLWindow(), 1280, 720);
}

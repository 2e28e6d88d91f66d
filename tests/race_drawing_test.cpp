// The race as drawn by the real renderer in an X window, read back before it is presented. Solid
// textures make each pixel say which sprite painted it; the sizes stay those the race code sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "orvo/orvo.h"
#include "race.h"

namespace {

// Colours as ARGB8888, the format of both the painted textures and the read-back.
constexpr Uint32 kClear = 0xFF010203, kGround = 0xFF007800, kBody = 0xFFFF00FF, kShade = 0xFF000000;
constexpr Uint32 kTyres[4] = {0xFFFF0000, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF};
constexpr int kWidth = 1280, kHeight = 720; // the viewport

struct Footprint {
    int count = 0, left = kWidth, top = kHeight, right = -1, bottom = -1; // inclusive bounds
    double longAxisAngle = 0.0; // from the screen's vertical, positive clockwise
};

// Where `colour` lies in the frame; the angle is meaningful only where count > 0.
Footprint FootprintOf(const std::vector<Uint32>& frame, Uint32 colour)
{
    Footprint p;
    double sumX = 0.0, sumY = 0.0, sumXX = 0.0, sumYY = 0.0, sumXY = 0.0;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        const int x = i % kWidth, y = i / kWidth;
        if (frame[i] == colour) {
            ++p.count, p.left = std::min(p.left, x), p.right = std::max(p.right, x);
            p.top = std::min(p.top, y), p.bottom = std::max(p.bottom, y);
            sumX += x, sumY += y, sumXX += 1.0 * x * x, sumYY += 1.0 * y * y, sumXY += 1.0 * x * y;
        }
    }
    const double n = p.count, cx = sumX / n, cy = sumY / n;
    // A long axis along (-sin a, cos a) gives covXY = -spread sin a cos a and varY - varX = spread cos 2a.
    p.longAxisAngle = 0.5 * std::atan2(-2.0 * (sumXY / n - cx * cy), (sumYY / n - cy * cy) - (sumXX / n - cx * cx));
    return p;
}

class RaceDrawingOnRealRenderer : public ::testing::Test {
protected:
    orvo::Game* game = nullptr;
    RaceState* race = nullptr;

    void SetUp() override
    {
        orvo::Init();
        game = new orvo::Game(8, 3);
        game->SetMaximizedViewport(1.777777f);
        ASSERT_TRUE(game->viewport.w == kWidth && game->viewport.h == kHeight);
        race = new RaceState(game);
        // The overlay and the markers (which sit on the body's centre) become see-through.
        const Car& car = *race->car;
        std::vector<std::pair<orvo::Sprite*, Uint32>> paints = {
            {race->hud, 0},           {car.redDot, 0},           {car.blueDot, 0},          {car.body, kBody},
            {car.shade, kShade},      {car.tyres[0], kTyres[0]}, {car.tyres[1], kTyres[1]}, {car.tyres[2], kTyres[2]},
            {car.tyres[3], kTyres[3]}};
        for (int i = 0; i < race->gridColumns * race->gridRows; ++i) {
            paints.push_back({race->tiles[i], kGround});
        }
        for (const auto& [sprite, colour] : paints) {
            const std::vector<Uint32> pixels(64, colour);
            SDL_DestroyTexture(sprite->texture);
            sprite->texture =
                SDL_CreateTexture(orvo::GetSDLRenderer(), SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC, 8, 8);
            ASSERT_NE(sprite->texture, nullptr) << SDL_GetError();
            SDL_UpdateTexture(sprite->texture, nullptr, pixels.data(), 8 * sizeof(Uint32));
            SDL_SetTextureBlendMode(sprite->texture, SDL_BLENDMODE_BLEND);
        }
    }
    void TearDown() override
    {
        delete race;
        delete game;
        orvo::Exit();
    }
    // One frame as the main loop draws it.
    std::vector<Uint32> Draw()
    {
        SDL_Renderer* renderer = orvo::GetSDLRenderer();
        SDL_SetRenderDrawColor(renderer, 1, 2, 3, 255);
        SDL_RenderClear(renderer);
        race->OnStepGraphicsTime();
        std::vector<Uint32> frame(kWidth * kHeight);
        EXPECT_EQ(SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, frame.data(), kWidth * 4), 0)
            << SDL_GetError();
        return frame;
    }
};

TEST_F(RaceDrawingOnRealRenderer, ParkedBodyIsAbout35PixelsSquareInTheCentreWithItsShadowRightBelowAndUnderIt)
{
    const std::vector<Uint32> frame = Draw();
    const Footprint body = FootprintOf(frame, kBody), shade = FootprintOf(frame, kShade);
    // Two world units at depth 100 on a 720-pixel viewport are 34.8 pixels.
    EXPECT_NEAR(body.right - body.left + 1, 35, 1);
    EXPECT_NEAR(body.bottom - body.top + 1, 35, 1);
    EXPECT_NEAR((body.left + body.right) * 0.5, 639.5, 1.0);
    EXPECT_NEAR((body.top + body.bottom) * 0.5, 359.5, 1.0);
    // 0.15 and 0.1 world units are about 2.6 and 1.7 pixels; the shadow is 1.2 times the body.
    EXPECT_GE(shade.right - body.right, 4);
    EXPECT_GE(shade.bottom - body.bottom, 3);
    EXPECT_LE(body.left - shade.left, 2);
    EXPECT_LE(body.top - shade.top, 3);
    EXPECT_NEAR(shade.right - shade.left + 1, 42, 1);
    for (int y = body.top; y <= body.bottom; ++y) {
        for (int x = body.left; x <= body.right; ++x) {
            ASSERT_NE(frame[y * kWidth + x], kShade) << "shadow over the body at " << x << ", " << y;
        }
    }
}

TEST_F(RaceDrawingOnRealRenderer, FrontTyresTurnClockwiseWithTheWheelAngleAndRearTyresStayStraight)
{
    for (const float wheelAngle : {0.0f, 0.3f, -0.3f}) {
        race->car->wheelAngle = wheelAngle;
        const std::vector<Uint32> frame = Draw();
        for (int i = 0; i < 4; ++i) {
            const Footprint tyre = FootprintOf(frame, kTyres[i]);
            ASSERT_GT(tyre.count, 90) << i; // 0.5 x 0.8 world units are about 8.7 x 13.9 pixels
            EXPECT_NEAR(tyre.longAxisAngle, i < 2 ? wheelAngle : 0.0f, 0.06) << "tyre " << i << " at " << wheelAngle;
        }
    }
}

TEST_F(RaceDrawingOnRealRenderer, TilesCoverTheWholeViewportWhereverTheCameraRests)
{
    const orvo::Vector2 cameras[] = {{0, 0},          {8.9f, 0},       {9, 0},
                                     {-9, 0},         {8.99f, 8.99f},  {-8.99f, 8.99f},
                                     {17.9f, -17.9f}, {-26.9f, 26.9f}, {1000.5f, -777.3f}};
    for (const orvo::Vector2& camera : cameras) {
        race->camera.spatial.position = camera;
        const std::vector<Uint32> frame = Draw();
        EXPECT_EQ(std::count(frame.begin(), frame.end(), kClear), 0) << "camera " << camera.x << ", " << camera.y;
    }
}

} // namespace

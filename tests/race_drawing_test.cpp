// The race as drawn by the real renderer in an X window: the frame is read back before it is
// presented. The car's sprites, the ground and the overlay get solid-colour textures so that
// every pixel says which sprite painted it; the sizes stay those the race code sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "orvo/orvo.h"
#include "race.h"

using orvo::Vector2;

namespace {

struct Colour {
    Uint8 r, g, b, a;
    bool operator==(const Colour& other) const { return r == other.r && g == other.g && b == other.b && a == other.a; }
};

constexpr Colour kClear{1, 2, 3, 255};
constexpr Colour kGround{0, 120, 0, 255};
constexpr Colour kBody{255, 0, 255, 255};
constexpr Colour kShade{0, 0, 0, 255};
constexpr Colour kTyres[4] = {{255, 0, 0, 255}, {0, 0, 255, 255}, {255, 255, 0, 255}, {0, 255, 255, 255}};
constexpr Colour kNothing{0, 0, 0, 0};

// The pixels inside the viewport, and where one colour lies among them.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<Colour> pixels;

    Colour At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

struct Footprint {
    int count = 0;
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1; // inclusive bounds
    double centreX = 0.0, centreY = 0.0;
    // The angle of the long axis from the screen's vertical, positive clockwise.
    double longAxisAngle = 0.0;
};

Footprint FootprintOf(const Frame& frame, Colour colour)
{
    Footprint print;
    double sumX = 0.0, sumY = 0.0, sumXX = 0.0, sumYY = 0.0, sumXY = 0.0;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            if (!(frame.At(x, y) == colour)) {
                continue;
            }
            ++print.count;
            print.left = std::min(print.left, x);
            print.right = std::max(print.right, x);
            print.top = std::min(print.top, y);
            print.bottom = std::max(print.bottom, y);
            sumX += x;
            sumY += y;
            sumXX += static_cast<double>(x) * x;
            sumYY += static_cast<double>(y) * y;
            sumXY += static_cast<double>(x) * y;
        }
    }
    if (print.count == 0) {
        return print;
    }
    const double n = print.count;
    print.centreX = sumX / n;
    print.centreY = sumY / n;
    const double varX = sumXX / n - print.centreX * print.centreX;
    const double varY = sumYY / n - print.centreY * print.centreY;
    const double covXY = sumXY / n - print.centreX * print.centreY;
    // A long axis along (-sin a, cos a) gives covXY = -(spread) sin a cos a, varY - varX = spread cos 2a.
    print.longAxisAngle = 0.5 * std::atan2(-2.0 * covXY, varY - varX);
    return print;
}

class RaceDrawingOnRealRenderer : public ::testing::Test {
protected:
    orvo::Game* game = nullptr;
    RaceState* race = nullptr;

    void SetUp() override
    {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (Xvfb)";
        orvo::Init();
        game = new orvo::Game(8, 3);
        game->SetMaximizedViewport(1.777777f);
        race = new RaceState(game);

        Car& car = *race->car;
        Paint(race->hud, kNothing);
        for (int i = 0; i < race->gridColumns * race->gridRows; ++i) {
            Paint(race->tiles[i], kGround);
        }
        Paint(car.body, kBody);
        Paint(car.shade, kShade);
        for (int i = 0; i < 4; ++i) {
            Paint(car.tyres[i], kTyres[i]);
        }
        // The markers sit on the body's centre; out of the way they hide nothing.
        Paint(car.redDot, kNothing);
        Paint(car.blueDot, kNothing);
    }

    void TearDown() override
    {
        delete race;
        delete game;
        orvo::Exit();
    }

    // Swaps the sprite's texture for a solid one; the sprite's size is left as the race set it.
    static void Paint(orvo::Sprite* sprite, Colour colour)
    {
        SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, 8, 8, 32, SDL_PIXELFORMAT_RGBA32);
        ASSERT_NE(surface, nullptr);
        SDL_FillRect(surface, nullptr, SDL_MapRGBA(surface->format, colour.r, colour.g, colour.b, colour.a));
        SDL_Texture* texture = SDL_CreateTextureFromSurface(orvo::GetSDLRenderer(), surface);
        SDL_FreeSurface(surface);
        ASSERT_NE(texture, nullptr);
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
        SDL_DestroyTexture(sprite->texture);
        sprite->texture = texture;
    }

    // One frame as the main loop draws it, read back before it would be presented.
    Frame Draw()
    {
        SDL_Renderer* renderer = orvo::GetSDLRenderer();
        SDL_SetRenderDrawColor(renderer, kClear.r, kClear.g, kClear.b, kClear.a);
        SDL_RenderClear(renderer);
        race->OnStepGraphicsTime();

        Frame frame;
        frame.width = game->viewport.w;
        frame.height = game->viewport.h;
        frame.pixels.resize(static_cast<size_t>(frame.width) * frame.height);
        EXPECT_EQ(SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_RGBA32, frame.pixels.data(),
                                       frame.width * static_cast<int>(sizeof(Colour))),
                  0)
            << SDL_GetError();
        return frame;
    }
};

TEST_F(RaceDrawingOnRealRenderer, ParkedBodyIsDrawnAbout35PixelsSquareInTheCentre)
{
    ASSERT_EQ(game->viewport.w, 1280);
    ASSERT_EQ(game->viewport.h, 720);
    const Footprint body = FootprintOf(Draw(), kBody);
    ASSERT_GT(body.count, 0);
    // Two world units at depth 100 on a 720-pixel viewport are 34.8 pixels.
    EXPECT_NEAR(body.right - body.left + 1, 35, 1);
    EXPECT_NEAR(body.bottom - body.top + 1, 35, 1);
    EXPECT_NEAR((body.left + body.right) * 0.5, 639.5, 1.0);
    EXPECT_NEAR((body.top + body.bottom) * 0.5, 359.5, 1.0);
}

TEST_F(RaceDrawingOnRealRenderer, ShadowShowsRightAndBelowTheBodyButNeverOverIt)
{
    const Frame frame = Draw();
    const Footprint body = FootprintOf(frame, kBody);
    const Footprint shade = FootprintOf(frame, kShade);
    ASSERT_GT(body.count, 0);
    ASSERT_GT(shade.count, 0);
    // 0.15 and 0.1 world units are about 2.6 and 1.7 pixels; the shadow is 1.2 times the body.
    EXPECT_GE(shade.right - body.right, 4);
    EXPECT_GE(shade.bottom - body.bottom, 3);
    EXPECT_LE(body.left - shade.left, 2);
    EXPECT_LE(body.top - shade.top, 3);
    EXPECT_NEAR(shade.right - shade.left + 1, 42, 1);
    for (int y = body.top; y <= body.bottom; ++y) {
        for (int x = body.left; x <= body.right; ++x) {
            ASSERT_FALSE(frame.At(x, y) == kShade) << "shadow over the body at " << x << ", " << y;
        }
    }
}

TEST_F(RaceDrawingOnRealRenderer, FrontTyresTurnClockwiseWithTheWheelAngleAndRearTyresStayStraight)
{
    for (const float wheelAngle : {0.0f, 0.3f, -0.3f}) {
        SCOPED_TRACE(wheelAngle);
        race->car->wheelAngle = wheelAngle;
        const Frame frame = Draw();
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            const Footprint tyre = FootprintOf(frame, kTyres[i]);
            // 0.5 x 0.8 world units are about 8.7 x 13.9 pixels.
            ASSERT_GT(tyre.count, 90);
            EXPECT_NEAR(tyre.longAxisAngle, i < 2 ? wheelAngle : 0.0f, 0.06);
        }
        // Front tyres above the centre, the left ones to the left.
        EXPECT_LT(FootprintOf(frame, kTyres[0]).centreY, 360.0);
        EXPECT_LT(FootprintOf(frame, kTyres[0]).centreX, 640.0);
        EXPECT_GT(FootprintOf(frame, kTyres[2]).centreY, 360.0);
        EXPECT_GT(FootprintOf(frame, kTyres[2]).centreX, 640.0);
    }
}

TEST_F(RaceDrawingOnRealRenderer, TilesCoverTheWholeViewportWhereverTheCameraRests)
{
    const Vector2 cameras[] = {{0.0f, 0.0f},    {8.9f, 0.0f},    {9.0f, 0.0f},    {-9.0f, 0.0f},     {8.99f, 8.99f},
                               {-8.99f, 8.99f}, {17.9f, -17.9f}, {-26.9f, 26.9f}, {1000.5f, -777.3f}};
    for (const Vector2& camera : cameras) {
        SCOPED_TRACE(::testing::Message() << "camera " << camera.x << ", " << camera.y);
        race->camera.spatial.position = camera;
        const Frame frame = Draw();
        int uncovered = 0;
        for (const Colour& pixel : frame.pixels) {
            uncovered += pixel == kClear ? 1 : 0;
        }
        EXPECT_EQ(uncovered, 0);
        EXPECT_GT(FootprintOf(frame, kGround).count, frame.width * frame.height / 2);
    }
}

} // namespace

// Sprites drawn by the real accelerated renderer in a window on the X display, checked by reading
// the drawn pixels back: the rectangles of both drawing paths, the direction of rotation, and
// what loading a file sets on the texture.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <SDL_image.h>
#include <gtest/gtest.h>

#include "orvo/orvo.h"

namespace {

namespace fs = std::filesystem;

constexpr float kQuarterTurn = 1.5707964f;

struct Colour {
    Uint8 r;
    Uint8 g;
    Uint8 b;
};
constexpr Colour kRed{255, 0, 0};
constexpr Colour kGreen{0, 255, 0};

class SpriteDrawOnRealRenderer : public testing::Test {
protected:
    // A failed Init() ends the process; a failure to write the images is reported by every test
    // rather than by the suite set-up, which would only show the tests as skipped.
    static void SetUpTestSuite()
    {
        orvo::Init();
        std::string pattern = (fs::temp_directory_path() / "orvo-sprites-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        directory = new fs::path(pattern);
        imagesWritten = WritePng("red-64x32.png", 64, 32, kRed, kRed) &&
                        WritePng("red-16x16.png", 16, 16, kRed, kRed) &&
                        WritePng("red-top-green-bottom.png", 64, 64, kRed, kGreen);
    }

    static void TearDownTestSuite()
    {
        if (directory != nullptr) {
            fs::remove_all(*directory);
            delete directory;
        }
        orvo::Exit();
    }

    static bool WritePng(const std::string& name, int width, int height, Colour top, Colour bottom)
    {
        SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGBA32);
        if (surface == nullptr) {
            return false;
        }
        const SDL_Rect upper{0, 0, width, height / 2};
        const SDL_Rect lower{0, height / 2, width, height - height / 2};
        SDL_FillRect(surface, &upper, SDL_MapRGBA(surface->format, top.r, top.g, top.b, 255));
        SDL_FillRect(surface, &lower, SDL_MapRGBA(surface->format, bottom.r, bottom.g, bottom.b, 255));
        const bool saved = IMG_SavePNG(surface, (*directory / name).c_str()) == 0;
        SDL_FreeSurface(surface);
        return saved;
    }

    static std::string PathOf(const std::string& name) { return (*directory / name).string(); }

    void SetUp() override
    {
        ASSERT_TRUE(imagesWritten) << "cannot write the test images";
        SDL_SetRenderDrawColor(orvo::GetSDLRenderer(), 0, 0, 0, 255);
        SDL_RenderClear(orvo::GetSDLRenderer());
    }

    // The pixels of `area` of what has been drawn so far, as RGBA bytes row by row.
    static std::vector<Uint8> ReadPixels(const SDL_Rect& area)
    {
        std::vector<Uint8> pixels(static_cast<size_t>(area.w) * area.h * 4);
        EXPECT_EQ(
            SDL_RenderReadPixels(orvo::GetSDLRenderer(), &area, SDL_PIXELFORMAT_RGBA32, pixels.data(), area.w * 4), 0)
            << SDL_GetError();
        return pixels;
    }

    // The bounding box of the red pixels in `area`, in window coordinates; empty if none.
    static SDL_Rect RedBounds(const SDL_Rect& area)
    {
        const std::vector<Uint8> pixels = ReadPixels(area);
        int left = area.w, top = area.h, right = -1, bottom = -1;
        for (int y = 0; y < area.h; ++y) {
            for (int x = 0; x < area.w; ++x) {
                if (pixels[(static_cast<size_t>(y) * area.w + x) * 4] > 128) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        if (right < 0) {
            return SDL_Rect{0, 0, 0, 0};
        }
        return SDL_Rect{area.x + left, area.y + top, right - left + 1, bottom - top + 1};
    }

    static void ExpectRect(const SDL_Rect& actual, const SDL_Rect& expected)
    {
        EXPECT_EQ((std::vector<int>{actual.x, actual.y, actual.w, actual.h}),
                  (std::vector<int>{expected.x, expected.y, expected.w, expected.h}));
    }

    static fs::path* directory;
    static bool imagesWritten;
};

fs::path* SpriteDrawOnRealRenderer::directory = nullptr;
bool SpriteDrawOnRealRenderer::imagesWritten = false;

TEST_F(SpriteDrawOnRealRenderer, LoadingSetsTheSizeToThePixelSizeAndKeepsThePlacement)
{
    orvo::Sprite sprite(nullptr);
    sprite.spatial.position = orvo::Vector2(3.0f, 4.0f);
    sprite.spatial.depth = 2.0f;
    sprite.spatial.rotation = 0.5f;
    sprite.LoadFile(PathOf("red-64x32.png"), orvo::FILTER_NEAREST);
    ASSERT_NE(sprite.texture, nullptr);
    EXPECT_EQ(sprite.spatial.size.x, 64.0f);
    EXPECT_EQ(sprite.spatial.size.y, 32.0f);
    EXPECT_EQ(sprite.spatial.position.x, 3.0f);
    EXPECT_EQ(sprite.spatial.position.y, 4.0f);
    EXPECT_EQ(sprite.spatial.depth, 2.0f);
    EXPECT_EQ(sprite.spatial.rotation, 0.5f);
}

// SDL counts its own live allocations; a texture that is not destroyed keeps its share.
TEST_F(SpriteDrawOnRealRenderer, LoadingAgainReplacesTheTextureAndFreesTheOldOne)
{
    orvo::Sprite sprite(nullptr);
    sprite.LoadFile(PathOf("red-64x32.png"), orvo::FILTER_NEAREST);
    const int allocationsWithOneTexture = SDL_GetNumAllocations();
    sprite.LoadFile(PathOf("red-64x32.png"), orvo::FILTER_NEAREST);
    EXPECT_EQ(SDL_GetNumAllocations(), allocationsWithOneTexture);

    sprite.LoadFile(PathOf("red-16x16.png"), orvo::FILTER_NEAREST);
    int width = 0;
    int height = 0;
    ASSERT_EQ(SDL_QueryTexture(sprite.texture, nullptr, nullptr, &width, &height), 0);
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 16);
    EXPECT_EQ(sprite.spatial.size.x, 16.0f);
}

TEST_F(SpriteDrawOnRealRenderer, EachFilterModeGivesItsScaleModeAndUnknownModesGiveNearest)
{
    const std::pair<int, SDL_ScaleMode> cases[] = {
        {0, SDL_ScaleModeNearest}, {1, SDL_ScaleModeLinear}, {2, SDL_ScaleModeBest}, {7, SDL_ScaleModeNearest}};
    for (const auto& [mode, expected] : cases) {
        orvo::Sprite sprite(nullptr);
        sprite.LoadFile(PathOf("red-16x16.png"), static_cast<orvo::e_FilterMode>(mode));
        SDL_ScaleMode scaleMode = SDL_ScaleModeLinear;
        ASSERT_EQ(SDL_GetTextureScaleMode(sprite.texture, &scaleMode), 0);
        EXPECT_EQ(scaleMode, expected) << "mode " << mode;
    }
}

TEST_F(SpriteDrawOnRealRenderer, SetAlphaKeepsTheLowEightBits)
{
    orvo::Sprite sprite(nullptr);
    sprite.LoadFile(PathOf("red-16x16.png"), orvo::FILTER_NEAREST);
    sprite.SetAlpha(300);
    Uint8 alpha = 0;
    ASSERT_EQ(SDL_GetTextureAlphaMod(sprite.texture, &alpha), 0);
    EXPECT_EQ(alpha, 44);
}

struct ScreenDrawCase {
    orvo::Vector2 position;
    orvo::Vector2 size;
    SDL_Rect visible;
};

TEST_F(SpriteDrawOnRealRenderer, ScreenSpaceDrawTruncatesTheRectangle)
{
    const ScreenDrawCase cases[] = {
        {{10.7f, 5.2f}, {3.5f, 2.5f}, {8, 3, 3, 2}},
        {{0.0f, 0.0f}, {3.0f, 3.0f}, {0, 0, 2, 2}}, // (-1, -1, 3, 3), clipped by the window
        {{640.0f, 360.0f}, {17.382338f, 17.382338f}, {631, 351, 17, 17}},
    };
    orvo::Sprite sprite(nullptr);
    sprite.LoadFile(PathOf("red-16x16.png"), orvo::FILTER_NEAREST);
    for (const ScreenDrawCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "at (" << c.position.x << ", " << c.position.y << ")");
        SDL_RenderClear(orvo::GetSDLRenderer());
        sprite.spatial.position = c.position;
        sprite.spatial.size = c.size;
        sprite.Draw();
        ExpectRect(RedBounds(SDL_Rect{0, 0, 700, 400}), c.visible);
    }
}

// One world unit at the camera's rest depth spans 17.382338 pixels, so a unit square at the
// camera's position covers 17 whole pixels but touches an 18th on each axis.
TEST_F(SpriteDrawOnRealRenderer, WorldSpaceDrawRoundsTheRectangleOutward)
{
    orvo::Camera camera;
    camera.spatial.depth = 100.0f;
    const orvo::Viewport viewport{0, 0, 1280, 720};
    orvo::Sprite sprite(nullptr);
    sprite.LoadFile(PathOf("red-16x16.png"), orvo::FILTER_NEAREST);
    sprite.spatial.size = orvo::Vector2(1.0f, 1.0f);
    sprite.Draw(viewport, camera);
    ExpectRect(RedBounds(SDL_Rect{600, 320, 80, 80}), SDL_Rect{631, 351, 18, 18});
}

TEST_F(SpriteDrawOnRealRenderer, PositiveRotationTurnsClockwise)
{
    const struct {
        float rotation;
        Colour left;
        Colour right;
    } cases[] = {{kQuarterTurn, kGreen, kRed}, {-kQuarterTurn, kRed, kGreen}};
    orvo::Sprite sprite(nullptr);
    sprite.LoadFile(PathOf("red-top-green-bottom.png"), orvo::FILTER_NEAREST);
    sprite.spatial.position = orvo::Vector2(200.0f, 200.0f);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "rotation " << c.rotation);
        SDL_RenderClear(orvo::GetSDLRenderer());
        sprite.spatial.rotation = c.rotation;
        sprite.Draw();
        const std::vector<Uint8> left = ReadPixels(SDL_Rect{180, 200, 1, 1});
        const std::vector<Uint8> right = ReadPixels(SDL_Rect{220, 200, 1, 1});
        EXPECT_EQ((std::vector<int>{left[0], left[1], left[2]}), (std::vector<int>{c.left.r, c.left.g, c.left.b}));
        EXPECT_EQ((std::vector<int>{right[0], right[1], right[2]}),
                  (std::vector<int>{c.right.r, c.right.g, c.right.b}));
    }
}

} // namespace

// Sprites drawn by the real accelerated renderer in a window on the X display, checked by reading the
// pixels back: the rectangles of both drawing paths, the direction of rotation, and the texture's settings.
#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

#include <SDL_image.h>
#include <gtest/gtest.h>

#include "orvo/orvo.h"

namespace {

namespace fs = std::filesystem;
using Rect = std::tuple<int, int, int, int>;

class SpriteDrawOnRealRenderer : public testing::Test {
protected:
    // A failed Init() ends the process. A failure to write the image (64 x 32, red above and green below)
    // is reported by every test rather than by the suite set-up, which would only show them as skipped.
    static void SetUpTestSuite()
    {
        orvo::Init();
        SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, 64, 32, 32, SDL_PIXELFORMAT_RGBA32);
        const SDL_Rect lower{0, 16, 64, 16};
        SDL_FillRect(surface, nullptr, SDL_MapRGBA(surface->format, 255, 0, 0, 255));
        SDL_FillRect(surface, &lower, SDL_MapRGBA(surface->format, 0, 255, 0, 255));
        imageWritten = IMG_SavePNG(surface, image.c_str()) == 0;
        SDL_FreeSurface(surface);
    }
    static void TearDownTestSuite()
    {
        fs::remove(image);
        orvo::Exit();
    }

    void SetUp() override
    {
        ASSERT_TRUE(imageWritten) << "cannot write " << image;
        sprite.LoadFile(image, orvo::FILTER_NEAREST);
        SDL_SetRenderDrawColor(orvo::GetSDLRenderer(), 0, 0, 0, 255);
        SDL_RenderClear(orvo::GetSDLRenderer());
    }

    // The pixels of `area` drawn so far (before the frame is presented), row by row, as 0xRRGGBB.
    static std::vector<Uint32> ReadPixels(const SDL_Rect& area)
    {
        std::vector<Uint32> pixels(static_cast<size_t>(area.w) * area.h);
        EXPECT_EQ(
            SDL_RenderReadPixels(orvo::GetSDLRenderer(), &area, SDL_PIXELFORMAT_RGB888, pixels.data(), area.w * 4), 0)
            << SDL_GetError();
        for (Uint32& pixel : pixels) {
            pixel &= 0xFFFFFF; // the format's unused top byte
        }
        return pixels;
    }

    // The bounding box of the pixels drawn in `area`, in window coordinates.
    static Rect DrawnBounds(const SDL_Rect& area)
    {
        const std::vector<Uint32> pixels = ReadPixels(area);
        int left = area.w, top = area.h, right = -1, bottom = -1;
        for (int i = 0; i < area.w * area.h; ++i) {
            if (pixels[i] != 0) {
                left = std::min(left, i % area.w), right = std::max(right, i % area.w);
                top = std::min(top, i / area.w), bottom = std::max(bottom, i / area.w);
            }
        }
        return {area.x + left, area.y + top, right - left + 1, bottom - top + 1};
    }

    static inline const std::string image =
        (fs::temp_directory_path() / ("orvo-sprite-" + std::to_string(getpid()) + ".png")).string();
    static inline bool imageWritten = false;
    orvo::Sprite sprite{nullptr};
};

TEST_F(SpriteDrawOnRealRenderer, LoadingSetsTheSizeToThePixelSizeKeepsThePlacementAndFreesTheOldTexture)
{
    sprite.spatial = orvo::Spatial{{3, 4}, 2, 0.5f};
    // SDL counts its own live allocations; a texture that is not destroyed keeps its share.
    const int allocationsWithOneTexture = SDL_GetNumAllocations();
    sprite.LoadFile(image, orvo::FILTER_NEAREST);
    EXPECT_EQ(SDL_GetNumAllocations(), allocationsWithOneTexture);
    const orvo::Spatial& loaded = sprite.spatial;
    EXPECT_EQ(std::make_tuple(loaded.size.x, loaded.size.y, loaded.position.x, loaded.depth, loaded.rotation),
              std::make_tuple(64.0f, 32.0f, 3.0f, 2.0f, 0.5f));
}

TEST_F(SpriteDrawOnRealRenderer, TextureTakesTheScaleModeOfEachFilterModeAndTheLowEightBitsOfTheAlpha)
{
    const std::pair<int, SDL_ScaleMode> cases[] = {
        {0, SDL_ScaleModeNearest}, {1, SDL_ScaleModeLinear}, {2, SDL_ScaleModeBest}, {7, SDL_ScaleModeNearest}};
    for (const auto& [mode, expected] : cases) {
        sprite.LoadFile(image, static_cast<orvo::e_FilterMode>(mode));
        SDL_ScaleMode scaleMode = SDL_ScaleModeLinear;
        ASSERT_EQ(SDL_GetTextureScaleMode(sprite.texture, &scaleMode), 0);
        EXPECT_EQ(scaleMode, expected) << "mode " << mode << " (7 is unknown)";
    }
    sprite.SetAlpha(300);
    Uint8 alpha = 0;
    ASSERT_EQ(SDL_GetTextureAlphaMod(sprite.texture, &alpha), 0);
    EXPECT_EQ(alpha, 44);
}

// Placed in pixels, the rectangle is truncated; mapped through a camera it is rounded outward: a
// unit square there spans 17.382338 pixels, so it covers 17 whole pixels and touches an 18th.
TEST_F(SpriteDrawOnRealRenderer, ScreenSpaceDrawTruncatesWhileWorldSpaceDrawRoundsOutward)
{
    const std::pair<orvo::Spatial, Rect> cases[] = {
        {{{10.7f, 5.2f}, 0, 0, {3.5f, 2.5f}}, {8, 3, 3, 2}},
        {{{0, 0}, 0, 0, {3, 3}}, {0, 0, 2, 2}}, // (-1, -1, 3, 3), clipped by the window
        {{{640, 360}, 0, 0, {17.382338f, 17.382338f}}, {631, 351, 17, 17}},
    };
    for (const auto& [spatial, visible] : cases) {
        SDL_RenderClear(orvo::GetSDLRenderer());
        sprite.spatial = spatial;
        sprite.Draw();
        EXPECT_EQ(DrawnBounds({0, 0, 700, 400}), visible) << spatial.position.x << ", " << spatial.position.y;
    }

    SDL_RenderClear(orvo::GetSDLRenderer());
    orvo::Camera camera;
    camera.spatial.depth = 100;
    sprite.spatial = orvo::Spatial{};
    sprite.Draw({0, 0, 1280, 720}, camera);
    EXPECT_EQ(DrawnBounds({600, 320, 80, 80}), Rect(631, 351, 18, 18));
}

TEST_F(SpriteDrawOnRealRenderer, PositiveRotationTurnsClockwise)
{
    // Turned clockwise the red top comes to the right; turned back it comes to the left.
    for (const float rotation : {1.5707964f, -1.5707964f}) {
        SDL_RenderClear(orvo::GetSDLRenderer());
        sprite.spatial = orvo::Spatial{{200, 200}, 0, rotation, {64, 64}};
        sprite.Draw();
        const Uint32 red = 0xFF0000, green = 0x00FF00;
        EXPECT_EQ(ReadPixels({180, 200, 1, 1})[0], rotation > 0 ? green : red) << "left, rotation " << rotation;
        EXPECT_EQ(ReadPixels({220, 200, 1, 1})[0], rotation > 0 ? red : green) << "right, rotation " << rotation;
    }
}

} // namespace

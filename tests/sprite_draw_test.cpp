// Sprites drawn and read back on SDL's software renderer with no display: where a sprite mapped
// through the camera lands, and which way a sprite turns.
#include <gtest/gtest.h>

#include "orvo/orvo.h"

TEST(SpriteDraw, WorldSpaceRoundsOutwardAndPositiveRotationTurnsClockwise)
{
    orvo::Init();
    SDL_Renderer* renderer = orvo::GetSDLRenderer();
    const auto pixel = [&](int x, int y) {
        Uint32 colour = 0;
        const SDL_Rect area{x, y, 1, 1};
        SDL_RenderReadPixels(renderer, &area, SDL_PIXELFORMAT_RGB888, &colour, 4);
        return colour & 0xFFFFFF;
    };
    // 64 x 32 pixels, red above and green below, drawn over black.
    std::vector<Uint32> image(64 * 32, 0xFFFF0000);
    std::fill(image.begin() + 64 * 16, image.end(), 0xFF00FF00);
    orvo::Sprite sprite(nullptr);
    sprite.texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC, 64, 32);
    ASSERT_EQ(SDL_UpdateTexture(sprite.texture, nullptr, image.data(), 64 * 4), 0) << SDL_GetError();
    SDL_RenderClear(renderer);

    // A unit square at depth 100 spans 17.38 pixels: it covers 17 whole ones and touches an 18th.
    orvo::Camera camera;
    camera.spatial.depth = 100;
    sprite.Draw({0, 0, 1280, 720}, camera);
    for (const int edge : {630, 649}) {
        EXPECT_EQ(pixel(edge, 360), 0u) << "x " << edge;
        EXPECT_EQ(pixel(edge + (edge < 640 ? 1 : -1), 360), 0x00FF00u) << "x " << edge;
    }
    // Turned clockwise the red top comes to the right; turned back it comes to the left.
    for (const float rotation : {1.5707964f, -1.5707964f}) {
        sprite.spatial = orvo::Spatial{{200, 200}, 0, rotation, {64, 64}};
        sprite.Draw();
        EXPECT_EQ(pixel(180, 200), rotation > 0 ? 0x00FF00u : 0xFF0000u) << "left, rotation " << rotation;
        EXPECT_EQ(pixel(220, 200), rotation > 0 ? 0xFF0000u : 0x00FF00u) << "right, rotation " << rotation;
    }
    // Half a turn puts it at the bottom: the size of the turn, not only its sense.
    sprite.spatial.rotation = 3.1415927f;
    sprite.Draw();
    EXPECT_EQ(pixel(195, 225), 0xFF0000u);
    EXPECT_EQ(pixel(205, 175), 0x00FF00u);

    orvo::Exit();
}

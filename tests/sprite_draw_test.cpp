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
    // Turned a quarter clockwise the red top comes to the right, a quarter back to the left, and
    // half a turn to the bottom: the sense and the size of the turn.
    const struct {
        float rotation;
        int x, y;
        Uint32 colour;
    } turns[] = {{1.5707964f, 180, 200, 0x00FF00u},  {1.5707964f, 220, 200, 0xFF0000u},
                 {-1.5707964f, 180, 200, 0xFF0000u}, {-1.5707964f, 220, 200, 0x00FF00u},
                 {3.1415927f, 195, 225, 0xFF0000u},  {3.1415927f, 205, 175, 0x00FF00u}};
    for (const auto& turn : turns) {
        sprite.spatial = orvo::Spatial{{200, 200}, 0, turn.rotation, {64, 64}};
        SDL_RenderClear(renderer);
        sprite.Draw();
        EXPECT_EQ(pixel(turn.x, turn.y), turn.colour) << turn.x << ", " << turn.y << ", rotation " << turn.rotation;
    }

    orvo::Exit();
}

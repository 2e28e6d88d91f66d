// The engine's batched shapes and glyph-atlas text, drawn and read back on SDL's software renderer
// with no display.
#include <gtest/gtest.h>

#include "orvo/draw.h"
#include "orvo/orvo.h"

namespace {

class Draw : public ::testing::Test {
protected:
    static void SetUpTestSuite() { orvo::Init(); }
    static void TearDownTestSuite() { orvo::Exit(); }
    void SetUp() override
    {
        SDL_SetRenderDrawColor(orvo::GetSDLRenderer(), 0, 0, 0, 255);
        SDL_RenderClear(orvo::GetSDLRenderer());
    }

    static Uint32 Pixel(int x, int y)
    {
        Uint32 colour = 0;
        const SDL_Rect area{x, y, 1, 1};
        SDL_RenderReadPixels(orvo::GetSDLRenderer(), &area, SDL_PIXELFORMAT_RGB888, &colour, 4);
        return colour & 0xFFFFFF;
    }

    // How many pixels of the rectangle are not black.
    static int LitPixels(const SDL_Rect& area)
    {
        std::vector<Uint32> pixels(static_cast<size_t>(area.w * area.h));
        SDL_RenderReadPixels(orvo::GetSDLRenderer(), &area, SDL_PIXELFORMAT_RGB888, pixels.data(), area.w * 4);
        int lit = 0;
        for (const Uint32 colour : pixels) {
            lit += (colour & 0xFFFFFF) != 0 ? 1 : 0;
        }
        return lit;
    }
};

TEST_F(Draw, ShapesFillTheirPixelsBlendedByAlphaInOneBatch)
{
    orvo::ShapeBatch batch;
    batch.AddRect({100, 100, 50, 20}, {255, 0, 0, 255});
    // Half-transparent green over the red's right half: the two mix.
    batch.AddRect({125, 100, 50, 20}, {0, 255, 0, 128});
    // A horizontal stroke 6 pixels wide along y = 300.
    batch.AddLine({400, 300}, {500, 300}, 6.0f, {0, 0, 255, 255});
    batch.AddLine({600, 300}, {600, 300}, 6.0f, {255, 255, 255, 255}); // no length: nothing
    EXPECT_EQ(batch.GetTriangleCount(), 6);
    ASSERT_EQ(batch.Draw(), 0) << SDL_GetError();

    EXPECT_EQ(Pixel(110, 110), 0xFF0000u);
    EXPECT_EQ(Pixel(140, 110), 0x7F8000u); // 127 of red left, 128 of green added
    EXPECT_EQ(Pixel(170, 110), 0x008000u);
    EXPECT_EQ(Pixel(99, 110), 0u);
    EXPECT_EQ(Pixel(450, 298), 0x0000FFu);
    EXPECT_EQ(Pixel(450, 301), 0x0000FFu);
    EXPECT_EQ(Pixel(450, 304), 0u);
    EXPECT_EQ(Pixel(600, 300), 0u);
}

TEST_F(Draw, TextPutsEachGlyphInItsCellAndSpacesDrawNothing)
{
    orvo::Font font;
    font.LoadFile("res/gfx/font.png");
    ASSERT_EQ(font.cellWidth * 16, font.textureWidth);
    orvo::TextBatch text(&font);
    // 32 pixels high: each character advances by the cell's width at the atlas's own scale.
    const float width = text.Add("I I\nII", 200, 200, static_cast<float>(font.cellHeight), {255, 255, 255, 255});
    EXPECT_FLOAT_EQ(width, 3.0f * font.cellWidth);
    EXPECT_FLOAT_EQ(font.MeasureWidth("I I\nII", static_cast<float>(font.cellHeight)), width);
    EXPECT_EQ(text.glyphs.GetTriangleCount(), 2 * 4); // four I's, the space skipped
    ASSERT_EQ(text.Draw(), 0) << SDL_GetError();

    const int w = font.cellWidth;
    const int h = font.cellHeight;
    EXPECT_GT(LitPixels({200, 200, w, h}), 40) << "first I";
    EXPECT_EQ(LitPixels({200 + w, 200, w, h}), 0) << "the space";
    EXPECT_GT(LitPixels({200 + 2 * w, 200, w, h}), 40) << "second I";
    EXPECT_GT(LitPixels({200 + w, 200 + h, w, h}), 40) << "the second line's second I";
    EXPECT_EQ(LitPixels({200 + 2 * w, 200 + h, w, h}), 0) << "after the second line";
}

} // namespace

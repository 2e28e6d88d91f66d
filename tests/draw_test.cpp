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

// A layer keeps what was drawn into it as a plain texture, and copies only the areas shown, blended
// by the alpha they were drawn with. Half-transparent green drawn into the empty layer is green
// 128 at alpha 128 there; copied over blue, 128 * 128 / 255 = 64 of green and 127 of the blue
// show, within the one level by which the blender's rounding may differ.
TEST_F(Draw, LayerCopiesTheShownAreasOfWhatWasDrawnIntoIt)
{
    orvo::Layer layer(1280, 720);
    // Shown before anything was drawn into it, it leaves the screen as it was.
    layer.Show({0, 0, 100, 50});
    SDL_SetRenderDrawColor(orvo::GetSDLRenderer(), 0, 0, 255, 255);
    SDL_RenderClear(orvo::GetSDLRenderer());
    ASSERT_EQ(layer.Draw(), 0) << SDL_GetError();
    EXPECT_EQ(Pixel(20, 20), 0x0000FFu);
    for (const bool again : {false, true}) {
        orvo::ShapeBatch shapes;
        shapes.AddRect({10, 10, 40, 40}, {255, 0, 0, 255});
        shapes.AddRect({60, 10, 40, 40}, {0, 255, 0, 128});
        shapes.AddRect({again ? 10.0f : 110.0f, 60, 40, 40}, {255, 255, 255, 255});
        layer.Begin();
        ASSERT_EQ(shapes.Draw(), 0) << SDL_GetError();
        layer.End();
        if (!again) {
            layer.Show({100, 50, 60, 60});
        }
        int access = -1;
        SDL_QueryTexture(layer.texture, nullptr, &access, nullptr, nullptr);
        EXPECT_EQ(access, SDL_TEXTUREACCESS_STATIC);

        SDL_SetRenderDrawColor(orvo::GetSDLRenderer(), 0, 0, 255, 255);
        SDL_RenderClear(orvo::GetSDLRenderer());
        ASSERT_EQ(layer.Draw(), 0) << SDL_GetError();
        EXPECT_EQ(Pixel(20, 20), 0xFF0000u) << again;
        const Uint32 mixed = Pixel(70, 20);
        EXPECT_EQ(mixed >> 8, 0x0040u) << std::hex << mixed;
        EXPECT_NEAR(static_cast<int>(mixed & 0xFF), 127, 1) << std::hex << mixed;
        EXPECT_EQ(Pixel(5, 5), 0x0000FFu) << again;   // shown, nothing drawn there
        EXPECT_EQ(Pixel(20, 70), 0x0000FFu) << again; // drawn the second time, never shown
        // Drawn only the first time: gone once the layer is drawn again.
        EXPECT_EQ(Pixel(120, 70), again ? 0x0000FFu : 0xFFFFFFu) << again;
    }
}

} // namespace

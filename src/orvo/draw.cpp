// Batched shapes and glyph-atlas text through SDL's renderer.
#include "orvo/draw.h"

#include <cmath>
#include <cstdio>

#include "orvo/utils.h"

// The checks below guard preconditions in every build type.
#undef NDEBUG
#include <cassert>

namespace orvo {

namespace {

long drawCalls = 0;

SDL_Vertex MakeVertex(SDL_FPoint position, SDL_Color colour, SDL_FPoint texel = SDL_FPoint{0.0f, 0.0f})
{
    return SDL_Vertex{position, colour, texel};
}

} // namespace

long GetDrawCallCount() { return drawCalls; }

void CountDrawCall() { ++drawCalls; }

// ---------------------------------------------------------------------------------------------
// Shapes

void ShapeBatch::Reserve(int triangles) { vertices.reserve(static_cast<size_t>(triangles) * 3); }

void ShapeBatch::Clear() { vertices.clear(); }

void ShapeBatch::AddTriangle(SDL_FPoint a, SDL_FPoint b, SDL_FPoint c, SDL_Color colour)
{
    vertices.push_back(MakeVertex(a, colour));
    vertices.push_back(MakeVertex(b, colour));
    vertices.push_back(MakeVertex(c, colour));
}

void ShapeBatch::AddQuad(const SDL_FPoint (&corners)[4], const SDL_Color (&colours)[4])
{
    // Two triangles sharing the diagonal from the first corner to the third, appended in one go:
    // a vertex at a time costs several times as much where thousands of quads fill a batch.
    const size_t at = vertices.size();
    vertices.resize(at + 6);
    SDL_Vertex* quad = vertices.data() + at;
    quad[0] = MakeVertex(corners[0], colours[0]);
    quad[1] = MakeVertex(corners[1], colours[1]);
    quad[2] = MakeVertex(corners[2], colours[2]);
    quad[3] = quad[0];
    quad[4] = quad[2];
    quad[5] = MakeVertex(corners[3], colours[3]);
}

void ShapeBatch::AddQuad(const SDL_FPoint (&corners)[4], SDL_Color colour)
{
    AddQuad(corners, {colour, colour, colour, colour});
}

void ShapeBatch::AddRect(const SDL_FRect& rect, SDL_Color colour)
{
    const float right = rect.x + rect.w;
    const float bottom = rect.y + rect.h;
    AddQuad({{rect.x, rect.y}, {right, rect.y}, {right, bottom}, {rect.x, bottom}}, colour);
}

void ShapeBatch::AddLine(SDL_FPoint from, SDL_FPoint to, float width, SDL_Color colour)
{
    const float dx = to.x - from.x;
    const float dy = to.y - from.y;
    const float length = static_cast<float>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
    if (!(length > 0.0f)) {
        return; // no direction to draw across
    }
    // Half the width along the stroke's normal.
    const float nx = -dy / length * 0.5f * width;
    const float ny = dx / length * 0.5f * width;
    AddQuad({{from.x + nx, from.y + ny}, {to.x + nx, to.y + ny}, {to.x - nx, to.y - ny}, {from.x - nx, from.y - ny}},
            colour);
}

void ShapeBatch::AddDisc(SDL_FPoint centre, float radius, SDL_Color colour, int segments)
{
    SDL_FPoint previous{centre.x + radius, centre.y};
    for (int i = 1; i <= segments; ++i) {
        const double angle = 2.0 * 3.141592653589793 * i / segments;
        const SDL_FPoint next{centre.x + static_cast<float>(radius * std::cos(angle)),
                              centre.y + static_cast<float>(radius * std::sin(angle))};
        AddTriangle(centre, previous, next, colour);
        previous = next;
    }
}

void ShapeBatch::AddImage(const SDL_FRect& destination, const SDL_Rect& source, int textureWidth, int textureHeight,
                          SDL_Color colour)
{
    const float u0 = static_cast<float>(source.x) / static_cast<float>(textureWidth);
    const float v0 = static_cast<float>(source.y) / static_cast<float>(textureHeight);
    const float u1 = static_cast<float>(source.x + source.w) / static_cast<float>(textureWidth);
    const float v1 = static_cast<float>(source.y + source.h) / static_cast<float>(textureHeight);
    const float right = destination.x + destination.w;
    const float bottom = destination.y + destination.h;
    const SDL_Vertex corners[4] = {MakeVertex({destination.x, destination.y}, colour, {u0, v0}),
                                   MakeVertex({right, destination.y}, colour, {u1, v0}),
                                   MakeVertex({right, bottom}, colour, {u1, v1}),
                                   MakeVertex({destination.x, bottom}, colour, {u0, v1})};
    for (const int i : {0, 1, 2, 0, 2, 3}) {
        vertices.push_back(corners[i]);
    }
}

namespace {

// One SDL_RenderGeometry call under the given draw blend mode, which is put back afterwards: without a
// texture SDL blends by the renderer's draw mode, which the sprites never set.
int DrawGeometry(const std::vector<SDL_Vertex>& vertices, SDL_Texture* texture, SDL_BlendMode mode)
{
    if (vertices.empty()) {
        return 0;
    }
    SDL_Renderer* renderer = GetSDLRenderer();
    SDL_BlendMode previous = SDL_BLENDMODE_NONE;
    SDL_GetRenderDrawBlendMode(renderer, &previous);
    SDL_SetRenderDrawBlendMode(renderer, mode);
    CountDrawCall();
    const int result =
        SDL_RenderGeometry(renderer, texture, vertices.data(), static_cast<int>(vertices.size()), nullptr, 0);
    SDL_SetRenderDrawBlendMode(renderer, previous);
    return result;
}

} // namespace

int ShapeBatch::Draw(SDL_Texture* texture) const { return DrawGeometry(vertices, texture, SDL_BLENDMODE_BLEND); }

int ShapeBatch::DrawOpaque() const { return DrawGeometry(vertices, nullptr, SDL_BLENDMODE_NONE); }

void DrawPolyline(const std::vector<SDL_FPoint>& points, SDL_Color colour)
{
    if (points.size() < 2) {
        return;
    }
    SDL_Renderer* renderer = GetSDLRenderer();
    SDL_BlendMode previous = SDL_BLENDMODE_NONE;
    SDL_GetRenderDrawBlendMode(renderer, &previous);
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    SDL_SetRenderDrawColor(renderer, colour.r, colour.g, colour.b, colour.a);
    CountDrawCall();
    SDL_RenderDrawLinesF(renderer, points.data(), static_cast<int>(points.size()));
    // The frame's clear uses the draw colour: it goes back to black.
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_SetRenderDrawBlendMode(renderer, previous);
}

// ---------------------------------------------------------------------------------------------
// Layers

Layer::~Layer()
{
    for (SDL_Texture* owned : {texture, target}) {
        if (owned != nullptr) {
            SDL_DestroyTexture(owned);
        }
    }
}

namespace {

SDL_Texture* MakeLayerTexture(int access, int width, int height)
{
    SDL_Texture* made = SDL_CreateTexture(GetSDLRenderer(), SDL_PIXELFORMAT_ARGB8888, access, width, height);
    if (made == nullptr) {
        std::printf("Layer of %d x %d: %s\n", width, height, SDL_GetError());
        std::fflush(stdout);
    }
    assert(made != nullptr);
    SDL_SetTextureBlendMode(made, SDL_BLENDMODE_BLEND);
    // Copied pixel for pixel, never filtered.
    SDL_SetTextureScaleMode(made, SDL_ScaleModeNearest);
    return made;
}

} // namespace

void Layer::Begin()
{
    if (target == nullptr) {
        target = MakeLayerTexture(SDL_TEXTUREACCESS_TARGET, width, height);
    }
    SDL_Renderer* renderer = GetSDLRenderer();
    SDL_SetRenderTarget(renderer, target);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 0);
    SDL_RenderClear(renderer);
}

void Layer::End()
{
    SDL_Renderer* renderer = GetSDLRenderer();
    std::vector<Uint32> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    const int pitch = width * static_cast<int>(sizeof(Uint32));
    const int read = SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, pixels.data(), pitch);
    SDL_SetRenderTarget(renderer, nullptr);
    // The frame's clear uses the draw colour: it goes back to black.
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    if (read != 0) {
        std::printf("Layer of %d x %d: cannot read it back: %s\n", width, height, SDL_GetError());
        std::fflush(stdout);
    }
    assert(read == 0);
    if (texture == nullptr) {
        texture = MakeLayerTexture(SDL_TEXTUREACCESS_STATIC, width, height);
    }
    SDL_UpdateTexture(texture, nullptr, pixels.data(), pitch);
    SDL_DestroyTexture(target);
    target = nullptr;
}

void Layer::Show(const SDL_Rect& area)
{
    const SDL_FRect destination{static_cast<float>(area.x), static_cast<float>(area.y), static_cast<float>(area.w),
                                static_cast<float>(area.h)};
    copies.AddImage(destination, area, width, height, SDL_Color{255, 255, 255, 255});
}

int Layer::Draw() const { return texture == nullptr ? 0 : copies.Draw(texture); }

// ---------------------------------------------------------------------------------------------
// Text

Font::~Font()
{
    if (texture != nullptr) {
        SDL_DestroyTexture(texture);
    }
}

void Font::LoadFile(const std::string& path)
{
    if (texture != nullptr) {
        SDL_DestroyTexture(texture);
    }
    texture = LoadSDLTexture(path, FILTER_LINEAR);
    SDL_QueryTexture(texture, nullptr, nullptr, &textureWidth, &textureHeight);
    cellWidth = textureWidth / kFontColumns;
    cellHeight = textureHeight / kFontRows;
}

float Font::MeasureWidth(std::string_view text, float height) const
{
    const float advance = height * static_cast<float>(cellWidth) / static_cast<float>(cellHeight);
    size_t widest = 0;
    size_t line = 0;
    for (const char c : text) {
        line = c == '\n' ? 0 : line + 1;
        widest = line > widest ? line : widest;
    }
    return advance * static_cast<float>(widest);
}

float TextBatch::Add(std::string_view text, float x, float y, float height, SDL_Color colour)
{
    const float advance = height * static_cast<float>(font->cellWidth) / static_cast<float>(font->cellHeight);
    float penX = x;
    float penY = y;
    float widest = 0.0f;
    for (const char c : text) {
        if (c == '\n') {
            penX = x;
            penY += height;
            continue;
        }
        const int code = static_cast<unsigned char>(c);
        const int last = kFontFirstCharacter + kFontColumns * kFontRows - 2; // 126: the grid's last cell is empty
        const int index = (code >= kFontFirstCharacter && code <= last ? code : '?') - kFontFirstCharacter;
        // A space has nothing to draw.
        if (index != 0) {
            const SDL_Rect cell{index % kFontColumns * font->cellWidth, index / kFontColumns * font->cellHeight,
                                font->cellWidth, font->cellHeight};
            glyphs.AddImage({penX, penY, advance, height}, cell, font->textureWidth, font->textureHeight, colour);
        }
        penX += advance;
        widest = penX - x > widest ? penX - x : widest;
    }
    return widest;
}

} // namespace orvo

// Batched drawing through SDL's renderer: coloured shapes, and text from a glyph atlas. Each batch
// gathers its triangles in one vertex list and hands them to SDL in a single call, so that an
// overlay of hundreds of shapes and characters costs a few draw calls rather than thousands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <SDL.h>

namespace orvo {

// Triangles of solid colour, or of a texture's pixels tinted by the colour, drawn by one
// SDL_RenderGeometry call. Coordinates are pixels of the picture, as the screen overload of
// Sprite::Draw takes them. The vertex list keeps its capacity across Clear(), so a batch refilled
// every frame allocates only while it grows.
class ShapeBatch {
public:
    std::vector<SDL_Vertex> vertices; // three per triangle

    virtual ~ShapeBatch() = default;

    void Reserve(int triangles);
    void Clear();
    void AddTriangle(SDL_FPoint a, SDL_FPoint b, SDL_FPoint c, SDL_Color colour);
    // A convex quadrilateral with its corners in order around it, each corner its own colour
    // (SDL blends the colours across it).
    void AddQuad(const SDL_FPoint (&corners)[4], const SDL_Color (&colours)[4]);
    void AddQuad(const SDL_FPoint (&corners)[4], SDL_Color colour);
    void AddRect(const SDL_FRect& rect, SDL_Color colour);
    // A straight stroke `width` pixels wide, its ends cut square at the two points. A stroke of no
    // length adds nothing.
    void AddLine(SDL_FPoint from, SDL_FPoint to, float width, SDL_Color colour);
    // A disc as a fan of `segments` triangles.
    void AddDisc(SDL_FPoint centre, float radius, SDL_Color colour, int segments = 12);
    // A textured rectangle: the texture's pixels `source` (in texels of a texture of the given
    // size) onto `destination`, tinted by `colour`.
    void AddImage(const SDL_FRect& destination, const SDL_Rect& source, int textureWidth, int textureHeight,
                  SDL_Color colour);

    int GetTriangleCount() const { return static_cast<int>(vertices.size() / 3); }
    // Draws every triangle in one call, blended by alpha; `texture` (not owned) is null for solid
    // colours. An empty batch makes no call. 0, or SDL's error code.
    int Draw(SDL_Texture* texture = nullptr) const;
    // Draws solid triangles without blending in one call: each pixel covered takes the colour as
    // it is, its alpha ignored. SDL's software renderer draws these several times faster than
    // blended ones, each of which it composes apart and then blends in. 0, or SDL's error code.
    int DrawOpaque() const;
};

// Draws a connected line of one-pixel segments through `points` in one call.
void DrawPolyline(const std::vector<SDL_FPoint>& points, SDL_Color colour);

// A picture drawn once and shown every frame: batches draw into it between Begin() and End(), as
// they would onto the screen, and Draw() copies parts of it to the same places on the screen in
// one call. For what stays the same from frame to frame, such as an overlay's panels and scales:
// copying pixels costs far less than drawing their shapes again. Transparent where nothing was
// drawn; what is drawn over a translucent part keeps that part's alpha.
//
// The drawing goes into a render target that End() reads back into a plain texture and then
// frees: a software GL renderer spends about a millisecond of the drawing thread every frame on
// a texture that is still a render target, and nothing on a plain one.
class Layer {
public:
    SDL_Texture* texture = nullptr; // owned: what Draw() copies from
    int width;
    int height;

    // A transparent layer the size of the picture: Draw() shows nothing until something has been
    // drawn into it. Its textures are made by the first Begin() and End().
    Layer(int width, int height) : width(width), height(height) {}
    virtual ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    // Drawing goes into the layer from Begin() until End(), then onto the screen again. What was
    // drawn before is gone. Either stops the program if the renderer cannot make the texture.
    void Begin();
    void End();
    // Adds an area (in the layer's and the screen's pixels) to those Draw() copies.
    void Show(const SDL_Rect& area);
    // Copies the shown areas onto the screen, blended by their alpha, in one call (none before
    // the first End()). 0, or SDL's error code.
    int Draw() const;

private:
    SDL_Texture* target = nullptr; // owned, from Begin() until End()
    ShapeBatch copies;
};

// How many draw calls the engine has handed SDL's renderer so far (batches, polylines, sprites):
// the difference across a frame is that frame's count.
long GetDrawCallCount();
// Counts one draw call; for the engine's own drawing code.
void CountDrawCall();

// A monospaced glyph atlas: the printable ASCII characters, 32 to 126, in a grid of
// kFontColumns x kFontRows equal cells filled row by row, white glyphs on transparent. The cell
// size comes from the image: its width and height divided by the grid's.
constexpr int kFontColumns = 16;
constexpr int kFontRows = 6;
constexpr int kFontFirstCharacter = 32;

class Font {
public:
    SDL_Texture* texture = nullptr; // owned
    int textureWidth = 0;
    int textureHeight = 0;
    int cellWidth = 0;
    int cellHeight = 0;

    Font() = default;
    virtual ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    // Loads the atlas like a sprite's texture (the same search for the data folder), filtered
    // linearly so that text drawn at any height stays smooth. Stops the program if it cannot.
    void LoadFile(const std::string& path);
    // The pixel width of the widest line of `text` drawn `height` pixels high.
    float MeasureWidth(std::string_view text, float height) const;
};

// Text gathered from one font and drawn in one call.
class TextBatch {
public:
    const Font* font; // not owned
    ShapeBatch glyphs;

    explicit TextBatch(const Font* font) : font(font) {}
    virtual ~TextBatch() = default;

    void Clear() { glyphs.Clear(); }
    // Adds `text` with its top-left corner at (x, y), each line `height` pixels high; '\n' starts a
    // new line below. A byte outside the atlas draws as '?'. Returns the widest line's width.
    float Add(std::string_view text, float x, float y, float height, SDL_Color colour);
    int Draw() const { return glyphs.Draw(font->texture); }
};

} // namespace orvo

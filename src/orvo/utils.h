// The engine's contact with SDL (window, renderer, textures), its scalar maths, and the scene
// nodes with the camera that map world placements into viewport pixels.
#pragma once

#include <string>

#include <SDL.h>

#include "orvo/vector2.h"

namespace orvo {

// ---------------------------------------------------------------------------------------------
// Platform layer

// The one window and renderer, alive from Init() to Exit(), and the window size as requested.
extern SDL_Window* _SDLWindow;
extern SDL_Renderer* _SDLRenderer;
extern int _contextWidth;
extern int _contextHeight;

// Texture filtering used when a texture is drawn scaled.
enum e_FilterMode : int {
    FILTER_NEAREST = 0,
    FILTER_LINEAR = 1,
    FILTER_BEST = 2,
};

// Opens the window "Orvo game" and its accelerated renderer; 0 on success, 1 (after printing
// SDL's error) on failure. Where no display answers and SDL falls back to a video driver that
// shows nothing, start-up fails too, unless that driver was asked for through SDL_VIDEODRIVER.
// Game controllers are opened when available; without them the game runs on the keyboard.
// A window that is not shown within 30 seconds stops the program after saying so.
int InitSDL(int width, int height, bool vsync);

// SIGINT and SIGTERM end the program at every moment as their default action does, with the
// status of a process that the signal ended (130, 143 in a shell), so that whoever sent it sees
// the same ending however early or late it came. Only a running main loop takes the signal in:
// between StartTakingEndingSignals() and StopTakingEndingSignals() the signal waits, the loop
// sees EndingSignalPending() and ends, and once the game is torn down EndBySignal() ends the
// process by the signal that Stop... returned (0: none came; it returns then). Init puts the
// handlers in first of all, before SDL starts; a signal ignored by the parent stays ignored.
void CatchEndingSignals();
void StartTakingEndingSignals();
bool EndingSignalPending();
int StopTakingEndingSignals();
void EndBySignal(int number);
int ExitSDL();

// Where a window of the given size opens: at (1376, 140) when it lies wholly inside the usable
// area of one of the displays, otherwise centred on the primary display.
SDL_Point ChooseWindowPosition(int width, int height, const SDL_Rect* usableBounds, int displayCount);

// Switches the window between desktop full screen and its window. The renderer draws the same
// picture in both: SDL scales the fitted viewport into the window, with bars where the aspects
// differ.
void ToggleFullScreen();

// Sound: the device is opened after the window at kAudioRate, stereo, 32-bit float samples
// (SDL converts for a device that wants otherwise), in buffers of kAudioBufferFrames frames, 21 ms.
// Without a device, or when opening one fails, InitSDL says why in one line on stderr and the
// game runs on silently. The engine plays whatever the game's source puts into each buffer.
constexpr int kAudioRate = 48000;
constexpr int kAudioChannels = 2;
constexpr int kAudioBufferFrames = 1024;

// Fills `frames` frames of interleaved samples in [-1, 1], on SDL's audio thread: it must not
// block, wait or allocate.
using AudioSource = void (*)(void* context, float* samples, int frames);

// Makes `source` (null: silence) fill every buffer from now on. Returns once the audio thread has
// left the previous source, which may then be destroyed.
void SetAudioSource(AudioSource source, void* context);

SDL_Window* GetSDLWindow();
SDL_Renderer* GetSDLRenderer();
int GetContextWidth();
int GetContextHeight();

// The value of SDL's scale-quality hint that selects `mode`.
const char* GetScaleQualityHint(e_FilterMode mode);

// Loads an image file into a new texture of the renderer; the caller owns the texture.
// A relative path whose folder (such as res/gfx) is absent from the working directory is read
// from the installed data folder next to the executable instead. A file that cannot be loaded, or
// turned into a texture, stops the program after saying why on stderr.
SDL_Texture* LoadSDLTexture(const std::string& path, e_FilterMode mode);

// ---------------------------------------------------------------------------------------------
// Scalar maths

// `value` wrapped into [min, max] by whole widths of the range.
float ModulateIntoRange(float value, float min, float max);
// `value` limited to [min, max]; needs max >= min.
float Clamp(float value, float min, float max);
// `value` limited to [min, max] and mapped onto [0, 1]; needs max > min.
float NormalizedClamp(float value, float min, float max);
// Blend of `value` (in [0, 1]) with a sine S-curve of it; `amount` 1 is the pure S-curve.
float Curve(float value, float amount);
// 1 for values >= 0 (negative zero included), otherwise -1.
int SignSide(float value);

// ---------------------------------------------------------------------------------------------
// Scene nodes and screen mapping

// A rectangle in window pixels, laid out as SDL_Rect.
struct Viewport {
    int x;
    int y;
    int w;
    int h;
};

// A placement: centre, depth (added to the camera's; larger draws smaller), rotation in radians
// (positive turns clockwise on the screen) and the size of the node's rectangle.
struct Spatial {
    Vector2 position;
    float depth = 0.0f;
    float rotation = 0.0f;
    Vector2 size{1.0f, 1.0f};
};

// A node placed relative to an optional parent, which it refers to without owning.
class SpatialNode {
public:
    const SpatialNode* parent;
    Spatial spatial;

    explicit SpatialNode(const SpatialNode* parent = nullptr) : parent(parent) {}
    virtual ~SpatialNode() = default;

    // The placement in the world, composed as rigid motions up the whole parent chain. The size
    // is never inherited.
    Spatial GetDerivedSpatial() const;
};

class Camera : public SpatialNode {
public:
    float fieldOfView = 0.78539819f;

    Camera() : SpatialNode(nullptr) {}
    ~Camera() override = default;
};

// Maps a world placement into pixels relative to the viewport's top-left corner: the camera's
// position lands on the viewport's centre and the viewport spans tan(fov / 2) * depth world
// units vertically.
Spatial WorldToScreenSpatial(const Spatial& spatial, const Viewport& viewport, const Camera& camera);

} // namespace orvo

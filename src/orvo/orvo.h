// The engine's application layer: start-up and shutdown, the fixed-step main loop with its game
// states, and sprites that draw textures in screen space or through a camera.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <SDL.h>

#include "orvo/utils.h"
#include "orvo/vector2.h"

namespace orvo {

// Opens the 1280 x 720 window with a vsynced renderer; stops the program if that fails.
void Init();
// Closes the image loader, the renderer, the window and SDL.
void Exit();

class Game;

// One state of the game: receives the keys, the fixed physics steps and the frames to draw.
class State {
public:
    Game* game;

    explicit State(Game* game) : game(game) {}
    virtual ~State() = default;

    virtual void OnActivate() = 0;
    virtual void OnDeactivate() = 0;
    virtual void OnKeyDown(SDL_Keysym keysym) = 0;
    virtual void OnKeyUp(SDL_Keysym keysym) = 0;
    virtual void OnStepPhysicsTime() = 0;
    virtual void OnStepGraphicsTime() = 0;

    // Game controllers, for the states that use them. A controller's instance id stays the same
    // while it is plugged in; once removed, it sends nothing more, and nothing it held is released
    // by events of its own.
    virtual void OnControllerButtonDown(SDL_ControllerButtonEvent event) { (void)event; }
    virtual void OnControllerButtonUp(SDL_ControllerButtonEvent event) { (void)event; }
    virtual void OnControllerAxisMotion(SDL_ControllerAxisEvent event) { (void)event; }
    virtual void OnControllerRemoved(SDL_JoystickID controller) { (void)controller; }

    // Touch screens, for the states that use them. A finger is named by its device and its id; its
    // position (x, y in [0, 1]) is normalised to the picture SDL draws, and a finger over the bars
    // around the picture is put on its edge. Between down and up it may move anywhere. When touches
    // are cancelled (the window lost the focus), every finger down so far is gone: it sends nothing
    // more until it touches again.
    virtual void OnFingerDown(SDL_TouchFingerEvent event) { (void)event; }
    virtual void OnFingerMotion(SDL_TouchFingerEvent event) { (void)event; }
    virtual void OnFingerUp(SDL_TouchFingerEvent event) { (void)event; }
    virtual void OnTouchesCancelled() {}
};

// The number of physics steps the loop must still run so that, at `frameStart`, exactly
// (frameStart - startTicks) / physicsStepMs steps have run since the loop began.
int64_t CountDuePhysicsSteps(uint64_t frameStart, uint64_t startTicks, int physicsStepMs, int64_t stepCount);

// The largest centred rectangle of width/height ratio `aspect` inside a window of the given
// size. Only the axis that gets bars changes; the other keeps its values from `viewport`.
Viewport FitViewport(const Viewport& viewport, int windowWidth, int windowHeight, float aspect);

// The application object: owns the timing of the main loop and the render viewport.
class Game {
public:
    State* state = nullptr; // not owned
    int frameMs;
    int physicsStepMs; // > 0
    // 64 bits so that neither the tick difference nor the step count wraps in a long session.
    int64_t stepCount = 0;
    uint64_t startTicks = 0;
    Viewport viewport;

    Game(int frameMs, int physicsStepMs);
    virtual ~Game() = default;

    // Deactivates the current state (if any), installs `newState` and activates it. The previous
    // state stays alive; its creator deletes it.
    void SetState(State* newState);
    void SetMaximizedViewport(float aspect);
    // Runs frames until Escape, F12, a controller's Back button, a window close request, SIGINT or
    // SIGTERM, then calls `end` (when given), which may delete the game; after a signal the
    // process then ends by it (see CatchEndingSignals). The physics clock is absolute, so a
    // slow frame is followed by its catch-up steps. In the browser the frames run one per display
    // frame after Run() has handed control back to the page, so code after Run() never runs there:
    // the teardown belongs in `end`. A hidden page runs no frames and, shown again, carries on
    // where it was without catching up the time it was hidden.
    void Run(std::function<void()> end = nullptr);
    // The two halves of a frame. UpdateFrame clears the picture, hands every queued event to the
    // state and runs the physics steps due at `frameStart`; true when an event asked to quit.
    // PresentFrame draws the state and shows the picture.
    bool UpdateFrame(uint64_t frameStart);
    void PresentFrame();
    // Hands one event to the state; F11 and Alt+Enter switch full screen, controllers are opened as
    // they are plugged in, and losing the window's focus cancels the touches. True when the event
    // asks the game to quit.
    bool HandleEvent(const SDL_Event& event);
    void StepPhysicsTime();
    void StepGraphicsTime();
};

// How many texture pixels of each side of an image are its frame: the corners are the
// rectangles where two of them meet, the edges lie between the corners, and the rest is the middle.
struct NineSliceInsets {
    int left;
    int top;
    int right;
    int bottom;
};

// A scene node that owns a texture and draws it as a rotated rectangle about its centre.
class Sprite : public SpatialNode {
public:
    SDL_Texture* texture = nullptr; // owned
    SDL_RendererFlip flip = SDL_FLIP_NONE;

    explicit Sprite(const SpatialNode* parent);
    ~Sprite() override;
    // A copy would destroy the texture a second time.
    Sprite(const Sprite&) = delete;
    Sprite& operator=(const Sprite&) = delete;

    // Loads the texture and sets the size to its pixel size.
    void LoadFile(const std::string& path, e_FilterMode mode);
    // The derived placement taken as pixels inside the viewport; the rectangle is truncated.
    void Draw() const;
    // The derived placement mapped through `camera`; the rectangle is rounded outward.
    void Draw(const Viewport& viewport, const Camera& camera) const;
    // The texture as a frame in the rectangle that Draw() fills, unturned and unflipped: the
    // corners at `cornerScale` times their texture size, the edges stretched between them, the
    // middle left undrawn, which saves filling it when it is transparent. Each piece keeps the
    // texture coordinates it has in the whole image, so where the rectangle is the texture's size
    // times `cornerScale` the picture is the whole image's, less its middle.
    void DrawNineSlice(const NineSliceInsets& insets, float cornerScale) const;
    void SetAlpha(int alpha);
    void SetFlip(SDL_RendererFlip newFlip);

    // The destination rectangles the two Draw overloads hand to SDL for a placement in pixels.
    static SDL_Rect ScreenRect(const Spatial& screen);
    static SDL_Rect WorldRect(const Spatial& mapped);

private:
    void DrawAt(const SDL_Rect& destination, float rotation) const;
};

} // namespace orvo

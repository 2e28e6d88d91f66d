// Engine start-up and shutdown, the fixed-step main loop, and sprite drawing.
#include "orvo/orvo.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "orvo/draw.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#include <emscripten/html5.h>
#endif

// The checks below guard preconditions in every build type.
#undef NDEBUG
#include <cassert>

namespace orvo {

void Init()
{
    CatchEndingSignals();
    const int retCode = InitSDL(1280, 720, true);
    // A failed assertion ends the process without flushing stdout, where InitSDL printed its error.
    std::fflush(stdout);
    assert(retCode == 0);
}

void Exit() { ExitSDL(); }

// ---------------------------------------------------------------------------------------------
// Game loop

int64_t CountDuePhysicsSteps(uint64_t frameStart, uint64_t startTicks, int physicsStepMs, int64_t stepCount)
{
    const int64_t elapsedMs = static_cast<int64_t>(frameStart - startTicks);
    const int64_t due = elapsedMs / physicsStepMs - stepCount;
    return due < 0 ? 0 : due;
}

Viewport FitViewport(const Viewport& viewport, int windowWidth, int windowHeight, float aspect)
{
    Viewport fitted = viewport;
    const double ratio = static_cast<double>(windowWidth) / windowHeight / aspect;
    // The comparison uses the exact ratio, the margin the ratio rounded to float; the odd pixel
    // of an odd margin goes to the right or bottom bar.
    if (ratio > 1.0) {
        const float ratioFloat = static_cast<float>(ratio);
        const int margin = static_cast<int>(windowWidth - windowWidth / ratioFloat);
        fitted.x = margin / 2;
        fitted.w = windowWidth - margin;
    } else if (ratio < 1.0) {
        const float ratioFloat = static_cast<float>(ratio);
        const int margin = static_cast<int>(windowHeight - windowHeight * ratioFloat);
        fitted.y = margin / 2;
        fitted.h = windowHeight - margin;
    }
    return fitted;
}

Game::Game(int frameMs, int physicsStepMs)
    : frameMs(frameMs), physicsStepMs(physicsStepMs), viewport{0, 0, GetContextWidth(), GetContextHeight()}
{
}

void Game::SetState(State* newState)
{
    if (state != nullptr) {
        state->OnDeactivate();
    }
    state = newState;
    if (state != nullptr) {
        state->OnActivate();
    }
}

void Game::SetMaximizedViewport(float aspect)
{
    viewport = FitViewport(viewport, GetContextWidth(), GetContextHeight(), aspect);
    // SDL keeps a picture of the viewport's size fitted and centred in the window, whatever size
    // the window takes. In a window of the context's size that is exactly the viewport above, at
    // scale 1; in full screen it is the same picture scaled, with bars where the aspects differ.
    SDL_RenderSetLogicalSize(GetSDLRenderer(), viewport.w, viewport.h);
}

bool Game::UpdateFrame(uint64_t frameStart)
{
    SDL_RenderClear(GetSDLRenderer());

    // The whole queue is drained even after a quit request; the frame still completes.
    bool quit = false;
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        if (HandleEvent(event)) {
            quit = true;
        }
    }

    // The clock is the frame's start, read before the events were handled.
    for (int64_t due = CountDuePhysicsSteps(frameStart, startTicks, physicsStepMs, stepCount); due > 0; --due) {
        StepPhysicsTime();
        ++stepCount;
    }
    return quit;
}

void Game::PresentFrame()
{
    StepGraphicsTime();
    SDL_RenderPresent(GetSDLRenderer());
}

#ifndef __EMSCRIPTEN__

void Game::Run(std::function<void()> end)
{
    uint64_t frameStart = SDL_GetTicks64();
    startTicks = frameStart;

    // From here an ending signal waits for this loop, which ends the game in order.
    StartTakingEndingSignals();
    bool quit = false;
    while (!quit) {
        quit = UpdateFrame(frameStart) || EndingSignalPending();

        const int64_t remaining = frameMs - static_cast<int64_t>(SDL_GetTicks64() - frameStart);
        if (remaining > 0) {
            SDL_Delay(static_cast<Uint32>(remaining));
        }

        PresentFrame();
        frameStart = SDL_GetTicks64();
    }
    // A signal that comes during the teardown ends the process at once; one that came before it
    // ends it once the teardown is done.
    const int endingSignal = StopTakingEndingSignals();
    if (end) {
        end();
    }
    EndBySignal(endingSignal);
}

#else

// In the browser the page owns the thread: the game runs one frame per display frame
// (requestAnimationFrame), the display's own pace, so there is no waiting within a frame.
namespace {

struct BrowserLoop {
    Game* game = nullptr;
    std::function<void()> end;
    bool hidden = false;
    uint64_t hiddenSince = 0;
    double frames = 0;
} browserLoop;

// A hidden page gets no frames. Its clock is moved on by the time it was hidden, so that when it
// is shown again the physics carries on from where it stopped instead of running every missed step
// in one burst.
EM_BOOL OnVisibilityChange(int, const EmscriptenVisibilityChangeEvent* event, void*)
{
    const uint64_t now = SDL_GetTicks64();
    if (event->hidden && !browserLoop.hidden) {
        browserLoop.hidden = true;
        browserLoop.hiddenSince = now;
    } else if (!event->hidden && browserLoop.hidden) {
        browserLoop.hidden = false;
        browserLoop.game->startTicks += now - browserLoop.hiddenSince;
    }
    return EM_FALSE;
}

void BrowserFrame()
{
    // Some browsers still run the odd frame of a hidden page; it waits until shown.
    if (browserLoop.hidden) {
        return;
    }
    Game* game = browserLoop.game;
    const bool quit = game->UpdateFrame(SDL_GetTicks64());
    game->PresentFrame();
    browserLoop.frames += 1;
    if (!quit) {
        return;
    }
    emscripten_cancel_main_loop();
    emscripten_set_visibilitychange_callback(nullptr, EM_FALSE, nullptr);
    browserLoop.game = nullptr;
    const std::function<void()> end = std::move(browserLoop.end);
    if (end) {
        end();
    }
    // The page says that the game has ended and how to play again.
    emscripten_run_script("if (Module.onGameEnded) Module.onGameEnded();");
}

} // namespace

void Game::Run(std::function<void()> end)
{
    startTicks = SDL_GetTicks64();
    browserLoop.game = this;
    browserLoop.end = std::move(end);
    emscripten_set_visibilitychange_callback(nullptr, EM_FALSE, OnVisibilityChange);
    // Timing 0: one call per animation frame. Never returns: control goes back to the page.
    emscripten_set_main_loop(BrowserFrame, 0, 1);
}

// Read by the page's tests: the physics steps and the frames run so far, and the keys held.
extern "C" EMSCRIPTEN_KEEPALIVE double orvo_physics_steps()
{
    return browserLoop.game != nullptr ? static_cast<double>(browserLoop.game->stepCount) : -1.0;
}
extern "C" EMSCRIPTEN_KEEPALIVE double orvo_frames() { return browserLoop.frames; }
extern "C" EMSCRIPTEN_KEEPALIVE int orvo_keys_held()
{
    int count = 0;
    int keys = 0;
    const Uint8* state = SDL_GetKeyboardState(&keys);
    for (int key = 0; key < keys; ++key) {
        count += state[key];
    }
    return count;
}

#endif

namespace {

bool IsFullScreenKey(const SDL_KeyboardEvent& key)
{
    const bool enter = key.keysym.sym == SDLK_RETURN || key.keysym.sym == SDLK_KP_ENTER;
    // A held key repeats; the screen switches once per press.
    return key.repeat == 0 && (key.keysym.sym == SDLK_F11 || (enter && (key.keysym.mod & KMOD_ALT) != 0));
}

} // namespace

bool Game::HandleEvent(const SDL_Event& event)
{
    switch (event.type) {
    case SDL_KEYDOWN:
        if (state != nullptr) {
            state->OnKeyDown(event.key.keysym);
        }
        if (IsFullScreenKey(event.key)) {
            ToggleFullScreen();
        }
        return event.key.keysym.sym == SDLK_ESCAPE || event.key.keysym.sym == SDLK_F12;
    case SDL_KEYUP:
        if (state != nullptr) {
            state->OnKeyUp(event.key.keysym);
        }
        return false;
    case SDL_CONTROLLERDEVICEADDED:
        // Here `which` is the device index; every later event names the instance id.
        SDL_GameControllerOpen(event.cdevice.which);
        return false;
    case SDL_CONTROLLERDEVICEREMOVED:
        SDL_GameControllerClose(SDL_GameControllerFromInstanceID(event.cdevice.which));
        if (state != nullptr) {
            state->OnControllerRemoved(event.cdevice.which);
        }
        return false;
    case SDL_CONTROLLERBUTTONDOWN:
        if (state != nullptr) {
            state->OnControllerButtonDown(event.cbutton);
        }
        return event.cbutton.button == SDL_CONTROLLER_BUTTON_BACK;
    case SDL_CONTROLLERBUTTONUP:
        if (state != nullptr) {
            state->OnControllerButtonUp(event.cbutton);
        }
        return false;
    case SDL_CONTROLLERAXISMOTION:
        if (state != nullptr) {
            state->OnControllerAxisMotion(event.caxis);
        }
        return false;
    case SDL_FINGERDOWN:
        if (state != nullptr) {
            state->OnFingerDown(event.tfinger);
        }
        return false;
    case SDL_FINGERMOTION:
        if (state != nullptr) {
            state->OnFingerMotion(event.tfinger);
        }
        return false;
    case SDL_FINGERUP:
        if (state != nullptr) {
            state->OnFingerUp(event.tfinger);
        }
        return false;
    case SDL_WINDOWEVENT:
        // SDL releases the keys itself when the focus goes, but not the fingers: the up of a touch
        // that the system took over (a swipe into another app, a dialog) may never come.
        if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST && state != nullptr) {
            state->OnTouchesCancelled();
        }
        return false;
    case SDL_QUIT:
        return true;
    default:
        return false;
    }
}

void Game::StepPhysicsTime()
{
    if (state != nullptr) {
        state->OnStepPhysicsTime();
    }
}

void Game::StepGraphicsTime()
{
    if (state != nullptr) {
        state->OnStepGraphicsTime();
    }
}

// ---------------------------------------------------------------------------------------------
// Sprites

Sprite::Sprite(const SpatialNode* parent) : SpatialNode(parent) {}

Sprite::~Sprite()
{
    if (texture != nullptr) {
        SDL_DestroyTexture(texture);
    }
}

void Sprite::LoadFile(const std::string& path, e_FilterMode mode)
{
    if (texture != nullptr) {
        SDL_DestroyTexture(texture);
        texture = nullptr;
    }
    texture = LoadSDLTexture(path, mode);
    int width = 0;
    int height = 0;
    SDL_QueryTexture(texture, nullptr, nullptr, &width, &height);
    spatial.size = Vector2(static_cast<float>(width), static_cast<float>(height));
}

SDL_Rect Sprite::ScreenRect(const Spatial& screen)
{
    return SDL_Rect{static_cast<int>(screen.position.x - screen.size.x * 0.5f),
                    static_cast<int>(screen.position.y - screen.size.y * 0.5f), static_cast<int>(screen.size.x),
                    static_cast<int>(screen.size.y)};
}

SDL_Rect Sprite::WorldRect(const Spatial& mapped)
{
    return SDL_Rect{static_cast<int>(std::floor(mapped.position.x - mapped.size.x * 0.5f)),
                    static_cast<int>(std::floor(mapped.position.y - mapped.size.y * 0.5f)),
                    static_cast<int>(std::ceil(mapped.size.x)), static_cast<int>(std::ceil(mapped.size.y))};
}

void Sprite::Draw() const
{
    const Spatial screen = GetDerivedSpatial();
    DrawAt(ScreenRect(screen), screen.rotation);
}

void Sprite::Draw(const Viewport& viewport, const Camera& camera) const
{
    const Spatial mapped = WorldToScreenSpatial(GetDerivedSpatial(), viewport, camera);
    DrawAt(WorldRect(mapped), mapped.rotation);
}

void Sprite::DrawAt(const SDL_Rect& destination, float rotation) const
{
    const float degrees = rotation / 3.1415927f * 180.0f;
    CountDrawCall();
    SDL_RenderCopyEx(GetSDLRenderer(), texture, nullptr, &destination, degrees, nullptr, flip);
}

void Sprite::DrawNineSlice(const NineSliceInsets& insets, float cornerScale) const
{
    int width = 0;
    int height = 0;
    SDL_QueryTexture(texture, nullptr, nullptr, &width, &height);
    assert(insets.left >= 0 && insets.right >= 0 && insets.left + insets.right <= width);
    assert(insets.top >= 0 && insets.bottom >= 0 && insets.top + insets.bottom <= height);
    const SDL_Rect destination = ScreenRect(GetDerivedSpatial());

    // The three columns and rows of pieces, as edges in the texture and in the destination.
    const int sourceX[4] = {0, insets.left, width - insets.right, width};
    const int sourceY[4] = {0, insets.top, height - insets.bottom, height};
    const float left = static_cast<float>(destination.x);
    const float top = static_cast<float>(destination.y);
    const float right = left + static_cast<float>(destination.w);
    const float bottom = top + static_cast<float>(destination.h);
    const float x[4] = {left, left + insets.left * cornerScale, right - insets.right * cornerScale, right};
    const float y[4] = {top, top + insets.top * cornerScale, bottom - insets.bottom * cornerScale, bottom};

    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const SDL_Rect piece{sourceX[column], sourceY[row], sourceX[column + 1] - sourceX[column],
                                 sourceY[row + 1] - sourceY[row]};
            if ((row == 1 && column == 1) || piece.w <= 0 || piece.h <= 0) {
                continue;
            }
            const SDL_FRect area{x[column], y[row], x[column + 1] - x[column], y[row + 1] - y[row]};
            SDL_RenderCopyF(GetSDLRenderer(), texture, &piece, &area);
        }
    }
}

void Sprite::SetAlpha(int alpha) { SDL_SetTextureAlphaMod(texture, static_cast<Uint8>(alpha)); }

void Sprite::SetFlip(SDL_RendererFlip newFlip) { flip = newFlip; }

} // namespace orvo

// Platform layer over SDL, scalar maths and the scene-node placement and screen mapping.
#include "orvo/utils.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include <SDL_image.h>

// The checks below guard preconditions in every build type.
#undef NDEBUG
#include <cassert>

namespace orvo {

SDL_Window* _SDLWindow = nullptr;
SDL_Renderer* _SDLRenderer = nullptr;
int _contextWidth = 0;
int _contextHeight = 0;

// ---------------------------------------------------------------------------------------------
// Platform layer

SDL_Point ChooseWindowPosition(int width, int height, const SDL_Rect* usableBounds, int displayCount)
{
    const SDL_Rect window{1376, 140, width, height};
    for (int i = 0; i < displayCount; ++i) {
        const SDL_Rect& area = usableBounds[i];
        if (window.x >= area.x && window.y >= area.y && window.x + window.w <= area.x + area.w &&
            window.y + window.h <= area.y + area.h) {
            return SDL_Point{window.x, window.y};
        }
    }
    return SDL_Point{static_cast<int>(SDL_WINDOWPOS_CENTERED_DISPLAY(0)),
                     static_cast<int>(SDL_WINDOWPOS_CENTERED_DISPLAY(0))};
}

namespace {

#ifndef __EMSCRIPTEN__
// What an ending signal meets: kNoLoop outside the main loop, else the signal that the loop has
// still to act on (0: none yet). One atomic, so that the handler, on whichever thread the signal
// lands, and the loop closing itself cannot both let a signal pass unseen.
constexpr int kNoLoop = -1;
std::atomic<int> loopSignal{kNoLoop};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch lock-free atomics");

void EndNowBy(int number)
{
    std::signal(number, SIG_DFL);
    std::raise(number); // from a handler: delivered as it returns
}

extern "C" void OnEndingSignal(int number)
{
    int none = 0;
    if (loopSignal.compare_exchange_strong(none, number) || none > 0) {
        return; // the loop ends the game, then the process by the signal
    }
    // No loop to hand it to (start-up, teardown): end now, as the signal's own default would.
    EndNowBy(number);
}
#endif

// SDL falls back to these when no display answers: the game would run on unseen, with no way to
// press a key. They are fine when asked for by name, as headless tests do.
bool RunsWithoutADisplay()
{
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    const bool invisible =
        driver != nullptr && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0);
    return invisible && (requested == nullptr || requested[0] == '\0');
}

#ifdef __EMSCRIPTEN__
// In the browser the window is the page's canvas, there at once, and the page has no threads to
// watch with: nothing to guard.
class StartUpGuard {
public:
    void Step(const char* name) { (void)name; }
};
#else
// SDL shows a new window on X11 by waiting, with no time limit, for the X server to report it
// mapped; a window manager that never maps it (openbox does so to a window mapped while it is
// still starting) would leave the game waiting unseen for ever. While it lives, this guard gives
// the window and its renderer kStartUpSeconds to come up, then says so on stdout and stops the
// program as a failed start-up does. SIGINT and SIGTERM end the wait at once, as at any moment
// outside the main loop (see CatchEndingSignals).
class StartUpGuard {
public:
    StartUpGuard() = default;

    ~StartUpGuard()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            up = true;
        }
        cv.notify_one();
        if (watchdog.joinable()) {
            watchdog.join();
        }
    }

    StartUpGuard(const StartUpGuard&) = delete;
    StartUpGuard& operator=(const StartUpGuard&) = delete;

    // The SDL call that the start-up is in, for the message.
    void Step(const char* name)
    {
        std::lock_guard<std::mutex> lock(mutex);
        step = name;
    }

private:
    static constexpr int kStartUpSeconds = 30;

    void Watch()
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!cv.wait_for(lock, std::chrono::seconds(kStartUpSeconds), [this] { return up; })) {
            std::printf("%s error: the window was not shown within %d seconds (no window manager mapped it)", step,
                        kStartUpSeconds);
            std::fflush(stdout);
        }
        assert(up);
    }

    std::mutex mutex;
    std::condition_variable cv;
    bool up = false;
    const char* step = "SDL_CreateWindow";
    std::thread watchdog{&StartUpGuard::Watch, this};
};
#endif

SDL_Point ChooseWindowPositionOnTheseDisplays(int width, int height)
{
    std::vector<SDL_Rect> usableBounds;
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
        SDL_Rect area;
        if (SDL_GetDisplayUsableBounds(i, &area) == 0) {
            usableBounds.push_back(area);
        }
    }
    return ChooseWindowPosition(width, height, usableBounds.data(), static_cast<int>(usableBounds.size()));
}

// Opens the window and its renderer: nullptr on success, otherwise the SDL call that failed.
const char* OpenWindowAndRenderer(int width, int height, bool vsync)
{
    const SDL_Point position = ChooseWindowPositionOnTheseDisplays(width, height);
    // Both calls wait for the window to be shown: the renderer replaces the first window.
    StartUpGuard guard;
    _SDLWindow = SDL_CreateWindow("Orvo game", position.x, position.y, width, height, SDL_WINDOW_SHOWN);
    if (_SDLWindow == nullptr) {
        return "SDL_CreateWindow";
    }
    guard.Step("SDL_CreateRenderer");
    const Uint32 flags = vsync ? (SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC) : SDL_RENDERER_ACCELERATED;
    _SDLRenderer = SDL_CreateRenderer(_SDLWindow, -1, flags);
    if (_SDLRenderer == nullptr) {
        SDL_DestroyWindow(_SDLWindow);
        return "SDL_CreateRenderer";
    }
    return nullptr;
}

// The open audio device (0: none) and the game's source, which the audio thread reads only
// inside SDL's callback, under the device's lock.
SDL_AudioDeviceID audioDevice = 0;
AudioSource audioSource = nullptr;
void* audioContext = nullptr;

void FillAudioBuffer(void* userdata, Uint8* stream, int length)
{
    (void)userdata;
    const int frames = length / static_cast<int>(sizeof(float) * kAudioChannels);
    if (audioSource == nullptr) {
        SDL_memset(stream, 0, static_cast<size_t>(length));
        return;
    }
    audioSource(audioContext, reinterpret_cast<float*>(stream), frames);
}

// Sound is optional: on any failure the game says why, once, and plays on silently. A driver
// named in SDL_AUDIODRIVER is the only one SDL tries.
void OpenAudioDevice()
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "No sound: SDL's audio did not start (%s); playing on silently\n", SDL_GetError());
        return;
    }
    SDL_AudioSpec wanted;
    SDL_zero(wanted);
    wanted.freq = kAudioRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = kAudioChannels;
    wanted.samples = kAudioBufferFrames;
    wanted.callback = FillAudioBuffer;
    // No changes allowed: whatever the device wants, SDL converts this format to it, so the
    // source always fills the buffers it was promised.
    SDL_AudioSpec obtained;
    audioDevice = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (audioDevice == 0) {
        std::fprintf(stderr, "No sound: no audio device could be opened (%s); playing on silently\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    SDL_PauseAudioDevice(audioDevice, 0);
}

void CloseAudioDevice()
{
    if (audioDevice != 0) {
        // Returns once the audio thread has stopped: no callback runs after this.
        SDL_CloseAudioDevice(audioDevice);
        audioDevice = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

} // namespace

void SetAudioSource(AudioSource source, void* context)
{
    if (audioDevice != 0) {
        SDL_LockAudioDevice(audioDevice);
    }
    audioSource = source;
    audioContext = context;
    if (audioDevice != 0) {
        SDL_UnlockAudioDevice(audioDevice);
    }
}

void CatchEndingSignals()
{
#ifndef __EMSCRIPTEN__
    // SDL would otherwise put its own handlers in, which only queue a quit event: lost while the
    // start-up waits inside SDL, and a different ending than the one promised.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    struct sigaction ending = {};
    ending.sa_handler = OnEndingSignal;
    sigemptyset(&ending.sa_mask);
    ending.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM}) {
        // A signal that the parent made ignored (SIGINT of a background job) stays ignored.
        struct sigaction current = {};
        if (sigaction(number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaction(number, &ending, nullptr);
        }
    }
#endif
}

void StartTakingEndingSignals()
{
#ifndef __EMSCRIPTEN__
    loopSignal.store(0);
#endif
}

bool EndingSignalPending()
{
#ifndef __EMSCRIPTEN__
    return loopSignal.load() > 0;
#else
    return false;
#endif
}

int StopTakingEndingSignals()
{
#ifndef __EMSCRIPTEN__
    const int number = loopSignal.exchange(kNoLoop);
    return number > 0 ? number : 0;
#else
    return 0;
#endif
}

void EndBySignal(int number)
{
#ifndef __EMSCRIPTEN__
    if (number > 0) {
        EndNowBy(number);
    }
#else
    (void)number;
#endif
}

int InitSDL(int width, int height, bool vsync)
{
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::printf("SDL_Init error: %s", SDL_GetError());
        return 1;
    }
    if (RunsWithoutADisplay()) {
        std::printf("SDL_Init error: no display was found (SDL fell back to its \"%s\" video driver, which shows "
                    "nothing); run the game on a desktop, or set DISPLAY",
                    SDL_GetCurrentVideoDriver());
        SDL_Quit();
        return 1;
    }
    // Controllers are optional: without them the game runs on the keyboard.
    SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);

    if (const char* failed = OpenWindowAndRenderer(width, height, vsync)) {
        std::printf("%s error: %s", failed, SDL_GetError());
        SDL_Quit();
        return 1;
    }
    _contextWidth = width;
    _contextHeight = height;

    // The picture keeps the context's size in every window size: in full screen SDL scales it.
    SDL_RenderSetLogicalSize(_SDLRenderer, width, height);

    // Formats that fail to initialise show up as a failed load of the first such file.
    IMG_Init(IMG_INIT_JPG | IMG_INIT_PNG);

    OpenAudioDevice();
    return 0;
}

void ToggleFullScreen()
{
#ifdef __EMSCRIPTEN__
    // A browser grants full screen only inside the key's own event handler, which the page has and
    // the frame that sees the key later has not: there the page switches it.
#else
    const bool fullScreen = (SDL_GetWindowFlags(_SDLWindow) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    SDL_SetWindowFullscreen(_SDLWindow, fullScreen ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
#endif
}

int ExitSDL()
{
    // Opened after the window, closed before it.
    CloseAudioDevice();
    IMG_Quit();
    SDL_DestroyRenderer(_SDLRenderer);
    SDL_DestroyWindow(_SDLWindow);
    SDL_Quit();
    return 0;
}

SDL_Window* GetSDLWindow() { return _SDLWindow; }
SDL_Renderer* GetSDLRenderer() { return _SDLRenderer; }
int GetContextWidth() { return _contextWidth; }
int GetContextHeight() { return _contextHeight; }

const char* GetScaleQualityHint(e_FilterMode mode)
{
    switch (mode) {
    case FILTER_LINEAR:
        return "1";
    case FILTER_BEST:
        return "2";
    default:
        return "0";
    }
}

namespace {

namespace fs = std::filesystem;

// The installed data folder: ORVO_DATA_SUBDIR, relative to the folder that holds the executable,
// so that an install tree moved as a whole still finds its files. Empty if SDL cannot tell where
// the executable is.
fs::path InstalledDataFolder()
{
    char* base = SDL_GetBasePath();
    if (base == nullptr) {
        return {};
    }
    const fs::path folder = (fs::path(base) / ORVO_DATA_SUBDIR).lexically_normal();
    SDL_free(base);
    return folder;
}

} // namespace

SDL_Texture* LoadSDLTexture(const std::string& path, e_FilterMode mode)
{
    // A relative path is read from the working directory whenever its folder is there, as when
    // the game runs from the project root; a game started from anywhere else reads the same
    // relative path from its installed data folder.
    const fs::path given(path);
    const fs::path folder = given.parent_path();
    fs::path dataFolder;
    std::string file = path;
    std::error_code error;
    if (given.is_relative() && !folder.empty() && !fs::is_directory(folder, error)) {
        dataFolder = InstalledDataFolder();
        file = (dataFolder / given).string();
    }

    SDL_Surface* surface = IMG_Load(file.c_str());
    if (surface == nullptr) {
        // Say which file it was, and where it was looked for, before the assertion ends the program.
        const fs::path cwd = fs::current_path(error);
        std::fprintf(stderr, "Cannot load image \"%s\" (working directory %s): %s\n", path.c_str(), cwd.c_str(),
                     IMG_GetError());
        if (file != path) {
            std::fprintf(stderr, "Looked in %s (no such folder) and in %s (the installed data folder)\n",
                         (cwd / folder).c_str(), (dataFolder / folder).c_str());
        }
    }
    assert(surface != nullptr);

    // The hint is global and read when a texture is created, so each load sets its own.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, GetScaleQualityHint(mode));
    SDL_Texture* texture = SDL_CreateTextureFromSurface(_SDLRenderer, surface);
    SDL_FreeSurface(surface);
    if (texture == nullptr) {
        // For instance an image larger than the renderer's largest texture.
        std::fprintf(stderr, "Cannot create a texture from image \"%s\": %s\n", file.c_str(), SDL_GetError());
    }
    assert(texture != nullptr);
    return texture;
}

// ---------------------------------------------------------------------------------------------
// Scalar maths

float ModulateIntoRange(float value, float min, float max)
{
    const float width = max - min;
    if (!(width > 0.0f)) {
        return value; // an empty or reversed range has nothing to wrap into
    }

    // Whole steps of the width, as the heading is wrapped every physics step. Values a few widths
    // outside come out exactly as from an unbounded walk; the bound keeps far or infinite values,
    // and widths too small to move the value, from walking forever.
    constexpr int kMaxSteps = 64;
    const float original = value;
    for (int step = 0; value < min && step < kMaxSteps; ++step) {
        value += width;
    }
    for (int step = 0; value > max && step < kMaxSteps; ++step) {
        value -= width;
    }
    if (!(value < min || value > max)) {
        return value; // in range, or NaN
    }

    // Still outside: take the exact remainder of the original value instead (NaN for an infinite
    // one). Each remainder is exact; subtracting min first would lose min in the rounding of a
    // large value and shift the result by its offset from a multiple of the width.
    const double exactWidth = width;
    double offset = std::fmod(std::fmod(static_cast<double>(original), exactWidth) -
                                  std::fmod(static_cast<double>(min), exactWidth),
                              exactWidth);
    if (offset < 0.0) {
        offset += exactWidth;
    }
    const float wrapped = static_cast<float>(min + offset);
    return wrapped > max ? max : (wrapped < min ? min : wrapped);
}

float Clamp(float value, float min, float max)
{
    assert(max >= min);
    if (value < min) {
        return min;
    }
    if (value > max) {
        return max;
    }
    return value;
}

float NormalizedClamp(float value, float min, float max)
{
    assert(max > min);
    float clamped = value;
    if (clamped < min) {
        clamped = min;
    }
    if (clamped > max) {
        clamped = max;
    }
    return (clamped - min) / (max - min);
}

float Curve(float value, float amount)
{
    const double s = std::sin(static_cast<double>((value - 0.5f) * 3.1415927f));
    return static_cast<float>(amount * (0.5 * s + 0.5) + (1.0f - amount) * value);
}

int SignSide(float value) { return value >= 0.0f ? 1 : -1; }

// ---------------------------------------------------------------------------------------------
// Scene nodes and screen mapping

Spatial SpatialNode::GetDerivedSpatial() const
{
    Spatial derived = spatial;
    if (parent == nullptr) {
        return derived;
    }
    const Spatial parentSpatial = parent->GetDerivedSpatial();
    derived.position = spatial.position.GetRotated(parentSpatial.rotation) + parentSpatial.position;
    derived.depth = spatial.depth + parentSpatial.depth;
    derived.rotation = parentSpatial.rotation + spatial.rotation;
    return derived;
}

Spatial WorldToScreenSpatial(const Spatial& spatial, const Viewport& viewport, const Camera& camera)
{
    const float width = static_cast<float>(viewport.w);
    const float height = static_cast<float>(viewport.h);
    const float aspect = width / height;

    const Vector2 offset = spatial.position - camera.spatial.position;
    const Vector2 rotated = offset.GetRotated(-camera.spatial.rotation);
    const float viewHeight = static_cast<float>(std::tan(static_cast<double>(0.5f * camera.fieldOfView)) *
                                                (camera.spatial.depth + spatial.depth));

    // The centring (+ 0.5) and the scaling to pixels are done in double and rounded once, so that
    // a pixel position carries no extra rounding from the intermediate float.
    Spatial screen;
    screen.position.x = static_cast<float>((rotated.x / viewHeight * (1.0f / aspect) + 0.5) * viewport.w);
    screen.position.y = static_cast<float>((rotated.y / viewHeight + 0.5) * viewport.h);
    screen.depth = spatial.depth;
    screen.rotation = spatial.rotation - camera.spatial.rotation;
    screen.size.x = (width / aspect) * (spatial.size.x / viewHeight);
    screen.size.y = height * (spatial.size.y / viewHeight);
    return screen;
}

} // namespace orvo

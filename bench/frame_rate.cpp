// The desktop game's frame rate: the real main loop and race, driving up and right, for ten
// seconds on whatever display SDL opens (scripts/bench-web runs it under Xvfb), then the frames
// per second, for comparison with the browser build's, and the processor time the whole process
// (the renderer's threads included) spent per frame. Options: "parked" leaves the car standing;
// "full" switches to full screen first, where the picture is scaled to the screen; "--instruments"
// shows the instruments throughout.
#include <cstdio>
#include <cstring>

#include <sys/resource.h>

#include "orvo/orvo.h"
#include "race.h"
#include "race_instruments.h"

namespace {

constexpr Uint64 kMeasuredMs = 10000;

// The race, counting the frames it draws and asking to quit once the time is up.
class TimedRace : public RaceState {
public:
    using RaceState::RaceState;
    Uint64 start = SDL_GetTicks64();
    long frames = 0;

    void OnStepGraphicsTime() override
    {
        RaceState::OnStepGraphicsTime();
        ++frames;
        if (SDL_GetTicks64() - start >= kMeasuredMs) {
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
        }
    }
};

// User and system time of every thread of the process so far, in seconds.
double ProcessorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char* argv[])
{
    bool parked = false;
    bool fullScreen = false;
    bool instruments = false;
    for (int i = 1; i < argc; ++i) {
        parked = parked || std::strcmp(argv[i], "parked") == 0;
        fullScreen = fullScreen || std::strcmp(argv[i], "full") == 0;
        instruments = instruments || std::strcmp(argv[i], "--instruments") == 0;
    }
    orvo::Init();
    if (fullScreen) {
        orvo::ToggleFullScreen();
    }
    {
        orvo::Game game(8, 3);
        game.SetMaximizedViewport(1.777777f);
        TimedRace race(&game);
        race.keyUp = !parked;
        race.keyRight = !parked;
        race.instruments->shown = instruments;
        game.SetState(&race);
        const double processorStart = ProcessorSeconds();
        race.start = SDL_GetTicks64();
        game.Run();
        const double seconds = static_cast<double>(SDL_GetTicks64() - race.start) / 1000.0;
        const double processor = ProcessorSeconds() - processorStart;
        const double frames = static_cast<double>(race.frames);
        std::printf("desktop%s: %.1f frames per second\n", instruments ? " with the instruments" : "",
                    frames / seconds);
        int width = 0;
        int height = 0;
        SDL_GetWindowSize(orvo::GetSDLWindow(), &width, &height);
        SDL_RendererInfo renderer{};
        SDL_GetRendererInfo(orvo::GetSDLRenderer(), &renderer);
        std::printf("%s, window %d x %d, renderer %s: %.2f ms of processor time per frame, %.0f%% of a core\n",
                    parked ? "parked" : "driving", width, height, renderer.name, processor / frames * 1000.0,
                    processor / seconds * 100.0);
        game.SetState(nullptr);
    } // the race's textures go before the renderer
    orvo::Exit();
    return 0;
}

// The desktop game's frame rate: the real main loop and race, driving up and right, for ten
// seconds on whatever display SDL opens (scripts/bench-web runs it under Xvfb), then the frames
// per second, for comparison with the browser build's, and the process's CPU time per frame (the
// renderer's threads included). With --instruments, the instruments are shown throughout.
#include <cstdio>
#include <cstring>
#include <ctime>

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

} // namespace

int main(int argc, char* argv[])
{
    const bool instruments = argc > 1 && std::strcmp(argv[1], "--instruments") == 0;
    orvo::Init();
    {
        orvo::Game game(8, 3);
        game.SetMaximizedViewport(1.777777f);
        TimedRace race(&game);
        race.keyUp = true;
        race.keyRight = true;
        race.instruments->shown = instruments;
        game.SetState(&race);
        const std::clock_t cpuStart = std::clock();
        game.Run();
        const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const double seconds = static_cast<double>(SDL_GetTicks64() - race.start) / 1000.0;
        const double frames = static_cast<double>(race.frames);
        std::printf("desktop%s: %.1f frames per second, %.2f ms of CPU per frame\n",
                    instruments ? " with the instruments" : "", frames / seconds, cpuMs / frames);
        game.SetState(nullptr);
    } // the race's textures go before the renderer
    orvo::Exit();
    return 0;
}

// The desktop game's frame rate: the real main loop and race, driving up and right, for ten
// seconds on whatever display SDL opens (scripts/bench-web runs it under Xvfb), then the frames
// per second, for comparison with the browser build's.
#include <cstdio>

#include "orvo/orvo.h"
#include "race.h"

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
    (void)argc;
    (void)argv;
    orvo::Init();
    {
        orvo::Game game(8, 3);
        game.SetMaximizedViewport(1.777777f);
        TimedRace race(&game);
        race.keyUp = true;
        race.keyRight = true;
        game.SetState(&race);
        game.Run();
        const double seconds = static_cast<double>(SDL_GetTicks64() - race.start) / 1000.0;
        std::printf("desktop: %.1f frames per second\n", static_cast<double>(race.frames) / seconds);
        game.SetState(nullptr);
    } // the race's textures go before the renderer
    orvo::Exit();
    return 0;
}

// The program's entry: reads the options, starts the engine, runs the race until the user quits,
// and tears everything down in reverse order of creation. With --verify it re-simulates a replay
// with no window to see and no sound to hear, and says whether it matches its checkpoints.
#include <SDL.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orvo/orvo.h"
#include "race.h"
#include "race_control.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

#ifdef __EMSCRIPTEN__
// The page's handlers of a replay's end and of a file it cannot play, where it has them.
EM_JS(void, CallPageOnReplayEnded, (int ok, const char* hash, const char* text), {
    if (Module.onReplayEnded) {
        Module.onReplayEnded(ok, UTF8ToString(hash), UTF8ToString(text));
    }
});
EM_JS(void, CallPageOnReplayError, (const char* text), {
    if (Module.onReplayError) {
        Module.onReplayError(UTF8ToString(text));
    }
});
#endif

namespace {

const char* const kUsage =
    "Usage: orvo-game [OPTION]\n"
    "A top-down driving game. Without an option, you drive; F5 saves the drive so far.\n"
    "\n"
    "  --replay FILE   play the drive in FILE from its start, then drive on from its end\n"
    "  --ghost FILE    drive while a see-through car drives FILE beside you\n"
    "  --verify FILE   re-simulate FILE with no window and check every checkpoint; print the\n"
    "                  final state; exit 0 if all match, 1 if one differs, 2 if FILE is unreadable\n"
    "  --help          show this and exit\n";

enum class Mode { kLive, kReplay, kGhost, kVerify, kHelp };

// The race being played, for the browser's page; null before and after.
RaceState* playedRace = nullptr;

// "FILE: name (what is wrong)", the reason a file is not played; `systemError` is the errno that
// came with an unreadable file.
std::string DescribeUnreadable(const std::string& path, ReplayError error, int systemError)
{
    const std::string why = error == ReplayError::kUnreadable ? std::string(": ") + std::strerror(systemError) : "";
    return path + ": " + GetReplayErrorName(error) + " (" + DescribeReplayError(error) + why + ")";
}

// The final state to the last bit, then the verdict. 0 when every checkpoint matches, else 1.
int Verify(const Replay& replay)
{
    // A window nobody sees, drawn by software, and a sound device that plays nowhere.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_RENDER_DRIVER", "software", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    orvo::Init();
    int status = 0;
    {
        orvo::Game game(8, kReplayStepMs);
        RaceState race(&game);
        ReplayPlayback playback(replay);
        PlayWhole(playback, *race.car);
        const Car& car = *race.car;
        std::printf("steps: %llu\n", static_cast<unsigned long long>(replay.stepCount));
        std::printf("control changes: %llu\n", static_cast<unsigned long long>(replay.changeCount));
        std::printf("position: %a %a\n", static_cast<double>(car.body->spatial.position.x),
                    static_cast<double>(car.body->spatial.position.y));
        std::printf("heading: %a\n", static_cast<double>(car.body->spatial.rotation));
        std::printf("velocity: %a %a\n", static_cast<double>(car.velocity.x), static_cast<double>(car.velocity.y));
        std::printf("rate of turn: %a\n", static_cast<double>(car.angularVelocity));
        std::printf("state hash: %s\n", FormatStateHash(playback.finalHash).c_str());
        std::printf("%s\n", playback.Describe().c_str());
        if (!playback.Matches()) {
            std::printf("first differing checkpoint: step %lld\n", static_cast<long long>(playback.firstMismatchStep));
            status = 1;
        }
    }
    orvo::Exit();
    return status;
}

// Tells the page, if any, how a replay ended; the desktop has printed the same line.
void ReportReplayEnded(const ReplayPlayback& playback)
{
#ifdef __EMSCRIPTEN__
    CallPageOnReplayEnded(playback.Matches() ? 1 : 0, FormatStateHash(playback.finalHash).c_str(),
                          playback.Describe().c_str());
#else
    (void)playback;
#endif
}

void ReportReplayError(const std::string& text)
{
    (void)text;
#ifdef __EMSCRIPTEN__
    CallPageOnReplayError(text.c_str());
#endif
}

} // namespace

#ifdef __EMSCRIPTEN__
// For the page: saves the drive so far to `path` in the browser's file system; the bytes written,
// or -1 after saying why on stderr.
extern "C" EMSCRIPTEN_KEEPALIVE int orvo_replay_save(const char* path)
{
    if (playedRace == nullptr) {
        std::fprintf(stderr, "No drive to save: the game is not running\n");
        return -1;
    }
    std::string error;
    const long written = WriteReplayFile(playedRace->GetRecordedDrive(), path, error);
    if (written < 0) {
        std::fprintf(stderr, "Replay not saved: %s\n", error.c_str());
    }
    return static_cast<int>(written);
}

// 0 live, 1 a replay playing, 2 racing a ghost.
extern "C" EMSCRIPTEN_KEEPALIVE int orvo_mode() { return playedRace != nullptr ? playedRace->GetMode() : 0; }
#endif

// SDL's header renames this to SDL_main on the platforms whose real entry SDL supplies.
int main(int argc, char* argv[])
{
    Mode mode = Mode::kLive;
    std::string path;
    if (argc >= 2) {
        const std::string option = argv[1];
        const struct {
            const char* name;
            Mode mode;
        } options[] = {{"--replay", Mode::kReplay}, {"--ghost", Mode::kGhost}, {"--verify", Mode::kVerify}};
        if (option == "--help" || option == "-h") {
            mode = Mode::kHelp;
        }
        for (const auto& known : options) {
            if (option == known.name) {
                mode = known.mode;
            }
        }
        if (mode == Mode::kLive) {
            std::fprintf(stderr, "orvo-game: unknown option '%s' (see --help)\n", argv[1]);
            return 2;
        }
        const int wanted = mode == Mode::kHelp ? 2 : 3;
        if (argc < wanted) {
            std::fprintf(stderr, "orvo-game: %s needs a FILE (see --help)\n", argv[1]);
            return 2;
        }
        if (argc > wanted) {
            std::fprintf(stderr, "orvo-game: unexpected '%s' after %s (see --help)\n", argv[wanted], argv[1]);
            return 2;
        }
        path = mode == Mode::kHelp ? "" : argv[2];
    }
    if (mode == Mode::kHelp) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    Replay replay;
    errno = 0;
    const ReplayError error = mode == Mode::kLive ? ReplayError::kNone : ReadReplayFile(path, replay);
    const int systemError = errno;
    if (mode == Mode::kVerify) {
        if (error != ReplayError::kNone) {
            std::fprintf(stderr, "orvo-game: %s\n", DescribeUnreadable(path, error, systemError).c_str());
            return 2;
        }
        return Verify(replay);
    }

    orvo::Init();
    orvo::Game* game = new orvo::Game(8, kReplayStepMs);
    // A little below 16/9; the race sizes its overlay from the fitted viewport, so this comes first.
    game->SetMaximizedViewport(1.777777f);
    RaceState* race = new RaceState(game);
    race->onReplayEnded = ReportReplayEnded;
    if (error != ReplayError::kNone) {
        // Shown and said, and the game is played live.
        const std::string text = "Replay not played: " + DescribeUnreadable(path, error, systemError);
        race->ShowNotice(text, 8.0, true);
        ReportReplayError(text);
    } else if (mode == Mode::kReplay) {
        race->StartReplay(std::move(replay));
        race->ShowNotice("Replay of " + path + ": the keys take over at its end", 4.0);
    } else if (mode == Mode::kGhost) {
        race->StartGhost(std::move(replay));
        race->ShowNotice("Racing the ghost of " + path, 4.0);
    }
    playedRace = race;
    game->SetState(race);
    // The teardown runs when the game ends: in the browser Run() never returns (the page owns the
    // thread), so it goes to Run() rather than after it.
    game->Run([race, game] {
        playedRace = nullptr;
        delete race;
        delete game;
        orvo::Exit();
    });
    return 0;
}

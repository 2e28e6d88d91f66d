// The main loop driven through SDL's event queue on the software renderer with no display: the calls
// a state receives and their order, when a quit takes effect, and the catch-up of the physics clock.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "orvo/orvo.h"

namespace {

using Log = std::vector<std::string>;

// Pushes key events (or any other event type) in order; SDL_PushEvent also serves SDL's timer thread.
void Push(std::initializer_list<std::pair<Uint32, SDL_Keycode>> events)
{
    for (const auto& [type, sym] : events) {
        SDL_Event event{};
        event.key.type = type;
        event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        event.key.keysym.sym = sym;
        SDL_PushEvent(&event);
    }
}

// Writes every call it receives to a log it may share with other states, and to its own log split
// into frames, each ending with its "graphics" line; the test may react to each line.
class RecordingState : public orvo::State {
public:
    RecordingState(orvo::Game* game, Log& log, std::string prefix = "")
        : orvo::State(game), log(log), prefix(std::move(prefix))
    {
    }
    ~RecordingState() override { log.push_back(prefix + "destroyed"); }

    void OnActivate() override { Write("activate"); }
    void OnDeactivate() override { Write("deactivate"); }
    void OnKeyDown(SDL_Keysym keysym) override { Write(std::string("down ") + SDL_GetKeyName(keysym.sym)); }
    void OnKeyUp(SDL_Keysym keysym) override { Write(std::string("up ") + SDL_GetKeyName(keysym.sym)); }
    void OnStepPhysicsTime() override { Write("physics"); }
    void OnStepGraphicsTime() override
    {
        drawn.emplace_back(game->stepCount, SDL_GetTicks64());
        Write("graphics");
    }

    std::function<void(const std::string& line)> react;
    std::vector<Log> frames;
    std::vector<std::pair<int64_t, uint64_t>> drawn; // the step count and the ticks at each drawing

private:
    void Write(const std::string& line)
    {
        if (frames.empty() || frames.back().back() == "graphics") {
            frames.emplace_back();
        }
        frames.back().push_back(line);
        log.push_back(prefix + line);
        if (react) {
            react(log.back());
        }
    }

    Log& log;
    std::string prefix;
};

int CountSteps(const Log& lines) { return static_cast<int>(std::count(lines.begin(), lines.end(), "physics")); }

class GameLoop : public testing::Test {
protected:
    // SDL starts once per process. A failure is reported by every test rather than by the suite
    // set-up, which would only show the tests as skipped.
    static void SetUpTestSuite()
    {
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
        initResult = orvo::InitSDL(1280, 720, false);
    }
    static void TearDownTestSuite() { orvo::ExitSDL(); }

    void SetUp() override
    {
        ASSERT_EQ(initResult, 0) << "InitSDL failed";
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        game.state = &state;
    }

    static inline int initResult = -1;
    orvo::Game game{8, 3};
    Log log;
    RecordingState state{&game, log};
};

class GameLoopQuitKey : public GameLoop, public testing::WithParamInterface<SDL_Keycode> {};

INSTANTIATE_TEST_SUITE_P(EscapeAndF12, GameLoopQuitKey, testing::Values(SDLK_ESCAPE, SDLK_F12),
                         [](const testing::TestParamInfo<SDL_Keycode>& info) {
                             return std::string(SDL_GetKeyName(info.param));
                         });

// The first frame forwards its queue in order and runs no step; the quit frame still handles the
// rest of its queue, runs its due steps and draws.
TEST_P(GameLoopQuitKey, ForwardsTheQueueInOrderAndQuitsOnlyOnceTheFrameIsDrawn)
{
    Push({{SDL_KEYUP, GetParam()}, {SDL_KEYDOWN, SDLK_a}, {SDL_KEYUP, SDLK_a}, {SDL_KEYDOWN, SDLK_b}});
    state.react = [this](const std::string& line) {
        if (line == "graphics" && state.drawn.size() == 2) {
            Push({{SDL_KEYDOWN, GetParam()}, {SDL_KEYDOWN, SDLK_c}, {SDL_KEYUP, GetParam()}});
        }
    };
    game.Run();
    const std::vector<Log>& frames = state.frames;

    ASSERT_EQ(frames.size(), 3u) << testing::PrintToString(log);
    const std::string quit = SDL_GetKeyName(GetParam());
    EXPECT_EQ(frames[0], (Log{"up " + quit, "down A", "up A", "down B", "graphics"})) << "key-up never quits";
    const Log& last = frames[2];
    ASSERT_GE(last.size(), 4u) << testing::PrintToString(last);
    EXPECT_EQ(Log(last.begin(), last.begin() + 3), (Log{"down " + quit, "down C", "up " + quit}));
    EXPECT_EQ(last.back(), "graphics");
    // Every frame after the first lasts at least the 8 ms period, so at least 2 steps are due.
    EXPECT_GE(CountSteps(last), 2);
    EXPECT_EQ(CountSteps(last), static_cast<int>(last.size()) - 4) << "then only steps, then the drawing";
    EXPECT_EQ(game.stepCount, CountSteps(log));
}

TEST_F(GameLoop, WindowCloseRequestEndsTheLoopOnceTheFrameIsDrawn)
{
    Push({{SDL_QUIT, 0}, {SDL_KEYDOWN, SDLK_a}});
    game.Run();
    EXPECT_EQ(log, (Log{"down A", "graphics"}));
}

TEST_F(GameLoop, SlowFrameIsFollowedByItsCatchUpStepsOnAnAbsoluteClock)
{
    state.react = [this](const std::string& line) {
        if (line == "graphics" && state.drawn.size() == 3) {
            SDL_Delay(30);
        }
        if (line == "graphics" && state.drawn.size() == 5) {
            Push({{SDL_KEYDOWN, SDLK_ESCAPE}});
        }
    };
    game.Run();
    const std::vector<Log>& frames = state.frames;

    ASSERT_EQ(state.drawn.size(), 6u) << testing::PrintToString(log);
    EXPECT_EQ(CountSteps(frames[0]), 0);
    EXPECT_GE(CountSteps(frames[3]), 10); // frame 3 starts at least 8 + 30 ms after frame 2 did
    // Each frame has run the steps due at its start, between the previous frame's drawing and its own.
    for (size_t frame = 1; frame < frames.size(); ++frame) {
        const auto [steps, ticks] = state.drawn[frame];
        EXPECT_GE(steps, static_cast<int64_t>(state.drawn[frame - 1].second - game.startTicks) / 3) << frame;
        EXPECT_LE(steps, static_cast<int64_t>(ticks - game.startTicks) / 3) << frame;
    }
}

TEST_F(GameLoop, WithoutAStateTheClockStillCountsStepsAndEscapeStillQuits)
{
    game.state = nullptr;
    game.StepPhysicsTime(); // only the loop counts steps
    EXPECT_EQ(game.stepCount, 0);
    const auto pushEscape = [](Uint32, void*) -> Uint32 {
        Push({{SDL_KEYDOWN, SDLK_ESCAPE}});
        return 0; // once
    };
    ASSERT_NE(SDL_AddTimer(50, pushEscape, nullptr), 0) << SDL_GetError();
    game.Run();
    EXPECT_GE(game.stepCount, 10); // 50 ms of 3 ms steps, less the frame that was under way
    EXPECT_LE(game.stepCount, static_cast<int64_t>(SDL_GetTicks64() - game.startTicks) / 3);
}

// A state installed by a key handler receives the rest of the frame; the old one stays alive.
TEST_F(GameLoop, SetStateDeactivatesTheOldStateThenActivatesTheNewOneOnce)
{
    RecordingState second(&game, log, "B ");
    game.state = nullptr;
    game.SetState(&state);
    state.react = [&](const std::string& line) {
        if (line == "down S") {
            game.SetState(&second);
        }
    };
    Push({{SDL_KEYDOWN, SDLK_s}, {SDL_KEYDOWN, SDLK_x}, {SDL_KEYDOWN, SDLK_ESCAPE}});
    game.Run();
    EXPECT_EQ(log, (Log{"activate", "down S", "deactivate", "B activate", "B down X", "B down Escape", "B graphics"}));
    EXPECT_EQ(game.state, &second);
}

} // namespace

// The main loop driven through SDL's event queue: which calls a state receives and in what order,
// when a quit request takes effect, and how the absolute physics clock catches up after a slow
// frame. Runs on SDL's software renderer with no display.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orvo/orvo.h"

namespace {

using Log = std::vector<std::string>;

// SDL_PushEvent is thread-safe, so this also serves the timer thread. A lost event shows as a
// wrong log.
void PushKey(Uint32 type, SDL_Keycode sym)
{
    SDL_Event event{};
    event.key.type = type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = sym;
    SDL_PushEvent(&event);
}

// Writes every call it receives to a log it may share with other states, one line per call; a
// frame ends with its "graphics" line.
class RecordingState : public orvo::State {
public:
    RecordingState(orvo::Game* game, Log& log, std::string name = "")
        : orvo::State(game), log(log), prefix(name.empty() ? "" : name + " ")
    {
    }
    ~RecordingState() override { Write("destroyed"); }

    void OnActivate() override { Write("activate"); }
    void OnDeactivate() override { Write("deactivate"); }
    void OnKeyDown(SDL_Keysym keysym) override
    {
        Write(std::string("down ") + SDL_GetKeyName(keysym.sym));
        if (onKeyDown) {
            onKeyDown(keysym.sym);
        }
    }
    void OnKeyUp(SDL_Keysym keysym) override { Write(std::string("up ") + SDL_GetKeyName(keysym.sym)); }
    void OnStepPhysicsTime() override { Write("physics"); }
    void OnStepGraphicsTime() override
    {
        Write("graphics");
        stepCountAtDrawing.push_back(game->stepCount);
        ticksAtDrawing.push_back(SDL_GetTicks64());
        if (afterDrawing) {
            afterDrawing(framesDrawn);
        }
        ++framesDrawn;
    }

    std::function<void(SDL_Keycode)> onKeyDown;
    std::function<void(int frame)> afterDrawing;
    int framesDrawn = 0;
    std::vector<int64_t> stepCountAtDrawing;
    std::vector<uint64_t> ticksAtDrawing;

private:
    void Write(const std::string& line) { log.push_back(prefix + line); }

    Log& log;
    std::string prefix;
};

std::vector<Log> SplitIntoFrames(const Log& log)
{
    std::vector<Log> frames(1);
    for (const std::string& line : log) {
        frames.back().push_back(line);
        if (line == "graphics") {
            frames.emplace_back();
        }
    }
    frames.pop_back();
    return frames;
}

int CountPhysicsSteps(const Log& lines) { return static_cast<int>(std::count(lines.begin(), lines.end(), "physics")); }

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
    }

    void Install(RecordingState& state)
    {
        game.SetState(&state);
        log.clear();
    }

    static int initResult;
    orvo::Game game{8, 3};
    Log log;
};

int GameLoop::initResult = -1;

class GameLoopQuitKey : public GameLoop, public testing::WithParamInterface<SDL_Keycode> {
protected:
    const std::string quitName = SDL_GetKeyName(GetParam());
};

INSTANTIATE_TEST_SUITE_P(EscapeAndF12, GameLoopQuitKey, testing::Values(SDLK_ESCAPE, SDLK_F12),
                         [](const testing::TestParamInfo<SDL_Keycode>& info) {
                             return std::string(SDL_GetKeyName(info.param));
                         });

TEST_P(GameLoopQuitKey, FirstFrameForwardsTheWholeQueueInOrderRunsNoStepAndQuitsAfterDrawing)
{
    RecordingState state(&game, log);
    Install(state);
    PushKey(SDL_KEYDOWN, SDLK_a);
    PushKey(SDL_KEYUP, SDLK_a);
    PushKey(SDL_KEYDOWN, SDLK_a);
    PushKey(SDL_KEYDOWN, GetParam());
    PushKey(SDL_KEYDOWN, SDLK_b);
    PushKey(SDL_KEYUP, GetParam());

    game.Run();

    EXPECT_EQ(log, (Log{"down A", "up A", "down A", "down " + quitName, "down B", "up " + quitName, "graphics"}));
    EXPECT_EQ(game.stepCount, 0);
    EXPECT_EQ(game.state, &state);
}

TEST_P(GameLoopQuitKey, QuitInALaterFrameStillLetsThatFrameStepAndDraw)
{
    RecordingState state(&game, log);
    Install(state);
    state.afterDrawing = [this](int frame) {
        if (frame == 1) {
            PushKey(SDL_KEYDOWN, GetParam());
            PushKey(SDL_KEYDOWN, SDLK_c);
        }
    };

    game.Run();

    const std::vector<Log> frames = SplitIntoFrames(log);
    ASSERT_EQ(frames.size(), 3u) << testing::PrintToString(log);
    const Log& last = frames[2];
    ASSERT_GE(last.size(), 3u);
    EXPECT_EQ(last[0], "down " + quitName);
    EXPECT_EQ(last[1], "down C");
    EXPECT_EQ(last.back(), "graphics");
    // Every frame after the first lasts at least the 8 ms period, so at least 2 steps are due.
    EXPECT_GE(CountPhysicsSteps(last), 2);
    EXPECT_EQ(CountPhysicsSteps(last), static_cast<int>(last.size()) - 3);
    EXPECT_EQ(game.stepCount, CountPhysicsSteps(log));
}

TEST_F(GameLoop, KeyUpOfEscapeNeverQuitsButAWindowCloseRequestDoes)
{
    RecordingState state(&game, log);
    Install(state);
    PushKey(SDL_KEYUP, SDLK_ESCAPE);
    PushKey(SDL_KEYUP, SDLK_F12);
    state.afterDrawing = [](int frame) {
        if (frame == 2) {
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
        }
    };

    game.Run();

    const std::vector<Log> frames = SplitIntoFrames(log);
    ASSERT_EQ(frames.size(), 4u) << testing::PrintToString(log);
    EXPECT_EQ(frames[0], (Log{"up Escape", "up F12", "graphics"}));
    EXPECT_GE(CountPhysicsSteps(frames[3]), 2);
}

TEST_F(GameLoop, SlowFrameIsFollowedByItsCatchUpStepsOnAnAbsoluteClock)
{
    RecordingState state(&game, log);
    Install(state);
    state.afterDrawing = [](int frame) {
        if (frame == 2) {
            SDL_Delay(30);
        }
        if (frame == 4) {
            PushKey(SDL_KEYDOWN, SDLK_ESCAPE);
        }
    };

    game.Run();

    const std::vector<Log> frames = SplitIntoFrames(log);
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(CountPhysicsSteps(frames[0]), 0);
    // Frame 3 starts at least 8 + 30 ms after frame 2 did.
    EXPECT_GE(CountPhysicsSteps(frames[3]), 10);
    EXPECT_EQ(game.stepCount, CountPhysicsSteps(log));

    // Each frame has run the steps due at its start, which lies between the previous frame's
    // drawing and its own.
    for (size_t frame = 1; frame < frames.size(); ++frame) {
        SCOPED_TRACE(testing::Message() << "frame " << frame);
        const int64_t steps = state.stepCountAtDrawing[frame];
        EXPECT_GE(steps, static_cast<int64_t>(state.ticksAtDrawing[frame - 1] - game.startTicks) / 3);
        EXPECT_LE(steps, static_cast<int64_t>(state.ticksAtDrawing[frame] - game.startTicks) / 3);
    }
}

Uint32 PushEscapeFromTimer(Uint32, void* pushedAt)
{
    *static_cast<std::atomic<uint64_t>*>(pushedAt) = SDL_GetTicks64();
    PushKey(SDL_KEYDOWN, SDLK_ESCAPE);
    return 0; // once
}

TEST_F(GameLoop, WithoutAStateTheClockStillCountsStepsAndEscapeStillQuits)
{
    std::atomic<uint64_t> pushedAt{0};
    ASSERT_NE(SDL_AddTimer(50, PushEscapeFromTimer, &pushedAt), 0) << SDL_GetError();

    game.Run();

    const uint64_t returnedAt = SDL_GetTicks64();
    ASSERT_NE(pushedAt.load(), 0u);
    // The quit frame started no earlier than just before the key arrived.
    EXPECT_GE(game.stepCount, static_cast<int64_t>(pushedAt - game.startTicks) / 3 - 1);
    EXPECT_LE(game.stepCount, static_cast<int64_t>(returnedAt - game.startTicks) / 3);
    EXPECT_GE(game.stepCount, 10);
}

TEST_F(GameLoop, SetStateDeactivatesTheOldStateOnceAndActivatesTheNewOneOnce)
{
    RecordingState first(&game, log, "A");
    RecordingState second(&game, log, "B");
    game.SetState(&first);
    EXPECT_EQ(log, (Log{"A activate"}));
    game.SetState(&second);
    EXPECT_EQ(log, (Log{"A activate", "A deactivate", "B activate"}));
    EXPECT_EQ(game.state, &second);
}

TEST_F(GameLoop, StateInstalledByAKeyHandlerReceivesTheRestOfTheFrameAndIsNotDeactivatedAtTheEnd)
{
    RecordingState first(&game, log, "A");
    RecordingState second(&game, log, "B");
    first.onKeyDown = [&](SDL_Keycode sym) {
        if (sym == SDLK_s) {
            game.SetState(&second);
        }
    };
    Install(first);
    PushKey(SDL_KEYDOWN, SDLK_s);
    PushKey(SDL_KEYDOWN, SDLK_x);
    PushKey(SDL_KEYDOWN, SDLK_ESCAPE);

    game.Run();

    EXPECT_EQ(log, (Log{"A down S", "A deactivate", "B activate", "B down X", "B down Escape", "B graphics"}));
}

TEST_F(GameLoop, SteppingByHandCallsTheStateButNeverCountsAStep)
{
    game.StepPhysicsTime();
    game.StepGraphicsTime();
    EXPECT_EQ(game.stepCount, 0);

    RecordingState state(&game, log);
    Install(state);
    game.StepPhysicsTime();
    game.StepGraphicsTime();
    EXPECT_EQ(log, (Log{"physics", "graphics"}));
    EXPECT_EQ(game.stepCount, 0);
}

} // namespace

// The main loop fed through SDL's event queue on the software renderer with no display: the calls
// a state receives and their order, when a quit takes effect, and the physics clock's catch-up.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "orvo/orvo.h"

namespace {

using Log = std::vector<std::string>;

void Push(Uint32 type, SDL_Keycode sym = 0)
{
    SDL_Event event{};
    event.key.type = type;
    event.key.keysym.sym = sym;
    SDL_PushEvent(&event);
}

// Logs every call but the physics steps, which it counts per frame; `react` may act on each line.
struct RecordingState : orvo::State {
    using orvo::State::State;
    void OnActivate() override { Write("activate"); }
    void OnDeactivate() override { Write("deactivate"); }
    void OnKeyDown(SDL_Keysym keysym) override { Write(std::string("down ") + SDL_GetKeyName(keysym.sym)); }
    void OnKeyUp(SDL_Keysym keysym) override { Write(std::string("up ") + SDL_GetKeyName(keysym.sym)); }
    void OnStepPhysicsTime() override { ++steps.back(); }
    void OnStepGraphicsTime() override
    {
        Write("graphics " + std::to_string(steps.size()));
        steps.push_back(0);
    }
    void Write(const std::string& line)
    {
        log.push_back(line);
        if (react) {
            react(line);
        }
    }
    Log log;
    std::vector<int> steps{0}; // in each frame so far, the last one still under way
    std::function<void(const std::string&)> react;
};

class GameLoop : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(orvo::InitSDL(1280, 720, false), 0) << SDL_GetError(); }
    static void TearDownTestSuite() { orvo::ExitSDL(); }
    orvo::Game game{8, 3};
};

// The first frame forwards its queue in order and runs no step; the quit frame still handles the
// rest of its queue, runs its due steps (a frame lasts 8 ms or more) and draws.
TEST_F(GameLoop, EscapeF12AndClosingTheWindowEndTheLoopOnceTheirFrameIsDrawn)
{
    for (const auto& [type, sym] :
         {std::pair<Uint32, SDL_Keycode>{SDL_KEYDOWN, SDLK_ESCAPE}, {SDL_KEYDOWN, SDLK_F12}, {SDL_QUIT, 0}}) {
        RecordingState state(&game);
        game.state = &state, game.stepCount = 0;
        Push(SDL_KEYUP, sym);
        Push(SDL_KEYDOWN, SDLK_a);
        state.react = [&, type = type, sym = sym](const std::string& line) {
            if (line == "graphics 2") {
                Push(type, sym);
                Push(SDL_KEYDOWN, SDLK_c);
            }
        };
        game.Run();
        const std::string up = std::string("up ") + SDL_GetKeyName(sym), down = "down" + up.substr(2);
        EXPECT_EQ(state.log,
                  (type == SDL_QUIT ? Log{up, "down A", "graphics 1", "graphics 2", "down C", "graphics 3"}
                                    : Log{up, "down A", "graphics 1", "graphics 2", down, "down C", "graphics 3"}));
        EXPECT_EQ(state.steps[0], 0);
        EXPECT_GE(state.steps[2], 2);
    }
}

TEST_F(GameLoop, SlowFrameIsFollowedByItsCatchUpStepsAndAStateSwitchTakesTheRestOfTheFrame)
{
    RecordingState first(&game), second(&game);
    game.state = &first;
    first.react = [&](const std::string& line) {
        if (line == "graphics 2") {
            SDL_Delay(30);
            Push(SDL_KEYDOWN, SDLK_s);
            Push(SDL_KEYDOWN, SDLK_x);
            Push(SDL_KEYDOWN, SDLK_ESCAPE);
        }
        if (line == "down S") {
            game.SetState(&second);
        }
    };
    game.Run();
    EXPECT_EQ(first.log, (Log{"graphics 1", "graphics 2", "down S", "deactivate"}));
    EXPECT_EQ(second.log, (Log{"activate", "down X", "down Escape", "graphics 1"}));
    EXPECT_GE(second.steps[0], 10) << "frame 3 starts at least 30 ms after frame 2 did";
}

TEST_F(GameLoop, WithoutAStateTheLoopStillCountsStepsAndEscapeStillQuits)
{
    game.state = nullptr;
    game.StepPhysicsTime(); // only the loop counts steps
    EXPECT_EQ(game.stepCount, 0);
    const auto pushEscape = [](Uint32, void*) -> Uint32 { return Push(SDL_KEYDOWN, SDLK_ESCAPE), 0; };
    ASSERT_NE(SDL_AddTimer(50, pushEscape, nullptr), 0);
    game.Run();
    EXPECT_GE(game.stepCount, 10); // 50 ms of 3 ms steps, less the frame that was under way
}

TEST(CountDuePhysicsSteps, KeepsTheClockAbsoluteAndNeverGoesNegative)
{
    const struct {
        uint64_t frameStart, startTicks;
        int64_t stepCount, expectedDue;
    } cases[] = {
        {1000, 1000, 0, 0},                            // the first frame runs no step
        {1008, 1000, 0, 2},                            // 8 / 3 truncated
        {1030, 1000, 0, 10},                           // a 30 ms frame
        {1039, 1000, 3, 10},                           // the frame after a slow one catches up
        {1005, 1000, 5, 0},                            // ahead of the clock: nothing, not a negative count
        {1000 + (1ull << 31) + 5, 1000, 715827883, 1}, // more than 2^31 ms (24.8 days) since the start
        {5000000000 + 75ull * 86400000 + 2, 5000000000, 2159999990, 10}, // more than 2^31 steps of 3 ms
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orvo::CountDuePhysicsSteps(c.frameStart, c.startTicks, 3, c.stepCount), c.expectedDue)
            << "frame at " << c.frameStart << ", start " << c.startTicks << ", " << c.stepCount << " steps run";
    }
}

} // namespace

// The main loop fed through SDL's event queue on the software renderer with no display: the calls
// a state receives and their order, when a quit takes effect, and the physics clock's catch-up.

#include <gtest/gtest.h>

#include "orvo/orvo.h"

using Log = std::vector<std::string>;

static void Push(Uint32 type, SDL_Keycode sym = 0)
{
    SDL_Event event{};
    event.key.type = type;
    event.key.keysym.sym = sym;
    SDL_PushEvent(&event);
}

// Logs every call but the physics steps, which it counts per frame. Once it has drawn frame 2 it
// waits `delayMs` and pushes the events `later`.
struct RecordingState : orvo::State {
    using orvo::State::State;
    void OnActivate() override {}
    void OnDeactivate() override {}
    void OnKeyUp(SDL_Keysym keysym) override { log.push_back(std::string("up ") + SDL_GetKeyName(keysym.sym)); }
    void OnKeyDown(SDL_Keysym keysym) override { log.push_back(std::string("down ") + SDL_GetKeyName(keysym.sym)); }
    void OnStepPhysicsTime() override { ++steps.back(); }
    void OnStepGraphicsTime() override
    {
        log.push_back("graphics " + std::to_string(steps.size()));
        steps.push_back(0);
        if (steps.size() == 3) {
            SDL_Delay(delayMs);
            for (const auto& [type, sym] : later) {
                Push(type, sym);
            }
        }
    }
    Log log;
    std::vector<int> steps{0}; // in each frame so far, the last one still under way
    std::vector<std::pair<Uint32, SDL_Keycode>> later;
    Uint32 delayMs = 0;
};

class GameLoop : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(orvo::InitSDL(1280, 720, false), 0) << SDL_GetError(); }
    static void TearDownTestSuite() { orvo::ExitSDL(); }
    orvo::Game game{8, 3};
};

// The first frame forwards its queue in order and runs no step; the quit frame, after a slow one,
// still handles the rest of its queue, catches up on the steps due and draws.
TEST_F(GameLoop, EscapeF12AndClosingTheWindowEndTheLoopOnceTheirFrameHasCaughtUpAndIsDrawn)
{
    for (const auto& [type, sym] :
         {std::pair<Uint32, SDL_Keycode>{SDL_KEYDOWN, SDLK_ESCAPE}, {SDL_KEYDOWN, SDLK_F12}, {SDL_QUIT, 0}}) {
        RecordingState state(&game);
        game.state = &state, game.stepCount = 0;
        Push(SDL_KEYUP, sym);
        Push(SDL_KEYDOWN, SDLK_a);
        state.later = {{type, sym}, {SDL_KEYDOWN, SDLK_c}}, state.delayMs = 30;
        game.Run();
        const std::string name = SDL_GetKeyName(sym);
        Log expected = {"up " + name, "down A", "graphics 1", "graphics 2", "down " + name, "down C", "graphics 3"};
        if (type == SDL_QUIT) {
            expected.erase(expected.begin() + 4);
        }
        EXPECT_EQ(state.log, expected);
        EXPECT_EQ(state.steps[0], 0);
        EXPECT_GE(state.steps[2], 10) << "frame 3 starts at least 30 ms after frame 2 did";
    }
}

TEST_F(GameLoop, WithoutAStateAStepChangesNothingAndEscapeStillQuits)
{
    game.StepPhysicsTime(); // only the loop counts steps
    EXPECT_EQ(game.stepCount, 0);
    Push(SDL_KEYDOWN, SDLK_ESCAPE);
    game.Run(); // returns, or the test times out
}

TEST(CountDuePhysicsSteps, KeepsTheClockAbsoluteAndNeverGoesNegative)
{
    const struct {
        uint64_t frameStart, startTicks;
        int64_t stepCount, expectedDue;
    } cases[] = {
        {1000, 1000, 0, 0},                            // the first frame runs no step
        {1005, 1000, 5, 0},                            // ahead of the clock: nothing, not a negative count
        {1000 + (1ull << 31) + 5, 1000, 715827883, 1}, // more than 2^31 ms (24.8 days) since the start
        {5000000000 + 75ull * 86400000 + 2, 5000000000, 2159999990, 10}, // more than 2^31 steps of 3 ms
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orvo::CountDuePhysicsSteps(c.frameStart, c.startTicks, 3, c.stepCount), c.expectedDue)
            << "frame at " << c.frameStart << ", start " << c.startTicks << ", " << c.stepCount << " steps run";
    }
}

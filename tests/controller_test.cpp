// Game controllers as the race sees them, from SDL's virtual controller through the engine's event
// handling: each control gives the control vector of its key, dead zones give nothing, controllers
// and keys combine, a controller pulled out lets go, and Back quits.
#include <gtest/gtest.h>

#include "orvo/orvo.h"
#include "race.h"

namespace {

enum Kind { kButton, kAxis };

struct Case {
    Kind kind;
    int index;    // an SDL_GameControllerButton or SDL_GameControllerAxis
    Sint16 value; // the virtual device's raw value; buttons: 1 pressed
    float x, y;   // the control vector it gives
};

class ControllerTest : public ::testing::Test {
protected:
    orvo::Game* game = nullptr;
    RaceState* race = nullptr;
    SDL_Joystick* pad = nullptr;
    int deviceIndex = -1;
    bool quit = false;

    void SetUp() override
    {
        orvo::Init();
        game = new orvo::Game(8, 3);
        game->SetMaximizedViewport(1.777777f);
        race = new RaceState(game);
        game->SetState(race);
        SDL_VirtualJoystickDesc desc;
        SDL_zero(desc);
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        deviceIndex = SDL_JoystickAttachVirtualEx(&desc);
        ASSERT_GE(deviceIndex, 0) << SDL_GetError();
        ASSERT_TRUE(SDL_IsGameController(deviceIndex));
        pad = SDL_JoystickOpen(deviceIndex);
        Pump();
    }
    void TearDown() override
    {
        delete race;
        delete game;
        orvo::Exit();
    }

    // Lets SDL turn the device's state into events and hands them to the game as its loop does.
    void Pump()
    {
        SDL_Event event;
        while (SDL_PollEvent(&event) != 0) {
            quit = game->HandleEvent(event) || quit;
        }
    }
    void Set(Kind kind, int index, Sint16 value)
    {
        kind == kButton ? SDL_JoystickSetVirtualButton(pad, index, static_cast<Uint8>(value))
                        : SDL_JoystickSetVirtualAxis(pad, index, value);
        Pump();
    }
    ::testing::AssertionResult ControlIs(float x, float y)
    {
        const orvo::Vector2 control = race->GetControl();
        return (control.x == x && control.y == y ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
               << "control (" << control.x << ", " << control.y << "), expected (" << x << ", " << y << ")";
    }
};

TEST_F(ControllerTest, EachControlGivesItsKeysVectorAndNothingInsideTheDeadZone)
{
    // Triggers run from -32768 (at rest) to 32767 on the device; SDL reports them as 0 to 32767.
    const Case cases[] = {
        {kButton, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 1, -1, 0},
        {kButton, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1, 1, 0},
        {kButton, SDL_CONTROLLER_BUTTON_DPAD_UP, 1, 0, 1},
        {kButton, SDL_CONTROLLER_BUTTON_A, 1, 0, 1},
        {kButton, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 1, 0, -1},
        {kButton, SDL_CONTROLLER_BUTTON_B, 1, 0, -1},
        {kButton, SDL_CONTROLLER_BUTTON_X, 1, 0, 0},
        {kButton, SDL_CONTROLLER_BUTTON_START, 1, 0, 0},
        {kAxis, SDL_CONTROLLER_AXIS_LEFTX, -32768, -1, 0},
        {kAxis, SDL_CONTROLLER_AXIS_LEFTX, 32767, 1, 0},
        {kAxis, SDL_CONTROLLER_AXIS_LEFTX, -10923, -1, 0},
        {kAxis, SDL_CONTROLLER_AXIS_LEFTX, 10923, 1, 0},
        {kAxis, SDL_CONTROLLER_AXIS_LEFTX, -10922, 0, 0},
        {kAxis, SDL_CONTROLLER_AXIS_LEFTX, 10922, 0, 0},
        {kAxis, SDL_CONTROLLER_AXIS_LEFTY, 32767, 0, 0},
        {kAxis, SDL_CONTROLLER_AXIS_RIGHTX, 32767, 0, 0},
        {kAxis, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767, 0, 1},
        {kAxis, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767, 0, -1},
        {kAxis, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -10000, 0, 1}, // a little past a third of its travel
        {kAxis, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -11500, 0, 0}, // a little short of it
        {kAxis, SDL_CONTROLLER_AXIS_TRIGGERLEFT, -11500, 0, 0},
    };
    for (const Case& c : cases) {
        const Sint16 rest = c.kind == kAxis && c.index >= SDL_CONTROLLER_AXIS_TRIGGERLEFT ? -32768 : 0;
        Set(c.kind, c.index, c.value);
        EXPECT_TRUE(ControlIs(c.x, c.y)) << (c.kind == kButton ? "button " : "axis ") << c.index << " at " << c.value;
        Set(c.kind, c.index, rest);
        EXPECT_TRUE(ControlIs(0, 0)) << "released " << c.index;
    }
    EXPECT_FALSE(quit);
}

TEST_F(ControllerTest, ControllerAndKeysCombineAndOppositeDirectionsCancel)
{
    SDL_Keysym down{};
    down.sym = SDLK_DOWN;
    Set(kButton, SDL_CONTROLLER_BUTTON_A, 1);
    race->OnKeyDown(down);
    EXPECT_TRUE(ControlIs(0, 0));
    Set(kAxis, SDL_CONTROLLER_AXIS_LEFTX, 32767);
    race->keyLeft = true;
    EXPECT_TRUE(ControlIs(0, 0));
    Set(kButton, SDL_CONTROLLER_BUTTON_A, 0);
    EXPECT_TRUE(ControlIs(0, -1));
    race->OnKeyUp(down);
    race->keyLeft = false;
    EXPECT_TRUE(ControlIs(1, 0)) << "the stick still holds right";
}

// SDL recentres what it knows of; a press whose release never arrived is let go as well.
TEST_F(ControllerTest, PullingOutAControllerReleasesWhatItHeld)
{
    Set(kButton, SDL_CONTROLLER_BUTTON_DPAD_UP, 1);
    SDL_ControllerButtonEvent lostRelease{};
    lostRelease.which = SDL_JoystickInstanceID(pad);
    lostRelease.button = SDL_CONTROLLER_BUTTON_DPAD_LEFT;
    race->OnControllerButtonDown(lostRelease);
    ASSERT_TRUE(ControlIs(-1, 1));
    ASSERT_EQ(SDL_JoystickDetachVirtual(deviceIndex), 0) << SDL_GetError();
    SDL_JoystickClose(pad);
    Pump();
    EXPECT_TRUE(ControlIs(0, 0));
    EXPECT_FALSE(quit);
}

TEST_F(ControllerTest, BackButtonQuitsAsEscapeDoes)
{
    Set(kButton, SDL_CONTROLLER_BUTTON_BACK, 1);
    EXPECT_TRUE(quit);
}

} // namespace

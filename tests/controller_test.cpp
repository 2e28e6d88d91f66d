// Game controllers as the race sees them, from SDL's virtual controller through the engine's event
// handling: each control gives the control vector of its key, dead zones give nothing, controllers
// and keys combine, a controller pulled out lets go, Back quits, Y mutes and X shows the instruments.
#include <gtest/gtest.h>

#include "orvo/orvo.h"
#include "race.h"
#include "race_instruments.h"

namespace {

class ControllerTest : public ::testing::Test {
protected:
    orvo::Game* game = nullptr;
    RaceState* race = nullptr;
    SDL_Joystick* pad = nullptr;
    int device = -1;
    bool quit = false;

    void SetUp() override
    {
        orvo::Init();
        game = new orvo::Game(8, 3);
        race = new RaceState(game);
        game->SetState(race);
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        device = SDL_JoystickAttachVirtualEx(&desc);
        ASSERT_TRUE(SDL_IsGameController(device)) << SDL_GetError();
        pad = SDL_JoystickOpen(device);
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
        for (SDL_Event event; SDL_PollEvent(&event) != 0;) {
            quit = game->HandleEvent(event) || quit;
        }
    }
    void Button(int button, bool pressed) { SDL_JoystickSetVirtualButton(pad, button, pressed), Pump(); }
    void Axis(int axis, Sint16 value) { SDL_JoystickSetVirtualAxis(pad, axis, value), Pump(); }
    std::pair<float, float> Control() const { return {race->GetControl().x, race->GetControl().y}; }
};

using Vec = std::pair<float, float>;

TEST_F(ControllerTest, EachControlGivesItsKeysVectorAndNothingInsideTheDeadZone)
{
    const std::pair<int, Vec> buttons[] = {
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, {-1, 0}}, {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, {1, 0}},
        {SDL_CONTROLLER_BUTTON_DPAD_UP, {0, 1}},    {SDL_CONTROLLER_BUTTON_A, {0, 1}},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, {0, -1}}, {SDL_CONTROLLER_BUTTON_B, {0, -1}},
        {SDL_CONTROLLER_BUTTON_X, {0, 0}},          {SDL_CONTROLLER_BUTTON_START, {0, 0}},
        {SDL_CONTROLLER_BUTTON_Y, {0, 0}},
    };
    for (const auto& [button, control] : buttons) {
        Button(button, true);
        EXPECT_EQ(Control(), control) << "button " << button;
        Button(button, false);
        EXPECT_EQ(Control(), Vec(0, 0)) << "released " << button;
    }
    EXPECT_TRUE(race->sound.IsMuted()) << "Y pressed once mutes";
    EXPECT_TRUE(race->instruments->shown) << "X pressed once shows the instruments";
    // The device's triggers run from -32768 at rest to 32767; SDL reports them as 0 to 32767.
    const struct {
        int axis;
        Sint16 value;
        Vec control;
    } axes[] = {
        {SDL_CONTROLLER_AXIS_LEFTX, -32768, {-1, 0}},       {SDL_CONTROLLER_AXIS_LEFTX, 32767, {1, 0}},
        {SDL_CONTROLLER_AXIS_LEFTX, -10923, {-1, 0}},       {SDL_CONTROLLER_AXIS_LEFTX, 10923, {1, 0}},
        {SDL_CONTROLLER_AXIS_LEFTX, -10922, {0, 0}},        {SDL_CONTROLLER_AXIS_LEFTX, 10922, {0, 0}},
        {SDL_CONTROLLER_AXIS_LEFTY, 32767, {0, 0}},         {SDL_CONTROLLER_AXIS_RIGHTX, 32767, {0, 0}},
        {SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767, {0, 1}},  {SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767, {0, -1}},
        {SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -10000, {0, 1}}, // a little past a third of its travel
        {SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -11500, {0, 0}}, // a little short of it
        {SDL_CONTROLLER_AXIS_TRIGGERLEFT, -11500, {0, 0}},
    };
    for (const auto& c : axes) {
        Axis(c.axis, c.value);
        EXPECT_EQ(Control(), c.control) << "axis " << c.axis << " at " << c.value;
        Axis(c.axis, c.axis >= SDL_CONTROLLER_AXIS_TRIGGERLEFT ? -32768 : 0);
        EXPECT_EQ(Control(), Vec(0, 0)) << "released " << c.axis;
    }
    EXPECT_FALSE(quit);
}

TEST_F(ControllerTest, ControllerAndKeysCombineAndOppositeDirectionsCancel)
{
    SDL_Keysym down{};
    down.sym = SDLK_DOWN;
    Button(SDL_CONTROLLER_BUTTON_A, true);
    race->OnKeyDown(down);
    Axis(SDL_CONTROLLER_AXIS_LEFTX, 32767);
    race->keyLeft = true;
    EXPECT_EQ(Control(), Vec(0, 0));
    Button(SDL_CONTROLLER_BUTTON_A, false);
    EXPECT_EQ(Control(), Vec(0, -1));
    race->OnKeyUp(down);
    race->keyLeft = false;
    EXPECT_EQ(Control(), Vec(1, 0)) << "the stick still holds right";
}

// SDL recentres what it knows of; a press whose release never arrived is let go as well.
TEST_F(ControllerTest, PullingOutAControllerReleasesWhatItHeldAndBackQuits)
{
    Button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
    SDL_ControllerButtonEvent lostRelease{};
    lostRelease.which = SDL_JoystickInstanceID(pad);
    lostRelease.button = SDL_CONTROLLER_BUTTON_DPAD_LEFT;
    race->OnControllerButtonDown(lostRelease);
    ASSERT_EQ(Control(), Vec(-1, 1));
    EXPECT_FALSE(quit);
    Button(SDL_CONTROLLER_BUTTON_BACK, true);
    EXPECT_TRUE(quit);
    SDL_JoystickDetachVirtual(device);
    SDL_JoystickClose(pad);
    Pump();
    EXPECT_EQ(Control(), Vec(0, 0));
}

} // namespace

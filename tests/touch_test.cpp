// Touch controls from SDL's finger events through the engine's event handling: the buttons' places,
// fingers with each other and with keys, slides, lifting, leaving, focus loss, bars, and the look.
#include <gtest/gtest.h>

#include "orvo/orvo.h"
#include "race.h"

namespace {

using Vec = std::pair<float, float>;
// Numbered as SDL numbers its events, FocusLost aside.
enum Kind { KeyDown = SDL_KEYDOWN, KeyUp, FocusLost, Down = SDL_FINGERDOWN, Up, Move };

class TouchTest : public testing::Test {
protected:
    struct Window {
        Window() { orvo::Init(); }
        ~Window() { orvo::Exit(); }
    } window; // made first, gone last
    orvo::Game game{8, 3};
    RaceState race{&game};
    float bar = 0, scale = 1; // the picture's place in the window: the width of a bar, the scale

    TouchTest() { game.SetState(&race); }

    // Through SDL's queue, where the renderer maps fingers onto the picture as it does real ones:
    // a finger at `at` in the picture's pixels, a key (`id` its code) or the focus lost.
    Vec Send(Kind kind, SDL_FingerID id, Vec at = {640, 360})
    {
        int width = 0, height = 0;
        SDL_GetWindowSize(orvo::GetSDLWindow(), &width, &height);
        SDL_Event event{};
        if (kind == FocusLost) {
            event.window.type = SDL_WINDOWEVENT;
            event.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
        } else if (kind < Down) {
            event.key.type = kind;
            event.key.keysym.sym = static_cast<SDL_Keycode>(id);
        } else {
            event.tfinger = {kind, 0, 1, id, (bar + at.first * scale) / width, at.second * scale / height, 0, 0, 1, 1};
        }
        SDL_PushEvent(&event);
        for (SDL_Event queued; SDL_PollEvent(&queued) != 0;) {
            game.HandleEvent(queued);
        }
        return {race.GetControl().x, race.GetControl().y};
    }
};

TEST_F(TouchTest, EachButtonGivesItsKeysControlAndFingersSlidesAndKeysCombine)
{
    // In a window of 2000 x 900 the picture is scaled by 1.25 between bars 200 pixels wide.
    SDL_SetWindowSize(orvo::GetSDLWindow(), 2000, 900);
    bar = 200, scale = 1.25f;
    // Each button as its arrow key; two thumbs; slides off, on and across; touches just outside each
    // side of the buttons (32 px from the edges, 160 px wide) and in the bars; keys; the focus lost.
    const struct {
        Kind kind;
        SDL_FingerID id;
        float x, y, controlX, controlY;
    } script[] = {
        {Down, 1, 112, 608, -1, 0},      {Move, 1, 272, 608, 1, 0},    {Move, 1, 1008, 608, 0, -1},
        {Move, 1, 1168, 608, 0, 1},      {Down, 2, 112, 608, -1, 1},   {Up, 1, 1168, 608, -1, 0},
        {Move, 2, 640, 360, 0, 0},       {Move, 2, 192.5f, 608, 1, 0}, {Move, 2, 191.5f, 608, -1, 0},
        {Up, 2, 500, 200, 0, 0},         {Down, 3, 31.5f, 608, 0, 0},  {Down, 4, 112, 527.5f, 0, 0},
        {Down, 5, 1248.5f, 608, 0, 0},   {Down, 6, 112, 688.5f, 0, 0}, {Move, 6, 927.5f, 608, 0, 0},
        {Down, 7, 352.5f, 608, 0, 0},    {Down, 8, 112, 608, -1, 0},   {KeyDown, SDLK_RIGHT, 0, 0, 0, 0},
        {Up, 8, 112, 608, 1, 0},         {Down, 8, 1168, 608, 1, 1},   {KeyDown, SDLK_s, 0, 0, 1, 0},
        {KeyUp, SDLK_RIGHT, 0, 0, 0, 0}, {KeyUp, SDLK_s, 0, 0, 0, 1},  {Down, 9, 112, 608, -1, 1},
        {FocusLost, 0, 0, 0, 0, 0},      {Move, 9, 272, 608, 0, 0},    {Down, 9, 1008, 608, 0, -1},
        {Up, 9, 1008, 608, 0, 0},        {Down, 10, 112, 608, -1, 0},  {Move, 10, -50, 608, 0, 0},
        {Move, 10, 1168, 608, 0, 1},     {Move, 10, 1330, 608, 0, 0},  {Down, 11, -100, 608, 0, 0},
    };
    for (size_t i = 0; i < sizeof script / sizeof *script; ++i) {
        const auto& step = script[i];
        EXPECT_EQ(Send(step.kind, step.id, {step.x, step.y}), Vec(step.controlX, step.controlY)) << "step " << i;
    }
}

// A pixel of the drive button: the picture as ever until a finger touches the centre, then the idle
// button, the lit one while a finger holds it, and the idle one again.
TEST_F(TouchTest, ButtonsAppearWithTheFirstTouchAndLightWhileHeld)
{
    Uint32 seen[4] = {};
    for (int i = 0; i < 4; ++i) {
        Send(i == 1 ? Down : i == 2 ? Move : Up, 1, i == 2 ? Vec{1168, 608} : Vec{640, 360});
        SDL_RenderClear(orvo::GetSDLRenderer());
        race.OnStepGraphicsTime();
        const SDL_Rect pixel{1168, 670, 1, 1};
        SDL_RenderReadPixels(orvo::GetSDLRenderer(), &pixel, SDL_PIXELFORMAT_RGB888, &seen[i], 4);
    }
    EXPECT_TRUE(seen[1] != seen[0] && seen[2] != seen[1] && seen[3] == seen[1]) << seen[0] << " " << seen[2];
}

} // namespace

// Touch controls as the race sees them, from SDL's finger events through the engine's event
// handling: each button gives its key's control, fingers combine with each other and with keys,
// slides move the press, lifting, leaving or losing the focus lets go, and the bars press nothing.
#include <gtest/gtest.h>

#include "orvo/orvo.h"
#include "race.h"

namespace {

using Vec = std::pair<float, float>;
enum Kind {
    KeyDown = SDL_KEYDOWN,
    KeyUp = SDL_KEYUP,
    FocusLost,
    Down = SDL_FINGERDOWN,
    Up = SDL_FINGERUP,
    Move = SDL_FINGERMOTION
};
// Centres of the buttons and of the picture, in pixels of the 1280 x 720 picture.
const Vec L{112, 608}, R{272, 608}, B{1008, 608}, D{1168, 608}, Mid{640, 360};

class TouchTest : public testing::Test {
protected:
    void SetUp() override
    {
        orvo::Init();
        game = new orvo::Game(8, 3);
        game->SetMaximizedViewport(1.777777f);
        race = new RaceState(game);
        game->SetState(race);
    }
    void TearDown() override { delete race, delete game, orvo::Exit(); }

    // An event through SDL's queue, where the renderer maps fingers onto the picture as it does
    // for real ones; a finger at `at` in pixels of a window `size` pixels large.
    Vec Send(Kind kind, SDL_FingerID finger, Vec at = Mid, Vec size = {1280, 720})
    {
        SDL_Event event{};
        if (kind == FocusLost) {
            event.window.type = SDL_WINDOWEVENT;
            event.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
        } else if (kind == KeyDown || kind == KeyUp) {
            event.key.type = kind;
            event.key.keysym.sym = static_cast<SDL_Keycode>(finger);
        } else {
            event.tfinger = {kind, 0, 1, finger, at.first / size.first, at.second / size.second, 0, 0, 1, 1};
        }
        SDL_PushEvent(&event);
        for (SDL_Event queued; SDL_PollEvent(&queued) != 0;) {
            game->HandleEvent(queued);
        }
        return {race->GetControl().x, race->GetControl().y};
    }
    orvo::Game* game = nullptr;
    RaceState* race = nullptr;
};

TEST_F(TouchTest, EachButtonGivesItsKeysControlAndFingersSlidesAndKeysCombine)
{
    const std::pair<Vec, SDL_Keycode> buttons[] = {{L, SDLK_LEFT}, {R, SDLK_RIGHT}, {B, SDLK_DOWN}, {D, SDLK_UP}};
    for (const auto& [at, key] : buttons) {
        const Vec byKey = Send(KeyDown, key);
        EXPECT_EQ(Send(KeyUp, key), Vec(0, 0));
        EXPECT_EQ(Send(Down, 1, at), byKey) << "key " << SDL_GetKeyName(key);
        EXPECT_EQ(Send(Up, 1, at), Vec(0, 0)) << "key " << SDL_GetKeyName(key);
    }
    const struct {
        Kind kind;
        SDL_FingerID finger; // the key's code for a key
        Vec at, control;
    } script[] = {
        {Down, 1, L, {-1, 0}},
        {Down, 2, D, {-1, 1}},
        {Up, 1, L, {0, 1}}, // thumbs together
        {Move, 2, Mid, {0, 0}},
        {Move, 2, B, {0, -1}},
        {Up, 2, Mid, {0, 0}}, // off and back on
        {Down, 3, L, {-1, 0}},
        {Move, 3, {192.5f, 608}, {1, 0}},
        {Move, 3, {191.5f, 608}, {-1, 0}},
        {Up, 3, {500, 200}, {0, 0}}, // lifted elsewhere
        {Down, 4, {31.5f, 608}, {0, 0}},
        {Down, 5, {112, 527.5f}, {0, 0}},
        {Down, 6, {1248.5f, 608}, {0, 0}},
        {Down, 7, {112, 688.5f}, {0, 0}},
        {Move, 7, {927.5f, 608}, {0, 0}},
        {Down, 8, {352.5f, 608}, {0, 0}},
        {Down, 9, L, {-1, 0}},
        {KeyDown, SDLK_RIGHT, {}, {0, 0}},
        {Up, 9, L, {1, 0}}, // opposites cancel
        {Down, 9, D, {1, 1}},
        {KeyDown, SDLK_s, {}, {1, 0}},
        {KeyUp, SDLK_RIGHT, {}, {0, 0}},
        {KeyUp, SDLK_s, {}, {0, 1}},
        {Down, 10, L, {-1, 1}},
        {FocusLost, 0, {}, {0, 0}}, // let go
        {Move, 10, L, {0, 0}},
        {Move, 9, D, {0, 0}},
        {Down, 10, R, {1, 0}}, // and ignored
    };
    for (size_t i = 0; i < sizeof script / sizeof *script; ++i) {
        EXPECT_EQ(Send(script[i].kind, script[i].finger, script[i].at), script[i].control) << "step " << i;
    }
}

// A window of 1280 x 900 shows the picture with bars of 90 pixels above and below.
TEST_F(TouchTest, InAWindowOfAnotherShapeFingersMapOntoThePictureAndTheBarsPressNothing)
{
    SDL_SetWindowSize(orvo::GetSDLWindow(), 1280, 900);
    EXPECT_EQ(Send(Down, 1, {1168, 90 + 608}, {1280, 900}), Vec(0, 1));
    EXPECT_EQ(Send(Down, 2, {112, 899.5f}, {1280, 900}), Vec(0, 1)) << "the bar below steer left";
    EXPECT_EQ(Send(Move, 1, {1168, 0.5f}, {1280, 900}), Vec(0, 0)) << "the bar above";
}

// What a player sees at a pixel of the drive button: the picture as ever until a finger touches
// anywhere, then the idle button, then the lit one while a finger holds it.
TEST_F(TouchTest, ButtonsAppearWithTheFirstTouchAndLightWhileHeld)
{
    std::vector<Uint32> seen;
    for (const Kind kind : {Up, Down, Move, Up}) {
        Send(kind, 1, kind == Move ? D : Mid);
        SDL_RenderClear(orvo::GetSDLRenderer());
        race->OnStepGraphicsTime();
        const SDL_Rect pixel{1168, 670, 1, 1};
        seen.push_back(0);
        SDL_RenderReadPixels(orvo::GetSDLRenderer(), &pixel, SDL_PIXELFORMAT_RGB888, &seen.back(), 4);
    }
    EXPECT_NE(seen[1], seen[0]);
    EXPECT_NE(seen[2], seen[1]);
    EXPECT_EQ(seen[3], seen[1]);
}

} // namespace

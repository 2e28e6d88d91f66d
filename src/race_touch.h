// The race's touch controls: four buttons over the picture, steering at the bottom left and the
// pedals at the bottom right, that hold the arrow keys' directions while fingers are on them.
#pragma once

#include <vector>

#include "race.h"

// The buttons, where they are, and which fingers are down. A finger holds the button under it,
// or none, wherever it slides; the buttons appear with the first touch and stay from then on.
class TouchControls {
public:
    // In the order they sit on the screen, left to right.
    enum Button : int { kSteerLeft, kSteerRight, kBrake, kDrive, kButtonCount, kNoButton = -1 };

    struct Finger {
        SDL_TouchID device;
        SDL_FingerID id;
        int button; // a Button, kNoButton over the rest of the picture
    };

    bool shown = false;
    std::vector<Finger> fingers; // those down, in the order they touched
    SDL_Rect areas[kButtonCount];
    orvo::Sprite* images[kButtonCount];    // owned, like the lit ones
    orvo::Sprite* litImages[kButtonCount]; // drawn instead while held

    // Lays the buttons out in the picture that `viewport` gives the size of.
    explicit TouchControls(const orvo::Viewport& viewport);
    ~TouchControls();
    TouchControls(const TouchControls&) = delete;
    TouchControls& operator=(const TouchControls&) = delete;

    void Press(const SDL_TouchFingerEvent& event);
    void Slide(const SDL_TouchFingerEvent& event);
    void Lift(const SDL_TouchFingerEvent& event);
    // Lets every finger go; one that stays down holds nothing until it touches again.
    void Cancel();

    // The button at a position normalised to the picture, or kNoButton.
    int FindButton(float x, float y) const;
    bool IsHeld(int button) const;
    HeldDirections GetHeldDirections() const;
    // Draws the buttons over the picture once they are shown.
    void Draw() const;

private:
    int pictureWidth;
    int pictureHeight;

    Finger* FindFinger(const SDL_TouchFingerEvent& event);
};

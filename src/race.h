// The race: one car driven with the arrow keys over an endless ground of tiles, a camera that
// trails ahead of it, and the car's dynamics model with its tyre curve.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>
#ifndef __EMSCRIPTEN__
#include <thread>
#endif

#include "orvo/draw.h"
#include "orvo/orvo.h"
#include "race_replay.h"
#include "race_sound.h"

class Instruments;
class RaceState;
class ReplayPlayback;
class TouchControls;

// The tyre characteristic: rises with slope `stiffness` from 0, peaks where |slip * scale| nears
// 1 and falls off beyond, shaped by `exponent`. Odd in `slip`.
float GetPacejkaForce(float slip, float stiffness, float scale, float exponent);
// The largest force of the car's cornering curve, reached at a slip angle of about 1.07 rad.
float GetCorneringPeakForce();

// The constants that shape one of the car's tyre curves, as GetPacejkaForce takes them.
struct TyreCurve {
    float stiffness;
    float scale;
    float exponent;
};
// The car's own curves: cornering force against slip angle (radians), traction force against the
// longitudinal slip (units per second).
TyreCurve GetCorneringCurve();
TyreCurve GetTractionCurve();

// The one simulated vehicle. Its position and heading are those of its body sprite, which hangs
// under the race's world node. Wheels are indexed 0 front-left, 1 front-right, 2 rear-right,
// 3 rear-left; the front two are steered. The nose points along the body's local -y.
class Car {
public:
    struct Offset {
        float x;
        float y;
    };

    const orvo::Game* game;         // not owned; gives the step length
    const RaceState* race;          // not owned
    float steerAngle = 0.0f;        // the driver's steering, rate limited, within +-pi/4
    float wheelAngle = 0.0f;        // the front wheels' angle against the body
    float throttle = 0.0f;          // the pedal command clamped to [-0.2, 1]
    Offset wheelOffset{0.7f, 0.7f}; // half track (x) and half wheelbase (y)
    orvo::Vector2 velocity;         // world units per second, world axes
    float angularVelocity = 0.0f;   // radians per second, positive clockwise on screen
    orvo::Sprite* body = nullptr;   // owned, like every sprite below
    orvo::Sprite* tyres[4] = {nullptr, nullptr, nullptr, nullptr};
    orvo::Sprite* shade = nullptr;
    orvo::Sprite* redDot = nullptr;  // follows the front-left wheel's slip angle
    orvo::Sprite* blueDot = nullptr; // stays at the world origin
    bool drawMarkers = true;         // the two dots; a ghost car leaves them out

    // What the last step computed that the car's sound and the instruments are made from. The
    // model never reads it.
    struct StepValues {
        float rollingSpeeds[4] = {}; // each wheel's rolling speed along its facing, negative backward
        float lateralForces[4] = {}; // from the cornering curve at each wheel's slip angle
        float wheelSpeeds[4] = {};   // of the contact points
        bool braking = false;        // the pedal down while the car still rolls forward
        bool reversing = false;      // the pedal down, driving backward

        // For the instruments. The longitudinal slip is the traction curve's input: the driven or
        // braked rolling velocity less the wheel's own, along its facing.
        float slipAngles[4] = {};        // each wheel's, folded into [-pi/2, pi/2]
        float longitudinalSlips[4] = {}; // units per second
        float tractionForces[4] = {};    // from the traction curve at that slip
        orvo::Vector2 control;           // the command the step was given
        orvo::Vector2 forward;           // the nose's direction the step used
        orvo::Vector2 velocityChange;    // the car's velocity after the step less before it
    } lastStep;

    Car(const orvo::Game* game, const RaceState* race, const orvo::Vector2& position, float heading);
    virtual ~Car();
    Car(const Car&) = delete;
    Car& operator=(const Car&) = delete;

    // One fixed physics step: control.x steers (-1 left, +1 right), control.y is the pedal
    // (+1 drive, -1 brake or reverse).
    void OnStepPhysicsTime(const orvo::Vector2& control);
    // Places the shadow under the body, offset by `shadeOffset`, and draws the car's sprites.
    void Draw(const orvo::Camera& camera, const orvo::Vector2& shadeOffset);
    // Makes every sprite of the car see-through: 0 invisible, 255 opaque.
    void SetAlpha(int alpha);
    // What the synthesizer takes from the last step: the wheels' mean rolling speed, the pedal,
    // and a squeal that starts as the wheel nearest its grip limit passes 85% of the cornering
    // curve's peak force and is full at 99%.
    CarSoundInput GetSoundInput() const;
};

// The four directions of the control, each held or not.
struct HeldDirections {
    bool left = false;
    bool right = false;
    bool up = false;
    bool down = false;
};

// What one game controller holds, as its latest events left it.
struct Gamepad {
    SDL_JoystickID id;
    bool buttons[SDL_CONTROLLER_BUTTON_MAX] = {};
    Sint16 axes[SDL_CONTROLLER_AXIS_MAX] = {};

    // The directions its D-pad, left stick, triggers and A and B buttons hold.
    HeldDirections GetHeldDirections() const;
};

// A line of text shown over the picture until a moment of SDL's clock.
struct Notice {
    std::string text;
    uint64_t untilTicks;
};

// A drive being written to its file on a thread of its own, so that a slow disk never holds up a
// frame; the race reports it once done.
struct PendingSave {
    std::atomic<bool> done{false};
    std::string path;  // empty when the save failed
    std::string error; // why
#ifndef __EMSCRIPTEN__
    std::thread writer;
#endif
};

// The game's one state: owns the scene, turns the keys, controllers and touches (or a replay) into
// the car's control, records that control, and keeps the camera on the mean of the car's recent
// look-ahead points.
class RaceState : public orvo::State {
public:
    orvo::Camera camera;
    orvo::SpatialNode world;
    std::list<orvo::Vector2> cameraTargets; // oldest first, at most 600 ms of steps
    orvo::Sprite* hud = nullptr;            // owned, like the tiles and the car
    float hudScale = 1.0f;                  // viewport pixels per pixel of the overlay image
    Car* car = nullptr;
    int tileSize = 18;
    int gridColumns = 6;
    int gridRows = 4;
    orvo::Sprite** tiles = nullptr; // tile of column c and row r at r * gridColumns + c
    bool keyLeft = false;
    bool keyRight = false;
    bool keyUp = false;
    bool keyDown = false;
    HeldDirections letterKeys;                 // W, A, S and D, which act as the arrows
    std::vector<Gamepad> gamepads;             // those that have sent an event, in order of their first
    RaceSound sound;                           // plays while the race is the game's state
    bool muteKeyHeld = false;                  // M toggles the sound once per press, not per key repeat
    TouchControls* touch = nullptr;            // owned
    ReplayRecorder recorder{0.0f, 0.0f, 0.0f}; // the car's control at every step, from the first
    ReplayPlayback* playback = nullptr;        // owned; while set, the car's control comes from it
    Car* ghost = nullptr;                      // owned; a see-through car that drives a replay
    ReplayPlayback* ghostPlayback = nullptr;   // owned; while set, the ghost drives
    // Told the verdict when a played replay, or a ghost's, has ended.
    std::function<void(const ReplayPlayback&)> onReplayEnded;
    std::vector<Notice> notices;                     // drawn over everything, newest at the bottom
    std::vector<std::unique_ptr<PendingSave>> saves; // in the order of the key presses
    orvo::Font font;
    orvo::TextBatch noticeText{&font};
    orvo::ShapeBatch noticeBackground;

    // Owned; I or a controller's X shows and hides them, I once per press as M does.
    Instruments* instruments = nullptr;
    bool instrumentsKeyHeld = false;

    explicit RaceState(orvo::Game* game);
    ~RaceState() override;
    RaceState(const RaceState&) = delete;
    RaceState& operator=(const RaceState&) = delete;

    void OnActivate() override;
    void OnDeactivate() override;
    void OnKeyDown(SDL_Keysym keysym) override;
    void OnKeyUp(SDL_Keysym keysym) override;
    void OnStepPhysicsTime() override;
    void OnStepGraphicsTime() override;
    void OnControllerButtonDown(SDL_ControllerButtonEvent event) override;
    void OnControllerButtonUp(SDL_ControllerButtonEvent event) override;
    void OnControllerAxisMotion(SDL_ControllerAxisEvent event) override;
    void OnControllerRemoved(SDL_JoystickID controller) override;
    void OnFingerDown(SDL_TouchFingerEvent event) override;
    void OnFingerMotion(SDL_TouchFingerEvent event) override;
    void OnFingerUp(SDL_TouchFingerEvent event) override;
    void OnTouchesCancelled() override;

    // A direction is held while any key, controller or finger holds it.
    HeldDirections GetHeldDirections() const;
    // The control vector of the held directions: opposite directions cancel.
    orvo::Vector2 GetControl() const;
    // Lays the tiles out around the camera on the fixed world lattice.
    void OrderGrid();
    // The overlay frame over the whole viewport, its transparent middle left undrawn.
    void DrawOverlay() const;

    // The frame of the overlay image (res/gfx/hud.png, 640 x 360). Its middle is fully
    // transparent with a pixel to spare all round, so that the scaled image's filtering brings
    // nothing of the frame into it; the largest such middle leaves 61 and 42 pixels each side.
    // Taken up to 64 and 48, the pieces' edges land on whole pixels at every scale in eighths
    // (full screen at 1.25 or 1.5 times), where the software renderer, which places each piece at
    // whole pixels, then draws no seam.
    static constexpr orvo::NineSliceInsets kHudFrame{64, 48, 64, 48};

    // Plays `replay` from its first step (the car starts where it started); the devices take over
    // at its end. Before the first step only.
    void StartReplay(Replay replay);
    // A see-through car drives `replay` from its start, where the car starts too. Before the first
    // step only.
    void StartGhost(Replay replay);
    // 0 live, 1 a replay playing, 2 racing a ghost that still drives.
    int GetMode() const;
    // The drive so far as a replay.
    Replay GetRecordedDrive() const;
    // Saves the drive so far as a new file of the replay folder, and says where, or why not, once
    // written. Only the copy of the drive is made here; the disk is left to another thread.
    void SaveDrive();
    // Reports the saves that have finished (all of them, waiting for them, when `wait`).
    void FinishSaves(bool wait);
    // Shows `text` over the picture for `seconds`, and prints it on stdout (or, as an error, stderr).
    void ShowNotice(const std::string& text, double seconds, bool error = false);

private:
    // Reports a replay that has ended and lets it go.
    void EndPlayback(ReplayPlayback*& ended);
    void DrawNotices();
};

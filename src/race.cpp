// The race scene, the car with its dynamics model and tyre curve, and the drawing of the race.
//
// The car model is defined to the last bit: every stored quantity is a float, library maths runs
// in double and is rounded where the result is stored, and the order of the operations below is
// part of the result. Build without fused multiply-add (-ffp-contract=off).
#include "race.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "race_control.h"
#include "race_instruments.h"
#include "race_touch.h"

using orvo::Vector2;

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kQuarterPi = 0.78539819f;

constexpr int kWheels = 4;
constexpr float kDriveSpeed = 50.0f;

// Cornering and traction parameters of the tyre curve.
constexpr float kCorneringStiffness = 3.0f;
constexpr float kCorneringScale = 1.8f;
constexpr float kCorneringExponent = 1.4f;
constexpr float kTractionStiffness = 7.0f;
constexpr float kTractionScale = 4.0f;
constexpr float kTractionExponent = 1.3f;

// Folds an angle into [-pi/2, pi/2]: a wheel or car moving backward against where it points gets
// a small angle against the reversed direction, signed so that the cornering force still opposes
// the sideways motion.
float FoldAngle(float angle)
{
    if (std::fabs(angle) > kHalfPi) {
        return orvo::SignSide(angle) * (kPi - std::fabs(angle));
    }
    return angle;
}

// The snapped length of a vector (as GetLength gives it) together with the square root it came
// from, so that one root serves both the length and a later normalisation.
struct Magnitude {
    float length;
    double root;
};

Magnitude Measure(const Vector2& v)
{
    const double root = std::sqrt(static_cast<double>(v.x * v.x + v.y * v.y));
    const float length = static_cast<float>(root);
    return Magnitude{length < 1e-06f ? 0.0f : length, root};
}

// `v` scaled to unit length, as Normalize scales it; `v` must not be near zero.
Vector2 Unit(const Vector2& v, const Magnitude& magnitude) { return v * static_cast<float>(1.0 / magnitude.root); }

// The unit direction in which `velocity` travels, blended toward `pointing` (a unit vector) below
// half a unit per second so that something at rest still has a direction. No vector that can be
// near zero is ever normalised here.
Vector2 GetTravelDirection(const Vector2& velocity, const Magnitude& magnitude, const Vector2& pointing)
{
    if (magnitude.length >= 0.5f) {
        return Unit(velocity, magnitude);
    }
    const float blend = 2.0f * magnitude.length;
    const Vector2 direction = velocity.IsNearZero() ? Vector2() : Unit(velocity, magnitude);
    const Vector2 blended = direction * blend + pointing * (1.0f - blend);
    return blended.IsNearZero() ? pointing : blended.GetNormalized();
}

// What the cornering half of the step leaves to the traction half, per wheel.
struct WheelStep {
    Vector2 velocities[kWheels];       // contact-point velocities
    Magnitude speeds[kWheels];         // their lengths
    Vector2 travelDirections[kWheels]; // smoothed unit directions of travel
    Vector2 facings[kWheels];          // where each wheel points and rolls
    float slipAngles[kWheels];         // folded into [-pi/2, pi/2]
    float lateralForces[kWheels];      // from the cornering curve
    float forwardAlignment;            // cosine between nose and direction of travel
    // Cosine and sine of the turn from world axes into each pair's facing (front pair, rear pair),
    // taken early so that they overlap with the cornering work that does not need them.
    double toFacingCos[2];
    double toFacingSin[2];
};

// Moves the steering toward the command at 5 radians per second and clamps the pedal.
void SteerAndClampPedal(Car& car, const Vector2& control, int stepMs)
{
    const float target = control.x;
    const float steer = car.steerAngle;
    const float maxChange = stepMs * 0.005f;
    float change = 0.0f;
    if (target > steer) {
        change = target - steer < maxChange ? target - steer : maxChange;
    } else if (target < steer) {
        change = target - steer > -maxChange ? target - steer : -maxChange;
    }
    car.steerAngle = orvo::Clamp(steer + change, -kQuarterPi, kQuarterPi);

    float pedal = control.y;
    if (pedal < -0.2f) {
        pedal = -0.2f;
    } else if (pedal > 1.0f) {
        pedal = 1.0f;
    }
    car.throttle = pedal;
}

// Rigid-body velocity of each wheel corner. The lever brackets are not normalised (each has
// length sqrt 2), which the model's rates of turn are tuned to. Each bracket is formed from the
// double cosine and sine of the heading and rounded to float once; only the products with the
// rate of turn and the half diagonal, and the sum, are float arithmetic.
void ComputeWheelVelocities(const Car& car, double cosHeading, double sinHeading, WheelStep& wheels)
{
    const double c = cosHeading;
    const double s = sinHeading;
    const float omega = car.angularVelocity;
    const float halfDiagonal = static_cast<float>(std::pow(
        static_cast<double>(car.wheelOffset.x * car.wheelOffset.x + car.wheelOffset.y * car.wheelOffset.y), 0.5));
    const Vector2& v = car.velocity;
    const float leverX[kWheels] = {static_cast<float>(c + s), static_cast<float>(c - s), static_cast<float>(-c - s),
                                   static_cast<float>(s - c)};
    const float leverY[kWheels] = {static_cast<float>(s - c), static_cast<float>(c + s), static_cast<float>(c - s),
                                   static_cast<float>(-c - s)};
    for (int i = 0; i < kWheels; ++i) {
        wheels.velocities[i] = Vector2(v.x + leverX[i] * omega * halfDiagonal, v.y + leverY[i] * omega * halfDiagonal);
        wheels.speeds[i] = Measure(wheels.velocities[i]);
    }
}

// The factor by which speed reduces the front wheels' angle: 1 at rest, 0.3 from 50 units per
// second on. Kept in double: it is rounded only with the angle it multiplies.
double GetSteeringReduction(float speed)
{
    return 1.0f - 0.7f * std::pow(static_cast<double>(orvo::NormalizedClamp(speed, 0.0f, kDriveSpeed)), 0.5);
}

// The front wheels' effective angle: the driver's steering mixed with a counter-steer toward the
// direction of travel that grows with the drift, then reduced with speed.
float ComputeWheelAngle(const Car& car, const Vector2& forward, const Vector2& travelDirection, float forwardAlignment,
                        double steeringReduction)
{
    const float driftAngle = FoldAngle(forward.GetAngleTo(travelDirection));
    const float counterSteer = static_cast<float>(
        0.7f * std::pow(static_cast<double>(orvo::Clamp(1.0f - std::fabs(forwardAlignment), 0.0f, 1.0f)), 0.5));
    const float mixed =
        orvo::Clamp(driftAngle, -kQuarterPi, kQuarterPi) * counterSteer + car.steerAngle * (1.0f - counterSteer);
    return static_cast<float>(steeringReduction * mixed);
}

// Points both wheels of a pair (0 front, 1 rear) along `facing`: their slip angles, the cornering
// curve's lateral force for each, and the turn into the facing that the traction half needs.
void FaceWheelPair(WheelStep& wheels, int pair, const Vector2& facing)
{
    for (int i = 2 * pair; i < 2 * pair + 2; ++i) {
        wheels.facings[i] = facing;
        wheels.slipAngles[i] = FoldAngle(wheels.travelDirections[i].GetAngleTo(facing));
        wheels.lateralForces[i] =
            GetPacejkaForce(wheels.slipAngles[i], kCorneringStiffness, kCorneringScale, kCorneringExponent);
    }
    // cos(-a) and sin(-a) as cos(a) and -sin(a): the same values, from one fused call.
    const double facingAngle = static_cast<double>(facing.GetAngle());
    wheels.toFacingCos[pair] = std::cos(facingAngle);
    wheels.toFacingSin[pair] = -std::sin(facingAngle);
}

// Lateral tyre forces along each wheel's axle, against its sideways slip: on the velocity in
// proportion to the car's speed, on the rate of turn in proportion to each wheel's own speed.
// `speed` is the car's speed before the first wheel's share.
void ApplyCorneringForces(Car& car, const WheelStep& wheels, float speed, int stepMs)
{
    for (int i = 0; i < kWheels; ++i) {
        // Each wheel sees the speed that the previous wheels' shares have left.
        if (i > 0) {
            speed = car.velocity.GetLength();
        }
        const Vector2 axle = wheels.facings[i].GetRotated(kHalfPi);
        const float force = wheels.lateralForces[i];
        car.velocity.x = car.velocity.x + axle.x * force * speed * 0.6f * stepMs * 0.001f;
        car.velocity.y = car.velocity.y + axle.y * force * speed * 0.6f * stepMs * 0.001f;
    }
    const int frontWheels[2] = {0, 1};
    const int rearWheels[2] = {2, 3};
    for (int pair = 0; pair < 2; ++pair) {
        const int front = frontWheels[pair];
        const int rear = rearWheels[pair];
        car.angularVelocity =
            car.angularVelocity + wheels.speeds[front].length * wheels.lateralForces[front] * 0.6f * stepMs * 0.001f;
        car.angularVelocity =
            car.angularVelocity - wheels.speeds[rear].length * wheels.lateralForces[rear] * 0.6f * stepMs * 0.001f;
    }
}

// First half of the step: steering, wheel kinematics, slip angles and cornering forces.
WheelStep SteerAndCorner(Car& car, const Vector2& control, int stepMs)
{
    SteerAndClampPedal(car, control, stepMs);

    const float heading = car.body->spatial.rotation;
    const double cosHeading = std::cos(static_cast<double>(heading));
    const double sinHeading = std::sin(static_cast<double>(heading));

    WheelStep wheels;
    ComputeWheelVelocities(car, cosHeading, sinHeading, wheels);

    // The nose's direction: (0, -1) turned by the heading, rounded to float.
    const Vector2 forward(static_cast<float>(sinHeading), static_cast<float>(-cosHeading));
    car.lastStep.forward = forward;
    const Magnitude carSpeed = Measure(car.velocity);
    const Vector2 travelDirection = GetTravelDirection(car.velocity, carSpeed, forward);

    // At low speed the front wheels lean toward where they pointed in the previous step.
    const double previousFrontAngle = static_cast<double>(heading) + static_cast<double>(car.wheelAngle);
    const Vector2 previousFrontFacing(static_cast<float>(std::sin(previousFrontAngle)),
                                      static_cast<float>(-std::cos(previousFrontAngle)));
    for (int i = 0; i < kWheels; ++i) {
        const Vector2& pointing = i < 2 ? previousFrontFacing : forward;
        wheels.travelDirections[i] = GetTravelDirection(wheels.velocities[i], wheels.speeds[i], pointing);
    }

    // The rear wheels point along the nose and need nothing of the new wheel angle; facing them
    // first lets their maths overlap with the chain of dependent calls that the front wheels wait on.
    FaceWheelPair(wheels, 1, forward);
    const double steeringReduction = GetSteeringReduction(carSpeed.length);

    wheels.forwardAlignment = forward.Dot(travelDirection);
    car.wheelAngle = ComputeWheelAngle(car, forward, travelDirection, wheels.forwardAlignment, steeringReduction);
    FaceWheelPair(wheels, 0, forward.GetRotated(car.wheelAngle));

    ApplyCorneringForces(car, wheels, carSpeed.length, stepMs);
    return wheels;
}

// The rolling velocity each wheel is driven or braked toward: the drive velocity (forward at 50,
// or backward at 10 when reversing) or zero when braking, never more than 1 unit per second
// from the wheel's current rolling velocity.
void ComputeTargetVelocities(const Car& car, const Vector2& control, const WheelStep& wheels,
                             Vector2 (&targets)[kWheels], Car::StepValues& kept)
{
    const bool drive = control.y > 0.5f;
    const bool brakeOrReverse = control.y < -0.5f;
    // Braking turns into reversing once the car no longer moves forward faster than 1 unit per
    // second; a NaN alignment reverses too.
    const bool reverse = brakeOrReverse && !(car.velocity.GetLength() * wheels.forwardAlignment > 1.0f);
    kept.braking = brakeOrReverse && !reverse;
    kept.reversing = reverse;
    for (int i = 0; i < kWheels; ++i) {
        const Vector2& facing = wheels.facings[i];
        const float alongFacing = facing.Dot(wheels.travelDirections[i]);
        const Vector2 rolling = facing * alongFacing * wheels.speeds[i].length;
        kept.rollingSpeeds[i] = alongFacing * wheels.speeds[i].length;
        if (drive || reverse) {
            const Vector2 driveVelocity = facing * car.throttle * kDriveSpeed;
            targets[i] = rolling.EnforceMaximumDeviation(driveVelocity, 1.0f);
        } else if (brakeOrReverse) {
            targets[i] = rolling.EnforceMaximumDeviation(Vector2(0.0f, 0.0f), 1.0f);
        } else {
            targets[i] = rolling;
        }
    }
}

// Second half of the step: traction and braking along each wheel, then the debug marker and the
// semi-implicit integration of position and heading.
void DriveAndIntegrate(Car& car, const Vector2& control, const WheelStep& wheels, int stepMs)
{
    Vector2 targets[kWheels];
    ComputeTargetVelocities(car, control, wheels, targets, car.lastStep);
    for (int i = 0; i < kWheels; ++i) {
        car.lastStep.lateralForces[i] = wheels.lateralForces[i];
        car.lastStep.wheelSpeeds[i] = wheels.speeds[i].length;
        car.lastStep.slipAngles[i] = wheels.slipAngles[i];
    }

    // The forces come from values fixed before the loop; each wheel's share is rounded into the
    // sum before the next one adds its own.
    Vector2 newVelocity = car.velocity;
    for (int i = 0; i < kWheels; ++i) {
        const Vector2 difference = targets[i] - wheels.velocities[i];
        // The difference's component along the facing, as GetRotated by minus its angle gives it.
        const double c = wheels.toFacingCos[i / 2];
        const double s = wheels.toFacingSin[i / 2];
        const float longitudinalSlip = static_cast<float>(difference.x * c - difference.y * s);
        const float tractionForce =
            GetPacejkaForce(longitudinalSlip, kTractionStiffness, kTractionScale, kTractionExponent);
        car.lastStep.longitudinalSlips[i] = longitudinalSlip;
        car.lastStep.tractionForces[i] = tractionForce;
        newVelocity += wheels.facings[i] * tractionForce * 0.25f * 15.0f * static_cast<float>(stepMs) * 0.001f;
    }
    car.velocity = newVelocity;

    car.redDot->spatial.position = Vector2(5.0f * wheels.slipAngles[0], 10.0f);

    orvo::Spatial& placement = car.body->spatial;
    placement.position.x = placement.position.x + car.velocity.x * stepMs * 0.001f;
    placement.position.y = placement.position.y + car.velocity.y * stepMs * 0.001f;
    const float heading = placement.rotation + stepMs * car.angularVelocity * 0.001f;
    placement.rotation = orvo::ModulateIntoRange(heading, -kPi, kPi);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Tyre curve

float GetPacejkaForce(float slip, float stiffness, float scale, float exponent)
{
    const double bend = std::pow(std::fabs(static_cast<double>(slip) * scale), static_cast<double>(exponent));
    const double linear = static_cast<double>(slip) * stiffness;
    return static_cast<float>(linear / (bend + 1.0));
}

float GetCorneringPeakForce()
{
    // k s / (1 + |a s|^e) peaks where |a s|^e = 1 / (e - 1).
    static const float peak = GetPacejkaForce(
        static_cast<float>(std::pow(1.0 / (kCorneringExponent - 1.0), 1.0 / kCorneringExponent) / kCorneringScale),
        kCorneringStiffness, kCorneringScale, kCorneringExponent);
    return peak;
}

TyreCurve GetCorneringCurve() { return TyreCurve{kCorneringStiffness, kCorneringScale, kCorneringExponent}; }

TyreCurve GetTractionCurve() { return TyreCurve{kTractionStiffness, kTractionScale, kTractionExponent}; }

// ---------------------------------------------------------------------------------------------
// Car

Car::Car(const orvo::Game* game, const RaceState* race, const orvo::Vector2& position, float heading)
    : game(game), race(race)
{
    body = new orvo::Sprite(&race->world);
    body->LoadFile("res/gfx/car.png", orvo::FILTER_NEAREST);

    // Quarter turns clockwise from the front-left corner: front-right, rear-right, rear-left.
    Vector2 corner(-wheelOffset.x, -wheelOffset.y);
    for (orvo::Sprite*& tyre : tyres) {
        tyre = new orvo::Sprite(body);
        tyre->LoadFile("res/gfx/tyre.png", orvo::FILTER_NEAREST);
        tyre->spatial.position = corner;
        tyre->spatial.size = Vector2(0.5f, 0.8f);
        corner = corner.GetRotated(kHalfPi);
    }

    shade = new orvo::Sprite(&race->world);
    shade->LoadFile("res/gfx/carshade.png", orvo::FILTER_LINEAR);

    body->spatial.position = position;
    body->spatial.rotation = heading;
    body->spatial.size = Vector2(2.0f, 2.0f);

    redDot = new orvo::Sprite(&race->world);
    redDot->LoadFile("res/gfx/reddot.png", orvo::FILTER_NEAREST);
    blueDot = new orvo::Sprite(&race->world);
    blueDot->LoadFile("res/gfx/bluedot.png", orvo::FILTER_NEAREST);
    redDot->spatial.size = Vector2(0.5f, 0.5f);
    blueDot->spatial.size = Vector2(0.5f, 0.5f);
}

Car::~Car()
{
    delete redDot;
    delete blueDot;
    delete body;
    for (orvo::Sprite* tyre : tyres) {
        delete tyre;
    }
    delete shade;
}

void Car::OnStepPhysicsTime(const orvo::Vector2& control)
{
    const int stepMs = game->physicsStepMs;
    const Vector2 velocityBefore = velocity;
    lastStep.control = control;
    const WheelStep wheels = SteerAndCorner(*this, control, stepMs);
    DriveAndIntegrate(*this, control, wheels, stepMs);
    lastStep.velocityChange = velocity - velocityBefore;
}

void Car::Draw(const orvo::Camera& camera, const orvo::Vector2& shadeOffset)
{
    const orvo::Spatial& placement = body->spatial;
    shade->spatial.position = placement.position + shadeOffset;
    shade->spatial.depth = placement.depth;
    shade->spatial.rotation = placement.rotation;
    shade->spatial.size = placement.size * 1.2f;

    const orvo::Viewport viewport = game->viewport;
    shade->Draw(viewport, camera);
    body->Draw(viewport, camera);
    tyres[0]->spatial.rotation = wheelAngle;
    tyres[1]->spatial.rotation = wheelAngle;
    for (const orvo::Sprite* tyre : tyres) {
        tyre->Draw(viewport, camera);
    }
    if (drawMarkers) {
        redDot->Draw(viewport, camera);
        blueDot->Draw(viewport, camera);
    }
}

void Car::SetAlpha(int alpha)
{
    for (orvo::Sprite* sprite : {body, tyres[0], tyres[1], tyres[2], tyres[3], shade, redDot, blueDot}) {
        sprite->SetAlpha(alpha);
    }
}

CarSoundInput Car::GetSoundInput() const
{
    CarSoundInput input;
    const float peak = GetCorneringPeakForce();
    float rolling = 0.0f;
    for (int i = 0; i < kWheels; ++i) {
        rolling += lastStep.rollingSpeeds[i];
        // The curve is flat near its peak (88% of it at 0.5 rad, 99% at 0.9, the peak at 1.07),
        // and a hard turn stays short of the peak: the squeal starts well before it. A wheel that
        // hardly moves squeals at no angle.
        const float nearPeak = orvo::NormalizedClamp(std::fabs(lastStep.lateralForces[i]) / peak, 0.85f, 0.99f);
        const float squeal = nearPeak * orvo::NormalizedClamp(lastStep.wheelSpeeds[i], 1.0f, 5.0f);
        input.squeal = squeal > input.squeal ? squeal : input.squeal;
    }
    input.rollingSpeed = rolling / kWheels;
    input.throttle = throttle;
    input.braking = lastStep.braking;
    input.reversing = lastStep.reversing;
    return input;
}

// ---------------------------------------------------------------------------------------------
// Race state

RaceState::RaceState(orvo::Game* game) : orvo::State(game), world(nullptr)
{
    camera.spatial.depth = 100.0f;

    hud = new orvo::Sprite(nullptr);
    hud->LoadFile("res/gfx/hud.png", orvo::FILTER_LINEAR);
    const orvo::Viewport& viewport = game->viewport;
    // The image is stretched over the viewport: its frame's corners scale as the whole does.
    hudScale = std::min(static_cast<float>(viewport.w) / hud->spatial.size.x,
                        static_cast<float>(viewport.h) / hud->spatial.size.y);
    hud->spatial.position = Vector2(static_cast<float>(viewport.w / 2), static_cast<float>(viewport.h / 2));
    hud->spatial.size = Vector2(static_cast<float>(viewport.w), static_cast<float>(viewport.h));

    gridColumns = 6;
    gridRows = 4;
    tileSize = 18;
    tiles = new orvo::Sprite*[gridColumns * gridRows]();
    for (int column = 0; column < gridColumns; ++column) {
        for (int row = 0; row < gridRows; ++row) {
            orvo::Sprite*& tile = tiles[row * gridColumns + column];
            tile = new orvo::Sprite(&world);
            tile->LoadFile("res/gfx/grid.png", orvo::FILTER_LINEAR);
        }
    }

    car = new Car(game, this, Vector2(0.0f, 0.0f), 0.0f);
    touch = new TouchControls(viewport);
    font.LoadFile("res/gfx/font.png");
    instruments = new Instruments(viewport, game->physicsStepMs);
}

RaceState::~RaceState()
{
    // Stops the audio thread rendering this race's sound before any of the race goes.
    if (game->state == this) {
        OnDeactivate();
    }
    delete hud;
    if (tiles != nullptr) {
        for (int i = 0; i < gridColumns * gridRows; ++i) {
            delete tiles[i];
        }
        delete[] tiles;
    }
    delete car;
    delete touch;
    delete playback;
    delete ghost;
    delete ghostPlayback;
    // A drive saved just before quitting is still written, and said.
    FinishSaves(true);
    delete instruments;
}

void RaceState::OnActivate() { orvo::SetAudioSource(&RaceSound::Fill, &sound); }

// Returns once the audio thread no longer renders this race's sound.
void RaceState::OnDeactivate() { orvo::SetAudioSource(nullptr, nullptr); }

namespace {

// The held-key flag of an arrow key or of W, A, S or D, or null for any other key.
bool* FindKeyFlag(RaceState& race, SDL_Keycode key)
{
    switch (key) {
    case SDLK_LEFT:
        return &race.keyLeft;
    case SDLK_RIGHT:
        return &race.keyRight;
    case SDLK_UP:
        return &race.keyUp;
    case SDLK_DOWN:
        return &race.keyDown;
    case SDLK_a:
        return &race.letterKeys.left;
    case SDLK_d:
        return &race.letterKeys.right;
    case SDLK_w:
        return &race.letterKeys.up;
    case SDLK_s:
        return &race.letterKeys.down;
    default:
        return nullptr;
    }
}

// A stick or trigger holds its direction once pushed past a third of its travel.
constexpr Sint16 kAxisThreshold = 32767 / 3;

// The controller with this instance id, added on its first event.
Gamepad& FindGamepad(std::vector<Gamepad>& gamepads, SDL_JoystickID id)
{
    for (Gamepad& gamepad : gamepads) {
        if (gamepad.id == id) {
            return gamepad;
        }
    }
    gamepads.push_back(Gamepad{id});
    return gamepads.back();
}

void SetButton(std::vector<Gamepad>& gamepads, const SDL_ControllerButtonEvent& event, bool held)
{
    // Button numbers come from the device; one this version of SDL does not name is ignored.
    if (event.button < SDL_CONTROLLER_BUTTON_MAX) {
        FindGamepad(gamepads, event.which).buttons[event.button] = held;
    }
}

} // namespace

void RaceState::OnKeyDown(SDL_Keysym keysym)
{
    if (bool* flag = FindKeyFlag(*this, keysym.sym)) {
        *flag = true;
    } else if (keysym.sym == SDLK_m && !muteKeyHeld) {
        muteKeyHeld = true;
        sound.ToggleMuted();
    } else if (keysym.sym == SDLK_i && !instrumentsKeyHeld) {
        instrumentsKeyHeld = true;
        instruments->Toggle();
    }
#ifndef __EMSCRIPTEN__
    // In the browser the page saves the drive, as a download.
    if (keysym.sym == SDLK_F5) {
        SaveDrive();
    }
#endif
}

void RaceState::OnKeyUp(SDL_Keysym keysym)
{
    if (bool* flag = FindKeyFlag(*this, keysym.sym)) {
        *flag = false;
    } else if (keysym.sym == SDLK_m) {
        muteKeyHeld = false;
    } else if (keysym.sym == SDLK_i) {
        instrumentsKeyHeld = false;
    }
}

void RaceState::OnControllerButtonDown(SDL_ControllerButtonEvent event)
{
    SetButton(gamepads, event, true);
    if (event.button == SDL_CONTROLLER_BUTTON_Y) {
        sound.ToggleMuted();
    } else if (event.button == SDL_CONTROLLER_BUTTON_X) {
        instruments->Toggle();
    }
}

void RaceState::OnControllerButtonUp(SDL_ControllerButtonEvent event) { SetButton(gamepads, event, false); }

void RaceState::OnControllerAxisMotion(SDL_ControllerAxisEvent event)
{
    if (event.axis < SDL_CONTROLLER_AXIS_MAX) {
        FindGamepad(gamepads, event.which).axes[event.axis] = event.value;
    }
}

void RaceState::OnControllerRemoved(SDL_JoystickID controller)
{
    // A controller pulled out sends no releases: everything it held is let go here.
    for (auto it = gamepads.begin(); it != gamepads.end(); ++it) {
        if (it->id == controller) {
            gamepads.erase(it);
            return;
        }
    }
}

void RaceState::OnFingerDown(SDL_TouchFingerEvent event) { touch->Press(event); }

void RaceState::OnFingerMotion(SDL_TouchFingerEvent event) { touch->Slide(event); }

void RaceState::OnFingerUp(SDL_TouchFingerEvent event) { touch->Lift(event); }

void RaceState::OnTouchesCancelled() { touch->Cancel(); }

HeldDirections Gamepad::GetHeldDirections() const
{
    const Sint16 stickX = axes[SDL_CONTROLLER_AXIS_LEFTX];
    HeldDirections held;
    held.left = buttons[SDL_CONTROLLER_BUTTON_DPAD_LEFT] || stickX < -kAxisThreshold;
    held.right = buttons[SDL_CONTROLLER_BUTTON_DPAD_RIGHT] || stickX > kAxisThreshold;
    held.up = buttons[SDL_CONTROLLER_BUTTON_DPAD_UP] || buttons[SDL_CONTROLLER_BUTTON_A] ||
              axes[SDL_CONTROLLER_AXIS_TRIGGERRIGHT] > kAxisThreshold;
    held.down = buttons[SDL_CONTROLLER_BUTTON_DPAD_DOWN] || buttons[SDL_CONTROLLER_BUTTON_B] ||
                axes[SDL_CONTROLLER_AXIS_TRIGGERLEFT] > kAxisThreshold;
    return held;
}

HeldDirections RaceState::GetHeldDirections() const
{
    HeldDirections held{keyLeft || letterKeys.left, keyRight || letterKeys.right, keyUp || letterKeys.up,
                        keyDown || letterKeys.down};
    const auto add = [&held](const HeldDirections& more) {
        held.left = held.left || more.left;
        held.right = held.right || more.right;
        held.up = held.up || more.up;
        held.down = held.down || more.down;
    };
    for (const Gamepad& gamepad : gamepads) {
        add(gamepad.GetHeldDirections());
    }
    add(touch->GetHeldDirections());
    return held;
}

Vector2 RaceState::GetControl() const { return GetControlVector(ToReplayDirections(GetHeldDirections())); }

namespace {

// Steps a car driven by a replay and checks it; true once the replay has ended.
bool StepPlayback(ReplayPlayback& playback, Car& car)
{
    car.OnStepPhysicsTime(GetControlVector(playback.NextDirections()));
    playback.AfterStep(car);
    return playback.IsDone();
}

} // namespace

void RaceState::EndPlayback(ReplayPlayback*& ended)
{
    ShowNotice(ended->Describe(), 8.0, !ended->Matches());
    if (onReplayEnded) {
        onReplayEnded(*ended);
    }
    delete ended;
    ended = nullptr;
}

void RaceState::OnStepPhysicsTime()
{
    // The car's one control stream: the replay while it plays, the devices otherwise. What the car
    // is given is recorded either way, so a replay driven on from its end saves as one drive.
    const uint8_t directions =
        playback != nullptr ? playback->NextDirections() : ToReplayDirections(GetHeldDirections());
    recorder.BeforeStep(directions);
    car->OnStepPhysicsTime(GetControlVector(directions));
    if (recorder.AfterStepNeedsHash()) {
        recorder.AddCheckpoint(HashCarState(*car));
    }
    if (playback != nullptr) {
        playback->AfterStep(*car);
        if (playback->IsDone()) {
            EndPlayback(playback);
        }
    }
    if (ghostPlayback != nullptr && StepPlayback(*ghostPlayback, *ghost)) {
        EndPlayback(ghostPlayback);
    }
    // Only the driven car is heard.
    sound.SetInput(car->GetSoundInput());
    instruments->Record(*car);

    // Where the car will be half a second from now; the camera trails the mean of the last
    // 600 ms of these points.
    cameraTargets.push_back(car->body->spatial.position + car->velocity * 0.5f);
    if (cameraTargets.size() > static_cast<size_t>(600 / game->physicsStepMs)) {
        cameraTargets.pop_front();
    }
    double sumX = 0.0;
    double sumY = 0.0;
    for (const Vector2& target : cameraTargets) {
        sumX += target.x;
        sumY += target.y;
    }
    const double count = static_cast<double>(cameraTargets.size());
    camera.spatial.position = Vector2(static_cast<float>(sumX / count), static_cast<float>(sumY / count));

    // The view widens with speed.
    camera.spatial.depth = 100.0f + 0.4f * car->velocity.GetLength();
}

// ---------------------------------------------------------------------------------------------
// Race drawing

void RaceState::OrderGrid()
{
    const float size = static_cast<float>(tileSize);
    // Snapped to the lattice, so the ground stays put in the world while the tiles follow the
    // camera in whole-tile jumps.
    const float originX = static_cast<float>(size * std::round(static_cast<double>(camera.spatial.position.x) / size));
    const float originY = static_cast<float>(size * std::round(static_cast<double>(camera.spatial.position.y) / size));
    for (int column = 0; column < gridColumns; ++column) {
        for (int row = 0; row < gridRows; ++row) {
            orvo::Spatial& placement = tiles[row * gridColumns + column]->spatial;
            placement.size = Vector2(size, size);
            placement.position.x = (column - (gridColumns - 1) * 0.5f) * size + originX;
            placement.position.y = (row - (gridRows - 1) * 0.5f) * size + originY;
        }
    }
}

void RaceState::OnStepGraphicsTime()
{
    OrderGrid();
    for (int column = 0; column < gridColumns; ++column) {
        for (int row = 0; row < gridRows; ++row) {
            tiles[row * gridColumns + column]->Draw(game->viewport, camera);
        }
    }
    if (ghost != nullptr) {
        ghost->Draw(camera, Vector2(0.15f, 0.1f));
    }
    car->Draw(camera, Vector2(0.15f, 0.1f));
    DrawOverlay();
    instruments->Draw(*car);
    touch->Draw();
    FinishSaves(false);
    DrawNotices();
}

// ---------------------------------------------------------------------------------------------
// Replays

void RaceState::StartReplay(Replay replay)
{
    PlaceAtReplayStart(*car, replay);
    recorder = ReplayRecorder(replay.startX, replay.startY, replay.startHeading);
    playback = new ReplayPlayback(std::move(replay));
    if (playback->IsDone()) {
        playback->CheckEmpty(*car);
        EndPlayback(playback);
    }
}

void RaceState::StartGhost(Replay replay)
{
    PlaceAtReplayStart(*car, replay);
    recorder = ReplayRecorder(replay.startX, replay.startY, replay.startHeading);
    ghost = new Car(game, this, Vector2(), 0.0f);
    ghost->drawMarkers = false;
    ghost->SetAlpha(110);
    PlaceAtReplayStart(*ghost, replay);
    ghostPlayback = new ReplayPlayback(std::move(replay));
    if (ghostPlayback->IsDone()) {
        ghostPlayback->CheckEmpty(*ghost);
        EndPlayback(ghostPlayback);
    }
}

int RaceState::GetMode() const
{
    if (playback != nullptr) {
        return 1;
    }
    return ghostPlayback != nullptr ? 2 : 0;
}

Replay RaceState::GetRecordedDrive() const { return recorder.Finish(HashCarState(*car)); }

void RaceState::SaveDrive()
{
    saves.push_back(std::make_unique<PendingSave>());
    PendingSave* save = saves.back().get();
    const auto write = [save](Replay drive, std::string folder) {
        save->path = SaveReplayInFolder(drive, folder, save->error);
        save->done = true;
    };
#ifndef __EMSCRIPTEN__
    save->writer = std::thread(write, GetRecordedDrive(), GetReplayFolder());
#else
    write(GetRecordedDrive(), GetReplayFolder());
#endif
}

void RaceState::FinishSaves(bool wait)
{
    // In order, so that the notices come as the saves were asked for.
    while (!saves.empty() && (wait || saves.front()->done)) {
        PendingSave& save = *saves.front();
#ifndef __EMSCRIPTEN__
        save.writer.join();
#endif
        if (save.path.empty()) {
            ShowNotice("Replay not saved: " + save.error, 8.0, true);
        } else {
            ShowNotice("Replay saved: " + save.path, 5.0);
        }
        saves.erase(saves.begin());
    }
}

void RaceState::ShowNotice(const std::string& text, double seconds, bool error)
{
    std::fprintf(error ? stderr : stdout, "%s\n", text.c_str());
    std::fflush(error ? stderr : stdout);
    // A few at a time: a key held down does not bury the picture in them.
    if (notices.size() >= 4) {
        notices.erase(notices.begin());
    }
    notices.push_back(Notice{text, SDL_GetTicks64() + static_cast<uint64_t>(seconds * 1000.0)});
}

void RaceState::DrawNotices()
{
    const uint64_t now = SDL_GetTicks64();
    while (!notices.empty() && notices.front().untilTicks <= now) {
        notices.erase(notices.begin());
    }
    if (notices.empty()) {
        return;
    }
    const float width = static_cast<float>(game->viewport.w);
    const float bottom = static_cast<float>(game->viewport.h) - 200.0f;
    noticeText.Clear();
    noticeBackground.Clear();
    float y = bottom - 34.0f * static_cast<float>(notices.size());
    for (const Notice& notice : notices) {
        // A long path is drawn smaller rather than cut off at the picture's edge.
        float height = 24.0f;
        const float measured = font.MeasureWidth(notice.text, height);
        if (measured > width - 40.0f) {
            height = height * (width - 40.0f) / measured;
        }
        const float textWidth = font.MeasureWidth(notice.text, height);
        const float x = (width - textWidth) * 0.5f;
        noticeBackground.AddRect(SDL_FRect{x - 10.0f, y - 4.0f, textWidth + 20.0f, height + 8.0f},
                                 SDL_Color{0, 0, 0, 170});
        noticeText.Add(notice.text, x, y, height, SDL_Color{255, 255, 255, 255});
        y += 34.0f;
    }
    noticeBackground.Draw();
    noticeText.Draw();
}

// Nearly two thirds of the image is its transparent middle: drawn whole, it would fill that many
// pixels for nothing, a frame's worth of work where the drawing is done in software.
void RaceState::DrawOverlay() const { hud->DrawNineSlice(kHudFrame, hudScale); }

// The car's control stream and the playing of replays.
#include "race_control.h"

#include <utility>

using orvo::Vector2;

uint8_t ToReplayDirections(const HeldDirections& held)
{
    return static_cast<uint8_t>((held.left ? kReplayLeft : 0) | (held.right ? kReplayRight : 0) |
                                (held.up ? kReplayUp : 0) | (held.down ? kReplayDown : 0));
}

Vector2 GetControlVector(uint8_t directions)
{
    Vector2 control;
    if ((directions & kReplayLeft) != 0) {
        control.x = -1.0f;
    }
    if ((directions & kReplayRight) != 0) {
        control.x = control.x + 1.0f;
    }
    if ((directions & kReplayUp) != 0) {
        control.y = 1.0f;
    }
    if ((directions & kReplayDown) != 0) {
        control.y = control.y - 1.0f;
    }
    return control;
}

uint64_t HashCarState(const Car& car)
{
    const orvo::Spatial& placement = car.body->spatial;
    return HashCarState(placement.position.x, placement.position.y, placement.rotation, car.velocity.x, car.velocity.y,
                        car.angularVelocity);
}

void PlaceAtReplayStart(Car& car, const Replay& replay)
{
    car.body->spatial.position = Vector2(replay.startX, replay.startY);
    car.body->spatial.rotation = replay.startHeading;
    car.velocity = Vector2();
    car.angularVelocity = 0.0f;
    car.steerAngle = 0.0f;
    car.wheelAngle = 0.0f;
    car.throttle = 0.0f;
}

ReplayPlayback::ReplayPlayback(Replay played) : replay(std::move(played)), cursor(replay)
{
    hasNext = cursor.HasNext();
    if (hasNext) {
        next = cursor.Next();
    }
}

uint8_t ReplayPlayback::NextDirections()
{
    if (hasNext && next.step == stepsPlayed) {
        held = next.directions;
        hasNext = cursor.HasNext();
        if (hasNext) {
            next = cursor.Next();
        }
    }
    return held;
}

void ReplayPlayback::AfterStep(const Car& car)
{
    ++stepsPlayed;
    const bool periodic = stepsPlayed % replay.checkpointInterval == 0;
    if (!periodic && !IsDone()) {
        return;
    }
    const uint64_t hash = HashCarState(car);
    if (periodic) {
        Check(static_cast<size_t>(stepsPlayed / replay.checkpointInterval - 1), hash);
    }
    if (IsDone()) {
        finalHash = hash;
        Check(replay.checkpoints.size() - 1, hash);
    }
}

void ReplayPlayback::CheckEmpty(const Car& car)
{
    finalHash = HashCarState(car);
    Check(replay.checkpoints.size() - 1, finalHash);
}

void ReplayPlayback::Check(size_t checkpoint, uint64_t hash)
{
    if (firstMismatchStep < 0 && replay.checkpoints[checkpoint] != hash) {
        firstMismatchStep = static_cast<int64_t>(stepsPlayed);
    }
}

std::string ReplayPlayback::Describe() const
{
    const std::string steps = std::to_string(replay.stepCount) + " steps";
    if (Matches()) {
        return "Replay verified: " + steps + ", every checkpoint matches; final state " + FormatStateHash(finalHash);
    }
    return "Replay differs from its recording at step " + std::to_string(firstMismatchStep) + " of " + steps +
           "; final state " + FormatStateHash(finalHash);
}

void PlayWhole(ReplayPlayback& playback, Car& car)
{
    PlaceAtReplayStart(car, playback.GetReplay());
    if (playback.IsDone()) {
        playback.CheckEmpty(car);
    }
    while (!playback.IsDone()) {
        car.OnStepPhysicsTime(GetControlVector(playback.NextDirections()));
        playback.AfterStep(car);
    }
}

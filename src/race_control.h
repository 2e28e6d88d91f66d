// The car's control as one stream of held directions, a set per physics step, that comes either
// from the devices (keys, controllers, touches, merged) or from a replay; and the playing of a
// replay, which checks the car against the replay's checkpoints as it goes.
#pragma once

#include <string>

#include "race.h"
#include "race_replay.h"

uint8_t ToReplayDirections(const HeldDirections& held);
// The control vector of a set of directions: x -1 left, +1 right, y +1 up, -1 down; opposite
// directions cancel.
orvo::Vector2 GetControlVector(uint8_t directions);
// The hash of the car's position, heading, velocity and rate of turn, as a replay's checkpoints hold it.
uint64_t HashCarState(const Car& car);
// Puts the car where a replay starts: at rest, at its start position and heading.
void PlaceAtReplayStart(Car& car, const Replay& replay);

// Hands out a replay's directions step by step and compares the car's state with every checkpoint.
class ReplayPlayback {
public:
    explicit ReplayPlayback(Replay replay);

    bool IsDone() const { return stepsPlayed == replay.stepCount; }
    // The directions of the next step; only while not done.
    uint8_t NextDirections();
    // The car after that step; once done, also the final checkpoint is checked.
    void AfterStep(const Car& car);
    // For a drive of no steps: checks the car as it stands.
    void CheckEmpty(const Car& car);

    bool Matches() const { return firstMismatchStep < 0; }
    // The step after which the first differing checkpoint was taken, or -1.
    int64_t firstMismatchStep = -1;
    uint64_t finalHash = 0;
    const Replay& GetReplay() const { return replay; }
    // One line for people: the verdict, the steps and the final state's hash.
    std::string Describe() const;

private:
    Replay replay;
    ReplayCursor cursor;
    ControlChange next{0, 0};
    bool hasNext = false;
    uint8_t held = 0;
    uint64_t stepsPlayed = 0;

    void Check(size_t checkpoint, uint64_t hash);
};

// Re-simulates `replay` on `car` as fast as it goes; the car is placed at the replay's start first.
void PlayWhole(ReplayPlayback& playback, Car& car);

// Skid marks: the dark stripes the tyres leave on the ground where they slide past their grip or
// brake from speed. They are laid in the physics step's time from the car's state alone, so that
// the same drive always leaves the same marks, and drawn fixed to the ground every frame.
#pragma once

#include <cstdint>
#include <vector>

#include "orvo/draw.h"
#include "orvo/orvo.h"
#include "race.h"

// How dark a wheel's mark is after the step that left `step`, from 0 (none) to 1: its slide past
// grip, or under braking from speed a fainter scrub, whichever is darker.
float GetSkidDarkness(const Car::StepValues& step, int wheel);

// A piece of one wheel's stripe: a quadrilateral on the ground, its darkness blended from its
// start edge to its end edge.
struct SkidSegment {
    orvo::Vector2 corners[4]; // world points around it: start left, end left, end right, start right
    float startDarkness = 0.0f;
    float endDarkness = 0.0f;
    int64_t step = 0; // the recorded step that last moved its end
};

// A fixed ring of segments, allocated once: each wheel's stripe grows its newest segment's end
// step by step and starts the next segment on that end every kStepsPerSegment steps, so that
// consecutive segments share their edges. Once the ring is full the oldest segment makes way.
class SkidMarks {
public:
    static constexpr int kCapacity = 4096;
    static constexpr int kStepsPerSegment = 8;
    // A mark is drawn for 18 s of physics steps, fading out over the last 6 of them.
    static constexpr int64_t kLifetimeSteps = 6000;
    static constexpr int64_t kFadeSteps = 2000;
    static constexpr float kWidth = 0.5f; // a tyre's

    const int capacity;
    std::vector<SkidSegment> segments; // the ring
    int next = 0;                      // where the next segment goes
    int count = 0;                     // segments in the ring, up to the capacity
    int64_t step = 0;                  // steps recorded so far: the clock of the marks' ages

    // The capacity must leave room for the segments the four wheels can start while one grows.
    explicit SkidMarks(int capacity = kCapacity);
    virtual ~SkidMarks() = default;
    SkidMarks(const SkidMarks&) = delete;
    SkidMarks& operator=(const SkidMarks&) = delete;

    // Lays the marks of the car's last physics step; call it once after every step.
    void Record(const Car& car);
    // Draws every mark still visible, mapped through `camera`, in one batch.
    void Draw(const orvo::Viewport& viewport, const orvo::Camera& camera);
    // The opacity left to segment `index` by its age, from 1 to 0.
    float GetFade(int index) const;

private:
    // Where one wheel's stripe stands.
    struct Trail {
        int segment = -1; // the segment growing, or -1 when the wheel left no mark last step
        int steps = 0;    // steps it has grown
        orvo::Vector2 lastContact;
        bool hasLastContact = false;
    };

    void Lay(Trail& trail, const orvo::Vector2& contact, const orvo::Vector2& across, float darkness);

    Trail trails[4];
    orvo::ShapeBatch batch; // refilled every frame within the room reserved once
};

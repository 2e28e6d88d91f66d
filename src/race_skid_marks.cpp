// Skid marks: laid from each wheel's slide in the physics steps, kept in a fixed ring, drawn on
// the ground through the camera in one batch.
#include "race_skid_marks.h"

#include <cmath>

// The checks below guard preconditions in every build type.
#undef NDEBUG
#include <cassert>

using orvo::Vector2;

namespace {

constexpr int kWheels = 4;

// Braking from speed scrubs the tyres along their rolling direction: a mark at most this dark,
// fading in from 5 units per second and full from 25.
constexpr float kBrakingDarkness = 0.4f;

// Rubber on the ground: a full mark covers 70% of the ground below it.
constexpr SDL_Color kRubber{24, 22, 20, 0};
constexpr float kFullOpacity = 0.7f * 255.0f;

// Farther than a wheel goes in a step at any speed the model reaches.
constexpr double kLongestStep = 1.0;

} // namespace

float GetSkidDarkness(const Car::StepValues& step, int wheel)
{
    const float slide = GetTyreSlide(step.lateralForces[wheel], step.wheelSpeeds[wheel]);
    const float scrub =
        step.braking ? kBrakingDarkness * orvo::NormalizedClamp(step.wheelSpeeds[wheel], 5.0f, 25.0f) : 0.0f;
    return slide > scrub ? slide : scrub;
}

SkidMarks::SkidMarks(int capacity) : capacity(capacity), segments(static_cast<size_t>(capacity))
{
    // While a segment grows, each wheel starts at most one other: a smaller ring would overwrite a
    // segment that is still growing.
    assert(capacity >= 2 * kWheels * kStepsPerSegment);
    batch.Reserve(2 * capacity);
}

void SkidMarks::Record(const Car& car)
{
    ++step;
    const orvo::Spatial& body = car.body->spatial;
    const double c = std::cos(static_cast<double>(body.rotation));
    const double s = std::sin(static_cast<double>(body.rotation));
    for (int wheel = 0; wheel < kWheels; ++wheel) {
        // Where the drawing puts the tyre: its offset turned with the body, as GetRotated turns it.
        const Vector2& offset = car.tyres[wheel]->spatial.position;
        const Vector2 contact =
            Vector2(static_cast<float>(offset.x * c - offset.y * s), static_cast<float>(offset.x * s + offset.y * c)) +
            body.position;
        Trail& trail = trails[wheel];
        const float darkness = GetSkidDarkness(car.lastStep, wheel);
        const Vector2 travel = contact - trail.lastContact;
        const double travelled = std::sqrt(static_cast<double>(travel.x * travel.x + travel.y * travel.y));
        // A mark runs across the way the contact point moved in the step; a point that hardly
        // moved has no such way (and no mark: a slide needs speed), and one that jumped (a car put
        // elsewhere) left no mark on the way.
        if (darkness > 0.0f && trail.hasLastContact && travelled > 1e-4 && travelled < kLongestStep) {
            const double half = 0.5 * kWidth / travelled;
            Lay(trail, contact, Vector2(static_cast<float>(-travel.y * half), static_cast<float>(travel.x * half)),
                darkness);
        } else {
            trail.segment = -1;
        }
        trail.lastContact = contact;
        trail.hasLastContact = true;
    }
}

void SkidMarks::Lay(Trail& trail, const Vector2& contact, const Vector2& across, float darkness)
{
    if (trail.segment >= 0 && trail.steps < kStepsPerSegment) {
        SkidSegment& growing = segments[static_cast<size_t>(trail.segment)];
        growing.corners[1] = contact + across;
        growing.corners[2] = contact - across;
        growing.endDarkness = darkness;
        growing.step = step;
        ++trail.steps;
        return;
    }
    SkidSegment& added = segments[static_cast<size_t>(next)];
    if (trail.segment >= 0) {
        // On the previous segment's end edge, so that the stripe has no gap at the joint.
        const SkidSegment& previous = segments[static_cast<size_t>(trail.segment)];
        added.corners[0] = previous.corners[1];
        added.corners[3] = previous.corners[2];
        added.startDarkness = previous.endDarkness;
    } else {
        // A new stripe starts where the wheel was a step ago, so that it is never without length.
        added.corners[0] = trail.lastContact + across;
        added.corners[3] = trail.lastContact - across;
        added.startDarkness = darkness;
    }
    added.corners[1] = contact + across;
    added.corners[2] = contact - across;
    added.endDarkness = darkness;
    added.step = step;
    trail.segment = next;
    trail.steps = 1;
    next = (next + 1) % capacity;
    count = count < capacity ? count + 1 : capacity;
}

float SkidMarks::GetFade(int index) const
{
    const int64_t age = step - segments[static_cast<size_t>(index)].step;
    const float byAge = orvo::NormalizedClamp(static_cast<float>(kLifetimeSteps - age), 0.0f, kFadeSteps);
    // Laid faster than the ring holds them for their lifetime, the oldest fade out too before they
    // are overwritten: over the last sixteenth of the ring they still have to go.
    const int newer = (next - 1 - index + capacity) % capacity;
    const float byRing = orvo::NormalizedClamp(static_cast<float>(capacity - newer), 0.0f, capacity / 16.0f);
    return byAge < byRing ? byAge : byRing;
}

void SkidMarks::Draw(const orvo::Viewport& viewport, const orvo::Camera& camera)
{
    batch.Clear();
    const orvo::ScreenMapping mapping(viewport, camera);
    const float width = static_cast<float>(viewport.w);
    const float height = static_cast<float>(viewport.h);
    for (int i = 0; i < count; ++i) {
        const float fade = GetFade(i);
        if (!(fade > 0.0f)) {
            continue;
        }
        const SkidSegment& segment = segments[static_cast<size_t>(i)];
        SDL_FPoint corners[4];
        bool left = true, right = true, above = true, below = true;
        for (int k = 0; k < 4; ++k) {
            corners[k] = mapping.Map(segment.corners[k]);
            left = left && corners[k].x < 0.0f;
            right = right && corners[k].x > width;
            above = above && corners[k].y < 0.0f;
            below = below && corners[k].y > height;
        }
        if (left || right || above || below) {
            continue; // wholly off the picture
        }
        SDL_Color start = kRubber;
        SDL_Color end = kRubber;
        start.a = static_cast<Uint8>(kFullOpacity * segment.startDarkness * fade + 0.5f);
        end.a = static_cast<Uint8>(kFullOpacity * segment.endDarkness * fade + 0.5f);
        batch.AddQuad(corners, {start, end, end, start});
    }
    batch.Draw();
}

// Timings of the car's physics step: the step alone while the car drifts under power, and with the
// skid marks it lays, the race state's whole physics step with a full camera list, a frame's
// drawing of a full ring of skid marks, the car's sound per second of audio, and
// the floor that the step's library maths alone costs, for comparison with the step. Both steps also report their
// allocations per step (the "allocs" counter): the car step should make none. Run through scripts/bench.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <random>
#include <vector>

#include "orvo/draw.h"
#include "race.h"
#include "race_control.h"
#include "race_instruments.h"
#include "race_skid_marks.h"

using orvo::Vector2;

// Every allocation the program makes through operator new, the way the engine, the race and the
// standard containers they use allocate; the benchmarks report the count per step.
static long allocationCount = 0;

// Out of line, like the deletes below: inlined, a call to malloc or free would look to the
// compiler like memory that crosses from one allocation family to the other.
[[gnu::noinline]] void* operator new(std::size_t size)
{
    ++allocationCount;
    if (void* pointer = std::malloc(size == 0 ? 1 : size)) {
        return pointer;
    }
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) { return operator new(size); }
[[gnu::noinline]] void operator delete(void* pointer) noexcept { std::free(pointer); }
[[gnu::noinline]] void operator delete[](void* pointer) noexcept { std::free(pointer); }
[[gnu::noinline]] void operator delete(void* pointer, std::size_t) noexcept { std::free(pointer); }
[[gnu::noinline]] void operator delete[](void* pointer, std::size_t) noexcept { std::free(pointer); }

namespace {

// Reports the allocations made since `before` as a count per benchmark iteration.
void ReportAllocations(benchmark::State& state, long before)
{
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(allocationCount - before), benchmark::Counter::kAvgIterations);
}

constexpr float kHalfPi = 1.5707964f;
const Vector2 kUp(0.0f, 1.0f);
const Vector2 kUpRight(1.0f, 1.0f);

// The car's dynamic state, restored every few hundred steps so that every timed step sees a
// realistic drift rather than whatever a long run of the same keys ends in.
struct Snapshot {
    Vector2 position;
    float heading = 0.0f;
    Vector2 velocity;
    float angularVelocity = 0.0f;
    float steerAngle = 0.0f;
    float wheelAngle = 0.0f;
    float throttle = 0.0f;

    static Snapshot Of(const Car& car)
    {
        Snapshot s;
        s.position = car.body->spatial.position;
        s.heading = car.body->spatial.rotation;
        s.velocity = car.velocity;
        s.angularVelocity = car.angularVelocity;
        s.steerAngle = car.steerAngle;
        s.wheelAngle = car.wheelAngle;
        s.throttle = car.throttle;
        return s;
    }

    void ApplyTo(Car& car) const
    {
        car.body->spatial.position = position;
        car.body->spatial.rotation = heading;
        car.velocity = velocity;
        car.angularVelocity = angularVelocity;
        car.steerAngle = steerAngle;
        car.wheelAngle = wheelAngle;
        car.throttle = throttle;
    }
};

// 0.6 s of the drift from the saved state: over that window the car slows from about 32 to 26
// units per second while its drift angle grows to about 0.6 rad and it turns at about 3 rad/s.
// Restoring costs a few ns once per window.
constexpr int kStepsPerWindow = 200;

orvo::Game* game = nullptr;
RaceState* race = nullptr;
Snapshot drifting;

// From rest, full throttle up to 30 units per second, then right under power until the rear lets go.
void PrepareDrift(Car& car)
{
    while (car.velocity.GetLength() < 30.0f) {
        car.OnStepPhysicsTime(kUp);
    }
    for (int i = 0; i < 60; ++i) {
        car.OnStepPhysicsTime(kUpRight);
    }
    drifting = Snapshot::Of(car);
}

// Runs `step` once per benchmark iteration through the drift's window, restoring `car` to the saved
// drift at the start of every window; reports the allocations made meanwhile.
template <typename Step> void StepThroughDrift(benchmark::State& state, Car& car, Step step)
{
    int untilRestore = 0;
    const long allocationsBefore = allocationCount;
    for (auto _ : state) {
        if (untilRestore == 0) {
            drifting.ApplyTo(car);
            untilRestore = kStepsPerWindow;
        }
        --untilRestore;
        step();
    }
    ReportAllocations(state, allocationsBefore);
}

void CarStepWhileDrifting(benchmark::State& state)
{
    Car& car = *race->car;
    StepThroughDrift(state, car, [&car] { car.OnStepPhysicsTime(kUpRight); });
    benchmark::DoNotOptimize(car.velocity);
}
BENCHMARK(CarStepWhileDrifting);

// The whole physics step of the race: control from the held keys, the car step, and the camera's
// mean over its 200 look-ahead points (600 ms of 3 ms steps), one of which is replaced each step.
void RaceStepWithFullCameraList(benchmark::State& state)
{
    race->keyUp = true;
    race->keyRight = true;
    drifting.ApplyTo(*race->car);
    while (race->cameraTargets.size() < static_cast<size_t>(600 / game->physicsStepMs)) {
        race->OnStepPhysicsTime();
    }
    StepThroughDrift(state, *race->car, [] { race->OnStepPhysicsTime(); });
    state.counters["cameraTargets"] = static_cast<double>(race->cameraTargets.size());
    race->keyUp = false;
    race->keyRight = false;
}
BENCHMARK(RaceStepWithFullCameraList);

// The car step followed by laying its skid marks, against CarStepWhileDrifting: what the marks
// add to a step. It must allocate nothing either.
void CarStepWithSkidMarksWhileDrifting(benchmark::State& state)
{
    Car& car = *race->car;
    SkidMarks marks;
    StepThroughDrift(state, car, [&car, &marks] {
        car.OnStepPhysicsTime(kUpRight);
        marks.Record(car);
    });
    state.counters["segments"] = marks.count;
}
BENCHMARK(CarStepWithSkidMarksWhileDrifting);

// A frame's drawing of a full ring of skid marks, every one in view and none faded by age: the
// circles of a long drift mapped through the camera into one batch and handed to the renderer.
// The renderer queues the batch (main sets SDL's batching on, as it is when the game lets SDL
// choose its renderer) and fills its triangles when the queue is flushed, as at the frame's end:
// with argument 0 that is left out of the time, with 1 the software renderer's filling of some
// 370,000 blended pixels is in it. It must allocate nothing.
void SkidMarksDrawFullRing(benchmark::State& state)
{
    const bool filled = state.range(0) == 1;
    Car& car = *race->car;
    SkidMarks marks;
    drifting.ApplyTo(car);
    for (int step = 0; step < 1000000 && marks.count < SkidMarks::kCapacity; ++step) {
        car.OnStepPhysicsTime(kUpRight);
        marks.Record(car);
    }
    orvo::Camera camera;
    camera.spatial.depth = 100.0f;
    for (SkidSegment& segment : marks.segments) {
        segment.step = marks.step;
        camera.spatial.position += segment.corners[0] * (1.0f / SkidMarks::kCapacity);
    }
    const long allocationsBefore = allocationCount;
    for (auto _ : state) {
        marks.Draw(game->viewport, camera);
        if (!filled) {
            state.PauseTiming();
        }
        SDL_RenderFlush(orvo::GetSDLRenderer());
        if (!filled) {
            state.ResumeTiming();
        }
    }
    ReportAllocations(state, allocationsBefore);
    state.counters["segments"] = marks.count;
}
BENCHMARK(SkidMarksDrawFullRing)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One second of the car's sound, rendered in the audio device's buffers from the values of the
// drift (the engine on the throttle, the tyres squealing): its CPU time per second of sound is
// the share of a core that the sound takes. It must allocate nothing.
void SoundPerSecondOfAudio(benchmark::State& state)
{
    // At the end of the drift window the rear wheels are near the cornering peak.
    drifting.ApplyTo(*race->car);
    for (int step = 0; step < kStepsPerWindow; ++step) {
        race->car->OnStepPhysicsTime(kUpRight);
    }
    RaceSound sound;
    sound.SetInput(race->car->GetSoundInput());
    std::vector<float> buffer(2 * orvo::kAudioBufferFrames);
    const long allocationsBefore = allocationCount;
    for (auto _ : state) {
        for (int done = 0; done < RaceSound::kRate; done += orvo::kAudioBufferFrames) {
            const int frames = std::min(orvo::kAudioBufferFrames, RaceSound::kRate - done);
            sound.Render(buffer.data(), frames);
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    ReportAllocations(state, allocationsBefore);
    state.counters["squeal"] = race->car->GetSoundInput().squeal;
}
BENCHMARK(SoundPerSecondOfAudio)->Unit(benchmark::kMicrosecond);

// What --verify does with a 10-minute drive (200,000 steps, the keys drawn afresh every 0.1 to
// 1 s): reading the file whole and re-simulating it with every checkpoint compared.
void VerifyTenMinuteDrive(benchmark::State& state)
{
    RaceState driven(game);
    std::mt19937 random(600);
    for (int step = 0, next = 0; step < 200000; ++step) {
        if (step == next) {
            next += 33 + static_cast<int>(random() % 300);
            const unsigned keys = random();
            driven.keyLeft = keys & 1, driven.keyRight = keys & 2, driven.keyUp = keys & 12, driven.keyDown = keys & 16;
        }
        driven.OnStepPhysicsTime();
    }
    const std::vector<uint8_t> file = SerializeReplay(driven.GetRecordedDrive());
    bool matches = true;
    for (auto _ : state) {
        Replay replay;
        ParseReplay(file.data(), file.size(), replay);
        ReplayPlayback playback(std::move(replay));
        PlayWhole(playback, *driven.car);
        matches = matches && playback.Matches();
    }
    state.counters["fileBytes"] = static_cast<double>(file.size());
    state.counters["matches"] = matches ? 1 : 0;
}
BENCHMARK(VerifyTenMinuteDrive)->Unit(benchmark::kMillisecond);

// What the instruments add to a frame of the game's drawing, the car drifting under them. Frames
// without and with them alternate in pairs, and only the second of each pair is timed: a frame
// also pays for clearing away what the renderer kept of the frame before it, so the first of a
// pair would carry the other kind's cost. A GL renderer's frame ends with glFinish, as a swap to a
// window waits for the frame: a software GL fills the pixels on threads of its own, and only
// then are they all counted. Counters, in milliseconds of CPU per frame, medians over the pairs:
//   offMs, onMs: the whole process (the renderer's threads too) without and with them;
//   addedMs: the difference within each pair;
//   threadAddedMs: the same difference on the game's thread alone, which builds and hands over
//     the batches while a software renderer's threads fill the pixels;
// and drawCalls, the draw calls they add.
double CpuMs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

void InstrumentsFrameCost(benchmark::State& state)
{
    race->keyUp = true;
    race->keyRight = true;
    drifting.ApplyTo(*race->car);
    for (int step = 0; step < 2000; ++step) {
        race->OnStepPhysicsTime();
    }
    SDL_Renderer* renderer = orvo::GetSDLRenderer();
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(renderer, &info);
    using Finish = void (*)();
    const Finish finish = std::strncmp(info.name, "opengl", 6) == 0
                              ? reinterpret_cast<Finish>(SDL_GL_GetProcAddress("glFinish"))
                              : nullptr;
    const auto frame = [renderer, finish](bool shown) {
        race->instruments->shown = shown;
        SDL_RenderClear(renderer);
        race->OnStepGraphicsTime();
        SDL_RenderPresent(renderer);
        if (finish != nullptr) {
            finish();
        }
    };
    std::vector<double> off, on, added, threadAdded;
    long calls[2] = {0, 0};
    for (auto _ : state) {
        double process[2];
        double thread[2];
        for (const bool shown : {false, true}) {
            frame(shown);
            const long callsBefore = orvo::GetDrawCallCount();
            const double processBefore = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
            const double threadBefore = CpuMs(CLOCK_THREAD_CPUTIME_ID);
            frame(shown);
            thread[static_cast<int>(shown)] = CpuMs(CLOCK_THREAD_CPUTIME_ID) - threadBefore;
            process[static_cast<int>(shown)] = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
            calls[static_cast<int>(shown)] += orvo::GetDrawCallCount() - callsBefore;
        }
        off.push_back(process[0]);
        on.push_back(process[1]);
        added.push_back(process[1] - process[0]);
        threadAdded.push_back(thread[1] - thread[0]);
    }
    state.counters["offMs"] = Median(off);
    state.counters["onMs"] = Median(on);
    state.counters["addedMs"] = Median(added);
    state.counters["threadAddedMs"] = Median(threadAdded);
    state.counters["drawCalls"] =
        static_cast<double>(calls[1] - calls[0]) / static_cast<double>(state.iterations() > 0 ? state.iterations() : 1);
    race->instruments->shown = false;
    race->keyUp = false;
    race->keyRight = false;
}
BENCHMARK(InstrumentsFrameCost)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

// What the instruments add to each physics step while hidden or shown: keeping the step's values.
void InstrumentsRecordPerStep(benchmark::State& state)
{
    for (auto _ : state) {
        race->instruments->Record(*race->car);
    }
    benchmark::DoNotOptimize(race->instruments->GetSample(0));
}
BENCHMARK(InstrumentsRecordPerStep);

// ---------------------------------------------------------------------------------------------
// The floor: the library calls one step makes in this state, and nothing else.
//
// Per step while driving with every wheel faster than 0.5 units per second:
//   sin and cos of one angle, 5 times: the heading, the front wheels' previous angle, the
//     rotation of the nose by the wheel angle, and the two turns into the wheels' frames (the
//     quarter turns onto the axles are constant and folded at compile time). Here and in the
//     step the compiler fuses each pair into one sincos call;
//   atan2, 7 times: the drift angle, four slip angles, the two facings' direction angles;
//   pow, 11 times: the half diagonal, the counter-steer weight, the speed reduction, four
//     cornering and four traction curves;
//   sqrt, 16 times: the car's speed once before and three times within the cornering loop, the
//     four wheel speeds (each root also serves the normalisation of that velocity), and length
//     and normalisation in each wheel's target limit (8).
// The arguments are of the same kind as in the step, taken from the same drift.

constexpr int kSinCos = 5;
constexpr int kAtan2 = 7;
constexpr int kPow = 11;
constexpr int kSqrt = 16;

struct MathArguments {
    double angles[kSinCos];
    double atanY[kAtan2];
    double atanX[kAtan2];
    double powBase[kPow];
    double powExponent[kPow];
    double squares[kSqrt];
};

std::vector<MathArguments> floorArguments;

double DirectionAngle(float x, float y)
{
    const double angle = std::atan2(static_cast<double>(y), static_cast<double>(x));
    return angle < 0.0 ? angle + 6.283185307179586 : angle;
}

// Arguments derived from the states of one drift window, by the step's own formulas where that is
// cheap and by their typical values elsewhere.
void PrepareFloorArguments(Car& car)
{
    drifting.ApplyTo(car);
    for (int step = 0; step < kStepsPerWindow; ++step) {
        const float heading = car.body->spatial.rotation;
        const float wheelAngle = car.wheelAngle;
        const Vector2 velocity = car.velocity;
        const float speed = velocity.GetLength();
        const Vector2 forward(std::sin(heading), -std::cos(heading));
        const Vector2 facing = forward.GetRotated(wheelAngle);
        const float drift = forward.GetAngleTo(velocity);

        MathArguments a{};
        const double angles[kSinCos] = {heading, static_cast<double>(heading) + wheelAngle, wheelAngle,
                                        -DirectionAngle(facing.x, facing.y), -DirectionAngle(forward.x, forward.y)};
        for (int i = 0; i < kSinCos; ++i) {
            a.angles[i] = angles[i];
        }
        for (int i = 0; i < kAtan2; ++i) {
            // Cross and dot products of unit directions a little apart, as for the drift and slips,
            // and the facings' own components.
            const float spread = 0.1f * static_cast<float>(i);
            const Vector2 other = velocity.GetRotated(spread).GetNormalized();
            const Vector2& base = i < 5 ? forward : (i == 5 ? facing : forward);
            a.atanY[i] = i < 5 ? base.y * other.x - base.x * other.y : base.y;
            a.atanX[i] = i < 5 ? base.x * other.x + base.y * other.y : base.x;
        }
        const float slip = std::fabs(drift) > kHalfPi ? 3.1415927f - std::fabs(drift) : std::fabs(drift);
        const double bases[kPow] = {0.98f,         std::fabs(1.0f - std::fabs(forward.Dot(velocity.GetNormalized()))),
                                    speed / 50.0f, slip * 1.8f,
                                    slip * 0.9f,   slip * 1.5f,
                                    slip * 1.2f,   4.0f * 0.9999999f,
                                    4.0000005f,    4.0f * 0.9999998f,
                                    4.0000010f};
        const double exponents[kPow] = {0.5, 0.5, 0.5, 1.4f, 1.4f, 1.4f, 1.4f, 1.3f, 1.3f, 1.3f, 1.3f};
        for (int i = 0; i < kPow; ++i) {
            a.powBase[i] = bases[i];
            a.powExponent[i] = exponents[i];
        }
        for (int i = 0; i < kSqrt; ++i) {
            // Squared lengths of velocities (hundreds) and of unit-scale directions.
            a.squares[i] = i % 3 == 0 ? 1.0 + 1e-7 * i : static_cast<double>(speed * speed) + i;
        }
        floorArguments.push_back(a);
        car.OnStepPhysicsTime(kUpRight);
    }
}

void CarStepMathFloor(benchmark::State& state)
{
    size_t index = 0;
    for (auto _ : state) {
        const MathArguments& a = floorArguments[index];
        index = index + 1 == floorArguments.size() ? 0 : index + 1;
        double sum = 0.0;
        for (int i = 0; i < kSinCos; ++i) {
            sum += std::cos(a.angles[i]) + std::sin(a.angles[i]);
        }
        for (int i = 0; i < kAtan2; ++i) {
            sum += std::atan2(a.atanY[i], a.atanX[i]);
        }
        for (int i = 0; i < kPow; ++i) {
            sum += std::pow(a.powBase[i], a.powExponent[i]);
        }
        for (int i = 0; i < kSqrt; ++i) {
            sum += std::sqrt(a.squares[i]);
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(CarStepMathFloor);

} // namespace

int main(int argc, char** argv)
{
    SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
    orvo::Init();
    game = new orvo::Game(8, 3);
    race = new RaceState(game);
    PrepareDrift(*race->car);
    PrepareFloorArguments(*race->car);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    delete race;
    delete game;
    orvo::Exit();
    return 0;
}

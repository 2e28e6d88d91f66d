// The car's sound, synthesized while it drives, with no sound files: an engine note from the
// wheels' rolling speed and the pedal, a gear whine when reversing, a tyre squeal as the cornering
// force nears its peak and a scrub under braking from speed. The physics step hands over a few
// values; SDL's audio thread renders from them, gliding between values so that nothing clicks.
#pragma once

#include <atomic>
#include <cstdint>

// What the sound is made from, as the last physics step left it.
struct CarSoundInput {
    float rollingSpeed = 0.0f; // the wheels' mean rolling speed in units per second, negative backward
    float throttle = 0.0f;     // the pedal, in [-0.2, 1]
    bool braking = false;      // braking while still rolling forward
    bool reversing = false;    // driving backward
    float squeal = 0.0f;       // 0 while the tyres grip, up to 1 as a wheel's cornering force nears its peak
};

class RaceSound {
public:
    static constexpr int kRate = 48000;

    RaceSound();
    RaceSound(const RaceSound&) = delete;
    RaceSound& operator=(const RaceSound&) = delete;

    // From the game's thread, once per physics step, without waiting on the audio thread.
    void SetInput(const CarSoundInput& input);
    void ToggleMuted();
    bool IsMuted() const;

    // On the audio thread: `frames` frames of interleaved stereo samples in [-1, 1]. Neither
    // allocates nor waits.
    void Render(float* samples, int frames);
    // Render for the engine's audio source; `sound` is the RaceSound.
    static void Fill(void* sound, float* samples, int frames);

private:
    // Written by the game's thread, read by the audio thread once per buffer.
    std::atomic<float> rollingSpeed{0.0f};
    std::atomic<float> throttle{0.0f};
    std::atomic<float> squeal{0.0f};
    std::atomic<bool> braking{false};
    std::atomic<bool> reversing{false};
    std::atomic<bool> muted{false};

    // The audio thread's own: oscillator phases in cycles, the gliding values, the noise and the
    // scrub's filter.
    float enginePhase = 0.0f;
    float engineCycleGain = 1.0f;
    bool oddCycle = false;
    float whinePhase = 0.0f;
    float squealPhase = 0.0f;
    float squealOvertonePhase = 0.0f;
    float vibratoPhase = 0.0f;
    float flutter = 0.0f;
    float engineHz = 42.0f;
    float engineGain = 0.0f;
    float brightness = 0.3f;
    float roughness = 0.0f;
    float whineHz = 0.0f;
    float whineGain = 0.0f;
    float squealHz = 1250.0f;
    float squealGain = 0.0f;
    float scrubGain = 0.0f;
    float master = 0.0f;
    float scrubLow = 0.0f;
    float scrubBand = 0.0f;
    uint32_t noiseState = 0x9E3779B9u;

    float Noise();
};

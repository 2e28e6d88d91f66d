// The car's sound, made sample by sample from the values the physics step hands over. Every
// level and pitch glides toward its target per sample, so a new step's values, a new buffer or a
// mute never jump; the engine's per-cycle changes fall where its waveform crosses zero.
#include "race_sound.h"

#include <cmath>
#include <cstring>

namespace {

constexpr float kTwoPi = 6.2831853f;
constexpr float kDriveSpeed = 50.0f;
constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

// The share of a value's distance to its target covered per sample, for a glide of time constant
// `seconds`.
constexpr float Glide(float seconds) { return 1.0f / (seconds * RaceSound::kRate); }
constexpr float kPitchGlide = Glide(0.06f);
constexpr float kLevelGlide = Glide(0.025f);
constexpr float kMuteGlide = Glide(0.008f);
constexpr float kFlutterGlide = Glide(0.01f);

// `value` / `top`, limited to [0, 1].
float Share(float value, float top)
{
    const float share = value / top;
    return share < 0.0f ? 0.0f : (share > 1.0f ? 1.0f : share);
}

// A value that is not a number, or infinite, is heard as nothing rather than poisoning the glides.
float Finite(float value) { return std::isfinite(value) ? value : 0.0f; }

void Approach(float& value, float target, float rate) { value += (target - value) * rate; }

// Advances a phase in cycles by `hz` for one sample, wrapped into [0, 1); true when it wrapped.
bool Advance(float& phase, float hz)
{
    phase += hz * (1.0f / RaceSound::kRate);
    if (phase >= 1.0f) {
        phase -= 1.0f;
        return true;
    }
    return false;
}

} // namespace

RaceSound::RaceSound() = default;

void RaceSound::SetInput(const CarSoundInput& input)
{
    rollingSpeed.store(Finite(input.rollingSpeed), kRelaxed);
    throttle.store(Finite(input.throttle), kRelaxed);
    squeal.store(Share(Finite(input.squeal), 1.0f), kRelaxed);
    braking.store(input.braking, kRelaxed);
    reversing.store(input.reversing, kRelaxed);
}

void RaceSound::ToggleMuted() { muted.store(!muted.load(kRelaxed), kRelaxed); }

bool RaceSound::IsMuted() const { return muted.load(kRelaxed); }

void RaceSound::Fill(void* sound, float* samples, int frames)
{
    static_cast<RaceSound*>(sound)->Render(samples, frames);
}

float RaceSound::Noise()
{
    noiseState ^= noiseState << 13;
    noiseState ^= noiseState >> 17;
    noiseState ^= noiseState << 5;
    return static_cast<float>(static_cast<int32_t>(noiseState)) * (1.0f / 2147483648.0f);
}

void RaceSound::Render(float* samples, int frames)
{
    const float speed = std::fabs(rollingSpeed.load(kRelaxed));
    const float pedal = throttle.load(kRelaxed);
    const bool isBraking = braking.load(kRelaxed);
    const bool isReversing = reversing.load(kRelaxed);
    const float nearPeak = squeal.load(kRelaxed);
    const float masterTarget = muted.load(kRelaxed) ? 0.0f : 1.0f;

    // Engine: the revs follow the wheels through a gearing that climbs fast at first and flattens
    // toward the top speed, like a small car running out of revs. Reverse is a low gear, so the
    // engine revs higher for the same speed; it drives with the pedal down.
    const float revs = std::pow(Share(speed, isReversing ? 16.0f : kDriveSpeed), 0.8f);
    const float load = isReversing ? 1.0f : Share(pedal, 1.0f);
    const float engineHzTarget = 42.0f + 150.0f * revs + 10.0f * load;
    // On the throttle the note is loud and buzzing, coasting it is softer and rounder, and
    // braking softer still.
    const float engineGainTarget =
        isBraking ? 0.07f + 0.03f * revs : 0.09f + 0.05f * revs + load * (0.08f + 0.06f * revs);
    const float brightnessTarget = isBraking ? 0.15f : 0.3f + 0.6f * load;
    const float roughnessTarget = 0.05f + 0.1f * load;
    // Reversing: straight-cut reverse gears whine at a pitch of their own that follows the wheels.
    const float whineHzTarget = 150.0f + 60.0f * speed;
    const float whineGainTarget = isReversing ? 0.05f * Share(speed, 2.0f) : 0.0f;
    // Tyres: a squeal that rises in pitch and loudness toward the cornering peak, and a scrub of
    // band-limited noise while braking, fading as the car slows.
    const float squealHzTarget = 1250.0f + 350.0f * nearPeak;
    const float squealGainTarget = 0.2f * nearPeak;
    const float scrubGainTarget = isBraking ? 1.5f * Share(speed, 30.0f) : 0.0f;

    if (master == 0.0f && masterTarget == 0.0f) {
        std::memset(samples, 0, sizeof(float) * 2 * static_cast<size_t>(frames));
        return;
    }

    // Coefficient of the scrub's state-variable band-pass, centred at 450 Hz.
    const float scrubTuning = 2.0f * static_cast<float>(std::sin(3.14159265 * 450.0 / kRate));
    for (int frame = 0; frame < frames; ++frame) {
        Approach(engineHz, engineHzTarget, kPitchGlide);
        Approach(engineGain, engineGainTarget, kLevelGlide);
        Approach(brightness, brightnessTarget, kLevelGlide);
        Approach(roughness, roughnessTarget, kLevelGlide);
        Approach(whineHz, whineHzTarget, kPitchGlide);
        Approach(whineGain, whineGainTarget, kLevelGlide);
        Approach(squealHz, squealHzTarget, kPitchGlide);
        Approach(squealGain, squealGainTarget, kLevelGlide);
        Approach(scrubGain, scrubGainTarget, kLevelGlide);
        Approach(master, masterTarget, kMuteGlide);
        if (masterTarget == 0.0f && master < 1e-4f) {
            master = 0.0f;
        }

        // The engine's waveform is sin(p) (1 + b cos(p))^3: harmonics up to the fourth, brighter
        // with b, and always crossing zero exactly twice a cycle. Each firing cycle gets a slightly
        // different strength, alternating too, for the uneven beat of a real engine; the change
        // falls at the cycle's start, where the waveform is zero.
        if (Advance(enginePhase, engineHz)) {
            oddCycle = !oddCycle;
            engineCycleGain = 1.0f + roughness * (0.5f * Noise() + (oddCycle ? 0.5f : -0.5f));
        }
        const float angle = kTwoPi * enginePhase;
        const float shape = 1.0f + brightness * std::cos(angle);
        const float engine =
            engineGain * engineCycleGain * std::sin(angle) * shape * shape * shape / (1.0f + 2.55f * brightness);

        Advance(whinePhase, whineHz);
        const float whine = whineGain * std::sin(kTwoPi * whinePhase);

        // A tone with a quick vibrato and an inharmonic overtone, its loudness fluttering.
        Advance(vibratoPhase, 6.5f);
        const float squealNow = squealHz * (1.0f + 0.02f * std::sin(kTwoPi * vibratoPhase));
        Advance(squealPhase, squealNow);
        Advance(squealOvertonePhase, 1.5f * squealNow);
        Approach(flutter, Noise(), kFlutterGlide);
        const float tyres = squealGain * (1.0f + 2.0f * flutter) *
                            (std::sin(kTwoPi * squealPhase) + 0.35f * std::sin(kTwoPi * squealOvertonePhase)) / 1.35f;

        const float noise = Noise();
        scrubLow += scrubTuning * scrubBand;
        scrubBand += scrubTuning * (noise - scrubLow - scrubBand);
        const float scrub = scrubGain * scrubBand;

        float mixed = (engine + whine + tyres + scrub) * master;
        mixed = mixed > 1.0f ? 1.0f : (mixed < -1.0f ? -1.0f : mixed);
        samples[2 * frame] = mixed;
        samples[2 * frame + 1] = mixed;
    }
}

// The car's sound in-process, with no audio device: rendered from given values and from a long
// drive of the real car model, and measured by loudness, zero crossings and band-pass energy.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "race.h"

namespace {

// `seconds` of the left channel from `input`, after half a second in which the glides settle.
std::vector<float> Listen(RaceSound& sound, const CarSoundInput& input, float seconds = 1.0f)
{
    sound.SetInput(input);
    std::vector<float> stereo(2 * static_cast<size_t>((0.5f + seconds) * RaceSound::kRate));
    sound.Render(stereo.data(), static_cast<int>(stereo.size() / 2));
    std::vector<float> left;
    for (size_t i = RaceSound::kRate; i < stereo.size(); i += 2) {
        left.push_back(stereo[i]);
    }
    return left;
}

float Rms(const std::vector<float>& samples, size_t from = 0, size_t count = SIZE_MAX)
{
    double sum = 0.0;
    const size_t end = std::min(samples.size(), from + std::min(count, samples.size()));
    for (size_t i = from; i < end; ++i) {
        sum += samples[i] * samples[i];
    }
    return static_cast<float>(std::sqrt(sum / static_cast<double>(end - from)));
}

float ZeroCrossingHz(const std::vector<float>& samples)
{
    int rising = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        rising += samples[i - 1] < 0.0f && samples[i] >= 0.0f;
    }
    return static_cast<float>(rising) * RaceSound::kRate / static_cast<float>(samples.size());
}

// Loudness between `low` and `high` Hz: two passes of a band-pass biquad (the audio cookbook's).
float BandRms(std::vector<float> samples, float low, float high)
{
    const double centre = std::sqrt(low * high), w = 2.0 * M_PI * centre / RaceSound::kRate;
    const double alpha = std::sin(w) / (2.0 * centre / (high - low)), a0 = 1.0 + alpha;
    for (int pass = 0; pass < 2; ++pass) {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (float& s : samples) {
            const double y = (alpha * (s - x2) + 2.0 * std::cos(w) * y1 - (1.0 - alpha) * y2) / a0;
            x2 = x1, x1 = s, y2 = y1, y1 = y;
            s = static_cast<float>(y);
        }
    }
    return Rms(samples);
}

} // namespace

TEST(RaceSound, AtRestAQuietSteadyLowNoteThatRisesAndSwellsWithTheWheelsAndThePedal)
{
    RaceSound sound;
    const std::vector<float> rest = Listen(sound, CarSoundInput{});
    const float restRms = Rms(rest);
    EXPECT_TRUE(restRms > 0.02f && restRms < 0.1f) << restRms;
    for (size_t quarter = 0; quarter < 4; ++quarter) {
        EXPECT_NEAR(Rms(rest, quarter * rest.size() / 4, rest.size() / 4), restRms, 0.1f * restRms) << quarter;
    }
    float previousHz = ZeroCrossingHz(rest), previousRms = restRms;
    EXPECT_TRUE(previousHz > 35.0f && previousHz < 60.0f) << previousHz;
    for (const float speed : {2.0f, 10.0f, 25.0f, 40.0f, 50.0f}) {
        const std::vector<float> driving = Listen(sound, CarSoundInput{speed, 1.0f});
        EXPECT_GT(ZeroCrossingHz(driving), previousHz * 1.05f) << speed;
        EXPECT_GT(Rms(driving), previousRms) << speed;
        previousHz = ZeroCrossingHz(driving), previousRms = Rms(driving);
    }
    EXPECT_GT(previousHz, 4.0f * ZeroCrossingHz(rest)) << "at top speed";
}

TEST(RaceSound, MutedIsSilentWithinAFewMillisecondsAndUnmutedPlaysAgain)
{
    RaceSound sound;
    sound.ToggleMuted();
    for (const float sample : Listen(sound, CarSoundInput{30.0f, 1.0f, false, false, 1.0f}, 0.2f)) {
        ASSERT_EQ(sample, 0.0f);
    }
    sound.ToggleMuted();
    EXPECT_GT(Rms(Listen(sound, CarSoundInput{})), 0.02f);
}

TEST(RaceSound, TyresSquealFromEightyFivePercentOfTheCorneringPeakAndScrubWhenBrakingFromSpeed)
{
    // The cornering force at a slip angle as a share of the curve's peak, to two digits.
    const auto cornering = [](float slip) { return GetPacejkaForce(slip, 3.0f, 1.8f, 1.4f); };
    const float shares[][2] = {{0.2f, 0.53f}, {0.5f, 0.88f}, {0.7f, 0.96f}, {0.9f, 0.99f}, {1.07f, 1.0f}};
    for (const auto& [slip, share] : shares) {
        EXPECT_NEAR(cornering(slip) / GetCorneringPeakForce(), share, 0.005f) << slip;
    }
    orvo::Init();
    {
        orvo::Game game(8, 3);
        RaceState race(&game);
        RaceSound sound;
        float previous = 0.0f;
        for (const float slip : {0.2f, 0.4f, 0.5f, 0.6f, 0.7f, 0.9f}) {
            Car::StepValues& step = race.car->lastStep;
            std::fill_n(step.lateralForces, 4, cornering(slip)), std::fill_n(step.wheelSpeeds, 4, 30.0f);
            std::fill_n(step.rollingSpeeds, 4, 30.0f);
            const float squeal = BandRms(Listen(sound, race.car->GetSoundInput()), 1000.0f, 3000.0f);
            EXPECT_TRUE(slip < 0.45f ? squeal < 3e-3f : squeal > previous + 0.005f) << slip << ": " << squeal;
            previous = squeal;
        }
        EXPECT_GT(previous, 0.05f) << "at the peak";
    }
    orvo::Exit();

    RaceSound sound;
    const auto scrub = [&](float speed, bool braking) {
        return BandRms(Listen(sound, CarSoundInput{speed, -0.2f, braking}), 300.0f, 700.0f);
    };
    EXPECT_GT(scrub(30.0f, true), 4.0f * scrub(30.0f, false));
    EXPECT_GT(scrub(30.0f, true), 2.0f * scrub(5.0f, true)) << "fades as the car slows";
}

TEST(RaceSound, MKeyAndControllerYButtonToggleTheSoundOncePerPress)
{
    orvo::Init();
    {
        orvo::Game game(8, 3);
        RaceState race(&game);
        const SDL_Keysym m{SDL_SCANCODE_M, SDLK_m, 0, 0};
        race.OnKeyDown(m), race.OnKeyDown(m); // the second is the held key's repeat
        EXPECT_TRUE(race.sound.IsMuted());
        race.OnKeyUp(m), race.OnKeyDown(m);
        EXPECT_FALSE(race.sound.IsMuted());
        SDL_ControllerButtonEvent y{};
        y.button = SDL_CONTROLLER_BUTTON_Y;
        race.OnControllerButtonDown(y);
        EXPECT_TRUE(race.sound.IsMuted());
    }
    orvo::Exit();
}

TEST(RaceSound, ARandomDriveOfTheCarModelAndNonsenseValuesGiveOnlySamplesWithinPlusMinusOne)
{
    orvo::Init();
    {
        orvo::Game game(8, 3);
        RaceState race(&game);
        std::mt19937 random(20240611);
        const auto held = [&](unsigned percent) { return random() % 100 < percent ? 1.0f : 0.0f; };
        orvo::Vector2 keys;
        float loudest = 0.0f, stepSound[2 * RaceSound::kRate * 3 / 1000];
        for (int step = 0, next = 0; step < 100001; ++step) {
            if (step == next) {
                next += 50 + static_cast<int>(random() % 101);
                keys = orvo::Vector2(held(35) - held(35), held(50) - held(35));
            }
            race.car->OnStepPhysicsTime(keys);
            race.sound.SetInput(step < 100000 ? race.car->GetSoundInput() : CarSoundInput{NAN, INFINITY, 1, 1, NAN});
            race.sound.Render(stepSound, RaceSound::kRate * 3 / 1000);
            for (const float sample : stepSound) {
                ASSERT_TRUE(sample >= -1.0f && sample <= 1.0f) << "step " << step << ": " << sample;
                loudest = std::max(loudest, std::fabs(sample));
            }
        }
        EXPECT_GT(loudest, 0.2f) << "the drive was heard";
    }
    orvo::Exit();
}

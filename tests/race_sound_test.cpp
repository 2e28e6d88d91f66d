// The car's sound in-process, with no audio device, rendered from given values and measured by
// loudness and zero crossings. A long drive of the car model feeds it in car_model_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "race.h"

namespace {

// `seconds` of the left channel from `input`, after half a second in which the glides settle; from
// a fresh synthesizer unless one is given, so that equal inputs give equal samples.
std::vector<float> Listen(const CarSoundInput& input, float seconds = 1.0f, RaceSound* given = nullptr)
{
    RaceSound fresh;
    RaceSound& sound = given != nullptr ? *given : fresh;
    sound.SetInput(input);
    std::vector<float> stereo(2 * static_cast<size_t>((0.5f + seconds) * RaceSound::kRate)), left;
    sound.Render(stereo.data(), static_cast<int>(stereo.size() / 2));
    for (size_t i = RaceSound::kRate; i < stereo.size(); i += 2) {
        left.push_back(stereo[i]);
    }
    return left;
}

// Loudness (root mean square) and pitch (of a wave that crosses zero twice a cycle) of samples.
std::pair<float, float> RmsAndHz(const std::vector<float>& samples)
{
    double sum = 0.0;
    int rising = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
        rising += i > 0 && samples[i - 1] < 0.0f && samples[i] >= 0.0f;
    }
    const float size = static_cast<float>(samples.size());
    return {static_cast<float>(std::sqrt(sum / size)), static_cast<float>(rising) * RaceSound::kRate / size};
}
float Rms(const std::vector<float>& samples) { return RmsAndHz(samples).first; }

// A race with no window to draw in, whose car's last-step values the tests set or drive.
class RaceSoundTest : public testing::Test {
protected:
    static void SetUpTestSuite() { orvo::Init(); }
    static void TearDownTestSuite() { orvo::Exit(); }
    orvo::Game game{8, 3};
    RaceState race{&game};
};

TEST_F(RaceSoundTest, AtRestAQuietSteadyLowNoteThatRisesAndSwellsWithTheWheelsAndThePedalAndMIsSilence)
{
    const std::vector<float> rest = Listen(CarSoundInput{});
    const auto [restRms, restHz] = RmsAndHz(rest);
    EXPECT_TRUE(restRms > 0.02f && restRms < 0.1f && restHz > 35.0f && restHz < 60.0f) << restRms << ", " << restHz;
    for (auto half = rest.begin(); half < rest.end(); half += rest.size() / 2) {
        EXPECT_NEAR(Rms(std::vector<float>(half, half + rest.size() / 2)), restRms, 0.05f * restRms);
    }
    std::pair<float, float> previous(restRms, restHz);
    for (const float speed : {2.0f, 10.0f, 25.0f, 40.0f, 50.0f}) {
        const std::pair<float, float> driving = RmsAndHz(Listen(CarSoundInput{speed, 1.0f}));
        EXPECT_TRUE(driving.first > previous.first && driving.second > previous.second * 1.05f) << speed;
        previous = driving;
    }
    EXPECT_GT(previous.second, 4.0f * restHz) << "at top speed";
    // M mutes once per press, however long held: silence, not a fading residue, within a fifth of a second.
    const SDL_Keysym m{SDL_SCANCODE_M, SDLK_m, 0, 0};
    Listen(CarSoundInput{}, 0.1f, &race.sound);
    race.OnKeyDown(m), race.OnKeyDown(m); // the second is the held key's repeat
    EXPECT_EQ(Rms(Listen(CarSoundInput{50.0f, 1.0f, false, false, 1.0f}, 0.2f, &race.sound)), 0.0f);
}

// The tyres' part of the sound, beside the same car with no cornering force: none within grip,
// and louder as the force nears its peak (88% of it at 0.5 rad, 96% at 0.7, 99% at 0.9).
TEST_F(RaceSoundTest, TyresAreSilentWithinGripAndSquealLouderAsTheCorneringForceNearsItsPeak)
{
    Car::StepValues& step = race.car->lastStep;
    std::fill_n(step.wheelSpeeds, 4, 30.0f), std::fill_n(step.rollingSpeeds, 4, 30.0f);
    const std::vector<float> gripping = Listen(race.car->GetSoundInput());
    float previous = 0.0f;
    for (const float slip : {0.2f, 0.4f, 0.5f, 0.6f, 0.7f, 0.9f}) {
        std::fill_n(step.lateralForces, 4, GetPacejkaForce(slip, 3.0f, 1.8f, 1.4f));
        std::vector<float> tyres = Listen(race.car->GetSoundInput());
        std::transform(tyres.begin(), tyres.end(), gripping.begin(), tyres.begin(), std::minus<float>());
        EXPECT_TRUE(slip < 0.45f ? Rms(tyres) == 0.0f : Rms(tyres) > previous + 0.005f) << slip << ": " << Rms(tyres);
        previous = Rms(tyres);
    }
    EXPECT_GT(previous, 0.05f) << "near the peak";
}

} // namespace

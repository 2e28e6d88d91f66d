// The instrument overlay drawn in-process on the software renderer and read back: the wheels'
// operating points where the documented plot puts their slip angles, the speed readout, the
// picture untouched while the overlay is off, and the values kept per step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "orvo/orvo.h"
#include "race.h"
#include "race_instruments.h"

namespace {

constexpr double kPi = 3.141592653589793;

class InstrumentsTest : public testing::Test {
protected:
    static void SetUpTestSuite() { orvo::Init(); }
    static void TearDownTestSuite() { orvo::Exit(); }
    orvo::Game game{8, 3};
    RaceState* race = nullptr;
    std::vector<Uint32> pixels = std::vector<Uint32>(1280 * 720);

    void SetUp() override
    {
        game.SetMaximizedViewport(1.777777f);
        race = new RaceState(&game);
    }
    void TearDown() override { delete race; }

    // Full throttle, and from step `turnFrom` on hard right.
    void Drive(int steps, int turnFrom)
    {
        race->keyUp = true;
        for (int step = 0; step < steps; ++step) {
            race->keyRight = step >= turnFrom;
            race->OnStepPhysicsTime();
        }
    }
    // Draws a frame as the game does and reads it back; returns its FNV-1a hash.
    uint64_t DrawFrame()
    {
        SDL_Renderer* renderer = orvo::GetSDLRenderer();
        SDL_RenderClear(renderer);
        race->OnStepGraphicsTime();
        SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_RGB888, pixels.data(), 1280 * 4);
        uint64_t hash = 0xcbf29ce484222325ull;
        for (const Uint32 pixel : pixels) {
            for (int shift = 0; shift < 24; shift += 8) {
                hash = (hash ^ ((pixel >> shift) & 0xFF)) * 0x100000001b3ull;
            }
        }
        return hash;
    }
    Uint32 At(double x, double y) const { return pixels[static_cast<size_t>(int(y) * 1280 + int(x))] & 0xFFFFFF; }
    static Uint32 Rgb(SDL_Color c) { return Uint32(c.r) << 16 | Uint32(c.g) << 8 | c.b; }
};

// The hash was taken from the same drive and frame before the overlay existed, and taken again when
// the frame overlay became a nine-slice (a change of a few levels in some of its pixels).
TEST_F(InstrumentsTest, OffTheyLeaveThePictureAsItWasBeforeThemAndOnOffAgainTheSame)
{
    Drive(700, 400);
    const uint64_t before = DrawFrame();
    EXPECT_EQ(before, 0x41ed1ea39bbdf806u);
    race->instruments->Toggle();
    EXPECT_NE(DrawFrame(), before);
    race->instruments->Toggle();
    EXPECT_EQ(DrawFrame(), before);
}

// The cornering plot spans slip angles -pi/2 to +pi/2 over x 978 to 1258 and forces +1 to -1
// over y 82 to 222; the curve is 3 s / (1 + |1.8 s|^1.4).
TEST_F(InstrumentsTest, InASteadyHardTurnTheFrontWheelsSitOnTheDrawnCurveAtTheirSlipAngles)
{
    Drive(1400, 400);
    race->instruments->Toggle();
    DrawFrame();
    const auto curveX = [](double slip) { return 978.0 + (slip + kPi / 2) / kPi * 280.0; };
    const auto curveY = [](double slip) {
        return 152.0 - 70.0 * 3.0 * slip / (1.0 + std::pow(std::fabs(1.8 * slip), 1.4));
    };
    const float* slips = race->car->lastStep.slipAngles;
    ASSERT_GT(slips[0], 0.3f) << "not a hard right turn";
    // Front-left is drawn last, over front-right: front-right is looked for on its far side.
    const double fl[2] = {curveX(slips[0]), curveY(slips[0])};
    const double fr[2] = {curveX(slips[1]), curveY(slips[1])};
    const double apart = std::hypot(fr[0] - fl[0], fr[1] - fl[1]);
    ASSERT_GT(apart, 0.0);
    EXPECT_EQ(At(fl[0], fl[1]), Rgb(Instruments::kWheelColours[0])) << fl[0] << ", " << fl[1];
    EXPECT_EQ(At(fr[0] + 4.0 * (fr[0] - fl[0]) / apart, fr[1] + 4.0 * (fr[1] - fl[1]) / apart),
              Rgb(Instruments::kWheelColours[1]));
    EXPECT_NE(At(curveX(-slips[0]), curveY(-slips[0])), Rgb(Instruments::kWheelColours[0])) << "mirrored";
    // The curve itself, where no wheel is: within a pixel of where the formula puts it.
    for (const double slip : {-1.4, -0.8, -0.2, 1.4}) {
        bool found = false;
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                found = found || At(curveX(slip) + dx, curveY(slip) + dy) == 0xEBEBEBu;
            }
        }
        EXPECT_TRUE(found) << "no curve at slip " << slip;
    }
}

// The speed's value is drawn 18 pixels high from (108, 62), each character 18 * 18 / 32 wide.
TEST_F(InstrumentsTest, SpeedReadoutShowsTheModelsSpeedInItsPlace)
{
    Drive(500, 500);
    race->instruments->Toggle();
    DrawFrame();
    char expected[32];
    std::snprintf(expected, sizeof expected, "%5.1f u/s", static_cast<double>(race->car->velocity.GetLength()));
    EXPECT_EQ(race->instruments->speedReadout, expected);
    const std::string shown = race->instruments->speedReadout;
    for (size_t i = 0; i < shown.size(); ++i) {
        int bright = 0;
        for (int y = 62; y < 80; ++y) {
            for (double x = 108 + 10.125 * i + 1; x < 108 + 10.125 * (i + 1) - 1; ++x) {
                bright += (At(x, y) & 0xFF) > 200 ? 1 : 0;
            }
        }
        EXPECT_EQ(bright > 2, shown[i] != ' ') << "character " << i << " of '" << shown << "': " << bright;
    }
}

// From rest at full throttle every wheel's target is 1 unit per second ahead of it: the traction
// curve gives 7 / (1 + 4^1.3) = 0.9911 per wheel, 4 * 0.9911 * 0.25 * 15 = 14.87 units per second
// squared in all, along the car's nose whichever way it points.
TEST_F(InstrumentsTest, EachStepKeepsTractionAndTheAccelerationInTheCarsFrame)
{
    for (const float heading : {0.0f, 1.0f, -2.5f}) {
        race->car->body->spatial.rotation = heading;
        race->car->velocity = orvo::Vector2();
        Drive(3, 10);
        const Instruments::Sample& newest = race->instruments->GetSample(0);
        for (int wheel = 0; wheel < 4; ++wheel) {
            EXPECT_NEAR(newest.longitudinalSlips[wheel], 1.0f, 1e-5f) << wheel;
            EXPECT_NEAR(newest.tractionForces[wheel], 0.99110f, 1e-5f) << wheel;
        }
        EXPECT_NEAR(newest.longitudinalAcceleration, 14.866f, 2e-3f) << heading;
        EXPECT_NEAR(newest.lateralAcceleration, 0.0f, 2e-3f) << heading;
    }
    Drive(2000, 2000); // more than the 5 s kept
    EXPECT_EQ(race->instruments->GetSampleCount(), 5000 / 3);
    EXPECT_EQ(race->instruments->GetSample(0).speed, race->car->velocity.GetLength());
}

// I toggles once per press, however long it is held; the key's repeats change nothing.
TEST_F(InstrumentsTest, IShowsAndHidesThemOncePerPress)
{
    const SDL_Keysym i{SDL_SCANCODE_I, SDLK_i, 0, 0};
    EXPECT_FALSE(race->instruments->shown);
    for (const bool shown : {true, false, true}) {
        race->OnKeyDown(i);
        race->OnKeyDown(i);
        race->OnKeyUp(i);
        EXPECT_EQ(race->instruments->shown, shown);
    }
}

} // namespace

// The drive report measures the real car: its manoeuvres agree with what the model implies, its
// CSV rows are the race state read after each step, and orvo-drive's command line fails cleanly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "drive_report.h"

namespace {

constexpr double kStep = 0.003;

// Each test gets a fresh race state, the car at rest at the origin. The manoeuvres need the
// renderer only to load the car's images: no window, whatever the caller's environment says.
class DriveReport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_RENDER_DRIVER", "software", 1);
        orvo::Init();
        game = new orvo::Game(8, 3);
        game->SetMaximizedViewport(1.777777f);
    }
    static void TearDownTestSuite()
    {
        delete game;
        orvo::Exit();
    }
    static inline orvo::Game* game = nullptr;
    RaceState race{game};
};

TEST_F(DriveReport, AccelerationIsSteadyAt14Point87UpTo49AndNeverPasses50)
{
    const drive::Manoeuvre run = drive::Accelerate(race);
    // From rest every wheel's slip is 1 unit/s, so the first step adds the whole traction force;
    // the same force acts every step until within 1 of 50, so each speed comes at speed / rate.
    const double acceleration = run.trace.front().speed / kStep;
    EXPECT_NEAR(acceleration, 14.87, 0.01);
    for (int target : {10, 30, 45}) {
        EXPECT_NEAR(run.Get("time to " + std::to_string(target) + " units/s"), target / acceleration, kStep) << target;
    }
    for (const drive::Sample& sample : run.trace) {
        ASSERT_LE(sample.speed, 50.0f) << "at " << sample.time << " s";
    }
    EXPECT_NEAR(run.Get("speed after 10 s"), 50.0, 0.01);
}

TEST_F(DriveReport, BrakingFromFullSpeedStopsAtTheSameRateWithoutRollingBackward)
{
    const double acceleration = drive::Accelerate(race).trace.front().speed / kStep;
    const drive::Manoeuvre run = drive::Brake(race);
    ASSERT_GE(run.trace.size(), 2u);
    EXPECT_GT(run.trace[run.trace.size() - 2].ForwardSpeed(), 1.0);
    EXPECT_LE(run.trace.back().ForwardSpeed(), 1.0);
    EXPECT_GE(run.trace.back().ForwardSpeed(), 0.0);
    // Braking pulls the target 1 unit/s toward zero: the same force as driving, reversed.
    EXPECT_NEAR(run.Get("time to 1 unit/s forward"), (run.Get("speed at the start") - 1.0) / acceleration, 2 * kStep);
}

TEST_F(DriveReport, ReversingFromRestSettlesAtTenUnitsPerSecondBackward)
{
    const drive::Manoeuvre run = drive::Reverse(race);
    EXPECT_NEAR(run.Get("steady backward speed"), 10.0, 0.05);
    EXPECT_NEAR(-run.trace.back().ForwardSpeed(), 10.0, 0.05);
}

TEST_F(DriveReport, StepSteerToTheRightTurnsClockwise)
{
    const drive::Manoeuvre run = drive::SteerStep(race);
    EXPECT_GE(run.Get("speed when steering starts"), 30.0);
    EXPECT_GT(run.Get("peak yaw rate"), 0.0);
    EXPECT_GT(run.Get("settled yaw rate (mean of last 1 s)"), 0.0);
}

struct Outcome {
    int status;
    std::string out, err;
};

// Runs orvo-drive in `directory` and collects its exit status, stdout and stderr.
Outcome RunDrive(const std::string& arguments, const std::string& directory = ORVO_SOURCE_DIR)
{
    const std::string out = testing::TempDir() + "drive_stdout.txt", err = testing::TempDir() + "drive_stderr.txt";
    const int status = std::system(
        ("cd '" + directory + "' && '" ORVO_DRIVE_PATH "' " + arguments + " >'" + out + "' 2>'" + err + "'").c_str());
    const auto read = [](const std::string& path) {
        std::ifstream file(path);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(out), read(err)};
}

TEST_F(DriveReport, CsvRowsAreTheRaceStateAfterEachStep)
{
    const std::string folder = testing::TempDir() + "drive_report_csv";
    const Outcome outcome = RunDrive("'" + folder + "'");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const struct {
        const char *file, *keyNames;
        std::vector<SDL_Keycode> keys;
    } cases[] = {
        {"acceleration", "U", {SDLK_UP}}, {"reversing", "D", {SDLK_DOWN}}, {"cornering", "UR", {SDLK_UP, SDLK_RIGHT}}};
    for (const auto& c : cases) {
        std::ifstream csv(folder + "/" + c.file + ".csv");
        std::string row;
        ASSERT_TRUE(std::getline(csv, row)) << c.file;
        EXPECT_EQ(row, "time,keys,x,y,heading,vx,vy,speed,yaw_rate,steer_angle,wheel_angle");
        RaceState fresh(game);
        for (SDL_Keycode key : c.keys) {
            fresh.OnKeyDown(SDL_Keysym{SDL_SCANCODE_UNKNOWN, key, 0, 0});
        }
        const Car& car = *fresh.car;
        const orvo::Spatial& body = car.body->spatial;
        for (int step = 1; step <= 5; ++step) {
            fresh.OnStepPhysicsTime();
            ASSERT_TRUE(std::getline(csv, row)) << c.file;
            double time;
            char keys[8];
            float v[9];
            const int read = std::sscanf(row.c_str(), "%lf,%7[^,],%f,%f,%f,%f,%f,%f,%f,%f,%f", &time, keys, &v[0],
                                         &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]);
            ASSERT_EQ(read, 11) << row;
            EXPECT_NEAR(time, step * kStep, 1e-12) << row;
            EXPECT_STREQ(keys, c.keyNames) << row;
            const float state[] = {body.position.x,     body.position.y, body.rotation,
                                   car.velocity.x,      car.velocity.y,  car.velocity.GetLength(),
                                   car.angularVelocity, car.steerAngle,  car.wheelAngle};
            for (int i = 0; i < 9; ++i) {
                EXPECT_EQ(v[i], state[i]) << "column " << i + 2 << ": " << row;
            }
        }
    }
}

TEST(DriveCommandLine, BadArgumentsExitWith2AndAMissingProjectRootWith1EachWithOneLineOnStderr)
{
    const struct {
        std::string arguments, directory;
        int status;
    } cases[] = {{"--bogus", ORVO_SOURCE_DIR, 2},
                 {"-x", ORVO_SOURCE_DIR, 2},
                 {"one two", ORVO_SOURCE_DIR, 2},
                 {"'" + testing::TempDir() + "drive_nowhere'", testing::TempDir(), 1}};
    for (const auto& c : cases) {
        const Outcome outcome = RunDrive(c.arguments, c.directory);
        EXPECT_EQ(outcome.status, c.status) << c.arguments;
        EXPECT_EQ(outcome.out, "") << c.arguments;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << c.arguments << ": " << outcome.err;
        EXPECT_EQ(outcome.err.rfind("orvo-drive: ", 0), 0u) << c.arguments << ": " << outcome.err;
    }
}

} // namespace

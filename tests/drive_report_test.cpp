// The drive report measures the real car: its manoeuvres agree with what the model implies, its
// CSV rows are the race state read after each step, and orvo-drive's command line fails cleanly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drive_report.h"

namespace {

class DriveReport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The manoeuvres need the renderer only to load the car's images: no window, whatever
        // the caller's environment says.
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
    static orvo::Game* game;
};
orvo::Game* DriveReport::game = nullptr;

constexpr double kStep = 0.003;

TEST_F(DriveReport, AccelerationIsSteadyAt14Point87UpTo49AndNeverPasses50)
{
    RaceState race(game);
    const drive::Manoeuvre run = drive::Accelerate(race);
    // From rest every wheel's slip is 1 unit/s, so the first step adds the whole traction force.
    const double acceleration = run.trace.front().speed / kStep;
    EXPECT_NEAR(acceleration, 14.87, 0.01);
    // The target stays 1 unit/s ahead of the rolling speed until within 1 of 50: the same
    // force every step, so each speed is reached at speed / acceleration, to the next step.
    for (int target : {10, 20, 30, 40, 45}) {
        SCOPED_TRACE(target);
        EXPECT_NEAR(run.Get("time to " + std::to_string(target) + " units/s"), target / acceleration, kStep);
    }
    const auto fastest =
        std::max_element(run.trace.begin(), run.trace.end(),
                         [](const drive::Sample& a, const drive::Sample& b) { return a.speed < b.speed; });
    EXPECT_LE(fastest->speed, 50.0f);
    EXPECT_NEAR(run.Get("speed after 10 s"), 50.0, 0.01);
}

TEST_F(DriveReport, BrakingFromFullSpeedStopsAtTheSameRateWithoutRollingBackward)
{
    RaceState race(game);
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
    RaceState race(game);
    const drive::Manoeuvre run = drive::Reverse(race);
    EXPECT_NEAR(run.Get("steady backward speed"), 10.0, 0.05);
    EXPECT_NEAR(-run.trace.back().ForwardSpeed(), 10.0, 0.05);
    EXPECT_LT(run.Get("time to 9 units/s backward"), 5.0);
}

TEST_F(DriveReport, StepSteerToTheRightTurnsClockwise)
{
    RaceState race(game);
    const drive::Manoeuvre run = drive::SteerStep(race);
    EXPECT_GE(run.Get("speed when steering starts"), 30.0);
    EXPECT_GT(run.Get("peak yaw rate"), 0.0);
    EXPECT_GT(run.Get("time to peak yaw rate"), 0.0);
    EXPECT_GT(run.Get("settled yaw rate (mean of last 1 s)"), 0.0);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome RunDrive(const std::string& arguments, const std::string& directory = ORVO_SOURCE_DIR)
{
    const std::string out = testing::TempDir() + "drive_stdout.txt";
    const std::string err = testing::TempDir() + "drive_stderr.txt";
    const std::string command =
        "cd '" + directory + "' && '" ORVO_DRIVE_PATH "' " + arguments + " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

std::vector<std::string> SplitCsvRow(const std::string& row)
{
    std::vector<std::string> fields;
    std::stringstream stream(row);
    for (std::string field; std::getline(stream, field, ',');) {
        fields.push_back(field);
    }
    return fields;
}

TEST_F(DriveReport, CsvRowsAreTheRaceStateAfterEachStep)
{
    const std::string folder = testing::TempDir() + "drive_report_csv";
    const Outcome outcome = RunDrive("'" + folder + "'");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.rfind("manoeuvre", 0), 0u);

    const struct {
        const char* file;
        const char* keyNames;
        std::vector<SDL_Keycode> keys;
    } cases[] = {
        {"acceleration", "U", {SDLK_UP}}, {"reversing", "D", {SDLK_DOWN}}, {"cornering", "UR", {SDLK_UP, SDLK_RIGHT}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::ifstream csv(folder + "/" + c.file + ".csv");
        std::string row;
        ASSERT_TRUE(std::getline(csv, row));
        EXPECT_EQ(row, "time,keys,x,y,heading,vx,vy,speed,yaw_rate,steer_angle,wheel_angle");

        RaceState race(game);
        for (SDL_Keycode key : c.keys) {
            SDL_Keysym keysym{};
            keysym.sym = key;
            race.OnKeyDown(keysym);
        }
        for (int step = 1; step <= 5; ++step) {
            SCOPED_TRACE(step);
            race.OnStepPhysicsTime();
            ASSERT_TRUE(std::getline(csv, row));
            const std::vector<std::string> fields = SplitCsvRow(row);
            ASSERT_EQ(fields.size(), 11u);
            EXPECT_NEAR(std::stod(fields[0]), step * kStep, 1e-12);
            EXPECT_EQ(fields[1], c.keyNames);
            const Car& car = *race.car;
            const float expected[] = {car.body->spatial.position.x,
                                      car.body->spatial.position.y,
                                      car.body->spatial.rotation,
                                      car.velocity.x,
                                      car.velocity.y,
                                      car.velocity.GetLength(),
                                      car.angularVelocity,
                                      car.steerAngle,
                                      car.wheelAngle};
            for (int i = 0; i < 9; ++i) {
                EXPECT_EQ(std::strtof(fields[i + 2].c_str(), nullptr), expected[i]) << "column " << i + 2;
            }
        }
    }
}

TEST(DriveCommandLine, BadArgumentsExitWith2AndOneLineOnStderr)
{
    for (const char* arguments : {"--bogus", "-x", "one two"}) {
        SCOPED_TRACE(arguments);
        const Outcome outcome = RunDrive(arguments);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1);
        EXPECT_EQ(outcome.err.rfind("orvo-drive: ", 0), 0u);
    }
}

TEST(DriveCommandLine, HelpPrintsUsageOnStdoutAndExits0)
{
    const Outcome outcome = RunDrive("--help");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out.rfind("usage: orvo-drive", 0), 0u);
    EXPECT_EQ(outcome.err, "");
}

TEST(DriveCommandLine, OutsideTheProjectRootItExitsWith1InsteadOfAsserting)
{
    const Outcome outcome = RunDrive("'" + testing::TempDir() + "drive_nowhere'", testing::TempDir());
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1);
    EXPECT_NE(outcome.err.find("res/gfx/"), std::string::npos);
}

} // namespace

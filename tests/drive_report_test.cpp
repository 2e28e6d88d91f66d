// The drive report: orvo-drive's CSV rows are the race state after each step, bad arguments exit
// with status 2, and its figures agree with what the model implies.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "drive_report.h"

namespace {

// Runs orvo-drive from the project root; returns its exit status and the first line of its stderr.
int RunDrive(const std::string& arguments, std::string& error)
{
    const std::string errors = testing::TempDir() + "drive_stderr.txt";
    const int status = std::system(("'" ORVO_DRIVE_PATH "' " + arguments + " >/dev/null 2>'" + errors + "'").c_str());
    std::getline(std::ifstream(errors), error);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DriveReport, CsvRowsAreTheRaceStateAfterEachStepAndBadArgumentsExitWith2)
{
    std::string error;
    ASSERT_EQ(RunDrive("'" + testing::TempDir() + "drive_report'", error), 0) << error;
    std::ifstream csv(testing::TempDir() + "drive_report/cornering.csv");
    std::string row;
    ASSERT_TRUE(std::getline(csv, row));
    EXPECT_EQ(row, "time,keys,x,y,heading,vx,vy,speed,yaw_rate,steer_angle,wheel_angle");
    orvo::Init();
    orvo::Game game(8, 3);
    RaceState race(&game);
    race.keyUp = race.keyRight = true;
    const Car& car = *race.car;
    for (int step = 1; step <= 5; ++step) {
        race.OnStepPhysicsTime();
        ASSERT_TRUE(std::getline(csv, row));
        char expected[300]; // nine significant digits read back as the same float
        std::snprintf(expected, sizeof expected, "%.9g,UR,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g", step * 0.003,
                      car.body->spatial.position.x, car.body->spatial.position.y, car.body->spatial.rotation,
                      car.velocity.x, car.velocity.y, car.velocity.GetLength(), car.angularVelocity, car.steerAngle,
                      car.wheelAngle);
        EXPECT_EQ(row, expected) << "step " << step;
    }
    // From rest every wheel slips by 1 unit per second: 14.87 units per second squared.
    RaceState fresh(&game);
    EXPECT_NEAR(drive::Accelerate(fresh).Get("time to 30 units/s"), 30 / 14.87, 0.003);
    orvo::Exit();
    for (const char* bad : {"--bogus", "one two"}) {
        EXPECT_EQ(RunDrive(bad, error), 2) << bad;
        EXPECT_EQ(error.rfind("orvo-drive: ", 0), 0u) << bad << ": " << error;
    }
}

} // namespace

// The drive report tool: its CSV of a full-throttle start shows the car's known acceleration, and
// bad arguments end it with status 2 and one line on stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>

// Runs orvo-drive; returns its exit status and the first line of its stderr.
static int RunDrive(const std::string& arguments, std::string& error)
{
    const std::string errors = testing::TempDir() + "drive_stderr.txt";
    const int status = std::system(("'" ORVO_DRIVE_PATH "' " + arguments + " >/dev/null 2>'" + errors + "'").c_str());
    std::getline(std::ifstream(errors), error);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// From rest each step adds 0.0446 units per second (14.87 per second squared); the car ends near 50.
TEST(DriveReport, AccelerationCsvShowsTheKnownRateAndBadArgumentsExitWith2)
{
    std::string error, row;
    ASSERT_EQ(RunDrive("'" + testing::TempDir() + "drive_report'", error), 0) << error;
    std::ifstream csv(testing::TempDir() + "drive_report/acceleration.csv");
    ASSERT_TRUE(std::getline(csv, row));
    EXPECT_EQ(row, "time,keys,x,y,heading,vx,vy,speed,yaw_rate,steer_angle,wheel_angle");
    double time = 0, speed = 0;
    char keys[8] = "";
    for (int line = 1; std::getline(csv, row); ++line) {
        ASSERT_EQ(std::sscanf(row.c_str(), "%lf,%7[^,],%*f,%*f,%*f,%*f,%*f,%lf", &time, keys, &speed), 3) << row;
        ASSERT_STREQ(keys, "U") << row;
        if (line == 1) {
            EXPECT_NEAR(speed, 0.0446, 5e-5) << row;
        }
    }
    EXPECT_TRUE(time > 4.0 && speed > 49.9) << "the last row, at " << time << " s";
    for (const char* bad : {"--bogus", "one two"}) {
        EXPECT_EQ(RunDrive(bad, error), 2) << bad;
        EXPECT_EQ(error.rfind("orvo-drive: ", 0), 0u) << bad << ": " << error;
    }
}

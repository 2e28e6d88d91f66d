// How the platform layer ends the program when SDL cannot start or an image cannot be loaded:
// each case runs platform_probe as a child process and reads its output and its fate.
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include <SDL_image.h>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

struct ProbeRun {
    int signal; // the signal that ended the probe, 0 if it exited
    int exitCode;
    std::string out, err;
};

const std::string kSoftwareRendering = "SDL_VIDEODRIVER=dummy SDL_RENDER_DRIVER=software";

class PlatformError : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "orvo-platform-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
    }
    void TearDown() override { fs::remove_all(directory); }

    // Runs the probe through `env` (assignments, and -u NAME to remove a variable) with its output in
    // files; `exec` leaves no shell in between, so a signal that ends the probe shows in the status.
    ProbeRun RunProbe(const std::string& env, const std::string& args) const
    {
        const std::string out = (directory / "stdout").string(), err = (directory / "stderr").string();
        const int status =
            std::system(("exec env " + env + " " ORVO_PLATFORM_PROBE " " + args + " >" + out + " 2>" + err).c_str());
        const auto read = [](const std::string& path) {
            return (std::ostringstream() << std::ifstream(path).rdbuf()).str();
        };
        return {WIFSIGNALED(status) ? WTERMSIG(status) : 0, WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(out),
                read(err)};
    }

    // A 64 x 32 PNG written by SDL_image, which needs no SDL_Init.
    std::string WritePng(const std::string& name) const
    {
        SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, 64, 32, 32, SDL_PIXELFORMAT_RGBA32);
        EXPECT_NE(surface, nullptr);
        EXPECT_EQ(IMG_SavePNG(surface, (directory / name).c_str()), 0) << IMG_GetError();
        SDL_FreeSurface(surface);
        return (directory / name).string();
    }

    fs::path directory;
};

// The error goes to stdout on one line with SDL's text, before the assertion in Init ends the program.
TEST_F(PlatformError, SdlStartUpFailuresPrintTheErrorThenStopThroughTheInitAssertion)
{
    const std::pair<std::string, std::string> cases[] = {
        {"SDL_VIDEODRIVER=nosuchdriver", "SDL_Init error: "},
        {"-u SDL_RENDER_DRIVER SDL_VIDEODRIVER=dummy", "SDL_CreateRenderer error: "}, // no software fallback
    };
    for (const auto& [env, error] : cases) {
        const ProbeRun run = RunProbe(env, "");
        EXPECT_EQ(run.signal, SIGABRT) << error;
        EXPECT_EQ(run.out.rfind(error, 0), 0u) << run.out;
        EXPECT_GT(run.out.size(), error.size()) << "SDL's error text is missing";
        EXPECT_EQ(run.out.find('\n'), std::string::npos) << run.out;
        EXPECT_NE(run.err.find("src/orvo/orvo.cpp"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("retCode == 0"), std::string::npos) << run.err;
    }
}

TEST_F(PlatformError, StartsAndLoadsAValidImageCleanly)
{
    const ProbeRun run = RunProbe(kSoftwareRendering, WritePng("valid.png"));
    EXPECT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
}

// A missing file and a truncated PNG both stop through the assertion (SIGABRT), never a crash.
TEST_F(PlatformError, UnloadableImageNamesThePathAndStopsThroughTheSurfaceAssertion)
{
    const std::string truncated = WritePng("truncated.png");
    fs::resize_file(truncated, fs::file_size(truncated) / 2);
    for (const std::string& path : {(directory / "no-such-image.png").string(), truncated}) {
        const ProbeRun run = RunProbe(kSoftwareRendering, path);
        EXPECT_EQ(run.signal, SIGABRT) << path;
        EXPECT_NE(run.err.find(path), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("src/orvo/utils.cpp"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("surface != nullptr"), std::string::npos) << run.err;
    }
}

} // namespace

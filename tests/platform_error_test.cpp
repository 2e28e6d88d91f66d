// How the platform layer ends the program when SDL cannot start or an image cannot be loaded:
// each case runs platform_probe as a child process and reads its output and its fate.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <SDL_image.h>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

struct ProbeRun {
    int signal = 0; // the signal that ended the probe, 0 if it exited
    int exitCode = -1;
    std::string out;
    std::string err;
};

// An environment change for the probe: a value to set, or nullptr to remove the variable.
using EnvChange = std::pair<const char*, const char*>;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PlatformError : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "orvo-platform-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
    }
    void TearDown() override { fs::remove_all(directory); }

    ProbeRun RunProbe(const std::vector<std::string>& args, const std::vector<EnvChange>& env) const
    {
        const fs::path outPath = directory / "stdout";
        const fs::path errPath = directory / "stderr";
        const pid_t pid = fork();
        if (pid == 0) {
            for (const EnvChange& change : env) {
                if (change.second != nullptr) {
                    setenv(change.first, change.second, 1);
                } else {
                    unsetenv(change.first);
                }
            }
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(ORVO_PLATFORM_PROBE)};
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            execv(ORVO_PLATFORM_PROBE, argv.data());
            _exit(127);
        }
        ProbeRun run;
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFSIGNALED(status)) {
            run.signal = WTERMSIG(status);
        } else {
            run.exitCode = WEXITSTATUS(status);
        }
        run.out = ReadFile(outPath);
        run.err = ReadFile(errPath);
        return run;
    }

    // A 64 x 32 PNG written by SDL_image; needs no SDL_Init.
    fs::path WritePng(const std::string& name) const
    {
        const fs::path path = directory / name;
        SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, 64, 32, 32, SDL_PIXELFORMAT_RGBA32);
        EXPECT_NE(surface, nullptr);
        SDL_FillRect(surface, nullptr, SDL_MapRGBA(surface->format, 200, 40, 40, 255));
        EXPECT_EQ(IMG_SavePNG(surface, path.c_str()), 0) << IMG_GetError();
        SDL_FreeSurface(surface);
        return path;
    }

    fs::path directory;
};

const std::vector<EnvChange> kSoftwareRendering{{"SDL_VIDEODRIVER", "dummy"}, {"SDL_RENDER_DRIVER", "software"}};

TEST_F(PlatformError, SdlStartUpFailurePrintsTheErrorThenStopsThroughTheInitAssertion)
{
    const ProbeRun run = RunProbe({"init"}, {{"SDL_VIDEODRIVER", "nosuchdriver"}});
    EXPECT_EQ(run.signal, SIGABRT);
    EXPECT_EQ(run.out.rfind("SDL_Init error: ", 0), 0u) << run.out;
    EXPECT_GT(run.out.size(), std::string("SDL_Init error: ").size()) << "SDL's error text is missing";
    EXPECT_EQ(run.out.find('\n'), std::string::npos);
    EXPECT_NE(run.err.find("src/orvo/orvo.cpp"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("retCode == 0"), std::string::npos) << run.err;
}

TEST_F(PlatformError, MissingAcceleratedRendererPrintsTheRendererErrorThenStops)
{
    const ProbeRun run = RunProbe({"init"}, {{"SDL_VIDEODRIVER", "dummy"}, {"SDL_RENDER_DRIVER", nullptr}});
    EXPECT_EQ(run.signal, SIGABRT);
    EXPECT_EQ(run.out.rfind("SDL_CreateRenderer error: ", 0), 0u) << run.out;
    EXPECT_EQ(run.out.find('\n'), std::string::npos);
    EXPECT_NE(run.err.find("retCode == 0"), std::string::npos) << run.err;
}

TEST_F(PlatformError, StartsAndLoadsAValidImageCleanly)
{
    const ProbeRun run = RunProbe({"load", WritePng("valid.png").string()}, kSoftwareRendering);
    EXPECT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(PlatformError, MissingImageNamesThePathAndStopsThroughTheSurfaceAssertion)
{
    const std::string path = (directory / "no-such-image.png").string();
    const ProbeRun run = RunProbe({"load", path}, kSoftwareRendering);
    EXPECT_EQ(run.signal, SIGABRT);
    EXPECT_NE(run.err.find(path), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("src/orvo/utils.cpp"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("surface != nullptr"), std::string::npos) << run.err;
}

TEST_F(PlatformError, TruncatedPngStopsThroughTheSurfaceAssertionRatherThanCrashing)
{
    const fs::path path = WritePng("truncated.png");
    fs::resize_file(path, fs::file_size(path) / 2);
    const ProbeRun run = RunProbe({"load", path.string()}, kSoftwareRendering);
    EXPECT_EQ(run.signal, SIGABRT) << "not SIGSEGV or any other end";
    EXPECT_NE(run.err.find("surface != nullptr"), std::string::npos) << run.err;
}

} // namespace

// How long re-simulating a minute's drive from its file takes, timed with the standard clock alone
// so that the same program builds natively and to WebAssembly (run under node), where it says how
// fast a browser's engine checks a drive from a file or a link. It also prints the
// drive's file size and the length of the page's link to it (#r= and the file in base64url).
//
//   orvo-replay-time [FILE]   the drive in FILE, or a recorded 60-second keyboard drive
//
// Run through scripts/bench-web.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "race.h"
#include "race_control.h"
#include "race_replay.h"

namespace {

// A minute of keyboard driving with steady steering work: the throttle held almost throughout,
// a key pressed or let go every tenth to third of a second, now and then a brake or a coast.
// The pattern comes from a fixed pseudo-random sequence, so every run records the same drive.
Replay RecordKeyboardMinute(Car& car)
{
    constexpr uint64_t kSteps = 60 * 1000 / kReplayStepMs;
    ReplayRecorder recorder(0.0f, 0.0f, 0.0f);
    PlaceAtReplayStart(car, Replay());
    uint32_t random = 12345;
    const auto next = [&random](uint32_t range) {
        random = random * 1664525u + 1013904223u;
        return (random >> 8) % range;
    };
    uint8_t directions = kReplayUp;
    uint64_t changeAt = 0;
    for (uint64_t step = 0; step < kSteps; ++step) {
        if (step == changeAt) {
            const uint32_t pedal = next(10);
            const uint8_t pedals = pedal < 7 ? kReplayUp : pedal < 9 ? 0 : kReplayDown;
            const uint8_t steering[] = {0, kReplayLeft, kReplayRight};
            directions = static_cast<uint8_t>(pedals | steering[next(3)]);
            changeAt = step + 33 + next(67); // 0.1 to 0.3 s
        }
        recorder.BeforeStep(directions);
        car.OnStepPhysicsTime(GetControlVector(directions));
        if (recorder.AfterStepNeedsHash()) {
            recorder.AddCheckpoint(HashCarState(car));
        }
    }
    return recorder.Finish(HashCarState(car));
}

bool ReadWhole(const char* path, std::vector<uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    uint8_t buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    orvo::Init();
    int status = 0;
    {
        orvo::Game game(8, kReplayStepMs);
        RaceState race(&game);
        std::vector<uint8_t> bytes;
        if (argc > 1 && !ReadWhole(argv[1], bytes)) {
            std::fprintf(stderr, "orvo-replay-time: cannot read %s\n", argv[1]);
            status = 2;
        } else if (argc <= 1) {
            bytes = SerializeReplay(RecordKeyboardMinute(*race.car));
        }
        // base64url without padding: 4 characters for every 3 bytes, and 2 or 3 for the last 1 or 2.
        const size_t linkLength = 3 + bytes.size() / 3 * 4 + (bytes.size() % 3 == 0 ? 0 : bytes.size() % 3 + 1);
        constexpr int kRuns = 5;
        double best = 0.0;
        std::string verdict;
        for (int run = 0; run < kRuns && status == 0; ++run) {
            const auto start = std::chrono::steady_clock::now();
            Replay replay;
            const ReplayError error = ParseReplay(bytes.data(), bytes.size(), replay);
            if (error != ReplayError::kNone) {
                std::fprintf(stderr, "orvo-replay-time: %s (%s)\n", GetReplayErrorName(error),
                             DescribeReplayError(error));
                status = 2;
                break;
            }
            ReplayPlayback playback(std::move(replay));
            PlayWhole(playback, *race.car);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            best = run == 0 || seconds < best ? seconds : best;
            verdict = playback.Describe();
            status = playback.Matches() ? 0 : 1;
        }
        if (!verdict.empty()) {
            std::printf("%s\n", verdict.c_str());
            std::printf("file: %zu bytes, link fragment: %zu characters\n", bytes.size(), linkLength);
            std::printf("read, re-simulated and checked: %.1f ms (best of %d)\n", best * 1e3, kRuns);
        }
    }
    orvo::Exit();
    return status;
}

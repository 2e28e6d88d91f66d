// A drive kept as the few control changes that made it: the replay file's format, its reader and
// writer, and the recorder that builds a drive step by step. No SDL here, so that tools, tests and
// the fuzzer use it alone; docs/replay-format.md describes the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The four directions of the control as bits of one byte, as a replay stores them.
enum ReplayDirection : uint8_t {
    kReplayLeft = 1,
    kReplayRight = 2,
    kReplayUp = 4,
    kReplayDown = 8,
};

constexpr uint8_t kReplayMagic[4] = {'O', 'R', 'V', 'R'};
constexpr uint16_t kReplayVersion = 1;
constexpr uint16_t kReplayStepMs = 3;
// Changes whenever the car model's arithmetic does: it is the upper half of the golden drive's
// final state hash, which a test ties to it, so a file of another model is refused by name.
constexpr uint32_t kReplayModelId = 0xf4965e29u;
// The interval the recorder writes, and the longest a reader accepts.
constexpr uint32_t kReplayCheckpointInterval = 1000;
// 2^31 steps are 74 days of driving: any count beyond is a damaged or hostile file.
constexpr uint64_t kReplayMaxSteps = uint64_t{1} << 31;
// A day of driving at the most frantic (a change every step) stays within this.
constexpr size_t kReplayMaxFileBytes = size_t{64} << 20;
// The recorder keeps at most a day of driving; the drive goes on unrecorded past it.
constexpr uint64_t kReplayMaxRecordedSteps = 24ull * 3600 * 1000 / kReplayStepMs;
constexpr size_t kReplayHeaderBytes = 28;

// Every way a file can fail to be a replay this program plays.
enum class ReplayError {
    kNone,
    kTruncated,
    kWrongMagic,
    kOtherVersion,
    kOtherStepLength,
    kOtherModel,
    kBadCheckpointInterval,
    kBadStart,
    kBadVarint,
    kTooManySteps,
    kGapTooLarge,
    kChangesOutOfOrder,
    kTrailingBytes,
    kBadChecksum,
    kTooLarge,
    kUnreadable,
};

// A short name for the error and a sentence saying what is wrong with the file.
const char* GetReplayErrorName(ReplayError error);
const char* DescribeReplayError(ReplayError error);

// The reflected CRC-32 of zlib and PNG (polynomial 0xEDB88320, initial and final xor 0xFFFFFFFF).
uint32_t Crc32(const uint8_t* data, size_t size);

// 64-bit FNV-1a over the little-endian bit patterns of the six floats that make the car's state.
uint64_t HashCarState(float x, float y, float heading, float velocityX, float velocityY, float angularVelocity);

// One change of the held directions: from step `step` on (counted from 0), `directions` are held.
struct ControlChange {
    uint64_t step;
    uint8_t directions;
};

// A whole drive. The changes stay in their encoded form (a varint each), so that a drive in
// memory never takes more than its file did, however many changes it claims.
struct Replay {
    float startX = 0.0f;
    float startY = 0.0f;
    float startHeading = 0.0f;
    uint32_t checkpointInterval = kReplayCheckpointInterval;
    uint64_t stepCount = 0;
    uint64_t changeCount = 0;
    std::vector<uint8_t> encodedChanges;
    // The state hash after every `checkpointInterval` steps, then after the last step.
    std::vector<uint64_t> checkpoints;

    // The number of checkpoints a drive of `stepCount` steps has.
    uint64_t GetCheckpointCount() const { return stepCount / checkpointInterval + 1; }
    // The step after which checkpoint `index` is taken.
    uint64_t GetCheckpointStep(size_t index) const;
};

// Walks a replay's changes in order. Only for a replay that was read or recorded: it trusts them.
class ReplayCursor {
public:
    explicit ReplayCursor(const Replay& replay) : replay(&replay) {}
    bool HasNext() const { return read < replay->changeCount; }
    ControlChange Next();

private:
    const Replay* replay;
    uint64_t read = 0;
    size_t offset = 0;
    uint64_t step = 0;
};

// Parses and checks a whole file; `out` is filled only when the result is kNone.
ReplayError ParseReplay(const uint8_t* data, size_t size, Replay& out);
// Reads the file at `path` whole (at most kReplayMaxFileBytes) and parses it.
ReplayError ReadReplayFile(const std::string& path, Replay& out);
// The file's bytes.
std::vector<uint8_t> SerializeReplay(const Replay& replay);

// Builds the replay of a drive as it happens. Per step it costs a comparison; a change appends a
// varint of a byte or two with amortised growth, and a checkpoint eight bytes every 1000 steps.
class ReplayRecorder {
public:
    ReplayRecorder(float startX, float startY, float startHeading);

    // The directions the car is given for the coming step.
    void BeforeStep(uint8_t directions)
    {
        if (directions != held && !full) {
            AddChange(directions);
        }
    }
    // The car's state after that step. The checkpoints need its hash only every 1000 steps.
    bool AfterStepNeedsHash()
    {
        if (full) {
            return false;
        }
        ++replay.stepCount;
        full = replay.stepCount >= kReplayMaxRecordedSteps;
        return replay.stepCount % replay.checkpointInterval == 0;
    }
    void AddCheckpoint(uint64_t hash) { replay.checkpoints.push_back(hash); }

    // The drive so far, ending with the current state's hash as its last checkpoint.
    Replay Finish(uint64_t currentHash) const;
    uint64_t GetStepCount() const { return replay.stepCount; }

private:
    Replay replay;
    uint8_t held = 0;
    uint64_t lastChangeStep = 0;
    bool full = false;

    void AddChange(uint8_t directions);
};

// Writes the replay to `path`, replacing any file there: the bytes written, or -1 with the reason
// in `error`.
long WriteReplayFile(const Replay& replay, const std::string& path, std::string& error);
// Where saved drives go: $XDG_DATA_HOME/orvo-game/replays, by default ~/.local/share/orvo-game/replays.
std::string GetReplayFolder();
// Saves the replay as a new file of `folder` (made when missing), named by the local date and
// time, "2026-12-08_14-05-09.orvr", with "-2", "-3"... when that name is taken; never replaces a
// file. Returns its path, or "" with the reason in `error`.
std::string SaveReplayInFolder(const Replay& replay, const std::string& folder, std::string& error);

// Lowercase, zero-padded, 16 hexadecimal digits.
std::string FormatStateHash(uint64_t hash);

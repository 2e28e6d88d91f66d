// The replay file: reading checks everything before anything plays and never allocates more than
// the file's own size; writing and recording mirror it.
#include "race_replay.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint32_t LoadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint64_t LoadU64(const uint8_t* p) { return LoadU32(p) | static_cast<uint64_t>(LoadU32(p + 4)) << 32; }

float LoadF32(const uint8_t* p)
{
    const uint32_t bits = LoadU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void StoreU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void StoreU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int byte = 0; byte < 4; ++byte) {
        out.push_back(static_cast<uint8_t>(value >> (8 * byte)));
    }
}

void StoreU64(std::vector<uint8_t>& out, uint64_t value)
{
    StoreU32(out, static_cast<uint32_t>(value));
    StoreU32(out, static_cast<uint32_t>(value >> 32));
}

void StoreF32(std::vector<uint8_t>& out, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    StoreU32(out, bits);
}

// Unsigned LEB128: seven bits a byte, the lowest first, the top bit set on every byte but the last.
void StoreVarint(std::vector<uint8_t>& out, uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}

// Reads a varint at `at`, moving it on. Only the shortest encoding of a value that fits 64 bits
// is accepted, so that every value has exactly one form.
ReplayError LoadVarint(const uint8_t* data, size_t size, size_t& at, uint64_t& value)
{
    value = 0;
    for (int shift = 0;; shift += 7) {
        if (at >= size) {
            return ReplayError::kTruncated;
        }
        const uint8_t byte = data[at++];
        const uint64_t bits = byte & 0x7f;
        if (shift == 63 && bits > 1) {
            return ReplayError::kBadVarint;
        }
        value |= bits << shift;
        if ((byte & 0x80) == 0) {
            return byte == 0 && shift > 0 ? ReplayError::kBadVarint : ReplayError::kNone;
        }
        if (shift == 63) {
            return ReplayError::kBadVarint;
        }
    }
}

// The changes section, decoded to check it and thrown away: steps must rise from 0 and stay below
// the drive's end. Gaps are compared before they are added, so no sum can wrap.
ReplayError CheckChanges(const uint8_t* data, size_t size, size_t& at, uint64_t changeCount, uint64_t stepCount)
{
    uint64_t step = 0;
    for (uint64_t i = 0; i < changeCount; ++i) {
        uint64_t value = 0;
        if (const ReplayError error = LoadVarint(data, size, at, value); error != ReplayError::kNone) {
            return error;
        }
        const uint64_t gap = value >> 4;
        if (i > 0 && gap == 0) {
            return ReplayError::kChangesOutOfOrder;
        }
        if (gap >= stepCount - step) {
            return ReplayError::kGapTooLarge;
        }
        step += gap;
    }
    return ReplayError::kNone;
}

} // namespace

const char* GetReplayErrorName(ReplayError error)
{
    switch (error) {
    case ReplayError::kNone:
        return "ok";
    case ReplayError::kTruncated:
        return "truncated";
    case ReplayError::kWrongMagic:
        return "wrong-magic";
    case ReplayError::kOtherVersion:
        return "other-version";
    case ReplayError::kOtherStepLength:
        return "other-step-length";
    case ReplayError::kOtherModel:
        return "other-model";
    case ReplayError::kBadCheckpointInterval:
        return "bad-checkpoint-interval";
    case ReplayError::kBadStart:
        return "bad-start";
    case ReplayError::kBadVarint:
        return "bad-varint";
    case ReplayError::kTooManySteps:
        return "too-many-steps";
    case ReplayError::kGapTooLarge:
        return "gap-too-large";
    case ReplayError::kChangesOutOfOrder:
        return "changes-out-of-order";
    case ReplayError::kTrailingBytes:
        return "trailing-bytes";
    case ReplayError::kBadChecksum:
        return "bad-checksum";
    case ReplayError::kTooLarge:
        return "too-large";
    case ReplayError::kUnreadable:
        return "unreadable";
    }
    return "unknown";
}

const char* DescribeReplayError(ReplayError error)
{
    switch (error) {
    case ReplayError::kNone:
        return "the file is a good replay";
    case ReplayError::kTruncated:
        return "the file ends before the replay does";
    case ReplayError::kWrongMagic:
        return "the file is not a replay (it does not start with ORVR)";
    case ReplayError::kOtherVersion:
        return "the replay is of another version of the format";
    case ReplayError::kOtherStepLength:
        return "the replay was driven with another physics step length";
    case ReplayError::kOtherModel:
        return "the replay was driven with another car model, which would replay it differently";
    case ReplayError::kBadCheckpointInterval:
        return "the replay's checkpoint interval is not between 1 and 1000 steps";
    case ReplayError::kBadStart:
        return "the replay's start position or heading is not a finite number";
    case ReplayError::kBadVarint:
        return "a number in the replay is malformed";
    case ReplayError::kTooManySteps:
        return "the replay claims more steps than any drive can have";
    case ReplayError::kGapTooLarge:
        return "a control change lies beyond the replay's last step";
    case ReplayError::kChangesOutOfOrder:
        return "two control changes fall on the same step";
    case ReplayError::kTrailingBytes:
        return "the file goes on after the replay ends";
    case ReplayError::kBadChecksum:
        return "the file's checksum does not match its contents (it is damaged)";
    case ReplayError::kTooLarge:
        return "the file is larger than any replay can be";
    case ReplayError::kUnreadable:
        return "the file cannot be read";
    }
    return "unknown error";
}

uint32_t Crc32(const uint8_t* data, size_t size)
{
    static const auto table = [] {
        struct Table {
            uint32_t entries[256];
        } t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit) {
                c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            }
            t.entries[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; ++i) {
        crc = table.entries[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
    }
    return crc ^ 0xffffffffu;
}

uint64_t HashCarState(float x, float y, float heading, float velocityX, float velocityY, float angularVelocity)
{
    uint64_t hash = 14695981039346656037ull;
    for (const float value : {x, y, heading, velocityX, velocityY, angularVelocity}) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (int byte = 0; byte < 4; ++byte) {
            hash = (hash ^ ((bits >> (8 * byte)) & 0xffu)) * 1099511628211ull;
        }
    }
    return hash;
}

uint64_t Replay::GetCheckpointStep(size_t index) const
{
    return index + 1 < checkpoints.size() ? (index + 1) * static_cast<uint64_t>(checkpointInterval) : stepCount;
}

ControlChange ReplayCursor::Next()
{
    uint64_t value = 0;
    LoadVarint(replay->encodedChanges.data(), replay->encodedChanges.size(), offset, value);
    step += value >> 4;
    ++read;
    return ControlChange{step, static_cast<uint8_t>(value & 0x0f)};
}

ReplayError ParseReplay(const uint8_t* data, size_t size, Replay& out)
{
    if (size < 4) {
        return ReplayError::kTruncated;
    }
    if (std::memcmp(data, kReplayMagic, 4) != 0) {
        return ReplayError::kWrongMagic;
    }
    if (size < 6) {
        return ReplayError::kTruncated;
    }
    if (LoadU16(data + 4) != kReplayVersion) {
        return ReplayError::kOtherVersion;
    }
    if (size < kReplayHeaderBytes) {
        return ReplayError::kTruncated;
    }
    if (size > kReplayMaxFileBytes) {
        return ReplayError::kTooLarge;
    }
    if (LoadU16(data + 6) != kReplayStepMs) {
        return ReplayError::kOtherStepLength;
    }
    if (LoadU32(data + 8) != kReplayModelId) {
        return ReplayError::kOtherModel;
    }
    Replay replay;
    replay.startX = LoadF32(data + 12);
    replay.startY = LoadF32(data + 16);
    replay.startHeading = LoadF32(data + 20);
    if (!std::isfinite(replay.startX) || !std::isfinite(replay.startY) || !std::isfinite(replay.startHeading)) {
        return ReplayError::kBadStart;
    }
    // At most 1000 steps between checkpoints, each of 8 bytes: a file asks for at most 125 steps
    // of work per byte, so that no small file can keep a player busy for hours.
    replay.checkpointInterval = LoadU32(data + 24);
    if (replay.checkpointInterval == 0 || replay.checkpointInterval > kReplayCheckpointInterval) {
        return ReplayError::kBadCheckpointInterval;
    }

    size_t at = kReplayHeaderBytes;
    if (const ReplayError error = LoadVarint(data, size, at, replay.stepCount); error != ReplayError::kNone) {
        return error;
    }
    if (replay.stepCount > kReplayMaxSteps) {
        return ReplayError::kTooManySteps;
    }
    if (const ReplayError error = LoadVarint(data, size, at, replay.changeCount); error != ReplayError::kNone) {
        return error;
    }
    // Every change takes at least a byte: a count beyond the bytes left is a cut or damaged file.
    if (replay.changeCount > size - at) {
        return ReplayError::kTruncated;
    }
    const size_t changesStart = at;
    if (const ReplayError error = CheckChanges(data, size, at, replay.changeCount, replay.stepCount);
        error != ReplayError::kNone) {
        return error;
    }
    const size_t changesEnd = at;

    // The checkpoints and the checksum must fill the rest exactly; the count is bounded by the
    // steps, and compared in checkpoints, never multiplied into bytes, before anything is reserved.
    const uint64_t checkpointCount = replay.GetCheckpointCount();
    const size_t rest = size - at;
    if (rest < 4 || (rest - 4) / 8 < checkpointCount) {
        return ReplayError::kTruncated;
    }
    if (rest - 4 != checkpointCount * 8) {
        return ReplayError::kTrailingBytes;
    }
    if (Crc32(data, size - 4) != LoadU32(data + size - 4)) {
        return ReplayError::kBadChecksum;
    }

    replay.encodedChanges.assign(data + changesStart, data + changesEnd);
    replay.checkpoints.reserve(checkpointCount);
    for (uint64_t i = 0; i < checkpointCount; ++i) {
        replay.checkpoints.push_back(LoadU64(data + at + 8 * i));
    }
    out = std::move(replay);
    return ReplayError::kNone;
}

ReplayError ReadReplayFile(const std::string& path, Replay& out)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return ReplayError::kUnreadable;
    }
    // Read in pieces up to one byte past the limit, so that neither a huge file nor one that
    // reports no size (a pipe) is ever read whole into memory.
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && bytes.size() <= kReplayMaxFileBytes) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    const bool failed = std::ferror(file) != 0;
    // The reason for a failed read outlives the close.
    const int readError = errno;
    std::fclose(file);
    errno = readError;
    if (failed) {
        return ReplayError::kUnreadable;
    }
    if (bytes.size() > kReplayMaxFileBytes) {
        return ReplayError::kTooLarge;
    }
    return ParseReplay(bytes.data(), bytes.size(), out);
}

std::vector<uint8_t> SerializeReplay(const Replay& replay)
{
    std::vector<uint8_t> out;
    out.reserve(kReplayHeaderBytes + 20 + replay.encodedChanges.size() + 8 * replay.checkpoints.size() + 4);
    for (const uint8_t byte : kReplayMagic) {
        out.push_back(byte);
    }
    StoreU16(out, kReplayVersion);
    StoreU16(out, kReplayStepMs);
    StoreU32(out, kReplayModelId);
    StoreF32(out, replay.startX);
    StoreF32(out, replay.startY);
    StoreF32(out, replay.startHeading);
    StoreU32(out, replay.checkpointInterval);
    StoreVarint(out, replay.stepCount);
    StoreVarint(out, replay.changeCount);
    out.insert(out.end(), replay.encodedChanges.begin(), replay.encodedChanges.end());
    for (const uint64_t checkpoint : replay.checkpoints) {
        StoreU64(out, checkpoint);
    }
    StoreU32(out, Crc32(out.data(), out.size()));
    return out;
}

ReplayRecorder::ReplayRecorder(float startX, float startY, float startHeading)
{
    replay.startX = startX;
    replay.startY = startY;
    replay.startHeading = startHeading;
}

void ReplayRecorder::AddChange(uint8_t directions)
{
    StoreVarint(replay.encodedChanges, (replay.stepCount - lastChangeStep) << 4 | directions);
    ++replay.changeCount;
    lastChangeStep = replay.stepCount;
    held = directions;
}

Replay ReplayRecorder::Finish(uint64_t currentHash) const
{
    Replay finished = replay;
    finished.checkpoints.push_back(currentHash);
    return finished;
}

std::string FormatStateHash(uint64_t hash)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

namespace {

// Writes all of `bytes` to the open descriptor and closes it; false with the reason in `error`.
bool WriteAndClose(int fd, const std::vector<uint8_t>& bytes, std::string& error)
{
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : EIO);
            ::close(fd);
            return false;
        }
        written += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

// Makes `folder` and every missing folder above it.
bool MakeFolders(const std::string& folder, std::string& error)
{
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        struct stat info;
        if (::stat(part.c_str(), &info) != 0) {
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
                error = part + ": " + std::strerror(errno);
                return false;
            }
        } else if (!S_ISDIR(info.st_mode)) {
            error = part + ": " + std::strerror(ENOTDIR);
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

} // namespace

long WriteReplayFile(const Replay& replay, const std::string& path, std::string& error)
{
    const std::vector<uint8_t> bytes = SerializeReplay(replay);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return -1;
    }
    if (!WriteAndClose(fd, bytes, error)) {
        error = path + ": " + error;
        return -1;
    }
    return static_cast<long>(bytes.size());
}

std::string GetReplayFolder()
{
    // XDG's base directory rules take absolute paths only; a relative one is ignored.
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr && home[0] == '/' ? home : "") + "/.local/share";
    }
    return base + "/orvo-game/replays";
}

std::string SaveReplayInFolder(const Replay& replay, const std::string& folder, std::string& error)
{
    if (!MakeFolders(folder, error)) {
        return "";
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
    const std::vector<uint8_t> bytes = SerializeReplay(replay);
    // O_EXCL claims a name atomically: two saves in one second, or two games, never share a file.
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const std::string path =
            folder + "/" + stamp + (attempt > 1 ? "-" + std::to_string(attempt) : std::string()) + ".orvr";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            error = path + ": " + std::strerror(errno);
            return "";
        }
        if (!WriteAndClose(fd, bytes, error)) {
            error = path + ": " + error;
            ::unlink(path.c_str());
            return "";
        }
        return path;
    }
    error = folder + ": no free name for this second";
    return "";
}

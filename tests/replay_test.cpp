// Replays: the format's worked example to its bytes and figures, recorded drives read back and
// replayed to the same bits, a replay and a ghost played in the race, and every kind of bad file.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "race_control.h"

using Bytes = std::vector<uint8_t>;
using orvo::Vector2;

// The worked example of docs/replay-format.md, written out from the layout, not by the writer.
const Bytes kHeader = {'O', 'R', 'V',  'R',  1, 0, 3,    0,    0x29, 0x5e, 0x96, 0xf4, 0, 0, 0x20, 0x41, // 10.0
                       0,   0,   0x80, 0xc0, 0, 0, 0xc0, 0x3f, 0xe8, 3,    0,    0}; // -4.0, heading 1.5, every 1000
const Bytes kCounts = {0xb0, 0x09, 0x03};                                            // 1200 steps, 3 changes
const Bytes kChanges = {0x04, 0xc6, 0x70, 0x89, 0x19}; // Up at 0, Up+Right at 900, Left+Down at 1100
const Bytes kCheckpoints = {0x5a, 0xcc, 0xa3, 0x55, 0x5b, 0x3c, 0x6c, 0x1a,
                            0x9a, 0xec, 0x48, 0x42, 0xa4, 0x48, 0x26, 0x16};
const Bytes kCrc = {0xf3, 0xf8, 0x80, 0xb0};

static Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

// The file's bytes with its checksum put right, so that a case reaches the check it is about.
static Bytes WithCrc(Bytes body)
{
    const uint32_t crc = Crc32(body.data(), body.size());
    return Join({body, {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)}});
}

static Replay Parse(const Bytes& bytes)
{
    Replay replay;
    EXPECT_EQ(ParseReplay(bytes.data(), bytes.size(), replay), ReplayError::kNone);
    return replay;
}

static Replay Example() { return Parse(Join({kHeader, kCounts, kChanges, kCheckpoints, kCrc})); }

class ReplayTest : public testing::Test {
protected:
    static void SetUpTestSuite() { orvo::Init(); }
    static void TearDownTestSuite() { orvo::Exit(); }
    static bool SameState(const Car& a, const Car& b) { return HashCarState(a) == HashCarState(b); }
    void Hold(unsigned d) { race.keyLeft = d & 1, race.keyRight = d & 2, race.keyUp = d & 4, race.keyDown = d & 8; }
    orvo::Game game{8, 3};
    RaceState race{&game};
};

TEST_F(ReplayTest, WorkedExampleReadsAndReplaysToItsFiguresAndWritesBackToItsBytes)
{
    const Bytes file = Join({kHeader, kCounts, kChanges, kCheckpoints, kCrc});
    const Replay replay = Parse(file);
    EXPECT_EQ(replay.startX, 10.0f);
    EXPECT_EQ(replay.startY, -4.0f);
    EXPECT_EQ(replay.startHeading, 1.5f);
    EXPECT_EQ(replay.stepCount, 1200u);
    std::vector<std::pair<uint64_t, int>> changes;
    for (ReplayCursor cursor(replay); cursor.HasNext();) {
        const ControlChange change = cursor.Next();
        changes.emplace_back(change.step, change.directions);
    }
    EXPECT_EQ(changes, (std::vector<std::pair<uint64_t, int>>{{0, 4}, {900, 6}, {1100, 9}}));

    ReplayPlayback playback(replay);
    PlayWhole(playback, *race.car);
    const Car& car = *race.car;
    EXPECT_TRUE(playback.Matches());
    EXPECT_EQ(FormatStateHash(playback.finalHash), "162648a44248ec9a");
    char figures[200];
    std::snprintf(figures, sizeof figures, "%a %a %a %a %a %a", car.body->spatial.position.x,
                  car.body->spatial.position.y, car.body->spatial.rotation, car.velocity.x, car.velocity.y,
                  car.angularVelocity);
    EXPECT_STREQ(figures, "0x1.6c7f44p+6 0x1.e7e086p+1 -0x1.53ccc6p+1 0x1.125884p+3 0x1.10952ap+4 0x1.65b6a4p+0");
    EXPECT_EQ(SerializeReplay(replay), file);
}

// The golden drive of the car's tests, recorded and replayed: the golden hash, whose upper half
// is the model identifier, so that the identifier changes with the model.
TEST_F(ReplayTest, GoldenDriveReplaysToTheGoldenHash)
{
    const std::pair<uint8_t, int> script[] = {{4, 900}, {6, 400}, {5, 300}, {1, 250},
                                              {2, 200}, {8, 600}, {9, 300}, {0, 400}};
    for (const auto& [directions, steps] : script) {
        Hold(directions);
        for (int step = 0; step < steps; ++step) {
            race.OnStepPhysicsTime();
        }
    }
    const Bytes file = SerializeReplay(race.GetRecordedDrive());
    Car replayed(&game, &race, Vector2(), 0.0f);
    ReplayPlayback playback(Parse(file));
    PlayWhole(playback, replayed);
    EXPECT_TRUE(playback.Matches());
    EXPECT_EQ(playback.finalHash, 0xf4965e29dbf2db72u);
    EXPECT_EQ(kReplayModelId, playback.finalHash >> 32);
}

// Keys drawn afresh every 30 to 300 steps, through the race's own control stream.
TEST_F(ReplayTest, RandomDriveOf100000StepsReadBackReplaysToTheSameStateAndCheckpoints)
{
    std::mt19937 random(19);
    for (int step = 0, next = 0; step < 100000; ++step) {
        if (step == next) {
            next += 30 + static_cast<int>(random() % 271);
            Hold(random());
        }
        race.OnStepPhysicsTime();
    }
    const Replay recorded = race.GetRecordedDrive();
    const Replay read = Parse(SerializeReplay(recorded));
    EXPECT_EQ(read.checkpoints, recorded.checkpoints);
    EXPECT_EQ(read.checkpoints.size(), 101u);
    Car replayed(&game, &race, Vector2(), 0.0f);
    ReplayPlayback playback(read);
    PlayWhole(playback, replayed);
    EXPECT_TRUE(playback.Matches());
    EXPECT_TRUE(SameState(replayed, *race.car));
}

// A minute of tapping the steering every 0.15 to 0.6 s with the throttle held fits in 2 KB.
TEST_F(ReplayTest, MinuteOfSteadySteeringWorkFitsInTwoKilobytes)
{
    std::mt19937 random(60);
    race.keyUp = true;
    for (int step = 0, next = 0; step < 20000; ++step) {
        if (step == next) {
            next += 50 + static_cast<int>(random() % 151);
            race.keyLeft = !race.keyLeft && random() % 2 == 0;
            race.keyRight = !race.keyLeft && !race.keyRight;
        }
        race.OnStepPhysicsTime();
    }
    const Replay drive = race.GetRecordedDrive();
    EXPECT_GT(drive.changeCount, 150u);
    EXPECT_LE(SerializeReplay(drive).size(), 2048u);
}

TEST_F(ReplayTest, ReplayPlaysInTheRaceThenTheKeysTakeOverAndTheWholeDriveIsRecorded)
{
    int ended = 0;
    race.onReplayEnded = [&](const ReplayPlayback& playback) { ended += playback.Matches() ? 1 : 100; };
    race.StartReplay(Example());
    race.keyDown = true; // ignored while the replay plays
    for (int step = 0; step < 1200; ++step) {
        EXPECT_EQ(race.GetMode(), 1);
        race.OnStepPhysicsTime();
    }
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(race.GetMode(), 0);
    EXPECT_EQ(FormatStateHash(HashCarState(*race.car)), "162648a44248ec9a");
    for (int step = 0; step < 300; ++step) {
        race.OnStepPhysicsTime();
    }
    const Replay whole = race.GetRecordedDrive();
    EXPECT_EQ(whole.stepCount, 1500u);
    EXPECT_EQ(whole.checkpoints[0], Example().checkpoints[0]);
    Car replayed(&game, &race, Vector2(), 0.0f);
    ReplayPlayback playback(whole);
    PlayWhole(playback, replayed);
    EXPECT_TRUE(playback.Matches() && SameState(replayed, *race.car)) << "the keys' steps were recorded";
}

TEST_F(ReplayTest, GhostDrivesItsFileBesideTheCarThatTheKeysDrive)
{
    race.StartGhost(Example());
    EXPECT_EQ(race.GetMode(), 2);
    for (int step = 0; step < 1200; ++step) {
        race.OnStepPhysicsTime();
    }
    EXPECT_EQ(race.GetMode(), 0);
    EXPECT_EQ(FormatStateHash(HashCarState(*race.ghost)), "162648a44248ec9a");
    EXPECT_EQ(race.car->body->spatial.position.x, 10.0f) << "no key, the car stays at the start";
    EXPECT_EQ(race.car->body->spatial.position.y, -4.0f);
}

// A change's directions flipped, its checksum put right: the first checkpoint after it differs.
TEST_F(ReplayTest, FlippedChangeIsFoundAtTheFirstCheckpointAfterIt)
{
    // Up at step 0 becomes Up+Left; Left+Down at step 1100 becomes Down alone.
    for (const auto& [changes, step] : {std::pair<Bytes, int>{{0x05, 0xc6, 0x70, 0x89, 0x19}, 1000},
                                        std::pair<Bytes, int>{{0x04, 0xc6, 0x70, 0x88, 0x19}, 1200}}) {
        ReplayPlayback playback(Parse(WithCrc(Join({kHeader, kCounts, changes, kCheckpoints}))));
        PlayWhole(playback, *race.car);
        EXPECT_EQ(playback.firstMismatchStep, step);
    }
}

TEST(ReplayFile, BadFilesGiveTheirNamedErrors)
{
    const Bytes good = Join({kHeader, kCounts, kChanges, kCheckpoints});
    const auto header = [](size_t at, Bytes bytes) {
        Bytes h = kHeader;
        std::copy(bytes.begin(), bytes.end(), h.begin() + at);
        return h;
    };
    const Bytes full = WithCrc(good);
    const Bytes twoTo40 = {0x80, 0x80, 0x80, 0x80, 0x80, 0x20};
    const struct {
        const char* name;
        Bytes file;
        ReplayError error;
    } cases[] = {
        {"empty", {}, ReplayError::kTruncated},
        {"cut in the magic", Bytes(kHeader.begin(), kHeader.begin() + 3), ReplayError::kTruncated},
        {"cut in the header", Bytes(kHeader.begin(), kHeader.begin() + 27), ReplayError::kTruncated},
        {"cut in a change", Join({kHeader, kCounts, {0x04, 0xc6}}), ReplayError::kTruncated},
        {"cut in the checksum", Bytes(full.begin(), full.end() - 1), ReplayError::kTruncated},
        {"wrong magic", WithCrc(Join({header(0, {'O', 'R', 'V', 'X'}), kCounts, kChanges, kCheckpoints})),
         ReplayError::kWrongMagic},
        {"newer version", WithCrc(Join({header(4, {2, 0}), kCounts, kChanges, kCheckpoints})),
         ReplayError::kOtherVersion},
        {"older version", WithCrc(Join({header(4, {0, 0}), kCounts, kChanges, kCheckpoints})),
         ReplayError::kOtherVersion},
        {"4 ms steps", WithCrc(Join({header(6, {4, 0}), kCounts, kChanges, kCheckpoints})),
         ReplayError::kOtherStepLength},
        {"other model", WithCrc(Join({header(8, {0x28}), kCounts, kChanges, kCheckpoints})), ReplayError::kOtherModel},
        {"NaN start", WithCrc(Join({header(12, {0, 0, 0xc0, 0x7f}), kCounts, kChanges, kCheckpoints})),
         ReplayError::kBadStart},
        {"no interval", WithCrc(Join({header(24, {0, 0}), kCounts, kChanges, kCheckpoints})),
         ReplayError::kBadCheckpointInterval},
        {"1001 steps between checkpoints", WithCrc(Join({header(24, {0xe9}), kCounts, kChanges, kCheckpoints})),
         ReplayError::kBadCheckpointInterval},
        {"2^40 steps", WithCrc(Join({kHeader, twoTo40, {3}, kChanges, kCheckpoints})), ReplayError::kTooManySteps},
        {"2^40 changes", WithCrc(Join({kHeader, {0xb0, 0x09}, twoTo40, kChanges, kCheckpoints})),
         ReplayError::kTruncated},
        {"gap of 2^40",
         WithCrc(Join({kHeader, kCounts, {0x04, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x04, 0x89, 0x19}, kCheckpoints})),
         ReplayError::kGapTooLarge},
        {"change on the last step's end", WithCrc(Join({kHeader, {0xb0, 0x09, 1, 0x80, 0x96, 0x01}, kCheckpoints})),
         ReplayError::kGapTooLarge},
        {"two changes on a step", WithCrc(Join({kHeader, kCounts, {0x04, 0x06, 0x89, 0x19}, kCheckpoints})),
         ReplayError::kChangesOutOfOrder},
        {"padded varint", WithCrc(Join({kHeader, {0xb0, 0x89, 0x00}, {3}, kChanges, kCheckpoints})),
         ReplayError::kBadVarint},
        {"eleven-byte varint", WithCrc(Join({kHeader, Bytes(10, 0xff), {1}, kChanges, kCheckpoints})),
         ReplayError::kBadVarint},
        {"a byte after the checksum", Join({full, {0}}), ReplayError::kTrailingBytes},
        {"64 MiB and more", Join({full, Bytes(kReplayMaxFileBytes, 0)}), ReplayError::kTooLarge},
        {"a checkpoint's bit flipped",
         Join({kHeader, kCounts, kChanges, {0x5b}, Bytes(kCheckpoints.begin() + 1, kCheckpoints.end()), kCrc}),
         ReplayError::kBadChecksum},
        {"a change's bit flipped", Join({kHeader, kCounts, {0x04, 0xc6, 0x70, 0x88, 0x19}, kCheckpoints, kCrc}),
         ReplayError::kBadChecksum},
    };
    for (const auto& c : cases) {
        Replay replay;
        replay.stepCount = 77;
        const ReplayError error = ParseReplay(c.file.data(), c.file.size(), replay);
        EXPECT_EQ(GetReplayErrorName(error), std::string(GetReplayErrorName(c.error))) << c.name;
        EXPECT_EQ(replay.stepCount, 77u) << c.name << ": nothing read from a bad file";
    }
    Replay replay;
    EXPECT_EQ(ReadReplayFile("/nonexistent/drive.orvr", replay), ReplayError::kUnreadable);
    EXPECT_EQ(ReadReplayFile("/", replay), ReplayError::kUnreadable);
}

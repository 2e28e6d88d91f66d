// libFuzzer target of the replay reader (scripts/fuzz): any bytes give a named error, or a replay
// whose changes all fall within its steps and that the writer turns back into the same bytes.
// Each input is also tried with its checksum put right, so that mutations reach past the CRC.
#include "race_replay.h"

static void Check(const uint8_t* data, size_t size)
{
    Replay replay;
    if (ParseReplay(data, size, replay) != ReplayError::kNone) {
        return;
    }
    for (ReplayCursor cursor(replay); cursor.HasNext();) {
        if (cursor.Next().step >= replay.stepCount) {
            __builtin_trap();
        }
    }
    if (SerializeReplay(replay) != std::vector<uint8_t>(data, data + size)) {
        __builtin_trap();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Check(data, size);
    if (size >= 4) {
        std::vector<uint8_t> fixed(data, data + size);
        const uint32_t crc = Crc32(fixed.data(), size - 4);
        for (int byte = 0; byte < 4; ++byte) {
            fixed[size - 4 + byte] = static_cast<uint8_t>(crc >> (8 * byte));
        }
        Check(fixed.data(), size);
    }
    return 0;
}

// libFuzzer target of the replay reader (scripts/fuzz): any bytes give a named error, or a replay
// whose changes all fall within its steps and that the writer turns back into the same bytes.
#include "race_replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Replay replay;
    if (ParseReplay(data, size, replay) != ReplayError::kNone) {
        return 0;
    }
    for (ReplayCursor cursor(replay); cursor.HasNext();) {
        if (cursor.Next().step >= replay.stepCount) {
            __builtin_trap();
        }
    }
    if (SerializeReplay(replay) != std::vector<uint8_t>(data, data + size)) {
        __builtin_trap();
    }
    return 0;
}

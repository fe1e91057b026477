// Riding out an adapter's resets: while the management library answers
// "busy" (0x20000067 or 0x20000075) a flash call is made again, at most 30
// times in all, with a pause after each busy answer, and not once the run is
// interrupted (every flash operation then answers busy until the run ends,
// so a retry would only wait out its tries).
#pragma once

#include "core/oss_services.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sd_types.h"

constexpr int CORE_BUSY_TRIES = 30;
// The pause between two tries of a flash read.
constexpr unsigned CORE_READ_RETRY_SECONDS = 1;

// True for the library's answers that mean "busy, try again".
inline bool CoreAnswerIsBusy(SD_UINT32 status) { return status == SDERR_BUSY || status == SDERR_UNKNOWN; }

// Calls `op` (returning a library status) until it answers anything but busy,
// as above; the last answer.
template <typename Op>
SD_UINT32 CoreRetryWhileBusy(unsigned seconds, Op op) {
    SD_UINT32 st = SDERR_UNKNOWN;
    for (int tries = 0; tries < CORE_BUSY_TRIES; ++tries) {
        st = op();
        if (!CoreAnswerIsBusy(st) || zvapi_waits_interrupted()) break;
        OSSSleep(seconds);
    }
    return st;
}

// The log sink under the core log, and the sleep every layer goes through.
#include <cstdio>
#include <unistd.h>

#include "core/core_log.h"
#include "core/core_quiet.h"
#include "core/oss_services.h"
#include "mgmt/sd_shared_db.h"

namespace {
int g_bOperateInQuietMode = 1;
// Until the operating-system layer takes its copy, the sink follows the core
// quiet mode, so that lines of the command-line pass obey "-debug" and "-trace".
bool g_quietTaken = false;
}

void OSSSetLogQuiet(int quiet) {
    g_bOperateInQuietMode = quiet;
    g_quietTaken = true;
}
int OSSGetLogQuiet() { return g_quietTaken ? g_bOperateInQuietMode : CoreGetQuietMode(); }

int OSSLogMessage(int level, const char* text) {
    if (OSSGetLogQuiet() != 0 || text == nullptr) return 0;
    std::fprintf(level == ZV_MSG_ERROR ? stderr : stdout, "%s\n", text);
    return 0;
}

int OSSSleep(unsigned int seconds) {
    // Through the C library's sleep so that a test harness can interpose it.
    // Once an interrupt is ending the run, the pauses of the work it stops
    // serve nothing: the one under way ends with the signal, and a later one
    // is asked for as sleep(0), which returns at once (so that a harness still
    // sees each pause, and each retry, that the run made after the signal).
    if (zvapi_waits_interrupted()) {
        ::sleep(0);
        return 0;
    }
    unsigned int left = seconds;
    while (left > 0 && !zvapi_waits_interrupted()) left = ::sleep(left);
    return 0;
}

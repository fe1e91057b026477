#include "core/core_quiet.h"

namespace {
int g_coreQuietMode = 1;
}

int CoreGetQuietMode() { return g_coreQuietMode; }

int CoreSetQuietMode(int flag) {
    g_coreQuietMode = flag;
    return g_coreQuietMode;
}

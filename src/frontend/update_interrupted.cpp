// The "Update interrupted by signal N" line.
#include "frontend/update_interrupted.h"

#include <cstdio>

#include "frontend/output.h"

void VORNSayUpdateInterrupted(int sig, bool betweenOperations, std::span<char> line) {
    char text[VORN_LINE_SIZE];
    if (betweenOperations) {
        std::snprintf(text, sizeof text, "Update interrupted by signal %d; it ended between two flash operations.",
                      sig);
    } else {
        std::snprintf(text, sizeof text, "Update interrupted by signal %d while a flash operation did not end!", sig);
    }
    scfxPrint("%s", text);
    VORNLogMessage(VORN_MSG_INFO, "%s", text);
    if (!line.empty()) std::snprintf(line.data(), line.size(), "%s", text);
}

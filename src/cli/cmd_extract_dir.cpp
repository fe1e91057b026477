// "-x": copies the installation directory's regular files into a directory.
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/oss_services.h"
#include "frontend/output.h"

namespace {
bool same_directory(const char* a, const char* b) {
    struct stat sa {}, sb {};
    return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// An Error line: standard error (unless the run is silent) and the output
// file. Sized for two whole paths, so a long target is never cut.
__attribute__((format(printf, 1, 2))) void say_error(const char* format, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    VORNReportNotice(line);
}
}  // namespace

int ExtractDirectory(const char* source, const char* target) {
    if (source == nullptr || target == nullptr) return -1;
    // Copying onto the installation directory itself would truncate its files.
    if (same_directory(source, target)) {
        say_error("Error: %s is the installation directory; nothing copied.", target);
        return -1;
    }
    std::vector<std::string> failed;
    std::string refusal;
    if (CopyDirectory(source, target, &failed, &refusal) == 0) return 0;
    // A target another user could have planted (a link to a directory of
    // root's, a directory others may write) receives nothing.
    if (!refusal.empty()) {
        say_error("Error: Directory %s is refused: %s; nothing copied.", target, refusal.c_str());
        return -1;
    }
    for (const auto& name : failed) {
        say_error("Error: Unable to copy %s to %s", name.c_str(), target);
    }
    if (failed.empty()) {
        say_error("Error: Unable to copy %s to %s", source, target);
    }
    return -1;
}

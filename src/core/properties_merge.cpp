// Merging agent.properties with the copy kept from before an upgrade.
#include "core/properties_merge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "core/core_log.h"
#include "core/input_file.h"

namespace {

bool read_lines(std::FILE* f, std::vector<std::string>& lines) {
    std::string line;
    int c;
    bool pending = false;
    while ((c = std::fgetc(f)) != EOF) {
        pending = true;
        line.push_back(static_cast<char>(c));
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
            pending = false;
        }
    }
    if (pending) lines.push_back(line + "\n");
    return std::ferror(f) == 0;
}

// The key of a line: the text before its first "=" without surrounding
// blanks; a line without one (a comment) is its own key.
std::string key_of(const std::string& line) {
    const size_t eq = line.find('=');
    std::string key = line.substr(0, eq);
    if (eq == std::string::npos) {
        while (!key.empty() && (key.back() == '\n' || key.back() == '\r')) key.pop_back();
        return key;
    }
    const size_t first = key.find_first_not_of(" \t");
    const size_t last = key.find_last_not_of(" \t");
    if (first == std::string::npos) return line;
    return key.substr(first, last - first + 1);
}

}  // namespace

int MergePropertiesFilesIn(const char* dir) {
    if (dir == nullptr) return -1;
    const std::string current = std::string(dir) + "/agent.properties";
    const std::string orig = current + ".orig";
    const std::string temp = current + ".temp";

    std::FILE* fc = CoreFopenInputFile(current.c_str(), "r", nullptr);
    if (fc == nullptr) {
        CoreLogMessage(ZV_MSG_ERROR, "Error opening %s, returning!", current.c_str());
        return -1;
    }
    std::FILE* fo = CoreFopenInputFile(orig.c_str(), "r", nullptr);
    if (fo == nullptr) {
        std::fclose(fc);
        CoreLogMessage(ZV_MSG_ERROR, "Error opening %s, returning!", orig.c_str());
        return -1;
    }
    std::vector<std::string> newLines, oldLines;
    const bool readOk = read_lines(fc, newLines) && read_lines(fo, oldLines);
    std::fclose(fc);
    std::fclose(fo);
    if (!readOk) {
        CoreLogMessage(ZV_MSG_ERROR, "Error opening %s, returning!", orig.c_str());
        return -1;
    }

    // The new file is made whole beside the old ones, then put in place.
    ::unlink(temp.c_str());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd < 0) {
        CoreLogMessage(ZV_MSG_ERROR, "Error opening %s, returning!", temp.c_str());
        return -1;
    }
    std::string content;
    CoreLogMessage(ZV_MSG_DEBUG, "Copying all entries from old properties file to temp file...");
    for (const std::string& l : oldLines) content += l;
    CoreLogMessage(ZV_MSG_DEBUG, "Files closed (1)...");
    // A key compares whole: "a.b" is not taken for "x.a.b.c", nor "key" for "keep".
    for (const std::string& l : newLines) {
        const std::string key = key_of(l);
        CoreLogMessage(ZV_MSG_DEBUG, "prop_string: %s", key.c_str());
        bool known = false;
        for (const std::string& o : oldLines) {
            if (key_of(o) != key) continue;
            CoreLogMessage(ZV_MSG_DEBUG, "temp_buf: %s", o.c_str());
            known = true;
            break;
        }
        if (!known) content += l;
    }
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const bool ok = ::close(fd) == 0 && done == content.size();
    if (!ok || ::rename(temp.c_str(), current.c_str()) != 0) {
        ::unlink(temp.c_str());
        CoreLogMessage(ZV_MSG_ERROR, "Error opening agent.properties.temp, returning!");
        return -1;
    }
    ::unlink(orig.c_str());
    return 0;
}

int MergePropertiesFiles() { return MergePropertiesFilesIn("/etc"); }

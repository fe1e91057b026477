// The alias writer of agent.properties.
#include "core/properties_alias.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/core_init.h"
#include "core/core_log.h"
#include "core/input_file.h"
#include "core/polling_loop.h"
#include "core/sdm_device.h"

namespace {

constexpr size_t kWwnText = 23;   // "xx-xx-xx-xx-xx-xx-xx-xx"

// The name in the key, upper-cased; "" when the key holds none.
std::string wwn_in_key(const char* text) {
    const std::string key(text, strnlen(text, 128));
    const size_t at = key.find("name");
    if (at == std::string::npos || at < kWwnText + 2) return {};
    std::string wwn = key.substr(at - 2 - kWwnText, kWwnText);
    CoreLogMessage(ZV_MSG_DEBUG, "String WWN extracted: %s\n", wwn.c_str());
    for (char& c : wwn) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    CoreLogMessage(ZV_MSG_DEBUG, "String WWN converted: %s\n", wwn.c_str());
    return wwn;
}

int adapter_by_name(const char* text, bool port) {
    if (text == nullptr) return -1;
    const std::string wwn = wwn_in_key(text);
    int number = -1;
    if (!wwn.empty()) {
        for (const SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr && number < 0; d = d->next) {
            const SD_UINT8* w = port ? d->DevicePortProperty.WWN : d->DeviceNodeProperty.WWN;
            char name[32];
            std::snprintf(name, sizeof name, "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", w[0], w[1], w[2], w[3], w[4],
                          w[5], w[6], w[7]);
            if (wwn == name) number = static_cast<int>(d->DeviceNumber);
        }
    }
    if (number >= 0) CoreLogMessage(ZV_MSG_DEBUG, "The adapter number is: %d\n", number);
    else CoreLogMessage(ZV_MSG_DEBUG, "Unable to locate adapter, other Non-Alias command...");
    return number;
}

SDMDevice* device_of(int number) {
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next)
        if (number >= 0 && d->DeviceNumber == static_cast<SD_UINT32>(number)) return d;
    return nullptr;
}

bool read_lines(const char* path, std::vector<std::string>& lines) {
    std::FILE* f = CoreFopenInputFile(path, "r", nullptr);
    if (f == nullptr) return false;
    std::string line;
    int c;
    bool pending = false;
    while ((c = std::fgetc(f)) != EOF) {
        pending = true;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
            pending = false;
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    if (pending) lines.push_back(line);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// Rewrites the file with `content`, never through a link; 0 or -1.
int write_file(const char* path, const std::string& content) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        if (fd >= 0) ::close(fd);
        CoreLogMessage(ZV_MSG_ERROR,
                       "CoreGetStringValueFromPropertiesFile:Unable to open agent.properties file for writing, "
                       "returning...");
        return -1;
    }
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const bool ok = ::close(fd) == 0 && done == content.size();
    if (!ok) {
        CoreLogMessage(ZV_MSG_ERROR,
                       "CoreGetStringValueFromPropertiesFile:Unable to write line (%s) in agent.properties file...",
                       content.c_str());
        return -1;
    }
    return 0;
}

}  // namespace

int GetAdapterNumberFromWWPNString(const char* text) { return adapter_by_name(text, true); }
int GetAdapterNumberFromWWNNString(const char* text) { return adapter_by_name(text, false); }

int CoreSetStringIntoPropertiesFile(const char* line, const char* value) {
    if (line == nullptr) return -1;
    const char* eq = std::strchr(line, '=');
    const std::string key = eq != nullptr ? std::string(line, static_cast<size_t>(eq - line)) : std::string(line);
    std::string setting = eq != nullptr ? std::string(eq + 1) : std::string();
    while (!setting.empty() && (setting.back() == '\n' || setting.back() == '\r')) setting.pop_back();
    const bool byPort = std::string(key, 0, std::min<size_t>(key.size(), 128)).find("wwpn") != std::string::npos;
    const int adapter = byPort ? GetAdapterNumberFromWWPNString(key.c_str()) : GetAdapterNumberFromWWNNString(key.c_str());
    const auto notify = [&] {
        CoreGenerateHostNotificationAlarm(device_of(adapter), byPort ? 14 : 13, 0,
                                          (value != nullptr && *value != '\0') ? value : nullptr);
    };
    const std::string wanted = setting.empty() ? std::string() : key + "=" + setting + "\n";

    const char* path = CoreGetConfigFileName();
    std::vector<std::string> lines;
    if (path == nullptr || *path == '\0' || !read_lines(path, lines)) {
        CoreLogMessage(ZV_MSG_ERROR, "CoreGetStringValueFromPropertiesFile:Unable to open agent.properties file, returning...");
        return -1;
    }
    bool anySetting = false;
    for (const std::string& l : lines) {
        if (!l.empty() && l[0] == '#') {
            CoreLogMessage(ZV_MSG_DEBUG, "Skipping line: %s\n", l.c_str());
            continue;
        }
        CoreLogMessage(ZV_MSG_DEBUG, "Using line: %s\n", l.c_str());
        anySetting = true;
        break;
    }
    if (!anySetting) {
        if (write_file(path, wanted) != 0) return -1;
        notify();
        return -1;
    }
    // Every other line, comments included, is carried over as it was.
    std::string content;
    bool found = false;
    for (const std::string& l : lines) {
        const size_t at = l.find('=');
        if (l.empty() || l[0] == '#' || at == std::string::npos || l.compare(0, at, key) != 0 || at != key.size()) {
            content += l + "\n";
            continue;
        }
        if (!found && !wanted.empty()) {
            CoreLogMessage(ZV_MSG_DEBUG, "String being written: %s", wanted.c_str());
            content += wanted;
        }
        found = true;
    }
    if (!found && !wanted.empty()) {
        CoreLogMessage(ZV_MSG_DEBUG, "String being written: %s", wanted.c_str());
        content += wanted;
    }
    if (write_file(path, content) != 0) return -1;
    notify();
    return 0;
}

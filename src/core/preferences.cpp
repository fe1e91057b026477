// agent.properties: the generic key=value reader and writer and the settings.
#include "core/preferences.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/core_init.h"
#include "core/core_log.h"
#include "core/core_quiet.h"
#include "core/input_file.h"

namespace {
int g_pollingInterval = 30;
int g_fabricScanning = 0;
int g_securedFlashUpdate = 0;
char g_propertyValue[512];

FILE* open_config_file() {
    const char* name = CoreGetConfigFileName();
    if (name == nullptr || *name == '\0') return nullptr;
    return PrefOpenPreferenceFile(name);
}

// Reads one key of the configuration file: -1 missing file, 0 key absent, 1 found.
int read_config_key(const char* key, std::string& value) {
    FILE* f = open_config_file();
    if (f == nullptr) return -1;
    const char* v = PrefGetProperty(f, key);
    const int rc = v != nullptr ? 1 : 0;
    if (v != nullptr) value = v;
    PrefClosePreferenceFile(f);
    return rc;
}

int write_config_key(const char* key, const char* value) {
    FILE* f = open_config_file();
    if (f == nullptr) return -1;
    const int rc = PrefSetProperty(f, key, value);
    PrefClosePreferenceFile(f);
    return rc;
}

// 0 or 1 only; the value is taken unsigned, so negative numbers are refused.
bool two_valued(const std::string& text, int& out) {
    const unsigned long v = static_cast<unsigned long>(std::strtol(text.c_str(), nullptr, 10));
    if (v >= 2) return false;
    out = static_cast<int>(v);
    return true;
}

// Whole line from the file (any length), without its newline; false at the end.
bool read_line(FILE* f, std::string& line, bool& had_newline) {
    line.clear();
    had_newline = false;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, f) != nullptr) {
        line += chunk;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            had_newline = true;
            return true;
        }
    }
    return !line.empty();
}
}  // namespace

FILE* PrefOpenPreferenceFile(const char* path) {
    if (path == nullptr) return nullptr;
    // Through the reader rule: what it refuses counts as missing, and the user is told.
    FILE* f = CoreFopenInputFile(path, "r+", nullptr);
    if (f == nullptr) CoreLogMessage(ZV_MSG_WARNING, "PrefOpenPreferenceFile: Failed to open preference file (%s).", path);
    return f;
}

FILE* PrefOpenPreferenceFileWriteMode(const char* path) {
    if (path == nullptr) return nullptr;
    // Never through a link, never into anything but a regular file.
    FILE* f = nullptr;
    const int fd = ::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) == 0 &&
        ::fcntl(fd, F_SETFL, 0) == 0) {
        f = ::fdopen(fd, "w+");
    }
    if (f == nullptr && fd >= 0) ::close(fd);
    if (f == nullptr)
        CoreLogMessage(ZV_MSG_WARNING, "PrefOpenPreferenceFile: Failed to open preference file for writing (%s).", path);
    return f;
}

int PrefClosePreferenceFile(FILE* file) {
    if (file == nullptr) return 0;
    return std::fclose(file) == 0 ? 0 : -1;
}

const char* PrefGetProperty(FILE* file, const char* key) {
    if (key == nullptr) return nullptr;
    bool own = false;
    if (file == nullptr) {
        file = CoreFopenInputFile(PREF_FILE_NAME, "r+", nullptr);
        if (file == nullptr) {
            CoreLogMessage(ZV_MSG_ERROR, "PrefGetProperty: Failed to open preference file (%s).", PREF_FILE_NAME);
            return nullptr;
        }
        own = true;
    }
    std::rewind(file);
    const char* result = nullptr;
    bool done = false;
    while (!done && std::fgets(g_propertyValue, sizeof g_propertyValue, file) != nullptr) {
        char* save = nullptr;
        for (char* tok = strtok_r(g_propertyValue, "=\n", &save); tok != nullptr; tok = strtok_r(nullptr, "=\n", &save)) {
            if (std::strcmp(tok, key) != 0) continue;
            result = strtok_r(nullptr, "=\n", &save);  // null when the key ends the line
            done = true;
            break;
        }
    }
    if (!done && std::ferror(file) != 0) CoreLogMessage(ZV_MSG_ERROR, "PrefGetProperty: Failed to read preference file.");
    if (own) std::fclose(file);
    return result;
}

int PrefSetProperty(FILE* file, const char* key, const char* value) {
    if (key == nullptr || value == nullptr) return -1;
    bool own = false;
    if (file == nullptr) {
        file = CoreFopenInputFile(PREF_FILE_NAME, "r+", nullptr);
        if (file == nullptr) {
            CoreLogMessage(ZV_MSG_ERROR, "Failed to open preference file (%s)", PREF_FILE_NAME);
            return -1;
        }
        own = true;
    }
    const std::string replacement = std::string(key) + "=" + value + "\n";
    std::string content;
    bool matched = false;
    std::rewind(file);
    std::string line;
    bool had_newline = false;
    while (read_line(file, line, had_newline)) {
        const size_t eq = line.find('=');
        // Only the key part decides; a value that equals the key does not.
        if (eq != std::string::npos && line.compare(0, eq, key) == 0 && eq == std::strlen(key)) {
            content += replacement;
            matched = true;
        } else {
            content += line;
            if (had_newline) content += '\n';
        }
    }
    int rc = 0;
    if (std::ferror(file) != 0) {
        CoreLogMessage(ZV_MSG_ERROR, "Failed to read preference file!");
        rc = -1;
    }
    if (rc == 0) {
        if (!matched) {
            if (!content.empty() && content.back() != '\n') content += '\n';
            content += replacement;
        }
        std::rewind(file);
        const bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size() &&
                        std::fflush(file) == 0 &&
                        ::ftruncate(fileno(file), static_cast<off_t>(content.size())) == 0;
        if (!ok) {
            CoreLogMessage(ZV_MSG_ERROR, "Failed to write to preference file!");
            rc = -1;
        }
    }
    if (own) std::fclose(file);
    return rc;
}

int CoreLoadPollingInterval() {
    std::string v;
    if (read_config_key(PREF_KEY_POLLING_INTERVAL, v) != 1) return -1;
    const long n = std::strtol(v.c_str(), nullptr, 10);
    if (n <= 0 || n > 0x7FFFFFFF) return -1;
    g_pollingInterval = static_cast<int>(n);
    return 0;
}

int CoreLoadFabricScanning() {
    std::string v;
    const int rc = read_config_key(PREF_KEY_FABRIC_SCANNING, v);
    if (rc < 0) return -1;
    if (rc == 0) return 0;
    return two_valued(v, g_fabricScanning) ? 0 : -1;
}

int CoreLoadQuietMode() {
    std::string v;
    const int rc = read_config_key(PREF_KEY_QUIET_MODE, v);
    if (rc < 0) return -1;
    if (rc == 0) {
        CoreSetQuietMode(0);  // an existing file without the key means "not quiet"
        return 0;
    }
    int quiet = 0;
    if (!two_valued(v, quiet)) return -1;
    CoreSetQuietMode(quiet);
    return 0;
}

int CoreGetFlashUpdateConfig() {
    g_securedFlashUpdate = 0;
    std::string v;
    if (read_config_key(PREF_KEY_SECURED_FLASH, v) != 1) return -1;
    const int shown = static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetFlashUpdateConfig: nSecuredEnable = %d", shown);
    return two_valued(v, g_securedFlashUpdate) ? 0 : -1;
}

int CoreGetPollingInterval() { return g_pollingInterval; }
int CoreGetFabricScanning() { return g_fabricScanning; }
int CoreGetSecuredFlashUpdate() { return g_securedFlashUpdate; }

int CoreSetPollingInterval(int seconds) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", seconds);
    const int rc = write_config_key(PREF_KEY_POLLING_INTERVAL, text);
    if (rc == 0) g_pollingInterval = seconds;
    return rc;
}

void CoreResetPreferences() {
    g_pollingInterval = 30;
    g_fabricScanning = 0;
    g_securedFlashUpdate = 0;
}

int CoreValidateConfigurationPassword(const char* text) {
    if (text == nullptr) return -1;
    std::string stored;
    if (read_config_key(PREF_KEY_PASSWORD, stored) != 1) return -1;
    // Whole texts compare: neither may be a prefix of the other.
    return stored == text ? 0 : -1;
}

int CoreUpdateConfigurationPassword(const char* text) {
    if (text == nullptr) return -1;
    return write_config_key(PREF_KEY_PASSWORD, text);
}

int CoreBuildTargetBeaconKey(char* buffer, size_t size, int instance, const uint8_t* wwn) {
    if (buffer == nullptr || size == 0 || wwn == nullptr) return -1;
    std::snprintf(buffer, size < 256 ? size : 256, "%s%d.%02x%02x%02x%02x%02x%02x%02x%02x", "node.agent.target.beacon.",
                  instance, wwn[0], wwn[1], wwn[2], wwn[3], wwn[4], wwn[5], wwn[6], wwn[7]);
    return 0;
}

int CoreSetTargetBeaconState(const char* key, int state) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", state);
    return write_config_key(key, text) == 0 ? 0 : -1;
}

int CoreGetTargetBeaconState(const char* key, int* state) {
    if (state == nullptr) return -1;
    std::string v;
    const int rc = read_config_key(key, v);
    if (rc < 0) return -1;
    *state = rc == 1 ? static_cast<int>(std::strtol(v.c_str(), nullptr, 10)) : 0;
    return 0;
}

int CoreBuildiiDMAKey(char* buffer, size_t size, const uint8_t* portWwn, const uint8_t* remoteWwn) {
    if (buffer == nullptr || size == 0 || portWwn == nullptr || remoteWwn == nullptr) return -1;
    std::snprintf(buffer, size,
                  "node.agent.iidma.%02x%02x%02x%02x%02x%02x%02x%02x.%02x%02x%02x%02x%02x%02x%02x%02x", portWwn[0],
                  portWwn[1], portWwn[2], portWwn[3], portWwn[4], portWwn[5], portWwn[6], portWwn[7], remoteWwn[0],
                  remoteWwn[1], remoteWwn[2], remoteWwn[3], remoteWwn[4], remoteWwn[5], remoteWwn[6], remoteWwn[7]);
    return 0;
}

int CoreSetiiDMAValue(const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return write_config_key(key, text) == 0 ? 0 : -1;
}

int CoreGetiiDMAValue(const char* key, int* value) {
    if (value == nullptr) return -1;
    std::string v;
    const int rc = read_config_key(key, v);
    *value = 0;
    if (rc != 1) return -1;
    *value = static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
    return 0;
}

int CoreGetStringValueFromPropertiesFile(const char* key, char* out, size_t size) {
    if (key == nullptr || out == nullptr || size == 0) return -1;
    const char* name = CoreGetConfigFileName();
    FILE* f = (name != nullptr && *name != '\0') ? CoreFopenInputFile(name, "r", nullptr)
                                                 : nullptr;
    if (f == nullptr) {
        CoreLogMessage(ZV_MSG_ERROR,
                       "CoreGetStringValueFromPropertiesFile:Unable to open agent.properties file, returning...");
        return -1;
    }
    std::string line;
    bool had_newline = false;
    while (read_line(f, line, had_newline)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || line.compare(0, eq, key) != 0 || eq != std::strlen(key)) continue;
        std::string value = line.substr(eq + 1);
        value.resize(value.find_first_of("\r\n") == std::string::npos ? value.size() : value.find_first_of("\r\n"));
        std::snprintf(out, size, "%s", value.c_str());
        break;
    }
    std::fclose(f);
    return 0;
}

// Version tests of firmware, BIOS and driver texts.
#include "frontend/version_tests.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "frontend/output.h"
#include "frontend/str_util.h"

namespace {

// The parts of the text between the separators (empty parts skipped); false
// when memory runs out.
bool split(const char* text, const char* separators, std::vector<std::string>& parts) {
    try {
        std::string copy(text);
        size_t at = 0;
        while (at < copy.size()) {
            const size_t start = copy.find_first_not_of(separators, at);
            if (start == std::string::npos) break;
            const size_t end = copy.find_first_of(separators, start);
            parts.push_back(copy.substr(start, end == std::string::npos ? std::string::npos : end - start));
            at = end == std::string::npos ? copy.size() : end;
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

int isFCoELinkStatsSupport(const char* pAdapterFWVersion) {
    VORNLogMessage(VORN_MSG_DEBUG, "isFCoELinkStatsSupport: enter");
    std::vector<std::string> parts;
    if (pAdapterFWVersion == nullptr || !split(pAdapterFWVersion, ". ", parts)) return 0;
    VORNLogMessage(VORN_MSG_DEBUG, "isFCoELinkStatsSupport: version=%s", pAdapterFWVersion);
    int supported = 0;
    for (size_t i = 0; i < parts.size() && i < 3; ++i) {
        VORNLogMessage(VORN_MSG_DEBUG, "isFCoELinkStatsSupport: i=%zu token=%s", i, parts[i].c_str());
        const long value = std::strtol(parts[i].c_str(), nullptr, 10);
        if (i == 0) {
            if (value != 5) {
                supported = value > 5 ? 1 : 0;
                break;
            }
        } else if (i == 1) {
            if (value < 2) {
                supported = 0;
                break;
            }
            supported = 1;
        } else {
            supported = value < 0 ? 0 : 1;
        }
    }
    VORNLogMessage(VORN_MSG_DEBUG, "isFCoELinkStatsSupport: bIsSupportedFw=%d", supported);
    return supported;
}

int isSupportedBIOSVersion(const char* pBIOSVersion, int iISPType) {
    if (pBIOSVersion == nullptr) return -1;
    std::vector<std::string> parts;
    if (!split(pBIOSVersion, ".", parts)) return 11;
    int supported = 0;
    if (!parts.empty()) {
        VORNLogMessage(VORN_MSG_DEBUG, "Major version=%c", parts[0][0]);
        if (parts[0][0] > '1') return 1;
    }
    if (parts.size() > 1) {
        const std::string& minor = parts[1];
        VORNLogMessage(VORN_MSG_DEBUG, "Minor version=%c", minor[0]);
        if (minor.size() == 1) {
            VORNLogMessage(VORN_MSG_DEBUG, "Minor version=%c (unsupported)", minor[0]);
            return 0;
        }
        const long n = std::strtol(minor.c_str(), nullptr, 10);
        VORNLogMessage(VORN_MSG_DEBUG, "Minor version=%c%c (%ld)", minor[0], minor[1], n);
        if (n >= (iISPType != 0 ? 29 : 54)) supported = 1;
    }
    return supported;
}

int isWindowsServer2k8InboxDriver(const char* driverVersion) {
    if (driverVersion == nullptr) return -1;
    if (striscmp(driverVersion, "9.1.4.5") == 0 || striscmp(driverVersion, "9.1.4.6") == 0) return 1;
    std::vector<std::string> parts;
    if (!split(driverVersion, ".,  ", parts)) return 11;
    static const char kLeads[] = {'9', '1', '4'};
    for (size_t i = 0; i < parts.size() && i < 4; ++i) {
        const std::string& p = parts[i];
        if (i < 3 && p[0] != kLeads[i]) return 0;
        if (i == 3 && (p.size() < 2 || (p[0] != '5' && p[0] != '6'))) return 0;
    }
    return 1;
}

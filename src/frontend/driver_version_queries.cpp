// Driver-version tests on version texts such as "10.02.09.100-k".
#include "frontend/driver_version_queries.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/str_util.h"

namespace {

// Version texts are short; a longer one is cut rather than read without end.
constexpr std::size_t kVersionMax = 255;

// Splits at any of `delims`, skipping empty fields, and reads each field's
// leading decimal digits (0 when it has none); values saturate at INT_MAX.
std::vector<long> Fields(std::string_view text, std::string_view delims) {
    std::vector<long> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && delims.find(text[i]) != std::string_view::npos) ++i;
        if (i >= text.size()) break;
        long value = 0;
        bool digits = true;
        for (; i < text.size() && delims.find(text[i]) == std::string_view::npos; ++i) {
            if (digits && text[i] >= '0' && text[i] <= '9') {
                value = value > (INT_MAX - 9) / 10 ? INT_MAX : value * 10 + (text[i] - '0');
            } else {
                digits = false;
            }
        }
        out.push_back(value);
    }
    return out;
}

std::string_view Bounded(const char* text) { return std::string_view(text, strnlen(text, kVersionMax)); }

// Compares the fields with `floor` in turn: above is true, below false, equal
// goes on. A text that ends after an equal field gives `endsAfter[i]`; the
// last step needs the field to be at least its floor.
bool AtLeast(const std::vector<long>& f, const std::vector<long>& floor, const std::vector<bool>& endsAfter) {
    if (f.empty()) return false;
    const std::size_t last = floor.size() - 1;
    for (std::size_t i = 0; i < last; ++i) {
        if (f[i] > floor[i]) return true;
        if (f[i] < floor[i]) return false;
        if (f.size() == i + 1) return endsAfter[i];
    }
    return f[last] >= floor[last];
}

}  // namespace

bool isLinuxDriverWithSupportedSpeed(const char* pDriverVersion) {
    if (pDriverVersion == nullptr) return false;
    return AtLeast(Fields(Bounded(pDriverVersion), "-.k "), {8, 7, 0, 48}, {true, false, true});
}

bool isEsxDriverWithSupportedSpeed(const char* pDriverVersion) {
    if (pDriverVersion == nullptr) return false;
    return AtLeast(Fields(Bounded(pDriverVersion), "-.k "), {2, 1, 56}, {true, true});
}

bool isDriverWithSupportedSpeed(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return false;
    const DEVICENODEPROPERTY& node = pDevice->DeviceNodeProperty;
    char version[sizeof node.DriverVersion + 1] = {};
    std::memcpy(version, node.DriverVersion, sizeof node.DriverVersion);
    return isLinuxDriverWithSupportedSpeed(version) || isEsxDriverWithSupportedSpeed(version);
}

bool isWindowsServerFECImplDriverVersion(const char* pDriverVersion, int versionLen) {
    if (pDriverVersion == nullptr || versionLen <= 0) return true;
    const std::string text(pDriverVersion, strnlen(pDriverVersion, std::min<std::size_t>(versionLen, kVersionMax)));
    char clean[kVersionMax + 1] = {};
    CleanStr3(text.c_str(), clean, sizeof clean);
    for (const char* release : {"9.1.11.24", "9.1.11.27", "9.1.11.28"})
        if (striscmp(clean, release) == 0) return true;
    const std::vector<long> f = Fields(text, ". ,");
    return f.size() >= 4 && f[0] == 9 && f[1] == 1 && f[2] == 11 && (f[3] == 24 || f[3] == 27 || f[3] == 28);
}

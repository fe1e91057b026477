// Status texts and the library's version.
#include <cstdio>
#include <cstring>
#include <string>

#include "mgmt/sd_library.h"
#include "mgmt/sdapi.h"

namespace {
struct zvapi_status_text {
    SD_UINT32 Status;
    const char* Text;
};

constexpr zvapi_status_text kTexts[] = {
    {0, "No error"},
    {0x2000001C, "Command not supported"},
    {0x20000040, "SCSI check condition"},
    {0x20000045, "SCSI reservation conflict"},
    {0x20000064, "Invalid parameter"},
    {0x20000065, "Handle to HBA device is invalid"},
    {0x20000066, "Command not supported"},
    {0x20000067, "Device is busy"},
    {0x2000006B, "Data overrun"},
    {0x2000006C, "Data underrun"},
    {0x2000006D, "Device not found"},
    {0x20000071, "Unsupported command version"},
    {0x20000072, "Buffer too small"},
    {0x20000073, "Invalid request"},
    {0x20000074, "Out of memory"},
    {0x20000075, "Unknown error"},
    {0x20000077, "Buffer content returned not directly from device"},
    {0x2000007B, "Adapter not ready"},
    {0x20000084, "Option ROM too big"},
    {0x20000088, "Option ROM invalid Firmware"},
    {0x200000A8, "No Firmware dump available"},
    {0x200000C0, "Session in progress"},
    {0x200000C1, "Session expired"},
    {0x200000C2, "Flash update token not set"},
    {0x20000100, "New settings are flashed but not activated"},
    {0x20000109, "Option ROM invalid region"},
    {0x20000110, "Firmware dump zip file error"},
    {0x20000113, "Adapter in Lock Down Mode"},
};

constexpr const char* kDefaultVersion = "v6.04 build77";

// "v<major>.<minor> build<n>" as major << 16 | minor << 8 | build.
SD_UINT32 version_number(const std::string& text) {
    unsigned major = 0, minor = 0, build = 0;
    if (std::sscanf(text.c_str(), "v%u.%u build%u", &major, &minor, &build) < 2) return 0;
    return ((major & 0xFFFF) << 16) | ((minor & 0xFF) << 8) | (build & 0xFF);
}

}  // namespace

const char* SDGetErrorString(SD_UINT32 ErrorCode) {
    for (const auto& t : kTexts) {
        if (t.Status == ErrorCode) return t.Text;
    }
    // One buffer per thread: the next call of the same thread overwrites it,
    // and the event thread cannot garble the main thread's text.
    static thread_local char buffer[64];
    if (ErrorCode <= 0x1FFFFFFF) {
        std::snprintf(buffer, sizeof buffer, "System Error %d.", static_cast<int>(ErrorCode));
    } else {
        std::snprintf(buffer, sizeof buffer, "Unknown Error %xh.", ErrorCode);
    }
    return buffer;
}

// A transport is made for the question when the library is not loaded.
std::string zvapi_describe(const std::string& key, const char* fallback) {
    std::lock_guard<std::recursive_mutex> lock(zvapi_lib_mutex());
    std::string text;
    try {
        if (zvapi_transport* t = zvapi_get_transport()) {
            text = t->Describe(key);
        } else if (auto temp = zvapi_make_transport()) {
            text = temp->Describe(key);
        }
    } catch (...) {
        text.clear();
    }
    return text.empty() ? fallback : text;
}

SD_UINT32 SDGetVersion(std::span<char> version) {
    std::string text = zvapi_describe("library_version", kDefaultVersion);
    zvapi_copy_text(version, text);
    return version_number(text);
}

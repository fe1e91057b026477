// The preference file (agent.properties): whatever it holds, the settings
// stay within their ranges, a looked-up value never overfills the caller's
// buffer, and rewriting one key leaves a file whose key reads back.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/core_init.h"
#include "core/core_quiet.h"
#include "core/oss_services.h"
#include "core/preferences.h"
#include "fuzz_support.h"

namespace {

const std::string& PreferenceFile() {
    static const std::string file = [] {
        OSSSetConfigPath((zvfuzz::ScratchDir() + "/").c_str());
        CoreInitialize();
        return zvfuzz::ScratchDir() + "/" + PREF_FILE_NAME;
    }();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& file = PreferenceFile();
    zvfuzz::WriteFile(file, std::span(data, size));
    CoreResetPreferences();
    for (int rc : {CoreLoadPollingInterval(), CoreLoadFabricScanning(), CoreLoadQuietMode(),
                   CoreGetFlashUpdateConfig(), CoreValidateConfigurationPassword("s3cret")})
        ZVFUZZ_CHECK(rc == 0 || rc == -1);
    ZVFUZZ_CHECK(CoreGetPollingInterval() > 0);
    ZVFUZZ_CHECK(CoreGetFabricScanning() == 0 || CoreGetFabricScanning() == 1);
    ZVFUZZ_CHECK(CoreGetSecuredFlashUpdate() == 0 || CoreGetSecuredFlashUpdate() == 1);
    ZVFUZZ_CHECK(CoreGetQuietMode() == 0 || CoreGetQuietMode() == 1);

    // An exactly-sized buffer, so a value copied past it is seen.
    std::vector<char> out(1 + size % 16, '\x7F');
    ZVFUZZ_CHECK(CoreGetStringValueFromPropertiesFile(PREF_KEY_EDIF_CONFIG_PATH, out.data(), out.size()) == 0);
    ZVFUZZ_CHECK(std::memchr(out.data(), '\0', out.size()) != nullptr || out[0] == '\x7F');

    FILE* f = PrefOpenPreferenceFile(file.c_str());
    ZVFUZZ_CHECK(f != nullptr);
    if (const char* v = PrefGetProperty(f, PREF_KEY_PASSWORD)) ZVFUZZ_CHECK(std::strlen(v) < 512);
    ZVFUZZ_CHECK(PrefSetProperty(f, PREF_KEY_EDIF_SOURCE_PATH, "/srv/edif") == 0);
    PrefClosePreferenceFile(f);
    std::vector<char> back(10);
    ZVFUZZ_CHECK(CoreGetStringValueFromPropertiesFile(PREF_KEY_EDIF_SOURCE_PATH, back.data(), back.size()) == 0);
    ZVFUZZ_CHECK(std::strcmp(back.data(), "/srv/edif") == 0);
    CoreSetQuietMode(1);
    return 0;
}

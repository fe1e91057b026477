// Damaged agent.properties files: settings stay within their ranges, a
// looked-up value never overfills the caller's buffer, and a rewrite of one
// key leaves a file whose key reads back.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "core/core_init.h"
#include "core/core_quiet.h"
#include "core/oss_services.h"
#include "core/preferences.h"
#include "support/e2e_support.h"
#include "support/mutate.h"

namespace {

TEST(PreferencesMutation, DamagedFilesKeepSettingsInRange) {
    zvtest::TempDir dir;
    OSSSetConfigPath((dir.Path() + "/").c_str());
    CoreInitialize();
    const std::string file = dir.Path() + "/agent.properties";
    const std::string valid = std::string(PREF_KEY_POLLING_INTERVAL) + "=45\n" + PREF_KEY_FABRIC_SCANNING + "=1\n" +
                              PREF_KEY_QUIET_MODE + "=1\n" + PREF_KEY_SECURED_FLASH + "=0\n" + PREF_KEY_PASSWORD +
                              "=s3cret\n" + PREF_KEY_EDIF_CONFIG_PATH + "=/etc/zv/edif.conf\n";
    zvtest::Mutator m(1111);
    for (int i = 0; i < 400; ++i) {
        const std::string text = m.Text(valid);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        CoreResetPreferences();
        for (int rc : {CoreLoadPollingInterval(), CoreLoadFabricScanning(), CoreLoadQuietMode(),
                       CoreGetFlashUpdateConfig(), CoreValidateConfigurationPassword("s3cret")})
            ASSERT_TRUE(rc == 0 || rc == -1) << rc;
        ASSERT_GT(CoreGetPollingInterval(), 0);
        ASSERT_TRUE(CoreGetFabricScanning() == 0 || CoreGetFabricScanning() == 1);
        ASSERT_TRUE(CoreGetSecuredFlashUpdate() == 0 || CoreGetSecuredFlashUpdate() == 1);
        // Exactly-sized heap buffers, so a value copied past them is seen.
        std::vector<char> out(1 + m.Below(16), '\x7F');
        ASSERT_EQ(CoreGetStringValueFromPropertiesFile(PREF_KEY_EDIF_CONFIG_PATH, out.data(), out.size()), 0);
        FILE* f = PrefOpenPreferenceFile(file.c_str());
        ASSERT_NE(f, nullptr);
        if (const char* v = PrefGetProperty(f, PREF_KEY_PASSWORD)) { ASSERT_LT(std::strlen(v), 512u); }
        ASSERT_EQ(PrefSetProperty(f, PREF_KEY_EDIF_SOURCE_PATH, "/srv/edif"), 0);
        PrefClosePreferenceFile(f);
        std::vector<char> back(10);
        ASSERT_EQ(CoreGetStringValueFromPropertiesFile(PREF_KEY_EDIF_SOURCE_PATH, back.data(), back.size()), 0);
        ASSERT_STREQ(back.data(), "/srv/edif") << text;
    }
    CoreSetQuietMode(1);
}

}  // namespace

// Shared by the Dorne engine runs: a fixture host with one chip-type-25
// two-port adapter whose memo block says 6.04.00 and whose table steps have
// nothing to do, a valid multiboot image 6.05.01 for it, and readers of what
// the run left (engine status, region bytes, image-status records).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/run_helpers.h"
#include "e2e/online_update_families.h"

namespace zvdorne {

using zvfix::Bytes;

constexpr const char* kImage = "kv_mbi.bin";
constexpr const char* kRebootNotice =
    "Flash update complete. Changes have been saved to all ports of this HBA.\nYou must reboot in order for the "
    "changes to become effective.\n";

// Set-1 and set-2 codes of the image's regions, in the order they are written.
inline const std::vector<uint32_t> kSet1 = {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x66, 0x01};
inline const std::vector<uint32_t> kSet2 = {0x9F, 0x09, 0xE5, 0xD3, 0xD1, 0x67, 0x02};
inline const std::vector<uint32_t> kFcVpd = {0x14, 0x16, 0xD4, 0xD6};

using zvtest::Has;
using zvonline::EngineStatus;

inline zvfix::MultibootImageSpec DemoSpec() { return zvonline::Chip25ImageSpec(); }

// The region's bytes as the update writes them: the data, then erased.
inline Bytes Erased(const Bytes& data, size_t size) {
    Bytes b(size, 0xFF);
    std::copy(data.begin(), data.end(), b.begin());
    return b;
}

// The VPD keyword's value bytes, or "" when it is missing.
inline std::string VpdKeyword(const Bytes& vpd, const char* key) {
    for (size_t i = 0; i + 3 < vpd.size(); ++i) {
        if (vpd[i] == key[0] && vpd[i + 1] == key[1] && i + 3 + vpd[i + 2] <= vpd.size())
            return std::string(vpd.begin() + static_cast<long>(i) + 3,
                               vpd.begin() + static_cast<long>(i) + 3 + vpd[i + 2]);
    }
    return "";
}

class DorneTest : public zve2e::IsolatedTest {
protected:
    zvfix::AdapterSpec& AddAdapter(uint8_t mask1, uint16_t gen1, uint8_t mask2, uint16_t gen2,
                                   uint8_t memoMinor = 4, uint8_t memoSub = 0) {
        return zvonline::BuildChip25(host, mask1, gen1, mask2, gen2, memoMinor, memoSub);
    }

    void Install(const Bytes& image, const std::string& dir = "") {
        host.Write(dir.empty() ? hostDir.Path() : dir);
        zvonline::InstallChip25(inst, image);
    }

    zvtest::RunResult Run(const std::string& dir = "") {
        zvtest::RunOptions o;
        o.args = {"-trace"};
        o.env = {{"ZV_SIM_HOST", dir.empty() ? hostDir.Path() : dir}};
        return zvtest::RunProgram(inst, o);
    }

    std::vector<uint32_t> WrittenRegions(const std::string& dir = "") const {
        std::vector<uint32_t> regions;
        for (const zvfix::JournalEntry& e : zvfix::ReadJournal(dir.empty() ? hostDir.Path() : dir))
            regions.push_back(e.region);
        return regions;
    }

    Bytes Region(uint32_t code) const { return zvfix::ReadRegion(hostDir.Path(), 0, code); }
    // After a reboot the adapter runs `set`, its `regions` as they are now.
    void ExpectRunsAfterReboot(int set, const std::vector<uint32_t>& regions) const {
        zvfix::BootManifest manifest;
        manifest.ExpectAsNow(hostDir.Path(), 0, set, regions);
        ASSERT_EQ(zvfix::Reboot(hostDir.Path()), 0);
        const auto verdict = zvfix::CheckBoot(hostDir.Path(), manifest);
        ASSERT_EQ(verdict.size(), 1u);
        EXPECT_EQ(verdict[0].set, set);
        EXPECT_TRUE(verdict[0].Intact());
    }
    Bytes Record(uint8_t mask, uint16_t generation) const {
        return Erased(zvfix::MakeImageStatusRecord(mask, generation, zvfix::kSigImageStatus25), 0x10000);
    }

    zvfix::HostBuilder host;
    zvtest::TempDir hostDir;
    zvtest::InstallDir inst;
};

}  // namespace zvdorne

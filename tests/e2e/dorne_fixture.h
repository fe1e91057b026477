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

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/flash_cfg_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/memo_block_builder.h"
#include "fixtures/multiboot_image_builder.h"
#include "support/e2e_support.h"

namespace zvdorne {

using zvfix::Bytes;

constexpr uint16_t kVendor = 0x1A77;
constexpr uint16_t kSsid = 0x0289;
constexpr const char* kImage = "kv_mbi.bin";
constexpr const char* kRebootNotice =
    "Flash update complete. Changes have been saved to all ports of this HBA.\nYou must reboot in order for the "
    "changes to become effective.\n";

// Set-1 and set-2 codes of the image's regions, in the order they are written.
inline const std::vector<uint32_t> kSet1 = {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x66, 0x01};
inline const std::vector<uint32_t> kSet2 = {0x9F, 0x09, 0xE5, 0xD3, 0xD1, 0x67, 0x02};
inline const std::vector<uint32_t> kFcVpd = {0x14, 0x16, 0xD4, 0xD6};

using zvtest::Has;

inline zvfix::MultibootImageSpec DemoSpec() {
    zvfix::MbiAdapter a;
    a.deviceId = 0x2261;
    a.ssvid = kVendor;
    a.ssdid = kSsid;
    zvfix::MultibootImageSpec s = zvfix::DorneImageSpec(a);
    s.imageVersion = {6, 5, 1};
    return s;
}

// The region's bytes as the update writes them: the data, then erased.
inline Bytes Erased(const Bytes& data, size_t size) {
    Bytes b(size, 0xFF);
    std::copy(data.begin(), data.end(), b.begin());
    return b;
}

class DorneTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "whole-program runs need the private /tmp and /var/log";
    }

    // A chip-type-25 two-port adapter with these image-status records.
    zvfix::AdapterSpec& AddAdapter(uint8_t mask1, uint16_t gen1, uint8_t mask2, uint16_t gen2,
                                   uint8_t memoMinor = 4, uint8_t memoSub = 0) {
        zvfix::AdapterSpec& a = host.AddChip25TwoPort(0x2261);
        a.subSystemId = kSsid;
        zvfix::MemoBlockSpec memo;
        memo.mbi = {6, memoMinor, memoSub, 0};
        a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock(memo));
        a.SetRegion(zvfix::kRegionPreload1, zvfix::MakeConfigTable("JKOZ", {1, 0, 0, 0}, 0x80, kVendor, kSsid));
        a.SetRegion(zvfix::kRegionBoardConfig1, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid, {}));
        a.SetImageStatus(mask1, gen1, mask2, gen2);
        return a;
    }

    // The host, its adapter table, flash.cfg, the image file and a board
    // configuration template of the adapter's version (the preload template
    // is missing, which is no failure): only the multiboot step writes.
    void Install(const Bytes& image, const std::string& dir = "") {
        host.Write(dir.empty() ? hostDir.Path() : dir);
        inst.WriteFile("adapters.properties", zvfix::AdapterTable({zvfix::TableRow(kSsid, kVendor)}));
        inst.WriteFile("flash.cfg", zvfix::FlashCfg({zvfix::FlashCfgRowFor(kSsid, kVendor, "KV2692", "6.05.01", kImage)}));
        inst.WriteFile(kImage, std::string(image.begin(), image.end()));
        inst.WriteFile("Vx9FBC.dat", zvfix::BoardTemplateSpec{"CBF(", "1.0.0", {}, {}}.Text());
    }

    zvtest::RunResult Run(const std::string& dir = "") {
        zvtest::RunOptions o;
        o.args = {"-trace"};
        o.env = {{"ZV_SIM_HOST", dir.empty() ? hostDir.Path() : dir}};
        return zvtest::RunProgram(inst, o);
    }

    // The engine's status as the MCTP pass logged it; -1 when it was not reached.
    static int EngineStatus(const zvtest::RunResult& r) {
        const std::string key = "UpdateAdapteFwComponents: flash update result=";
        const size_t at = r.debugLog.find(key);
        return at == std::string::npos ? -1 : std::atoi(r.debugLog.c_str() + at + key.size());
    }

    std::vector<uint32_t> WrittenRegions(const std::string& dir = "") const {
        std::vector<uint32_t> regions;
        for (const zvfix::JournalEntry& e : zvfix::ReadJournal(dir.empty() ? hostDir.Path() : dir))
            regions.push_back(e.region);
        return regions;
    }

    Bytes Region(uint32_t code) const { return zvfix::ReadRegion(hostDir.Path(), 0, code); }
    Bytes Record(uint8_t mask, uint16_t generation) const {
        return Erased(zvfix::MakeImageStatusRecord(mask, generation, zvfix::kSigImageStatus25), 0x10000);
    }

    zvfix::HostBuilder host;
    zvtest::TempDir hostDir;
    zvtest::InstallDir inst;
};

}  // namespace zvdorne

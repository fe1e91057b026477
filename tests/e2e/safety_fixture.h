// Shared by the safety tests: a fixture host whose chip-type-25 adapters carry
// a preload table and an FC board configuration of version 1.0.0, templates
// that would bring both to 2.0.0, and runs that must end (a hang fails the test).
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/run_helpers.h"
#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/flash_cfg_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/memo_block_builder.h"
#include "support/e2e_support.h"

namespace zvsafety {

constexpr uint16_t kVendor = 0x1A77;
constexpr const char* kImage = "kv_mbi.bin";

using zvtest::Has;

class SafetyTest : public zve2e::IsolatedTest {
protected:
    // A chip-type-25 two-port adapter; its memo block says 6.05.01.
    zvfix::AdapterSpec& AddChip25(uint16_t ssid) {
        zvfix::AdapterSpec& a = host.AddChip25TwoPort(0x2261);
        a.subSystemId = ssid;
        a.SetRegion(zvfix::kRegionMemo1, zvfix::MakeMemoBlock({.mbi = {6, 5, 1, 0}}));
        a.SetRegion(zvfix::kRegionPreload1, zvfix::MakeConfigTable("JKOZ", {1, 0, 0, 0}, 0x80, kVendor, ssid));
        a.SetRegion(zvfix::kRegionBoardConfig1, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, ssid, {}));
        return a;
    }

    // Writes the host, a table row per adapter (TRUE unless listed), a
    // flash.cfg record per adapter, the image file and both templates.
    void Install(const std::vector<uint16_t>& unsupported = {}, const std::vector<uint16_t>& unlisted = {}) {
        host.Write(hostDir.Path());
        std::vector<zvfix::AdapterTableRow> table;
        std::vector<zvfix::FlashCfgRow> rows;
        for (const zvfix::AdapterSpec& a : host.adapters) {
            auto listed = [&](const std::vector<uint16_t>& ids) { return std::ranges::count(ids, a.subSystemId) > 0; };
            if (!listed(unlisted))
                table.push_back(zvfix::TableRow(a.subSystemId, a.subVendorId, listed(unsupported) ? "FALSE" : "TRUE"));
            rows.push_back(zvfix::FlashCfgRowFor(a.subSystemId, a.subVendorId, a.model, "6.05.01", kImage));
        }
        inst.WriteFile("adapters.properties", zvfix::AdapterTable(table));
        inst.WriteFile("flash.cfg", zvfix::FlashCfg(rows));
        inst.WriteFile(kImage, zvfix::StandInImage());
        inst.WriteFile("Vx9FWA.dat", zvfix::BoardTemplateSpec{"JKOZ", "2.0.0", {{0x40, {0x4D, 0x43}}}, {}}.Text());
        inst.WriteFile("Vx9FBC.dat", zvfix::BoardTemplateSpec{"CBF(", "2.0.0", {{0x40, {0x11, 0x22}}}, {}}.Text());
    }

    zvtest::RunOptions Options(std::vector<std::string> args = {}) const {
        zvtest::RunOptions o;
        o.args = std::move(args);
        o.env = {{"ZV_SIM_HOST", hostDir.Path()}};
        return o;
    }

    // The run; one that has not ended after `seconds` is taken as hung,
    // killed, and the test failed.
    zvtest::RunResult RunWithin(const zvtest::RunOptions& o, int seconds = zvtest::kHangSeconds) {
        zvtest::Running running = zvtest::Start(inst, o);
        return WaitWithin(running, seconds);
    }

    static zvtest::RunResult WaitWithin(zvtest::Running& running, int seconds = zvtest::kHangSeconds) {
        if (!zvtest::WaitUntil(running, [&] { return zvtest::Ended(running); }, seconds)) {
            ADD_FAILURE() << "the run did not end within " << seconds << " s";
            ::kill(running.pid, SIGKILL);
        }
        return zvtest::Wait(running);
    }

    std::vector<zvfix::Bytes> Flashes() const {
        std::vector<zvfix::Bytes> all;
        for (size_t i = 0; i < host.adapters.size(); ++i) all.push_back(zvfix::ReadFlash(hostDir.Path(), static_cast<int>(i)));
        return all;
    }

    zvfix::HostBuilder host;
    zvtest::TempDir hostDir;
    zvtest::InstallDir inst;
};

}  // namespace zvsafety

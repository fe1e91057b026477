// Damaged host descriptions: any value of host.json replaced by a huge, negative,
// wrongly typed or missing one, or the text itself broken, gives either a host
// whose regions all lie inside their flash or one error line, never a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "core/device_discovery.h"
#include "core/sdm_device.h"
#include "fixtures/host_builder.h"
#include "fixtures/sim_client.h"
#include "mgmt/sim/sim_host.h"
#include "support/mutate.h"

namespace {

using nlohmann::json;

// Every value of the document (containers too), by its pointer.
void Nodes(const json& j, const json::json_pointer& at, std::vector<json::json_pointer>& out) {
    if (!at.empty()) out.push_back(at);
    if (j.is_object()) {
        for (const auto& [key, value] : j.items()) Nodes(value, at / key, out);
    } else if (j.is_array()) {
        for (size_t i = 0; i < j.size(); ++i) Nodes(j[i], at / i, out);
    }
}

// One value (picked from the undamaged document's nodes) replaced by a hostile one, or removed.
void DamageValue(zvtest::Mutator& m, const std::vector<json::json_pointer>& nodes, json& doc) {
    static const json kValues[] = {-1, 0, 1, 7, 4294967295u, 4294967296u, 18446744073709551615u, 1e300, -0.5, "",
                                   "0x10", "0xFFFFFFFF", "0x", "-0x1", "99999999999999999999", std::string(5000, '7'),
                                   "../../x.flash", "21:00:00", nullptr, true, json::array(), json::object()};
    const json::json_pointer& at = nodes[m.Below(nodes.size())];
    if (!doc.contains(at)) return;   // gone with an earlier damage
    if (m.Chance(20)) {
        json& parent = doc[at.parent_pointer()];
        if (parent.is_array()) parent.erase(std::stoul(at.back()));
        else parent.erase(at.back());
    } else {
        doc[at] = kValues[m.Below(std::size(kValues))];
    }
}

TEST(HostJsonMutation, DamagedDescriptionsLoadSafelyOrGiveOneLine) {
    zvfix::HostBuilder h;
    h.AddChip25TwoPort().ports[0].AddTarget(0x2100000000000001).AddLun(0);
    h.AddChip27();
    const std::string dir = zvfix::MakeTempDir("hostmut");
    h.Write(dir);
    const std::string valid = h.Json();
    const json parsed = json::parse(valid);
    std::vector<json::json_pointer> nodes;
    Nodes(parsed, json::json_pointer(), nodes);
    zvtest::Mutator m(1212);
    int loaded = 0, refused = 0, discovered = 0;
    for (int i = 0; i < 200; ++i) {
        std::string text;
        if (m.Chance(20)) {
            text = m.Text(valid);
        } else {
            json damaged = parsed;
            for (size_t n = 1 + m.Below(2); n > 0; --n) DamageValue(m, nodes, damaged);
            text = damaged.dump();
        }
        std::ofstream(dir + "/host.json", std::ios::binary | std::ios::trunc) << text;
        zvsim_host host;
        std::string err;
        if (!zvsim_load_host(dir, host, err)) {
            ASSERT_FALSE(err.empty());
            ASSERT_EQ(err.find('\n'), std::string::npos) << err;
            ++refused;
            continue;
        }
        for (const zvsim_adapter& a : host.adapters)
            for (const zvsim_region& r : a.layout) ASSERT_LE(uint64_t{r.offset} + r.size, a.flashSize) << text;
        for (const auto& [adapter, port] : host.instances) {
            ASSERT_LT(static_cast<size_t>(adapter), host.adapters.size());
            ASSERT_LT(static_cast<size_t>(port), host.adapters[adapter].ports.size());
        }
        ++loaded;
        // The platform built from it serves every region of the first port.
        auto t = zvsim_open_host(dir, err);
        ASSERT_NE(t, nullptr) << err;
        if (t->PortCount() > 0) {
            for (const zvapi_flash_region& r : zvfix::SimLayout(*t, 0)) {
                std::vector<SD_UINT8> head(std::min<SD_UINT32>(r.Size, 16));
                zvfix::SimFlashRead(*t, 0, r.Code, r.Offset, head);
            }
        }
        t.reset();
        // And the whole discovery over it (properties, VPD, targets, LUNs).
        setenv("ZV_SIM_HOST", dir.c_str(), 1);
        InitDeviceList();
        CoreInitializeDevices();
        discovered += GetDeviceList()->firstDevice != nullptr;
        RemoveAllDevicesFromDeviceList();
        unsetenv("ZV_SIM_HOST");
    }
    // Both outcomes were exercised.
    EXPECT_GT(loaded, 10);
    EXPECT_GT(refused, 20);
    EXPECT_GT(discovered, 5);
    std::filesystem::remove_all(dir);
}

}  // namespace

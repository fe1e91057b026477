// Model predicates the update flows branch on: OEM adapters by the subsystem
// ids in NVRAM, and the port-order rules that older OEM adapters with one
// shared BIOS chip give the flash check. (The family predicates are checked
// through the update class each family gets in whole runs.)
#include "frontend/model_predicates.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/lists_host.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"

namespace {

using zvfix::ListsHost;

TEST(ModelPredicates, NvramIdsDecideTheOemPredicates) {
    zvfix::HostBuilder h;
    const struct {
        uint16_t ssvid, ssdid;
    } ids[] = {{0x1077, 0x0141}, {0x1077, 0x018A}, {0x1077, 0x0176}, {0x1014, 0x03AF},
               {0x1028, 0x0170}, {0x0E11, 0x0104}, {0x1A77, 0x0289}};
    for (const auto& id : ids) {
        auto& a = h.AddChip25(0x2261, 1);
        a.subVendorId = id.ssvid;
        a.subSystemId = id.ssdid;
    }
    ListsHost lists(h);
    auto port = [](uint32_t i) { return ListsHost::CorePort(i); };

    EXPECT_EQ(GetNvramSubVendorID(port(0)), 0x1077);
    EXPECT_EQ(GetNvramSubSystemID(port(0)), 0x0141);
    // One adapter of each kind (the id lists themselves are the source's).
    EXPECT_EQ(isSUNHBA(port(1)), 2);
    EXPECT_EQ(isSUNHBA(port(6)), 0);
    EXPECT_EQ(isIBM8GMezzHBA(port(3)), 6);
    EXPECT_EQ(isVitesseEDCUpdateSupported(port(2)), 1);
    EXPECT_EQ(isEServerBladeCenterHBA(port(2)), 1);
    EXPECT_EQ(isVoduBladeServerHBA(port(4)), 1);
    EXPECT_EQ(isSingleBIOSChipOEM(port(4)), 12);
    EXPECT_EQ(isSingleBIOSChipOEM(port(6)), 0);
    EXPECT_EQ(isBroskAdapter(port(5)), 1);
    EXPECT_EQ(hasSingleBIOSChip(port(6)), 0);
    EXPECT_EQ(hasSingleBIOSChip(nullptr), 8);
    EXPECT_EQ(isSingleBIOSChipOEM(nullptr), 8);
    EXPECT_EQ(isSUNHBA(nullptr), 0);

    char text[16];
    EXPECT_EQ(GetAdapterType(port(6), text, sizeof text), 4);
    EXPECT_STREQ(text, "2261");
}

TEST(ModelPredicates, SharedBiosChipAdaptersTakeTurnsByPort) {
    zvfix::HostBuilder h;
    const struct {
        uint16_t ssvid, ssdid;
    } ids[] = {{0x1014, 0x027D}, {0x1028, 0x0170}, {0x1077, 0x0134}};
    for (const auto& id : ids) {
        auto& a = h.AddChip25(0x2312, 2);   // chip type 4 by its device id
        a.subVendorId = id.ssvid;
        a.subSystemId = id.ssdid;
        // The library reads a 256-byte NVRAM on chips outside the Gen6 families.
        for (auto& p : a.ports) p.nvram = zvfix::MakeNvram(id.ssvid, id.ssdid, 256);
    }
    auto& gen6 = h.AddChip25(0x2261, 1);
    (void)gen6;
    ListsHost lists(h, zvfix::AdapterTable({zvfix::TableRow(0x027D, 0x1014), zvfix::TableRow(0x0170, 0x1028),
                                            zvfix::TableRow(0x0134, 0x1077), zvfix::TableRow(0x0289, 0x1A77)}));
    const auto ports = ListsHost::Ports();
    ASSERT_EQ(ports.size(), 7u);
    // Serial order equals host order here: ZV00010000 .. ZV00010003.
    EXPECT_EQ(GetPortIndexOEM(ports[0]), 0);
    EXPECT_EQ(GetPortIndexOEM(ports[1]), 1);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(ports[0], 0), 1);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(ports[1], 0), 2);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(ports[2], 0), 2);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(ports[3], 0), 1);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(ports[4], 0), 6);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(ports[5], 0), 6);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(ports[6], 0), 1);   // single-port Gen6
    EXPECT_EQ(CheckPortUpdateOption(nullptr, 0), 6);
    EXPECT_EQ(GetPortIndexOEM(nullptr), 0);
}

TEST(ModelPredicates, ModelCorrectionOfOneOemAdapter) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25(0x2261, 1);
    a.subVendorId = 0x1014;
    a.subSystemId = 0x027D;
    ListsHost lists(h);
    const auto ports = ListsHost::Ports();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_STREQ(ports[0]->DeviceNodeProperty.Model, "FCEC-piva");
    EXPECT_EQ(updateModelStrForSingleBIOSHBA(ports[0]), 1);
    EXPECT_EQ(updateModelStrForSingleBIOSHBA(nullptr), 0);
}

}  // namespace

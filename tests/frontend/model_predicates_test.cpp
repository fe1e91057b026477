// Model predicates the update flows branch on: families by device id and chip
// property, OEM adapters by the subsystem ids in NVRAM, and the port-order rules
// that older OEM adapters with one shared BIOS chip give the flash check.
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

// A port record that only carries a chip property (no handle).
SDMDevice Chip(uint16_t deviceId, uint16_t ssvid = 0x1077, uint16_t ssdid = 0) {
    SDMDevice d{};
    d.DeviceHandle = -1;
    d.DeviceChipProperty.DeviceID = deviceId;
    d.DeviceChipProperty.SubVendorID = ssvid;
    d.DeviceChipProperty.SubSystemID = ssdid;
    return d;
}

TEST(ModelPredicates, FamiliesByChipProperty) {
    SDMDevice dorne16 = Chip(0x2071, 0x1077, 0x29B);
    SDMDevice dorne32 = Chip(0x2071, 0x1A77, 0x0289);
    SDMDevice brantix16 = Chip(0x2261, 0x1590, 0x00F9);
    SDMDevice brantix16b = Chip(0x2261, 0x1077, 0x02B0);
    SDMDevice brantix32 = Chip(0x2261, 0x1A77, 0x0289);
    SDMDevice vrel = Chip(0x2281, 0x1A77, 0x02A9);

    EXPECT_EQ(isDorneHBA(&dorne16), 1);
    EXPECT_EQ(isDorneHBA(&dorne32), 2);
    EXPECT_EQ(isDorneHBA(&brantix32), 0);   // 0x2261 is in the 16G id list but the SSIDs decide
    EXPECT_EQ(isBrantixHBA(&brantix16), 1);
    EXPECT_EQ(isBrantixHBA(&brantix16b), 1);
    EXPECT_EQ(isBrantixHBA(&brantix32), 2);
    EXPECT_EQ(isBrantixHBA(&dorne32), 0);
    EXPECT_EQ(isBrantixHBA(&vrel), 0);
    EXPECT_EQ(isDorneHBA(nullptr), 0);
    EXPECT_EQ(isBrantixHBA(nullptr), 0);

    SDMDevice k7r = Chip(0x8021), torvi = Chip(0x8831), fennick = Chip(0x8001), fumo = Chip(0x2431);
    EXPECT_EQ(isK7RHBA(&k7r), 1);
    EXPECT_EQ(isFCoECNA(&k7r), 1);
    EXPECT_EQ(isFCoECNA(&vrel), 0);
    EXPECT_EQ(isTorviHBA(&torvi), 1);
    EXPECT_EQ(isTorviHBA(&k7r), 0);
    EXPECT_EQ(isFennickHBA(&fennick), 1);
    EXPECT_EQ(isISPfumo(&fumo), 1);
    EXPECT_EQ(isPCIExpressHBA(&vrel), 1);
    EXPECT_EQ(isPCIExpressHBA(&fennick), 1);
    SDMDevice pci = Chip(0x2312);
    EXPECT_EQ(isPCIExpressHBA(&pci), 0);
    SDMDevice power = Chip(0x2061);
    EXPECT_EQ(isOpenPowerPCBrantix(&power), 1);

    SDMDevice tunsby = Chip(0x6312), tunsbyE = Chip(0x5422);
    EXPECT_EQ(isTunsbyAdapter(&tunsby), 1);
    EXPECT_EQ(isTunsbyAdapter(&tunsbyE), 2);
    EXPECT_EQ(isTunsbyAdapter(nullptr), 8);
}

TEST(ModelPredicates, ChipPropertyOemLists) {
    SDMDevice mezz16 = Chip(0x2261, 0x1077, 0x02B8), mezz32 = Chip(0x2261, 0x1077, 0x02B9);
    EXPECT_EQ(isMezz16GHBA(&mezz16), 1);
    EXPECT_EQ(isMezz16GHBA(&mezz32), 0);
    EXPECT_EQ(isMezz32GHBA(&mezz32), 1);
    EXPECT_EQ(isMezzHBA(&mezz16), 1);
    SDMDevice hp = Chip(0x2031, 0x103C, 0x1939);
    EXPECT_EQ(is16GN4FCOnlyHBA(&hp), 1);
    EXPECT_EQ(isBrocadeFeatureUnSupportedAdapters(&hp), 1);
    SDMDevice gen6 = Chip(0x2261, 0x1A77, 0x0289);
    EXPECT_EQ(isBrocadeFeatureUnSupportedAdapters(&gen6), 0);
    SDMDevice old = Chip(0x2532, 0x1A77, 0x0289);
    EXPECT_EQ(isBrocadeFeatureUnSupportedAdapters(&old), 1);   // chip type below 21
    SDMDevice tessik = Chip(0x2031, 0x103C, 0x8002);
    EXPECT_EQ(isTessikHBA(&tessik), 1);
    SDMDevice yellow = Chip(0x2312, 0x1077, 0x011B);
    EXPECT_EQ(isMezzHBA(&yellow), 1);
    SDMDevice other = Chip(0x2312, 0x1077, 0x011D);
    EXPECT_EQ(isMezzHBA(&other), 0);
    EXPECT_EQ(isMezzHBA(nullptr), 0);

    AdapterEntry entry{};
    entry.DeviceID = 0x8023;
    EXPECT_EQ(isK7RAdapter(&entry), 1);
    entry.DeviceID = 0x8030;
    EXPECT_EQ(isK7RAdapter(&entry), 0);
}

// ---- Subsystem ids from NVRAM ---------------------------------------------------------

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
    EXPECT_EQ(isSUNHBA(port(0)), 1);
    EXPECT_EQ(isSUNHBA(port(1)), 2);
    EXPECT_EQ(isSUNHBA(port(6)), 0);
    EXPECT_EQ(isIBM8GMezzHBA(port(2)), 4);
    EXPECT_EQ(isIBM8GMezzHBA(port(3)), 6);
    EXPECT_EQ(isVitesseEDCUpdateSupported(port(2)), 1);
    EXPECT_EQ(isEServerBladeCenterHBA(port(2)), 1);
    EXPECT_EQ(isVoduBladeServerHBA(port(4)), 1);
    EXPECT_EQ(hasSingleBIOSChip(port(4)), 2);
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

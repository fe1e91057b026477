// The firmware preload table (region 0x13) and the PEP board configuration
// (region 0xCF) as read from the adapter: whatever the regions hold, the
// versions read are the header's, a table rebuilt from a template is whole
// (signature, length, checksum, the adapter's ids) and fills its region, and
// a damaged table or one older than the template is never called up to date.
//
// Input: the bytes of region 0x13, of region 0xCF, the preload template and
// the PEP template, separated. The regions are read through the library over
// one simulated chip-25 adapter: runs only where scripts/fuzz.sh isolates it.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "boardcfg/config_table.h"
#include "boardcfg/fw_preload.h"
#include "boardcfg/pep_board_config.h"
#include "frontend/install_dir.h"
#include "fuzz_support.h"
#include "sim_port.h"

namespace {

// Both regions small, so that each input reads little.
constexpr const char* kHost = R"({"adapters":[{"flash":{"size":"0x8000","regions":[
    {"code":"0x14","offset":"0x0","size":"0x200"},{"code":"0x15","offset":"0x200","size":"0x200"},
    {"code":"0x13","offset":"0x1000","size":"0x2000"},{"code":"0xCF","offset":"0x3000","size":"0x2000"}]}}]})";
constexpr size_t kRegionSize = 0x2000;

zvfuzz::Bytes AsRead(zvfuzz::Bytes bytes) {
    bytes.resize(kRegionSize, 0xFF);
    return bytes;
}

bool CarriesIds(const std::vector<SD_UINT8>& t, const SDMDevice& port, const char* signature) {
    const SD_UINT16 ssvid = port.DeviceChipProperty.SubVendorID, ssdid = port.DeviceChipProperty.SubSystemID;
    return t.size() == kRegionSize && CfgTableIsValid(t, signature) && (t[16] | t[17] << 8) == ssvid &&
           (t[18] | t[19] << 8) == ssdid;
}

void Preload(SDMDevice& port, const zvfuzz::Bytes& raw, const zvfuzz::Bytes& tpl) {
    const zvfuzz::Bytes region = AsRead(raw);
    ResetFwPreloadVersion();
    ZVFUZZ_CHECK(RetrieveFwPreloadVersion(&port, raw, FWA_SOURCE_ADAPTER) == (raw.size() >= 20 ? 0 : -1));

    zvfuzz::WriteFile(zvfuzz::ScratchDir() + "/" + FWA_TEMPLATE_CHIP25, tpl);
    FwPreloadPlan plan;
    const int rc = PrepareFWPreloadTableUpdate(&port, FWA_TEMPLATE_CHIP25, &plan);
    ZVFUZZ_CHECK(rc == FWA_SUCCESS || rc == FWA_OPEN_FAILED || rc == FWA_CORRUPTED || rc == FWA_FAILED);
    if (rc != FWA_SUCCESS) return;
    ZVFUZZ_CHECK(plan.checked);
    // A table that fails its own length or checksum holds no version and is always rewritten.
    const bool intact = CfgTableIsValid(region, CFGTBL_SIG_FW_PRELOAD);
    const std::array<SD_UINT8, 3> old = {intact ? region[7] : SD_UINT8{0}, intact ? region[6] : SD_UINT8{0},
                                         intact ? region[5] : SD_UINT8{0}};
    ZVFUZZ_CHECK(plan.oldVersion == old);
    if (plan.write) ZVFUZZ_CHECK(CarriesIds(plan.table, port, CFGTBL_SIG_FW_PRELOAD));
    else ZVFUZZ_CHECK(intact && CfgCompareVersions(plan.newVersion, plan.oldVersion, 3) <= 0);
}

void Pep(SDMDevice& port, const zvfuzz::Bytes& raw, const zvfuzz::Bytes& tpl) {
    const zvfuzz::Bytes region = AsRead(raw);
    PepBoardCfgVersion v{};
    ZVFUZZ_CHECK(getPEPBrdCfgVersionFromAdapter(&port, &v) == PEP_SUCCESS);
    ZVFUZZ_CHECK(std::memcmp(v.AdapterSignature, region.data(), 4) == 0);
    ZVFUZZ_CHECK(v.SubsystemVendorID == (region[16] | region[17] << 8));
    ZVFUZZ_CHECK(v.SubsystemDeviceID == (region[18] | region[19] << 8));
    char want[32];
    std::snprintf(want, sizeof want, "%d.%d.%d.%d", region[7], region[6], region[5], region[4]);
    char text[16];
    ZVFUZZ_CHECK(RetrievePEPBrdCfgVersionFromAdapter(&port, text) == 0);
    ZVFUZZ_CHECK(std::strcmp(text, want) == 0);

    const std::string path = zvfuzz::ScratchDir() + "/pep.dat";
    zvfuzz::WriteFile(path, tpl);
    std::vector<SD_UINT8> image;
    const int rc = ReadPEPBoardConfigBufferFromFile(&port, path.c_str(), &v, 0, &image);
    ZVFUZZ_CHECK(rc == PEP_SUCCESS || rc == PEP_CORRUPTED || rc == PEP_INVALID_DATA);
    if (rc != PEP_SUCCESS) return;
    ZVFUZZ_CHECK(CarriesIds(image, port, CFGTBL_SIG_PEP_BRDCFG));
    // The ids also after the header.
    ZVFUZZ_CHECK((image[PEP_OFF_SSDID_COPY] | image[PEP_OFF_SSDID_COPY + 1] << 8) == port.DeviceChipProperty.SubSystemID);
    ZVFUZZ_CHECK((image[PEP_OFF_SSVID_COPY] | image[PEP_OFF_SSVID_COPY + 1] << 8) == port.DeviceChipProperty.SubVendorID);
    ZVFUZZ_CHECK(v.NewVersionMajor == image[7] && v.NewVersionTest == image[4]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!zvfuzz::Isolated()) return 0;
    zvfuzz::InstantSleeps instant;
    const zvfuzz::SimPort& sim = zvfuzz::DiscoveredPort(kHost);
    static const bool set = VORNSetInstallationDir(zvfuzz::ScratchDir().c_str(), VORN_DIR_SIZE) == 0;
    ZVFUZZ_CHECK(set);
    const std::vector<zvfuzz::Bytes> pieces = zvfuzz::Split(data, size, 4);
    zvfuzz::FillRegion(sim, CFGTBL_REGION_FW_PRELOAD, pieces[0]);
    zvfuzz::FillRegion(sim, CFGTBL_REGION_PEP_BRDCFG, pieces[1]);
    Preload(*sim.port, pieces[0], pieces[2]);
    Pep(*sim.port, pieces[1], pieces[3]);
    return 0;
}

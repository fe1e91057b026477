// PEP board-configuration versions of the adapter and of a template.
#include "boardcfg/pep_board_config.h"

#include <cstdio>
#include <cstring>

#include "boardcfg/board_template.h"
#include "boardcfg/config_table.h"
#include "boardcfg/table_region_io.h"
#include "core/chip_types.h"
#include "core/image_status.h"
#include "frontend/output.h"

namespace {

constexpr std::size_t kPepIdsEnd = PEP_OFF_SSVID_COPY + 2;

int ReadAdapterTable(SDMDevice* device, std::vector<SD_UINT8>* table) {
    if (device == nullptr) return PEP_NO_DEVICE;
    if (CoreGetISPType(device) != 25) return PEP_UNSUPPORTED_CHIP;
    return static_cast<int>(ReadConfigTableRegion(device, CFGTBL_REGION_PEP_BRDCFG, table));
}

void PutLE16(std::span<SD_UINT8> b, std::size_t off, SD_UINT16 v) {
    b[off] = static_cast<SD_UINT8>(v);
    b[off + 1] = static_cast<SD_UINT8>(v >> 8);
}

}  // namespace

int getPEPBrdCfgVersionFromAdapter(SDMDevice* pDevice, PepBoardCfgVersion* pVersions) {
    if (pVersions == nullptr) return PEP_NULL_RECORD;
    std::vector<SD_UINT8> table;
    const int st = ReadAdapterTable(pDevice, &table);
    if (st != 0) return st;
    if (table.size() < CFGTBL_HEADER_SIZE) return PEP_INVALID_DATA;
    std::memcpy(pVersions->AdapterSignature, table.data(), 4);
    pVersions->SubsystemVendorID = static_cast<SD_UINT16>(table[16] | table[17] << 8);
    pVersions->SubsystemDeviceID = static_cast<SD_UINT16>(table[18] | table[19] << 8);
    const auto v = CfgTableVersion(table);
    pVersions->ExistingVersionMajor = v[0];
    pVersions->ExistingVersionMinor = v[1];
    pVersions->ExistingVersionSubMinor = v[2];
    pVersions->ExistingVersionTest = v[3];
    return PEP_SUCCESS;
}

int ReadPEPBoardConfigBufferFromFile(SDMDevice* pDevice, const char* pPEPBrdCfgFileName,
                                     PepBoardCfgVersion* pVersions, SD_UINT32 uHBAType,
                                     std::vector<SD_UINT8>* pImage) {
    (void)uHBAType;
    if (pVersions == nullptr) return PEP_NULL_RECORD;
    if (pDevice == nullptr) return PEP_NO_DEVICE;
    BoardTemplate tpl;
    switch (LoadBoardTemplateFile(pPEPBrdCfgFileName, CFGTBL_SIG_PEP_BRDCFG, BRDTPL_MAX_TABLE_SIZE, &tpl)) {
        case 0: break;
        case 1: return PEP_OPEN_FAILED;
        default: return PEP_CORRUPTED;
    }
    std::vector<SD_UINT8> table;
    if (const int st = ReadAdapterTable(pDevice, &table); st != 0) return st;
    if (!ApplyBoardTemplate(tpl, table)) return PEP_CORRUPTED;
    // The PEP table carries the ids twice: in the header and after it.
    const SD_UINT16 ssvid = pDevice->DeviceChipProperty.SubVendorID;
    const SD_UINT16 ssdid = pDevice->DeviceChipProperty.SubSystemID;
    const SD_UINT32 covered = CfgTableCoveredSize(table);
    if (!CfgTableHasSignature(table, CFGTBL_SIG_PEP_BRDCFG) || covered < kPepIdsEnd) return PEP_INVALID_DATA;
    PutLE16(table, PEP_OFF_SSDID_COPY, ssdid);
    PutLE16(table, PEP_OFF_SSVID_COPY, ssvid);
    if (!CfgTablePatchIds(table, CFGTBL_SIG_PEP_BRDCFG, ssvid, ssdid)) return PEP_INVALID_DATA;

    std::memcpy(pVersions->FileSignature, table.data(), 4);
    const auto v = CfgTableVersion(table);
    pVersions->NewVersionMajor = v[0];
    pVersions->NewVersionMinor = v[1];
    pVersions->NewVersionSubMinor = v[2];
    pVersions->NewVersionTest = v[3];
    if (pImage != nullptr) *pImage = std::move(table);
    return PEP_SUCCESS;
}

int RetrievePEPBrdCfgVersionFromAdapter(SDMDevice* pDevice, std::span<char> pVersionString) {
    if (pVersionString.empty()) return -1;
    pVersionString[0] = '\0';
    PepBoardCfgVersion v{};
    const int st = getPEPBrdCfgVersionFromAdapter(pDevice, &v);
    if (st != 0) return st;
    std::snprintf(pVersionString.data(), pVersionString.size(), "%d.%d.%d.%d", v.ExistingVersionMajor,
                  v.ExistingVersionMinor, v.ExistingVersionSubMinor, v.ExistingVersionTest);
    return 0;
}

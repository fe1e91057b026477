// Component, multiboot, firmware package and PEP board-configuration versions
// of an adapter.
#include "boardcfg/adapter_versions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "boardcfg/cna_versions.h"
#include "boardcfg/fw_preload.h"
#include "boardcfg/pep_board_config.h"
#include "core/active_regions.h"
#include "core/chip_types.h"
#include "frontend/output.h"
#include "frontend/vpd.h"
#include "image/component_versions.h"
#include "image/region_io.h"

namespace {

constexpr SD_UINT32 kCrbInitSignature = 0x40400000;
constexpr SD_UINT32 kPegtuneSignature = 0x40400001;
constexpr std::size_t kCrbInitTrailer = 16352;
constexpr std::size_t kPegtuneTrailer = 131040;

std::string Model(const SDMDevice* d) {
    const char* m = d->DeviceNodeProperty.Model;
    return std::string(m, std::find(m, m + sizeof d->DeviceNodeProperty.Model, '\0'));
}

SD_UINT32 GetLE32(const std::vector<SD_UINT8>& b, std::size_t off) {
    return SD_UINT32{b[off]} | SD_UINT32{b[off + 1]} << 8 | SD_UINT32{b[off + 2]} << 16 | SD_UINT32{b[off + 3]} << 24;
}

// One component region read whole: the status of the size query, else of the
// read; `bytes` empty unless the read worked.
struct ComponentRead {
    SD_UINT32 status = 0;
    std::vector<SD_UINT8> bytes;
};

ComponentRead ReadComponent(SDMDevice* pDevice, SD_UINT32 region) {
    ComponentRead r;
    SD_UINT32 size = 0;
    r.status = GetOptionROMRegionSize(pDevice, region, &size);
    if (r.status != 0 || size == 0) return r;
    std::vector<SD_UINT8> buffer;
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        r.status = REGIO_BUFFER_FAILED;
        return r;
    }
    SD_UINT32 got = 0;
    r.status = GetOptionROMRegionData(pDevice, buffer, region, &got);
    if (r.status == 0 && got == size) r.bytes = std::move(buffer);
    return r;
}

// The version bytes are read at fixed offsets: a region too small for them
// gives no version.
bool Holds(const ComponentRead& r, std::size_t needed, SD_UINT32 region) {
    if (r.bytes.size() >= needed) return true;
    if (r.status == 0) {
        VORNLogMessage(VORN_MSG_DEBUG,
                       "GetAdapterFlashComponentsVersion: Region 0x%x holds %zu bytes, too few for its version",
                       region, r.bytes.size());
    }
    return false;
}

// Four version bytes stored from `at` downwards: major, minor, subminor, test.
void FourDown(const std::vector<SD_UINT8>& b, std::size_t at, SD_UINT8& major, SD_UINT8& minor, SD_UINT8& sub,
              SD_UINT8& test) {
    major = b[at];
    minor = b[at - 1];
    sub = b[at - 2];
    test = b[at - 3];
}

// Firmware header revision: the low bytes of the big-endian words at 16, 20, 24.
void Revision(const std::vector<SD_UINT8>& b, SD_UINT8& major, SD_UINT8& minor, SD_UINT8& sub) {
    major = b[19];
    minor = b[23];
    sub = b[27];
}

// Three digits groups of a multiboot version text, right-aligned: the last
// two digits are the subminor, the two before the minor, the rest the major.
bool SplitMbiDigits(const char* text, int* major, int* minor, int* sub) {
    const std::size_t n = std::char_traits<char>::length(text);
    if (n < 5 || n > 7 || !std::all_of(text, text + n, [](char c) { return c >= '0' && c <= '9'; })) return false;
    const long value = std::strtol(text, nullptr, 10);
    *major = static_cast<int>(value / 10000);
    *minor = static_cast<int>(value / 100 % 100);
    *sub = static_cast<int>(value % 100);
    return true;
}

}  // namespace

int GetAdapterFlashComponentsVersion(SDMDevice* pDevice, FlashComponentVersion* pVersions) {
    if (pDevice == nullptr || pVersions == nullptr) return ADAPTER_VERSIONS_NO_DEVICE;
    FlashComponentVersion& v = *pVersions;
    const int chip = CoreGetISPType(pDevice);

    // One answer for every paired region: the copies of the running set.
    SD_ACTIVE_REGIONS active{};
    const bool activeKnown = chip > 24 && CoreGetActiveRegions(pDevice, &active) == 0;
    auto regionOf = [&](SD_UINT32 code, int activeAbove) {
        return chip > activeAbove && activeKnown ? CoreMapActiveRegion(chip, active, code) : code;
    };
    int status = 0;

    {
        const SD_UINT32 region = regionOf(0x07, 24);
        const ComponentRead r = ReadComponent(pDevice, region);
        if (!r.bytes.empty()) {
            const int st = GetImageBootCodesVersion(r.bytes, pDevice->DeviceChipProperty.DeviceID, &v);
            if (st != 0) VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterFlashComponentsVersion: Boot code walk %d", st);
        }
    }
    {
        const SD_UINT32 region = regionOf(0x01, 24);
        const ComponentRead r = ReadComponent(pDevice, region);
        if (Holds(r, 28, region)) Revision(r.bytes, v.FCFwMajorVersion, v.FCFwMinorVersion, v.FCFwSubminorVersion);
    }
    {
        const SD_UINT32 region = regionOf(0x13, 26);
        const ComponentRead r = ReadComponent(pDevice, region);
        if (chip > 24) {
            if (Holds(r, 8, region)) {
                FourDown(r.bytes, 7, v.FwAreaMajorVersion, v.FwAreaMinorVersion, v.FwAreaSubminorVersion,
                         v.FwAreaTestVersion);
            }
        } else if (!r.bytes.empty() && RetrieveFwPreloadVersion(pDevice, r.bytes, FWA_SOURCE_ADAPTER) == 0) {
            if (const FwPreloadVersion* p = GetFwPreloadVersion(); p != nullptr) {
                v.FwAreaMajorVersion = p->ExistingVersionMajor;
                v.FwAreaMinorVersion = p->ExistingVersionMinor;
                v.FwAreaSubminorVersion = p->ExistingVersionSubMinor;
            }
        }
    }
    {
        const SD_UINT32 region = regionOf(0xBA, 26);
        const ComponentRead r = ReadComponent(pDevice, region);
        status = static_cast<int>(r.status);
        if (Holds(r, 8, region)) {
            FourDown(r.bytes, 7, v.FCBoardCfgMajorVersion, v.FCBoardCfgMinorVersion, v.FCBoardCfgSubminorVersion,
                     v.FCBoardCfgTestVersion);
        }
    }
    if (chip > 26) {
        const SD_UINT32 region = regionOf(0xD2, 26);
        const ComponentRead r = ReadComponent(pDevice, region);
        status = static_cast<int>(r.status);
        if (Holds(r, 80, region)) {
            FourDown(r.bytes, 79, v.PEPSoftROMMajorVersion, v.PEPSoftROMMinorVersion, v.PEPSoftROMSubminorVersion,
                     v.PEPSoftROMTestVersion);
        }
    }
    if (chip > 24) {
        const SD_UINT32 region = regionOf(0xD1, 26);
        const ComponentRead r = ReadComponent(pDevice, region);
        if (Holds(r, 80, region)) {
            FourDown(r.bytes, 79, v.PEPFwMajorVersion, v.PEPFwMinorVersion, v.PEPFwSubminorVersion,
                     v.PEPFwTestVersion);
        }
    }
    if (chip > 24) {
        const SD_UINT32 region = regionOf(0xCF, 26);
        const ComponentRead r = ReadComponent(pDevice, region);
        status = static_cast<int>(r.status);
        if (Holds(r, 8, region)) {
            FourDown(r.bytes, 7, v.PEPBoardCfgMajorVersion, v.PEPBoardCfgMinorVersion, v.PEPBoardCfgSubminorVersion,
                     v.PEPBoardCfgTestVersion);
        }
    }
    if (chip > 26) {
        const SD_UINT32 region = regionOf(0x101, 26);
        const ComponentRead r = ReadComponent(pDevice, region);
        status = static_cast<int>(r.status);
        if (Holds(r, 28, region)) {
            Revision(r.bytes, v.MPISoftROMMajorVersion, v.MPISoftROMMinorVersion, v.MPISoftROMSubminorVersion);
        }
    }
    if (chip > 23) {
        const SD_UINT32 region = regionOf(0xD3, 26);
        const ComponentRead r = ReadComponent(pDevice, region);
        status = static_cast<int>(r.status);
        if (Holds(r, 28, region)) Revision(r.bytes, v.MPIFwMajorVersion, v.MPIFwMinorVersion, v.MPIFwSubminorVersion);
    }
    if (chip > 26) {
        const SD_UINT32 region = regionOf(0x102, 26);
        const ComponentRead r = ReadComponent(pDevice, region);
        status = static_cast<int>(r.status);
        if (Holds(r, 8, region)) {
            FourDown(r.bytes, 7, v.PCIeSerdesMajorVersion, v.PCIeSerdesMinorVersion, v.PCIeSerdesSubminorVersion,
                     v.PCIeSerdesTestVersion);
        }
    }
    if (chip == 21) {
        const ComponentRead crb = ReadComponent(pDevice, 0x70);
        if (Holds(crb, kCrbInitTrailer + 7, 0x70)) {
            if (GetLE32(crb.bytes, kCrbInitTrailer) != kCrbInitSignature) {
                VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterFlashComponentsVersion: CRB Init signature check failed!");
            }
            v.CrbinitMajorVersion = crb.bytes[kCrbInitTrailer + 4];
            v.CrbinitMinorVersion = crb.bytes[kCrbInitTrailer + 5];
            v.CrbinitSubMinorVersion = crb.bytes[kCrbInitTrailer + 6];
        }
        const ComponentRead peg = ReadComponent(pDevice, 0x73);
        status = static_cast<int>(peg.status);
        if (Holds(peg, kPegtuneTrailer + 7, 0x73)) {
            if (GetLE32(peg.bytes, kPegtuneTrailer) != kPegtuneSignature) {
                VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterFlashComponentsVersion: Pegtune signature check failed!");
            }
            v.PegtuneMajorVersion = peg.bytes[kPegtuneTrailer + 4];
            v.PegtuneMinorVersion = peg.bytes[kPegtuneTrailer + 5];
            v.PegtuneSubMinorVersion = peg.bytes[kPegtuneTrailer + 6];
        }
    }
    return status;
}

int RetrieveFirmwareMBImageVersionFromAdapter(SDMDevice* pDevice, std::span<char> pBuffer) {
    if (pBuffer.empty()) return -1;
    if (pDevice == nullptr) return ADAPTER_VERSIONS_NO_DEVICE;
    MultibootVersions v{};
    const int st = getMBImageVersionInFirmwareFromAdapter(pDevice, &v);
    if (st != 0) return st;
    std::snprintf(pBuffer.data(), pBuffer.size(), "%d%02d%02d", v.ExistingMultibootVersionMajor,
                  v.ExistingMultibootVersionMinor, v.ExistingMultibootVersionSubMinor);
    return 0;
}

int RetrieveMBIVersionFromAdapter(SDMDevice* pDevice, std::span<char> pBuffer) {
    if (pBuffer.empty()) return -1;
    if (pDevice == nullptr) return ADAPTER_VERSIONS_NO_DEVICE;
    const int chip = CoreGetISPType(pDevice);
    if (chip > 24) {
        SFlashMemoBlock block{};
        const int st = GetAdapterFlashMemoBlock(pDevice, &block);
        if (st != 0) return st;
        std::snprintf(pBuffer.data(), pBuffer.size(), "%d%02d%02d", block.mbi_ver.major, block.mbi_ver.minor,
                      block.mbi_ver.sub);
        return 0;
    }
    if (chip >= 13) {
        int st = VPD_NOT_FOUND;
        for (const char* keyword : {"RM", "VV", "V9"}) {
            char text[64] = {};
            st = retrieveSpecificVpdField(pDevice, keyword, text);
            if (st != VPD_SUCCESS) continue;
            std::string digits;
            for (const char* p = text; *p != '\0'; ++p) {
                if (*p >= '0' && *p <= '9') digits += *p;
            }
            if (digits.empty()) {
                st = VPD_NOT_FOUND;
                continue;
            }
            std::snprintf(pBuffer.data(), pBuffer.size(), "%s", digits.c_str());
            return 0;
        }
        return st;
    }
    return RetrieveFirmwareMBImageVersionFromAdapter(pDevice, pBuffer);
}

int RetrieveFFVVersionFromAdapter(SDMDevice* pDevice, std::span<char> pVersion, SD_UINT32 uOption) {
    if (pVersion.empty()) return -1;
    if (pDevice == nullptr) return ADAPTER_VERSIONS_NO_DEVICE;
    if (CoreGetISPType(pDevice) < 24) return FLASH_MEMO_NO_SIGNATURE;

    // The block of the image set that runs (0x124 on a chip-type-27 adapter
    // running set 2), not always 0xDF: the version shown is the running one's.
    SFlashMemoBlock block{};
    int status = GetAdapterFlashMemoBlock(pDevice, &block);
    if (status != 0 && status != FLASH_MEMO_NO_SIGNATURE) return FLASH_MEMO_READ_FAILED;
    if (status == FLASH_MEMO_NO_SIGNATURE) {
        // An empty region is a failed read, not a block without its signature.
        SD_UINT32 size = 0;
        if (GetOptionROMRegionSize(pDevice, GetFlashMemoBlockReadRegion(pDevice), &size) == 0 && size == 0)
            return FLASH_MEMO_READ_FAILED;
    }
    if (status == 0) {
        std::snprintf(pVersion.data(), pVersion.size(), "%d.%02d.%02d", block.ffv_ver.major, block.ffv_ver.minor,
                      block.ffv_ver.sub);
    }
    if (uOption != 0) {
        char digits[32] = {};
        int major = 0, minor = 0, sub = 0;
        if (RetrieveMBIVersionFromAdapter(pDevice, digits) == 0 && SplitMbiDigits(digits, &major, &minor, &sub)) {
            char adapterMbi[16], blockMbi[16];
            std::snprintf(adapterMbi, sizeof adapterMbi, "%02d.%02d.%02d", major, minor, sub);
            std::snprintf(blockMbi, sizeof blockMbi, "%02d.%02d.%02d", block.mbi_ver.major, block.mbi_ver.minor,
                          block.mbi_ver.sub);
            if (status != 0 || std::string(adapterMbi) != blockMbi) {
                std::snprintf(pVersion.data(), pVersion.size(), "%s", adapterMbi);
            }
        }
    }
    return status;
}

int DisplayFFVVersionFromAdapter(SDMDevice* pDevice, SD_UINT32 uOption) {
    if (pDevice == nullptr) return ADAPTER_VERSIONS_NO_DEVICE;
    if (CoreGetISPType(pDevice) < 24) return 0;
    char text[32] = {};
    const int st = RetrieveFFVVersionFromAdapter(pDevice, text, uOption);
    if (st == 0) {
        scfxPrint("%s", text);
    } else {
        scfxPrint("Unable to read FFV version of HBA instance %d %s", pDevice->DeviceNumber, Model(pDevice).c_str());
    }
    return st;
}

int DisplayPEPBrdCfgVersionFromAdapter(SDMDevice* pDevice) {
    if (pDevice == nullptr) return ADAPTER_VERSIONS_NO_DEVICE;
    if (CoreGetISPType(pDevice) != 25) return 0;
    char text[32] = {};
    const int st = RetrievePEPBrdCfgVersionFromAdapter(pDevice, text);
    if (st == 0) {
        scfxPrint("HBA %d (%s): PEP board cfg version=%s", pDevice->DeviceNumber, Model(pDevice).c_str(), text);
    } else {
        scfxPrint("Unable to read PEP board cfg version of HBA instance %d %s", pDevice->DeviceNumber,
                  Model(pDevice).c_str());
    }
    return st;
}

int ComparePEPBoardConfigVersion(SDMDevice* pDevice, const char* pPEPBrdCfgFileName) {
    if (pDevice == nullptr || pPEPBrdCfgFileName == nullptr) return PEP_BRDCFG_OLDER;
    PepBoardCfgVersion file{}, adapter{};
    if (ReadPEPBoardConfigBufferFromFile(pDevice, pPEPBrdCfgFileName, &file, 8) != 0) return PEP_BRDCFG_OLDER;
    if (getPEPBrdCfgVersionFromAdapter(pDevice, &adapter) != 0) return PEP_BRDCFG_OLDER;
    const SD_UINT8 newer[4] = {file.NewVersionMajor, file.NewVersionMinor, file.NewVersionSubMinor,
                               file.NewVersionTest};
    const SD_UINT8 existing[4] = {adapter.ExistingVersionMajor, adapter.ExistingVersionMinor,
                                  adapter.ExistingVersionSubMinor, adapter.ExistingVersionTest};
    VORNLogMessage(VORN_MSG_DEBUG, "ComparePEPBoardConfigVersion: file %d.%d.%d.%d, adapter %d.%d.%d.%d", newer[0],
                   newer[1], newer[2], newer[3], existing[0], existing[1], existing[2], existing[3]);
    for (int i = 0; i < 4; ++i) {
        if (newer[i] > existing[i]) return PEP_BRDCFG_NEWER;
        if (newer[i] < existing[i]) return PEP_BRDCFG_OLDER;
    }
    return PEP_BRDCFG_EQUAL;
}

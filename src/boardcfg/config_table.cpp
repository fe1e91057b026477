// Header fields, ids and checksums of the configuration tables.
#include "boardcfg/config_table.h"

#include <cstring>

#include "core/image_status.h"

namespace {

SD_UINT32 GetLE32(std::span<const SD_UINT8> b, std::size_t off) {
    return SD_UINT32{b[off]} | SD_UINT32{b[off + 1]} << 8 | SD_UINT32{b[off + 2]} << 16 |
           SD_UINT32{b[off + 3]} << 24;
}

}  // namespace

std::array<SD_UINT8, 4> CfgTableVersion(std::span<const SD_UINT8> t) {
    if (t.size() < CFGTBL_OFF_VERSION + 4) return {};
    return {t[7], t[6], t[5], t[4]};
}

bool CfgTableHasSignature(std::span<const SD_UINT8> t, const char* signature) {
    return signature != nullptr && t.size() >= 4 && std::memcmp(t.data(), signature, 4) == 0;
}

SD_UINT32 CfgTableCoveredSize(std::span<const SD_UINT8> t) {
    if (t.size() < CFGTBL_HEADER_SIZE) return 0;
    const std::uint64_t covered = std::uint64_t{GetLE32(t, CFGTBL_OFF_LENGTH)} * 4;
    if (covered < CFGTBL_HEADER_SIZE || covered > t.size()) return 0;
    return static_cast<SD_UINT32>(covered);
}

bool CfgTablePatchIds(std::span<SD_UINT8> t, const char* signature, SD_UINT16 subVendorId, SD_UINT16 subDeviceId) {
    if (!CfgTableHasSignature(t, signature)) return false;
    const SD_UINT32 covered = CfgTableCoveredSize(t);
    if (covered == 0) return false;
    t[CFGTBL_OFF_SSVID] = static_cast<SD_UINT8>(subVendorId);
    t[CFGTBL_OFF_SSVID + 1] = static_cast<SD_UINT8>(subVendorId >> 8);
    t[CFGTBL_OFF_SSDID] = static_cast<SD_UINT8>(subDeviceId);
    t[CFGTBL_OFF_SSDID + 1] = static_cast<SD_UINT8>(subDeviceId >> 8);
    CoreCalculateChecksum32(t, covered, CFGTBL_OFF_CHECKSUM);
    return CoreValidateChecksum32(t, covered) == 0;
}

bool CfgTableIsValid(std::span<const SD_UINT8> t, const char* signature) {
    if (!CfgTableHasSignature(t, signature)) return false;
    const SD_UINT32 covered = CfgTableCoveredSize(t);
    return covered != 0 && CoreValidateChecksum32(t, covered) == 0;
}

int CfgCompareVersions(std::span<const SD_UINT8> a, std::span<const SD_UINT8> b, std::size_t parts) {
    for (std::size_t i = 0; i < parts && i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

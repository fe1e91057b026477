// VPD version-keyword rewrite: read, check, rewrite in place, write, verify.
#include "image/vpd_version_keywords.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/image_status.h"
#include "core/oss_services.h"
#include "frontend/output.h"
#include "frontend/vpd.h"
#include "image/region_io.h"
#include "mgmt/sdapi.h"
#include "mgmt/sd_shared_db.h"

namespace {

constexpr SD_UINT32 kVpdRegions[] = {0x81, 0x14, 0x16, 0xD4, 0xD6, 0x50, 0x52, 0xD8, 0xDA, 0x10C, 0x10E, 0x110, 0x112};

// A keyword's value is at most 255 bytes; the text is handed over zero-padded to
// that length so every stored length is filled from the text or with zeros.
constexpr std::size_t kKeywordValueMax = 255;
using KeywordText = std::array<char, kKeywordValueMax + 1>;

// Only the generations before chip type 13 carry the component keywords.
constexpr int kComponentKeywordChipLimit = 13;

// The library's answer for a write that went through but is not active yet.
constexpr SD_UINT32 kFlashedNotActivated = 0x20000100;

SD_INT32 g_VpdUpdateRetCode = 0;

bool Allocate(std::vector<SD_UINT8>& buffer, std::size_t size) {
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Reads the region, retrying a failing adapter (not once interrupted); false
// when every try failed.
bool ReadVpdTries(const SDMDevice* pDevice, SD_UINT32 iRegionNo, std::span<SD_UINT8> buffer, const char* who) {
    for (int i = 0; i < VPD_READ_TRIES; ++i) {
        const SD_UINT32 st = SDGetOptionRomEx(pDevice->DeviceHandle, 0, buffer, iRegionNo);
        if (st == SDERR_SUCCESS) return true;
        CoreLogMessage(ZV_MSG_DEBUG, "%s: i=%d SDGetOptionRomEx() failed with error 0x%x - %s!", who, i, st,
                       SDGetErrorString(st));
        if (zvapi_waits_interrupted()) break;
        OSSSleep(VPD_READ_RETRY_SECONDS);
    }
    return false;
}

std::string_view Value(const KeywordText& text) { return {text.data(), kKeywordValueMax}; }

// Component keywords of the older generations; an absent keyword is passed over.
SD_INT32 UpdateComponentKeywords(std::span<SD_UINT8> vpd, const MultibootVersions& v) {
    struct Item {
        const char* keyword;
        KeywordText text;
    };
    Item items[4] = {{"V1", {}}, {"V3", {}}, {"V4", {}}, {"V5", {}}};
    std::snprintf(items[0].text.data(), items[0].text.size(), "%02d.%02d", v.NewEfiVersionMajor, v.NewEfiVersionMinor);
    if (v.NewRiscFwVersionMajor < 100) {
        std::snprintf(items[1].text.data(), items[1].text.size(), "%02d.%02d.%02d", v.NewRiscFwVersionMajor,
                      v.NewRiscFwVersionMinor, v.NewRiscFwVersionSubMinor);
    } else {
        std::snprintf(items[1].text.data(), items[1].text.size(), "%03d.%03d.%03d", v.NewRiscFwVersionMajor,
                      v.NewRiscFwVersionMinor, v.NewRiscFwVersionSubMinor);
    }
    std::snprintf(items[2].text.data(), items[2].text.size(), "%02d.%02d", v.NewBiosVersionMajor,
                  v.NewBiosVersionMinor);
    std::snprintf(items[3].text.data(), items[3].text.size(), "%02d.%02d", v.NewFcodeVersionMajor,
                  v.NewFcodeVersionMinor);
    for (const Item& item : items) {
        const int st = UpdateVpdField(vpd, item.keyword, Value(item.text));
        if (st == VPD_NOT_FOUND) {
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: No %s keyword in VPD, passed over.", item.keyword);
        } else if (st != VPD_SUCCESS) {
            return st;
        }
    }
    return VPD_UPDATE_SUCCESS;
}

// "RM" (or "V9" in its place) and "VV".
SD_INT32 UpdateMultibootKeywords(std::span<SD_UINT8> vpd, const MultibootVersions& v) {
    KeywordText text{};
    FormatVpdMultibootVersion(v, text);
    int st = UpdateVpdField(vpd, "RM", Value(text));
    if (st != VPD_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: RM not updated (0x%X), trying V9.", st);
        st = UpdateVpdField(vpd, "V9", Value(text));
        if (st == VPD_NOT_FOUND) {
            VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: No V9 keyword in VPD, passed over.");
        } else if (st != VPD_SUCCESS) {
            return st;
        }
    }
    text.fill('\0');
    FormatVpdFirmwarePackageVersion(v, text);
    st = UpdateVpdField(vpd, "VV", Value(text));
    if (st == VPD_NOT_FOUND) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: No VV keyword in VPD, passed over.");
    } else if (st != VPD_SUCCESS) {
        return VPD_UPDATE_VV_FAILED;
    }
    return VPD_UPDATE_SUCCESS;
}

// After a read-back that did not prove the new VPD, the region gets back the
// bytes it held, which were a VPD with both tags.
void RestoreVpdRegion(SDMDevice* pDevice, SD_UINT32 iRegionNo, std::span<const SD_UINT8> original,
                      SD_UINT16 DisableReset) {
    const SD_UINT32 st = AppUpdateOptionRomEx2(pDevice, original, iRegionNo, static_cast<SD_UINT32>(original.size()),
                                               DisableReset);
    if (st != SDERR_SUCCESS && st != kFlashedNotActivated) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: Unable to restore VPD region 0x%x (0x%X - %s).", iRegionNo,
                       st, SDGetErrorString(st));
        return;
    }
    const int check =
        CoreCheckOptionRomData(pDevice, iRegionNo, static_cast<SD_UINT32>(original.size()), original);
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: VPD region 0x%x restored (read-back %d).", iRegionNo, check);
}

void LogOutcome(SD_INT32 status) {
    if (status == VPD_UPDATE_SUCCESS) return;
    if (status == VPD_UPDATE_CORRUPTED) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: VPD region is corrupted (0x%X).\n", status);
    } else if (status == VPD_UPDATE_BLANK) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: VPD region is blank VPD (0x%X).\n", status);
    } else {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: Unable to update VPD (0x%X).\n", status);
    }
}

// Runs the worker with a copy buffer of the VPD's size, as the engines do.
SD_INT32 UpdateWithCopy(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iRegionNo,
                        SD_UINT32 iVpdSize, SD_UINT16 DisableReset) {
    std::vector<SD_UINT8> copy;
    if (!Allocate(copy, iVpdSize)) return VPD_UPDATE_NO_MEMORY;
    const SD_INT32 st = UpdateK7RVpdRegion(pDevice, pVersions, iRegionNo, iVpdSize, copy, DisableReset);
    LogOutcome(st);
    return st;
}

// The region's `iVpdSize` bytes into `out`, retrying a failing adapter (`who`
// names the caller in the debug log): 0; 8; 36 (not a VPD region, size 0, or
// unreadable); 115.
SD_INT32 ReadVpdRegionImage(const SDMDevice* pDevice, SD_UINT32 iRegionNo, SD_UINT32 iVpdSize,
                            std::vector<SD_UINT8>* out, const char* who) {
    if (pDevice == nullptr || out == nullptr) return VPD_UPDATE_NO_DEVICE;
    if (!IsVpdVersionRegion(iRegionNo) || iVpdSize == 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: Detected invalid region number, iRegionNo=0x%X", who, iRegionNo);
        return VPD_UPDATE_BAD_REGION;
    }
    if (!Allocate(*out, iVpdSize)) return VPD_UPDATE_NO_MEMORY;
    if (!ReadVpdTries(pDevice, iRegionNo, *out, who)) {
        VORNLogMessage(VORN_MSG_DEBUG, "%s: VPD region 0x%x cannot be read.", who, iRegionNo);
        return VPD_UPDATE_BAD_REGION;
    }
    return VPD_UPDATE_SUCCESS;
}

}  // namespace

bool IsVpdVersionRegion(SD_UINT32 iRegionNo) {
    return std::find(std::begin(kVpdRegions), std::end(kVpdRegions), iRegionNo) != std::end(kVpdRegions);
}

void FormatVpdMultibootVersion(const MultibootVersions& v, std::span<char> out) {
    if (out.empty()) return;
    std::snprintf(out.data(), out.size(), "%02d%02d%02d", v.NewMultibootVersionMajor, v.NewMultibootVersionMinor,
                  v.NewMultibootVersionSubMinor);
}

void FormatVpdFirmwarePackageVersion(const MultibootVersions& v, std::span<char> out) {
    if (out.empty()) return;
    std::snprintf(out.data(), out.size(), "FFV%02d.%02d.%02d", v.NewMultibootVersionMajor,
                  v.NewMultibootVersionMinor, v.NewMultibootVersionSubMinor);
}

SD_INT32 SetVpdVersionKeywords(SDMDevice* pDevice, const MultibootVersions& versions, std::span<SD_UINT8> vpd) {
    SD_INT32 st = VPD_UPDATE_SUCCESS;
    if (CoreGetISPType(pDevice) < kComponentKeywordChipLimit) st = UpdateComponentKeywords(vpd, versions);
    if (st == VPD_UPDATE_SUCCESS) st = UpdateMultibootKeywords(vpd, versions);
    return st;
}

SD_INT32 WriteVpdRegionWithVersions(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iRegionNo,
                                    std::span<const SD_UINT8> base, std::span<SD_UINT8> pReturnVpdForRestore,
                                    SD_UINT16 DisableReset) {
    if (pDevice == nullptr || pVersions == nullptr) return VPD_UPDATE_NO_DEVICE;
    if (!IsVpdVersionRegion(iRegionNo) || base.empty()) return VPD_UPDATE_BAD_REGION;
    std::vector<SD_UINT8> vpd;
    if (!Allocate(vpd, base.size())) return VPD_UPDATE_NO_MEMORY;
    std::copy(base.begin(), base.end(), vpd.begin());
    const auto size = static_cast<SD_UINT32>(vpd.size());

    SD_INT32 st = SetVpdVersionKeywords(pDevice, *pVersions, vpd);
    if (st != VPD_UPDATE_SUCCESS) return st;

    const SD_UINT32 written = AppUpdateOptionRomEx2(pDevice, vpd, iRegionNo, size, DisableReset);
    if (written != SDERR_SUCCESS && written != kFlashedNotActivated) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: Unable to flash VPD (0x%X - %s).\n", written,
                       SDGetErrorString(written));
        return static_cast<SD_INT32>(written);
    }
    st = VPD_UPDATE_SUCCESS;
    if (CoreCheckOptionRomData(pDevice, iRegionNo, size, vpd) != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: Flash data of region 0x%x (Size=0x%x) corrupted!",
                       iRegionNo, size);
        RestoreVpdRegion(pDevice, iRegionNo, base, DisableReset);
        st = VPD_UPDATE_CORRUPTED;
    }
    if (!pReturnVpdForRestore.empty()) {
        const std::size_t n = std::min(pReturnVpdForRestore.size(), vpd.size());
        std::memcpy(pReturnVpdForRestore.data(), vpd.data(), n);
    }
    return st;
}

SD_INT32 ReadSoundVpdRegion(SDMDevice* pDevice, SD_UINT32 iRegionNo, SD_UINT32 iVpdSize, std::vector<SD_UINT8>* vpd) {
    if (pDevice == nullptr || vpd == nullptr) return VPD_UPDATE_NO_DEVICE;
    // An unreadable VPD is not a blank one: nothing is known of what the region holds.
    if (const SD_INT32 st = ReadVpdRegionImage(pDevice, iRegionNo, iVpdSize, vpd, "UpdateK7RVpdRegion");
        st != VPD_UPDATE_SUCCESS) {
        return st;
    }
    if (IsBlankVpd(*vpd) != 0) return VPD_UPDATE_BLANK;
    if (verifyVpdStartTag(*vpd) != 0 || verifyVpdEndTag(*vpd) != 0) return VPD_UPDATE_CORRUPTED;
    // New keywords and a new checksum over damaged bytes would pass the
    // damage off as a sound VPD: such a region is not written.
    if (!VpdIsSound(*vpd)) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateK7RVpdRegion: VPD region 0x%x fails its checksum or end tag.",
                       iRegionNo);
        return VPD_UPDATE_CORRUPTED;
    }
    return VPD_UPDATE_SUCCESS;
}

SD_INT32 UpdateK7RVpdRegion(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iRegionNo,
                            SD_UINT32 iVpdSize, std::span<SD_UINT8> pReturnVpdForRestore, SD_UINT16 DisableReset) {
    if (pDevice == nullptr || pVersions == nullptr) return VPD_UPDATE_NO_DEVICE;
    std::vector<SD_UINT8> vpd;
    if (const SD_INT32 st = ReadSoundVpdRegion(pDevice, iRegionNo, iVpdSize, &vpd); st != VPD_UPDATE_SUCCESS) {
        return st;
    }
    return WriteVpdRegionWithVersions(pDevice, pVersions, iRegionNo, vpd, pReturnVpdForRestore, DisableReset);
}

SD_INT32 UpdateAndRestoreK7RVPD(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iVpdSize,
                                SD_UINT16 DisableReset) {
    return UpdateWithCopy(pDevice, pVersions, VPD_REGION_NIC, iVpdSize, DisableReset);
}

SD_INT32 UpdateAndRestoreTorviFcVPD(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iVpdSize,
                                    SD_UINT32 iRegionNo, SD_UINT16 DisableReset) {
    const SD_INT32 st = UpdateWithCopy(pDevice, pVersions, iRegionNo, iVpdSize, DisableReset);
    // An FC function without a VPD has nothing to carry the versions.
    return st == VPD_UPDATE_BLANK ? VPD_UPDATE_SUCCESS : st;
}

SD_INT32 CheckForValidVpdRegion(SDMDevice* pDevice, SD_UINT32 iRegionNo, SD_UINT32 iVpdSize) {
    std::vector<SD_UINT8> vpd;
    if (const SD_INT32 st = ReadVpdRegionImage(pDevice, iRegionNo, iVpdSize, &vpd, "CheckNumberOfValidVpdRegion");
        st != VPD_UPDATE_SUCCESS) {
        return st;
    }
    if (IsBlankVpd(vpd) != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "CheckNumberOfValidVpdRegion: Blank VPD in region 0x%x!", iRegionNo);
        return VPD_UPDATE_BLANK;
    }
    if (verifyVpdStartTag(vpd) != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "CheckNumberOfValidVpdRegion: Missing Start tag!");
        return VPD_UPDATE_CORRUPTED;
    }
    if (verifyVpdEndTag(vpd) != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "CheckNumberOfValidVpdRegion: Missing End tag!");
        return VPD_UPDATE_CORRUPTED;
    }
    // Checked as the adapter reads it: a write cut short keeps both tag bytes
    // somewhere but not the walk to the end tag, nor the checksum.
    if (!VpdIsSound(vpd)) {
        VORNLogMessage(VORN_MSG_DEBUG, "CheckNumberOfValidVpdRegion: Bad checksum or end tag in region 0x%x!",
                       iRegionNo);
        return VPD_UPDATE_CORRUPTED;
    }
    return VPD_UPDATE_SUCCESS;
}

void UpdateVpdRetCode(SD_INT32 status) { g_VpdUpdateRetCode = status; }

SD_INT32 GetVpdUpdateRetCode() { return g_VpdUpdateRetCode; }

// The version keywords of an adapter's VPD, rewritten after a multiboot image
// has been written: the VPD region is read from the adapter, checked, its
// version keywords set from the image's versions, written back and read back.
//
// Keyword values are written in place over the keyword's stored length; a
// shorter text is padded with zero bytes, a longer one cut.
//   "RM"  multiboot version "%02d%02d%02d" (into "V9" when "RM" cannot take it)
//   "VV"  multiboot version "FFV%02d.%02d.%02d"
//   "V1", "V3", "V4", "V5" (chip types below 13 only): EFI, RISC firmware,
//         BIOS and FCode versions.
#pragma once

#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "image/flash_memo_block.h"
#include "mgmt/sd_types.h"

constexpr SD_INT32 VPD_UPDATE_SUCCESS = 0;
constexpr SD_INT32 VPD_UPDATE_NO_DEVICE = 8;           // also a missing version record
constexpr SD_INT32 VPD_UPDATE_BAD_REGION = 36;         // region not a VPD region, or unreadable
constexpr SD_INT32 VPD_UPDATE_NO_MEMORY = 115;
constexpr SD_INT32 VPD_UPDATE_CORRUPTED = 161;         // a tag missing, or the read-back differs
constexpr SD_INT32 VPD_UPDATE_BLANK = 166;             // all 0xFF or all 0x00: left alone
constexpr SD_INT32 VPD_UPDATE_VV_FAILED = 168;

// The converged adapter's NIC VPD.
constexpr SD_UINT32 VPD_REGION_NIC = 0x81;
// A VPD region that cannot be read is given up after this many reads, 5 s apart.
constexpr int VPD_READ_TRIES = 18;
constexpr unsigned VPD_READ_RETRY_SECONDS = 5;

// True for the regions that hold a VPD: the NIC VPD and the FC VPDs of the PCI functions.
bool IsVpdVersionRegion(SD_UINT32 iRegionNo);

// Formats the keyword texts (exposed for the checks of what is written).
void FormatVpdMultibootVersion(const MultibootVersions& v, std::span<char> out);   // "RM", "V9"
void FormatVpdFirmwarePackageVersion(const MultibootVersions& v, std::span<char> out);   // "VV"

// Reads the VPD region (`iVpdSize` bytes) into `vpd` and judges it as the
// update does before it writes: 0 when it is sound (both tags, the walk to the
// end tag, a good checksum); 166 blank; 161 a tag missing or not sound; 36
// (not a VPD region, size 0, or unreadable); 8; 115. Nothing is written.
SD_INT32 ReadSoundVpdRegion(SDMDevice* pDevice, SD_UINT32 iRegionNo, SD_UINT32 iVpdSize, std::vector<SD_UINT8>* vpd);

// Sets the version keywords of `vpd` in place for the adapter's chip type:
// 0, 168 "VV" refused, or another keyword's update status. Nothing is written.
SD_INT32 SetVpdVersionKeywords(SDMDevice* pDevice, const MultibootVersions& versions, std::span<SD_UINT8> vpd);

// Writes `base` (a sound VPD image of the region's size) to the region with
// its version keywords set, then reads it back; after a read-back that
// differs, `base` itself is written back. Statuses as UpdateK7RVpdRegion's
// from the keywords on.
SD_INT32 WriteVpdRegionWithVersions(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iRegionNo,
                                    std::span<const SD_UINT8> base, std::span<SD_UINT8> pReturnVpdForRestore,
                                    SD_UINT16 DisableReset);

// Reads the VPD region (`iVpdSize` bytes), rewrites the version keywords and
// writes it back with the caller's reset flag, then reads it back. Nothing is
// written unless the VPD read was not blank, is sound (both tags, the walk to
// the end tag, a good checksum: never new keywords over damaged bytes) and
// took every new value it has a keyword for. Statuses: 0; 8; 36 (not a VPD
// region, size 0, or unreadable); 115; 161 (a tag missing, not sound, or the
// read-back differs: the region's original bytes are then written back); 166
// blank; 168 "VV" refused; another keyword's update status; or the failed
// write's status.
// When `pReturnVpdForRestore` is not empty and the write went through, the
// updated VPD is copied into it (as much as fits).
SD_INT32 UpdateK7RVpdRegion(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iRegionNo,
                            SD_UINT32 iVpdSize, std::span<SD_UINT8> pReturnVpdForRestore, SD_UINT16 DisableReset);

// The NIC VPD (region 0x81): the worker's status unchanged (115 when its copy
// buffer cannot be had).
SD_INT32 UpdateAndRestoreK7RVPD(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iVpdSize,
                                SD_UINT16 DisableReset);
// An FC VPD region: as above, and a blank VPD counts as done (0).
SD_INT32 UpdateAndRestoreTorviFcVPD(SDMDevice* pDevice, const MultibootVersions* pVersions, SD_UINT32 iVpdSize,
                                    SD_UINT32 iRegionNo, SD_UINT16 DisableReset);

// Whether the region holds a VPD worth updating: 0 valid, 166 blank, 161 a tag
// missing or not sound (see VpdIsSound), 36 (not a VPD region, size 0, or
// unreadable), 8, 115.
SD_INT32 CheckForValidVpdRegion(SDMDevice* pDevice, SD_UINT32 iRegionNo, SD_UINT32 iVpdSize);

// The last VPD status an engine recorded.
void UpdateVpdRetCode(SD_INT32 status);
SD_INT32 GetVpdUpdateRetCode();

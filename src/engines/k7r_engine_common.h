// The skeleton the converged-adapter engines share (the K7R engine and the
// Torvi engine, which follows its steps): the engine's statuses, reading the
// image file and the adapter's flash layout, the adapter's identity, the
// write plan of the regions and the final messages.
//
// Before the first write the whole plan is known: every region entry that
// will be written, where it comes from and how large it is. An entry larger
// than its flash region (the K7R engine first cuts its firmware for chip
// revision 0x54 to the region), or a plan that cannot give the engine the
// regions it needs, is refused before anything is written.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "image/card_types.h"
#include "image/flash_memo_block.h"
#include "image/ilt_records.h"
#include "image/region_io.h"
#include "mgmt/sd_types.h"

// Statuses of the converged engines (besides the validation statuses, which
// they return unchanged).
constexpr SD_INT32 CNA_SUCCESS = 0;
constexpr SD_INT32 CNA_OPEN_FAILED = 1;
constexpr SD_INT32 CNA_NO_DEVICE = 8;
constexpr SD_INT32 CNA_WRITER_REFUSED = 0x13;
constexpr SD_INT32 CNA_FILE_CORRUPTED = 0x21;
constexpr SD_INT32 CNA_NOT_ALL_REGIONS = 0x22;      // also an image that does not fit the flash
constexpr SD_INT32 CNA_BOOT_CODE_UNREADABLE = 0x24;
constexpr SD_INT32 CNA_NO_REGIONS = 0x25;
constexpr SD_INT32 CNA_NO_LAYOUT = 0x26;
constexpr SD_INT32 CNA_VPD_FAILED = 0x27;
constexpr SD_INT32 CNA_NO_MEMORY = 0x73;
constexpr SD_INT32 CNA_VIRTUAL_PORT = 0x11E;
constexpr SD_INT32 CNA_NO_VPD_REGION = 0x1C6;
// The internal status of a failed preparation of one region (ISP defaults).
constexpr SD_INT32 CNA_PREPARE_FAILED = -1;

// Library answers the engines act on.
constexpr SD_UINT32 CNA_SD_NOT_ACTIVATED = 0x20000100;

// Regions of the converged families.
constexpr SD_UINT32 CNA_REGION_FC_BOOT = 0x07;     // the K7R's FCoE boot code
constexpr SD_UINT32 CNA_REGION_NIC_BOOT = 0x2E;
constexpr SD_UINT32 CNA_REGION_ISCSI_BOOT = 0x4F;
constexpr SD_UINT32 CNA_REGION_FCOE_BOOT = 0xA2;
constexpr SD_UINT32 CNA_REGION_CRBINIT = 0x70;
constexpr SD_UINT32 CNA_REGION_BOOTLOADER = 0x72;
constexpr SD_UINT32 CNA_REGION_PEGTUNE = 0x73;
constexpr SD_UINT32 CNA_REGION_K7R_FW_REV54 = 0x74;
constexpr SD_UINT32 CNA_REGION_CNA_FW = 0x97;
constexpr SD_UINT32 CNA_REGION_FCOE_FW = 0xA4;
constexpr SD_UINT32 CNA_REGION_FC_FW = 0x01;
constexpr SD_UINT32 CNA_REGION_NIC_VPD = 0x81;
constexpr SD_UINT32 CNA_REGION_FC_VPD_0 = 0x14;
constexpr SD_UINT32 CNA_REGION_FC_VPD_1 = 0x16;
constexpr SD_UINT32 CNA_ALL_REGIONS = 0xFF;

// The chip revision whose K7R firmware lives in region 0x74.
constexpr SD_UINT16 CNA_K7R_REV_54 = 0x54;

constexpr std::size_t CNA_MODEL_SIZE = 32;

// One engine run: what it read and built.
struct CnaEngineRun {
    SDMDevice* device = nullptr;
    const char* file = "";
    std::array<char, CNA_MODEL_SIZE> model{};     // ModelStr
    SD_UINT16 chipRev = 0;
    SD_UINT16 ssdid = 0;
    SD_UINT16 ssvid = 0;
    std::vector<SD_UINT8> image;                  // the file (after any package header)
    std::vector<SD_UINT8> combined;               // what the regions are written from
    SDMOptRomLayoutCopy layout;
    sHbaIdentifiers ids{};
    MultibootVersions versions{};
};

// The model text for messages: blanks and control characters dropped, "-S"
// added for the OEM adapters that carry it.
void CnaBuildModelText(const SDMDevice* pDevice, std::span<char, CNA_MODEL_SIZE> out);

// Output-file lines: a progress item without its end, its completion, and a
// status line (through the XML status emitter while that output is on).
void CnaProgress(const char* text);
void CnaComplete(const char* word);
void CnaStatusLine(SD_INT32 status, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The region the option-ROM request asks for (the standard one without a request).
SD_UINT32 CnaRequestRegion();

// The port's identity for the run (model, chip revision, subsystem ids).
void CnaStartRun(CnaEngineRun& run, SDMDevice* pDevice, const char* pFlashImageFile);
// The virtual-port refusal (its message written): 0 or 286.
SD_INT32 CnaRefuseVirtualPort(const CnaEngineRun& run);
// Reads the image file (a regular file; a firmware-update package header is
// skipped) and sizes the combined buffer: 0, 1, 33, 115, each with its message.
SD_INT32 CnaReadImageFile(CnaEngineRun& run);
// The identity record the combination patches boot code with.
void CnaFillIdentifiers(CnaEngineRun& run);
// The adapter's flash layout: 0, 38, 37, 115, each with its message.
SD_INT32 CnaReadLayout(CnaEngineRun& run);
// The layout size of a region (0 when the layout lacks it).
SD_UINT32 CnaLayoutSize(const CnaEngineRun& run, SD_UINT32 region);
// Reads a region the engine keeps the adapter's defaults from into `out`
// (left empty when the layout lacks the region): 0, 115, or 36 with the
// message "Unable to read <what> region of adapter %d (%s)!".
SD_INT32 CnaReadCurrentRegion(CnaEngineRun& run, SD_UINT32 region, const char* what, std::vector<SD_UINT8>& out);

// One region write of the plan.
struct CnaPlannedWrite {
    SD_UINT32 region = 0;          // the sequence entry, the flash region written
    ILT_Region_t entry{};          // the image's entry
    SD_UINT32 offset = 0;          // of the entry's data in the combined buffer
    SD_UINT32 length = 0;
    SD_UINT32 layoutSize = 0;      // the flash region's size, the size written
    bool withTable = false;        // the image's table follows the data
};

// Whether an entry of the sequence region is written on this adapter (the
// family's card-type, chip-revision and per-region rules).
using CnaEntryFilter = std::function<bool(SD_UINT32 sequenceRegion, const ILT_Region_t& entry)>;

// The writes of the region loop, in sequence order and, within one region,
// in table order; regions the layout lacks are passed over (debug line).
// Nothing is planned unless the request is for all regions.
std::vector<CnaPlannedWrite> CnaPlanWrites(const CnaEngineRun& run, std::span<const SD_UINT32> sequence,
                                           const CnaEntryFilter& filter);
// 0 when every planned entry (and the table behind boot code) lies inside
// the combined buffer and fits its flash region; else -4 (first misfit to the
// debug log).
SD_INT32 CnaCheckPlanFits(const CnaEngineRun& run, std::span<const CnaPlannedWrite> plan);
// Fills the region's bytes (a buffer of the layout size): 0xFF, the entry's
// data, the table.
void CnaBuildRegionBuffer(const CnaEngineRun& run, const CnaPlannedWrite& write, std::span<SD_UINT8> buffer);

// The region loop: for each planned write builds the region buffer, lets
// `prepare` finish it (ISP defaults; a failure writes a "Failed" line and
// ends the loop as a failed write does), prints the item, writes it with
// `write` and completes the item. Stops at the first failure; sleeps 5 s
// after every write attempt. The count of regions written; *status the
// first failure (0 when none).
using CnaPrepare = std::function<int(const CnaPlannedWrite&, std::span<SD_UINT8>)>;
using CnaWrite = std::function<SD_UINT32(const CnaPlannedWrite&, std::span<const SD_UINT8>)>;
using CnaWriteOk = std::function<bool(SD_UINT32)>;
SD_UINT16 CnaRunRegionLoop(const CnaEngineRun& run, std::span<const CnaPlannedWrite> plan, const std::function<const char*(SD_UINT32)>& text,
                           const CnaPrepare& prepare, const CnaWrite& write, const CnaWriteOk& written,
                           SD_INT32* status);

// Closes the validation after the plan was checked: a plan too large for the
// flash ("Failed", the region-size message, CNA_NOT_ALL_REGIONS), else the
// validation verdict. `ready` false: return `status`.
struct CnaValidationEnd {
    bool ready = false;
    SD_INT32 status = 0;
};
CnaValidationEnd CnaEndValidation(const CnaEngineRun& run, SD_INT32 status, bool tooLarge);
// "Updating Flash on HBA ... Please wait..." by the port count; the file's
// bytes are dropped (the combined buffer is what the loop writes from).
void CnaAnnounceUpdate(CnaEngineRun& run);

// "Unable to complete flash update on HBA Instance %d. Not all regions updated (%d of %d)."
void CnaNotAllRegionsMessage(const CnaEngineRun& run, unsigned written, unsigned required);
// "Incompatible flash image (Region size mismatched)!"
void CnaRegionSizeMessage();
// The closing message by the adapter's port count, the VPD status and the reset flag.
void CnaFinalMessage(const CnaEngineRun& run, SD_INT32 vpdStatus, SD_UINT16 disableReset);

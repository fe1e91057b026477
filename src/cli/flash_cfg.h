// The flash control file "flash.cfg": one record per adapter type (subsystem
// device and vendor id) with the component versions it should carry and the
// multiboot image that brings them; the same record built from an adapter;
// and the update policy that compares the two.
#pragma once

#include <cstddef>
#include <span>

#include "mgmt/sd_types.h"

struct _tagSDMDevice;

constexpr std::size_t FLASHCTR_ID_SIZE = 10;
constexpr std::size_t FLASHCTR_MODEL_SIZE = 32;
constexpr std::size_t FLASHCTR_FILE_SIZE = 260;
constexpr std::size_t FLASHCTR_FILE_MAX = 135;     // longest file name the update takes
constexpr std::size_t FLASHCTR_VERSION_TEXT_MAX = 11;

// Results of BuildFlashCtrListFromFile.
constexpr int FLASHCTR_OPEN_FAILED = 5;
constexpr int FLASHCTR_NO_MEMORY = 11;

// Results of GetFlashUpdatePolicy.
constexpr int FLASH_POLICY_NO_UPDATE = 0;
constexpr int FLASH_POLICY_UPDATE = 1;
constexpr int FLASH_POLICY_DOWNGRADE = 2;

// Flash-update modes of the command line.
constexpr int FLASH_MODE_STANDARD = 0;
constexpr int FLASH_MODE_FORCE_WRITE = 1;
constexpr int FLASH_MODE_REWRITE = 2;
constexpr int FLASH_MODE_DOWNGRADE = 3;

// One record; allocated zero-filled (CoreZMalloc), owned by the list or by
// the caller that created it. Texts are always terminated.
typedef struct _FlashCtrVersion {
    char SubSysDeviceID[FLASHCTR_ID_SIZE];   // "0x" and four hex digits
    char SubSysVendorID[FLASHCTR_ID_SIZE];
    char Model[FLASHCTR_MODEL_SIZE];
    SD_UINT8 BIOS[2];
    SD_UINT8 EFI[2];
    SD_UINT8 FCode[2];
    SD_UINT8 FBCVer[3];
    SD_UINT8 PepBCVer[3];
    SD_UINT8 FWAVer[3];
    SD_UINT8 PepFW[3];
    SD_UINT8 MpiFW[3];
    SD_UINT8 Risc[3];
    SD_UINT8 Multiboot[3];
    char FileName[FLASHCTR_FILE_SIZE];
    SD_UINT32 Reserved[163];
    _FlashCtrVersion* next;
} FlashCtrVersion, *PFlashCtrVersion;

// First record of the list read from the file (records in file order).
extern FlashCtrVersion* g_VersionCtrEntryList;

// Reads the file into g_VersionCtrEntryList (appending): 0, 5 (cannot be
// opened or is not a regular file; output-file line) or 11 (memory; the records
// read so far stay). A line is read whole, however long. An image file name
// longer than FLASHCTR_FILE_MAX is kept longer (never cut), see below.
int BuildFlashCtrListFromFile(const char* pConfigFile);

// Parses "major.minor.sub" (at most 11 characters, each part decimal, at most
// as many parts as `bytes` holds, missing parts 0). A part above 255 or below 0 makes the
// whole field invalid: it is left zero and the core log says so. 0, or -1 for
// a null text or an invalid field.
int FillVersion(const char* text, std::span<SD_UINT8> bytes);

FlashCtrVersion* CreateNewEntry();
// Appends at the end of the list (in constant time); returns the first record.
FlashCtrVersion* InsertNewEntry(FlashCtrVersion* record);
// True when the record's image file name is longer than FLASHCTR_FILE_MAX: the
// update refuses such a record rather than open a cut name.
bool FlashCtrFileNameTooLong(const FlashCtrVersion* record);
void DeleteFlashCtrVersionList();
void PrintFlashCtrVersionList(const FlashCtrVersion* first);

// The first list record whose ids equal the given ids formatted "0x%04x"
// (compared regardless of case, lengths equal), or null.
const FlashCtrVersion* FindFlashCtrEntry(SD_UINT16 subSysDeviceId, SD_UINT16 subSysVendorId);
// Copies the matching record of the port (ids from its chip property) into
// `record`; `record` is returned unchanged when none matches; null for a null
// device or record.
FlashCtrVersion* GetVersionFromFlashCtrFile(_tagSDMDevice* pDevice, FlashCtrVersion* record);

// Fills `record` from what an adapter carries: ids, the node property's model
// and boot-image versions (chip types 8 and up), the multiboot version (chip
// types 12 and up, when `multiboot` is not null).
void FillFlashCtrVersionFromAdapter(FlashCtrVersion* record, int chipType, SD_UINT16 subSysDeviceId,
                                    SD_UINT16 subSysVendorId, const DEVICENODEPROPERTY& node,
                                    const SD_UINT8* multiboot);
// The same from a port: ids from NVRAM variables 128 and 127 of its current
// NVRAM copy, the multiboot version read from the adapter each time
// (GetExistingCNAFlashImageVersions; none when that read fails). Null for a
// null device or record, else `record`.
FlashCtrVersion* BuildFlashCtrListFromHBA(_tagSDMDevice* pDevice, FlashCtrVersion* record);
// The same without its core-log line, for a caller that must know the record
// before the point where it says it: true when the multiboot version was read
// (LogFlashCtrMultibootVersion then says the line BuildFlashCtrListFromHBA says).
bool ReadFlashCtrVersionFromHBA(_tagSDMDevice* pDevice, FlashCtrVersion* record);
void LogFlashCtrMultibootVersion(const FlashCtrVersion* record);

// 0 no update, 1 update, 2 downgrade, from the two multiboot versions, the
// chip type of the port (2 without a port), the flash-update mode and the
// force option.
int GetFlashUpdatePolicy(const _tagSDMDevice* pDevice, const FlashCtrVersion* pHBAVersion,
                         const FlashCtrVersion* pFileVersion, int flashUpdateMode, int forceOption);
// GetFlashUpdatePolicy's result for the chip type, without its lines.
int FlashUpdatePolicyVerdict(int chipType, const FlashCtrVersion* pHBAVersion, const FlashCtrVersion* pFileVersion,
                             int flashUpdateMode, int forceOption);

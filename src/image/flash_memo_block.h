// The flash memo block: a 48-byte record at the start of its own flash region
// in which this tool notes the multiboot image (MBI) and firmware package (FFV)
// versions it wrote, the image's build date, the writer and the time; and the
// in-memory version record that the update flows compare.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// ---- On-flash record (little-endian; decoded and encoded explicitly) ----------------
constexpr std::size_t FLASH_MEMO_BLOCK_SIZE = 48;
constexpr SD_UINT32 FLASH_MEMO_BLOCK_WORDS = 12;
constexpr SD_UINT32 FLASH_MEMO_BLOCK_VERSION = 3;

// Memo-block regions.
constexpr SD_UINT32 FLASH_MEMO_REGION = 0xDF;
constexpr SD_UINT32 FLASH_MEMO_REGION_ALT = 0x124;     // the secondary set's copy (chip type 27)
constexpr SD_UINT32 FLASH_MEMO_REGION_CHIP24 = 0x89;

typedef struct _SBigVersion {
    SD_UINT8 major;
    SD_UINT8 minor;
    SD_UINT8 sub;
    SD_UINT8 build;
} SBigVersion;

typedef struct _STimeStamp {
    SD_UINT16 year;
    SD_UINT8 month;
    SD_UINT8 day;
    SD_UINT8 hour;
    SD_UINT8 minute;
    SD_UINT8 second;
    SD_UINT8 reserved;
} STimeStamp;

typedef struct _SFlashMemoBlock {
    char signature[4];          // "FMBS"
    SD_UINT32 length;           // 12 words
    SD_UINT32 version;          // 3
    SD_UINT32 checksum;         // the twelve words sum to 0
    SBigVersion ffv_ver;
    SBigVersion mbi_ver;
    char bld_time[8];           // YYYYMMDD, no terminator
    char tool_id[4];            // "TRMB"
    STimeStamp upd_time;
    SBigVersion tool_version;   // 1.1.1.0
} SFlashMemoBlock;

// The in-memory record has the flash record's exact offsets, so a decoded
// block and the flash bytes line up field by field.
static_assert(sizeof(SBigVersion) == 4);
static_assert(sizeof(STimeStamp) == 8);
static_assert(sizeof(SFlashMemoBlock) == FLASH_MEMO_BLOCK_SIZE);
static_assert(offsetof(SFlashMemoBlock, checksum) == 12);
static_assert(offsetof(SFlashMemoBlock, ffv_ver) == 16);
static_assert(offsetof(SFlashMemoBlock, mbi_ver) == 20);
static_assert(offsetof(SFlashMemoBlock, bld_time) == 24);
static_assert(offsetof(SFlashMemoBlock, tool_id) == 32);
static_assert(offsetof(SFlashMemoBlock, upd_time) == 36);
static_assert(offsetof(SFlashMemoBlock, tool_version) == 44);

// Decodes the first 48 bytes; false (record untouched) for a shorter span.
bool FlashMemoBlockDecode(std::span<const SD_UINT8> bytes, SFlashMemoBlock* pBlock);
// Encodes into the first 48 bytes; false (nothing written) for a shorter span.
bool FlashMemoBlockEncode(const SFlashMemoBlock& block, std::span<SD_UINT8> bytes);
// Makes the block at the start of a memo region name no multiboot version:
// its major, minor and sub zero, its checksum right, every other byte (the
// multiboot build byte, the update time's reserved byte, the region's tail)
// as it was, so that the update that writes its own block later still finds
// the region's own bytes after a cut. False, the region untouched, when it
// holds no block or one that names no version already.
bool FlashMemoBlockClearVersion(std::span<SD_UINT8> region);

// ---- Version records (in memory) --------------------------------------------------------
// An adapter's existing versions beside an image's new ones. For MPI firmware
// and MPI configuration the existing bytes are kept minor, major, subminor.
typedef struct _MultibootVersions {
    SD_UINT8 ExistingPxeBootVersionMajor, ExistingPxeBootVersionMinor, NewPxeBootVersionMajor,
        NewPxeBootVersionMinor;
    SD_UINT8 ExistingNicFcodeVersionMajor, ExistingNicFcodeVersionMinor, NewNicFcodeVersionMajor,
        NewNicFcodeVersionMinor;
    SD_UINT8 ExistingNicEfiVersionMajor, ExistingNicEfiVersionMinor, NewNicEfiVersionMajor, NewNicEfiVersionMinor;
    SD_UINT8 ExistingiSCSIEfiVersionMajor, ExistingiSCSIfiVersionMinor, NewiSCSIEfiVersionMajor,
        NewiSCSIEfiVersionMinor;
    SD_UINT8 ExistingiSCSIFcodeVersionMajor, ExistingiSCSIFcodeVersionMinor, NewiSCSIFcodeVersionMajor,
        NewiSCSIFcodeVersionMinor;
    SD_UINT8 ExistingiSCSIBiosVersionVersionMajor, ExistingiSCSIBiosVersionMinor, NewiSCSIBiosVersionMajor,
        NewiSCSIBiosVersionMinor;
    SD_UINT8 ExistingBiosVersionMajor, ExistingBiosVersionMinor, NewBiosVersionMajor, NewBiosVersionMinor;
    SD_UINT8 ExistingFcodeVersionMajor, ExistingFcodeVersionMinor, NewFcodeVersionMajor, NewFcodeVersionMinor;
    SD_UINT8 ExistingEfiVersionMajor, ExistingEfiVersionMinor, NewEfiVersionMajor, NewEfiVersionMinor;
    SD_UINT8 ExistingFCoEBiosVersionMajor, ExistingFCoEBiosVersionMinor, NewFCoEBiosVersionMajor,
        NewFCoEBiosVersionMinor;
    SD_UINT8 ExistingFCoEFcodeVersionMajor, ExistingFCoEFcodeVersionMinor, NewFCoEFcodeVersionMajor,
        NewFCoEFcodeVersionMinor;
    SD_UINT8 ExistingFCoEEfiVersionMajor, ExistingFCoEEfiVersionMinor, NewFCoEEfiVersionMajor,
        NewFCoEEfiVersionMinor;

    SD_UINT8 ExistingRiscFwVersionMajor, ExistingRiscFwVersionMinor, ExistingRiscFwVersionSubMinor,
        NewRiscFwVersionMajor, NewRiscFwVersionMinor, NewRiscFwVersionSubMinor;
    SD_UINT8 ExistingFCoERiscFwVersionMajor, ExistingFCoERiscFwVersionMinor, ExistingFCoERiscFwVersionSubMinor,
        NewFCoERiscFwVersionMajor, NewFCoERiscFwVersionMinor, NewFCoERiscFwVersionSubMinor;
    SD_UINT8 ExistingMpiFwVersionMinor, ExistingMpiFwVersionMajor, ExistingMpiFwVersionSubMinor,
        NewMpiFwVersionMajor, NewMpiFwVersionMinor, NewMpiFwVersionSubMinor;
    SD_UINT8 ExistingEdcFwVersionMajor, ExistingEdcFwVersionMinor, ExistingEdcFwVersionSubMinor,
        NewEdcFwVersionMajor, NewEdcFwVersionMinor, NewEdcFwVersionSubMinor;
    SD_UINT8 ExistingMultibootVersionMajor, ExistingMultibootVersionMinor, ExistingMultibootVersionSubMinor,
        NewMultibootVersionMajor, NewMultibootVersionMinor, NewMultibootVersionSubMinor;
    SD_UINT8 ExistingMpiCfgVersionMinor, ExistingMpiCfgVersionMajor, ExistingMpiCfgVersionSubMinor,
        NewMpiCfgVersionMajor, NewMpiCfgVersionMinor, NewMpiCfgVersionSubMinor;
    SD_UINT8 ExistingBootlaoderVersionMajor, ExistingBootlaoderVersionMinor, ExistingBootlaoderVersionSubMinor,
        NewBootlaoderVersionMajor, NewBootlaoderVersionMinor, NewBootlaoderVersionSubMinor;
    SD_UINT8 ExistingCRBinitVersionMajor, ExistingCRBinitVersionMinor, ExistingCRBinitVersionSubMinor,
        NewCRBinitVersionMajor, NewCRBinitVersionMinor, NewCRBinitVersionSubMinor;
    SD_UINT8 ExistingPegtuneVersionMajor, ExistingPegtuneVersionMinor, ExistingPegtuneVersionSubMinor,
        NewPegtuneVersionMajor, NewPegtuneVersionMinor, NewPegtuneVersionSubMinor;
    SD_UINT8 ExistingK7RFirmwareVersionMajor, ExistingK7RFirmwareVersionMinor, ExistingK7RFirmwareVersionSubMinor,
        NewK7RFirmwareVersionMajor, NewK7RFirmwareVersionMinor, NewK7RFirmwareVersionSubMinor;

    SD_UINT8 ImageBuildMonth, ImageBuildDay;
    SD_UINT16 ImageBuildYear;
    SD_UINT8 ExistingFFVersionMajor, ExistingFFVersionMinor, ExistingFFVersionBuild, ExistingFFVersionSubBuild;
    SD_UINT8 NewFFVersionMajor, NewFFVersionMinor, NewFFVrsionBuild, NewFFVrsionSubBuild;
    SD_UINT8 reserve[2];
} MultibootVersions, *PMultibootVersions;

// The versions of every component of an image file, or of an adapter's active
// flash regions, for the version displays and the Vrel memo block. Region
// types are 16 bits wide (codes such as 0x101 exist) and so are the
// swap-mode/card-type words (bit 15 swap mode, bits 0 to 14 card types).
typedef struct _FlashComponentVersion {
    SD_UINT8 ImageMajorVersion, ImageMinorVersion, ImageSubMinorVersion;
    SD_UINT8 FFVMajorVersion, FFVMinorVersion, FFVSubMinorVersion, FFVBuildVersion;
    SD_UINT8 ImageBuildMonth, ImageBuildDay;
    SD_UINT16 ImageBuildYear;
    SD_UINT8 ImageStatusMajorVersion, ImageStatusMinorVersion, ImageStatusSubminorVersion;
    SD_UINT8 AuxImageStatusMajorVersion, AuxImageStatusMinorVersion, AuxImageStatusSubminorVersion;

    // Components with a test version.
    SD_UINT16 PEPRegionType;
    SD_UINT8 PEPFwMajorVersion, PEPFwMinorVersion, PEPFwSubminorVersion, PEPFwTestVersion;
    SD_UINT16 SwapModeCardTypePEPFw;
    SD_UINT16 PEPSoftROMRegionType;
    SD_UINT8 PEPSoftROMMajorVersion, PEPSoftROMMinorVersion, PEPSoftROMSubminorVersion, PEPSoftROMTestVersion;
    SD_UINT16 SwapModeCardTypePEPSoftROM;
    SD_UINT16 PEPBoardCfgRegionType;
    SD_UINT8 PEPBoardCfgMajorVersion, PEPBoardCfgMinorVersion, PEPBoardCfgSubminorVersion, PEPBoardCfgTestVersion;
    SD_UINT16 SwapModeCardTypePEPBoardCfg;
    SD_UINT16 FwAreaRegionType;
    SD_UINT8 FwAreaMajorVersion, FwAreaMinorVersion, FwAreaSubminorVersion, FwAreaTestVersion;
    SD_UINT16 SwapModeCardTypeFwArea;
    SD_UINT16 FCBoardCfgRegionType;
    SD_UINT8 FCBoardCfgMajorVersion, FCBoardCfgMinorVersion, FCBoardCfgSubminorVersion, FCBoardCfgTestVersion;
    SD_UINT16 SwapModeCardTypeFCBoardCfg;
    SD_UINT16 MPIFwRegionType;
    SD_UINT8 MPIFwMajorVersion, MPIFwMinorVersion, MPIFwSubminorVersion, MPIFwTestVersion;
    SD_UINT16 SwapModeCardTypeMPIFw;
    SD_UINT16 MPISoftROMRegionType;
    SD_UINT8 MPISoftROMMajorVersion, MPISoftROMMinorVersion, MPISoftROMSubminorVersion, MPISoftROMTestVersion;
    SD_UINT16 SwapModeCardTypeMPISoftROM;
    SD_UINT16 PCIeSerdesRegionType;
    SD_UINT8 PCIeSerdesMajorVersion, PCIeSerdesMinorVersion, PCIeSerdesSubminorVersion, PCIeSerdesTestVersion;
    SD_UINT16 SwapModeCardTypePCIeSerdes;
    SD_UINT16 FCSoftROMRegionType;
    SD_UINT8 FCSoftROMMajorVersion, FCSoftROMMinorVersion, FCSoftROMSubminorVersion, FCSoftROMTestVersion;
    SD_UINT16 SwapModeCardTypeFCSoftROM;

    // Components without one.
    SD_UINT16 FCFwRegionType;
    SD_UINT8 FCFwMajorVersion, FCFwMinorVersion, FCFwSubminorVersion;
    SD_UINT16 SwapModeCardTypeFCFw;
    SD_UINT16 BiosRegionType;
    SD_UINT8 BiosMajorVersion, BiosMinorVersion, BiosSubminorVersion;
    SD_UINT16 SwapModeCardTypeBios;
    SD_UINT16 FCodeRegionType;
    SD_UINT8 FCodeMajorVersion, FCodeMinorVersion, FCodeSubminorVersion;
    SD_UINT16 SwapModeCardTypeFCode;
    SD_UINT16 EFIRegionType;
    SD_UINT8 EFIMajorVersion, EFIMinorVersion, EFISubminorVersion;
    SD_UINT16 SwapModeCardTypeEFI;
    SD_UINT16 BiosExpRegionType;
    SD_UINT8 BiosExpMajorVersion, BiosExpMinorVersion, BiosExpSubminorVersion;
    SD_UINT16 SwapModeCardTypeBiosExp;
    SD_UINT16 FCodeExpRegionType;
    SD_UINT8 FCodeExpMajorVersion, FCodeExpMinorVersion, FCodeExpSubminorVersion;
    SD_UINT16 SwapModeCardTypeFCodeExp;
    SD_UINT16 EFIExpRegionType;
    SD_UINT8 EFIExpMajorVersion, EFIExpMinorVersion, EFIExpSubminorVersion;
    SD_UINT16 SwapModeCardTypeEFIExp;
    SD_UINT16 SktRegionType;
    SD_UINT8 SktMajorVersion, SktMinorVersion, SktSubminorVersion;
    SD_UINT16 SwapModeCardTypeSkt;

    SD_UINT16 CrbInitRegionType;
    SD_UINT8 CrbinitMajorVersion, CrbinitMinorVersion, CrbinitSubMinorVersion;
    SD_UINT16 PegtuneRegionType;
    SD_UINT8 PegtuneMajorVersion, PegtuneMinorVersion, PegtuneSubMinorVersion;
    SD_UINT8 Reserved[131];
} FlashComponentVersion, *PFlashComponentVersion;

// ---- Statuses ------------------------------------------------------------------------------
constexpr int FLASH_MEMO_SUCCESS = 0;
constexpr int FLASH_MEMO_UNSUPPORTED_CHIP = 7;   // chip type below 24
constexpr int FLASH_MEMO_NO_DEVICE = 8;
constexpr int FLASH_MEMO_NO_SIGNATURE = 35;
constexpr int FLASH_MEMO_READ_FAILED = 37;
constexpr int FLASH_MEMO_NULL_RECORD = 115;
constexpr int FLASH_MEMO_WRITE_FAILED = 526;

// 1 when the buffer begins with "FMBS" (its checksum is logged), else 0.
int isCorrectFlashMemoBlockSignature(std::span<const SD_UINT8> pBuffer);
// 0 when `len` little-endian words add up to 0; 25 when not; 40 for an empty
// buffer; 29 when `len` is 0 or `len` words exceed the buffer.
int VerifyChecksum32Bit(std::span<const SD_UINT8> pBuffer, SD_UINT32 len);

// The region the memo block is read from: 0 for chip types below 24 (none),
// 0x89 for 24, 0x124 for 27 running from the secondary set, else 0xDF.
SD_UINT32 GetFlashMemoBlockReadRegion(SDMDevice* pDevice);
// The region UpdateFlashMemoBlockRegion writes: 0x89 for chip type 24, else 0xDF.
SD_UINT32 GetFlashMemoBlockWriteRegion(const SDMDevice* pDevice);

// Copies the adapter's block: 0, 7, 8, 35 (no signature, or a region too
// small to hold a block), 37, 115, or the region-size status of the region
// wrappers. A block with the signature counts whatever its checksum.
int GetAdapterFlashMemoBlock(SDMDevice* pDevice, SFlashMemoBlock* pFlashRecord);

// Rewrites the block at the start of a region buffer (erased 0xFF with a fresh
// header when it holds none) from the new versions (may be null), with tool id,
// tool version, update time and checksum: 0, -1 (null device, or no memory
// for its work copy), 115 (empty buffer or one shorter than a block).
int UpdateFlashMemoBlockData(SDMDevice* pDevice, std::span<SD_UINT8> pBuffer, const MultibootVersions* pVersion);
// Reads, rewrites and writes back the memo-block region with its progress
// item on the output file: 0, 8, 526 (also when a buffer cannot be had).
int UpdateFlashMemoBlockRegion(SDMDevice* pDevice, const MultibootVersions* pVersion);

// Before an update's first write, which could leave the records starting a
// set that does not hold the version the block names: the block of the
// region UpdateFlashMemoBlockRegion writes is made to name no multiboot
// version (FlashMemoBlockClearVersion), written and read back, so that a run
// cut anywhere before its own memo write is redone by the rerun instead of
// called up to date. `pFound` gets the region as found when it was written;
// it stays empty when nothing was (no region or block, or a block that names
// no version already).
// 0, 8 (null device or record), or 526 (the region unreadable, the write or
// its read-back failed: the update ends before anything else is written);
// `pAnswer` (may be null) gets the library's answer to a write that failed,
// else 0.
int ClearFlashMemoBlockVersion(SDMDevice* pDevice, std::vector<SD_UINT8>* pFound, SD_UINT32* pAnswer = nullptr);
// UpdateFlashMemoBlockRegion built from the region as ClearFlashMemoBlockVersion
// found it (its multiboot build byte and the region's other bytes kept), or
// from the region as it is when `found` is empty: 0, 8, 526.
int UpdateFlashMemoBlockRegionFrom(SDMDevice* pDevice, std::span<const SD_UINT8> found,
                                   const MultibootVersions* pVersion);

// The memo-block region of an image set on chip types 25 and up: 0xDF for
// set 1, 0x124 for set 2; 0 for any other set.
SD_UINT32 GetFlashMemoBlockRegionOfSet(SD_UINT32 iRegionSet);
// The same write for the image set an update is writing (1 or 2, as the
// caller knows it; the image-status records may not say it yet), with the
// image's versions (may be null): 0, 526, or 8 for a null device, a chip type
// below 25 or another set.
// `found`, when not empty, is the region (whole) as the update found it
// before its hold made the block name no version: the new block is built
// from it rather than from what the region holds now, so that the block's
// version is the only thing the hold changed (526 when its size is not the
// region's).
// *pAnswer (may be null) gets the library's answer to a write it refused.
int UpdateVrelFlashMemoBlockRegion(SDMDevice* pDevice, const FlashComponentVersion* pFlashImageComponents,
                                   SD_UINT32 iRegionSet, std::span<const SD_UINT8> found = {},
                                   SD_UINT32* pAnswer = nullptr);

// Chip type 27: the memo-block region of the set the image-status records
// start next, when that is not the set the adapter runs now (a run since the
// adapter started switched them); 0 otherwise (other chip types, the same
// set, or records or library that do not tell).
SD_UINT32 GetFlashMemoBlockNextBootRegion(SDMDevice* pDevice);
// Copies the block of a given memo-block region: statuses as GetAdapterFlashMemoBlock.
int GetFlashMemoBlockOfRegion(SDMDevice* pDevice, SD_UINT32 region, SFlashMemoBlock* pFlashRecord);

// "Jan.", "Feb.", "Mar.", "Apr.", "May", "June", "July", "Aug.", "Sept.",
// "Oct.", "Nov.", "Dec." for months 1 to 12, an empty text otherwise (cut to
// the buffer, always terminated unless the buffer is empty).
void GetAbbreviationNameOfMonth(int IdxMonth, std::span<char> pAbbrNameOfMonth);

// Image-status records (which of the two image sets an adapter starts from),
// the auxiliary records of the component copies, and the 32-bit word-sum
// checksum used by every flash table this program writes.
//
// A record is 16 bytes at the start of its flash region, little-endian:
//   0 mask (bit 0 = active), 1-2 generation, 3 format major, 4 format minor,
//   5 components bitmap (auxiliary), 6 reserved, 7 tool id, 8-11 checksum,
//   12-15 signature.
// Records are handled as byte spans and decoded explicitly, never by casting.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "mgmt/sd_types.h"

constexpr std::size_t IMAGE_STATUS_RECORD_SIZE = 16;
constexpr SD_UINT32 IMAGE_STATUS_REGION_SIZE = 0x10000;   // read and written whole

constexpr SD_UINT32 IMAGE_STATUS_REGION_PRIMARY = 0x95;
constexpr SD_UINT32 IMAGE_STATUS_REGION_SECONDARY = 0x96;
constexpr SD_UINT32 AUX_IMAGE_STATUS_REGION_FIRST = 0x125;
constexpr SD_UINT32 AUX_IMAGE_STATUS_REGION_SECOND = 0x126;

constexpr SD_UINT32 IMAGE_STATUS_SIGNATURE_25 = 0xFACEFADE;
constexpr SD_UINT32 IMAGE_STATUS_SIGNATURE_27 = 0xFACEFADF;
constexpr SD_UINT32 AUX_IMAGE_STATUS_SIGNATURE = 0xFACEFAED;

// Record format written into a record that had none (erased flash).
constexpr SD_UINT8 IMAGE_STATUS_FORMAT_MAJOR = 1;
constexpr SD_UINT8 IMAGE_STATUS_FORMAT_MINOR = 0;

// Auxiliary component bits: a set bit means the secondary copy is active.
constexpr SD_UINT8 AUX_COMPONENT_BOARD_CONFIG = 0x01;
constexpr SD_UINT8 AUX_COMPONENT_VPD_NVRAM = 0x02;
constexpr SD_UINT8 AUX_COMPONENT_NPIV_01 = 0x04;
constexpr SD_UINT8 AUX_COMPONENT_NPIV_23 = 0x08;

// Flash helper statuses.
constexpr int CORE_FLASH_FAILED = -1;
constexpr int CORE_FLASH_NO_MEMORY = -17;
constexpr int CORE_FLASH_REGION_UNREADABLE = -18;
constexpr int CORE_FLASH_REGION_WRITE_FAILED = -19;
constexpr int CORE_FLASH_STATUS_UNREADABLE = -20;
constexpr int CORE_FLASH_MISCOMPARE = -21;
constexpr int CORE_FLASH_NOT_SUPPORTED = -52;
constexpr int CORE_FLASH_NO_ADAPTER = -53;

// Decoded record (in memory only).
typedef struct _IMAGESTATUSREGION {
    SD_UINT8 ImageStatusMask;
    SD_UINT16 GenerationNumber;
    SD_UINT8 MajorVersion;
    SD_UINT8 MinorVersion;
    SD_UINT8 ComponentsBitMap;
    SD_UINT8 Reserved;
    SD_UINT8 ToolID;
    SD_UINT32 ChecksumRegion;
    SD_UINT32 Signature;
} IMAGESTATUSREGION, *PIMAGESTATUSREGION;

// Decodes the first 16 bytes; a shorter span gives an all-zero record.
IMAGESTATUSREGION CoreDecodeImageStatus(std::span<const SD_UINT8> record);
// Encodes into the first 16 bytes; false (nothing written) when the span is shorter.
bool CoreEncodeImageStatus(const IMAGESTATUSREGION& status, std::span<SD_UINT8> record);

// Readers of a record's bytes; each gives 0 for a span shorter than a record.
SD_UINT32 CoreGetImageStatusSignature(std::span<const SD_UINT8> record);
SD_UINT8 CoreGetImageStatusMask(std::span<const SD_UINT8> record);
SD_UINT8 CoreGetImageStatusComponentsBitMap(std::span<const SD_UINT8> record);
SD_UINT16 CoreGetImageStatusVersion(std::span<const SD_UINT8> record);
SD_UINT16 CoreGetImageStatusGenerationNumber(std::span<const SD_UINT8> record);
SD_UINT32 CoreGetImageStatusCheckSum(std::span<const SD_UINT8> record);
SD_UINT8 CoreGetImageStatusToolId(std::span<const SD_UINT8> record);
SD_UINT8 CoreGetAuxImageStatusComponentsBitMap(std::span<const SD_UINT8> record, SD_UINT32 bitNumber);

// Signature and zero word sum over the record's 16 bytes.
bool CoreIsImageStatusRegionValid(std::span<const SD_UINT8> record, SD_UINT32 signature);

// Zeroes the 4 bytes at `offset`, sums the little-endian words of the first
// `size` bytes (a trailing partial word counts with zero padding), stores the
// two's complement at `offset` and returns it. `size` is cut to the span;
// an `offset` whose word does not fit the covered bytes changes nothing and gives 0.
SD_UINT32 CoreCalculateChecksum32(std::span<SD_UINT8> buffer, SD_UINT32 size, SD_UINT32 offset);
// 0 when the word sum over `size` bytes is zero, -1 otherwise (also when
// `size` exceeds the span).
int CoreValidateChecksum32(std::span<const SD_UINT8> buffer, SD_UINT32 size);

// The signature that the image-status records of a chip type carry; 0 when
// the chip type keeps none.
SD_UINT32 CoreImageStatusSignatureForChip(int chipType);

// Larger generation plus one, 16 bits, with 0xFFFF replaced by 1.
SD_UINT16 CoreNextImageStatusGeneration(SD_UINT16 first, SD_UINT16 second);

// Rebuilds the first 16 bytes of a record that is not valid as a whole
// record with `signature` (inactive, generation 0, valid checksum): format,
// bitmap, reserved and tool id are the partner's when the partner is valid
// with that signature, else format 1.0 and zeros. Nothing for a short span.
void CoreRebuildImageStatusRecord(std::span<SD_UINT8> record, std::span<const SD_UINT8> partner,
                                  SD_UINT32 signature);

// In-memory part of the image-set switch: given the primary and secondary
// records (at least 16 bytes each, changed in place), makes set `activateSet`
// (1 primary, 2 secondary) the active one with a new generation. A record that
// is not valid for the chip, whichever role it takes, is first rebuilt whole
// (CoreRebuildImageStatusRecord, generation 0), so that both hold what a
// switch from sound records writes. Both checksums are recomputed.
// 0, or -1 when a record is too short or a checksum does not hold.
int CoreBuildImageStatusSwitch(std::span<SD_UINT8> primary, std::span<SD_UINT8> secondary, int chipType,
                               int activateSet);

// In-memory part of the auxiliary flip. `first` and `second` are the records
// of regions 0x125 and 0x126 (changed in place). Picks the set to update (1 or
// 2, into *pSet), gives the updated record the new generation, `toolId`, the
// other record's bitmap with the requested component pointing at the copy
// that does not serve (`servingCopy` 1: the secondary, 2: the primary; 0, not
// known: the component's bit inverted), and the active mask; clears the other
// record's mask; recomputes both checksums. An invalid record (either one) is
// rebuilt whole first. The component is the lowest set bit of
// `componentRequest` (board configuration when none); bits above the four
// components are never moved. 0, or -1 when a record is too short or a
// checksum does not hold.
int CoreBuildAuxImageStatusFlip(std::span<SD_UINT8> first, std::span<SD_UINT8> second, SD_UINT32 componentRequest,
                                SD_UINT8 toolId, int* pSet, SD_UINT8 servingCopy = 0);

// ---- Records held on what runs ---------------------------------------------------------
//
// Until the adapter restarts it runs the set (and the component copies) it
// started with, so a second run before the reboot rewrites the set an earlier
// run already marked to start from next. A cut in that rewrite would leave
// the adapter starting from a torn set. Before its first write such a run
// therefore makes the records name what runs now again (active bits moved
// back), and builds its final switch from the records as it found them: what
// it ends with is what a run over records never held writes.

// The 16-byte records of a pair as an update found them, kept when it held
// the pair on what runs (`held`); the update's final switch is built from them.
struct CoreRecordsFound {
    bool held = false;
    std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> first{};
    std::array<SD_UINT8, IMAGE_STATUS_RECORD_SIZE> second{};
};

// In-memory part of the image-set hold: when the boot rule picks the set
// other than `runningSet` (1 or 2) from the records (at least 16 bytes each,
// changed in place), the running set's record is made active with the next
// generation (rebuilt whole first when not valid) and the other's active bit
// cleared, its generation kept; checksums recomputed. false when the rule picks `runningSet` already
// (or the records are too short, or the chip keeps none): nothing changed.
bool CoreBuildImageStatusHold(std::span<SD_UINT8> primary, std::span<SD_UINT8> secondary, int chipType,
                              int runningSet);

// A pair left unsettled: both records valid for the chip and both active,
// as a cut between the two writes of a hold or a switch leaves them (the
// newer generation decides the boot meanwhile). Erased or torn records are
// not: they are what a fresh adapter or a cut inside a write leaves.
bool CoreIsImageStatusPairUnsettled(std::span<const SD_UINT8> primary, std::span<const SD_UINT8> secondary,
                                    int chipType);

// In-memory part of the auxiliary hold on chip type 27: when the records
// (`first`, `second`: 0x125 and 0x126, changed in place; `primary`,
// `secondary`: the image-status records, for the rule when neither auxiliary
// record decides) do not serve the requested component (lowest set bit of
// `componentRequest`, board configuration when none) from `servingCopy` (1
// or 2), they are changed so that they do: the idle record, when it is valid
// and names that copy, becomes the active one (active bits moved back);
// otherwise the deciding record names that copy; when neither record decides,
// the valid one of the higher generation (rebuilt whole when neither is)
// decides, naming for the other components the copies that served until now.
// Generations kept. 0 when nothing changed, else 1 or 2: the record that
// decides now (first or second), to be written first.
int CoreBuildAuxImageStatusHold(std::span<SD_UINT8> first, std::span<SD_UINT8> second,
                                std::span<const SD_UINT8> primary, std::span<const SD_UINT8> secondary,
                                SD_UINT32 componentRequest, SD_UINT8 servingCopy);

// ---- Flash I/O through the management library -----------------------------------------

struct _tagSDMDevice;

// Before the first write to the set not running (`running`: the set the
// adapter runs now): the image-status records held on the running set when
// they name the other one; every record written is read back, the running
// set's first. A hold asks for no reset: the update's own writes follow.
// *found gets the records as read (and `held`); *pAnswer (may be null) the
// library's answer to a write it refused (0 otherwise), so that a lockdown
// can be told from a failure. 0, or a negative status when they cannot be
// read or written.
int CoreHoldImageStatus(_tagSDMDevice* device, const SD_ACTIVE_REGIONS& running, CoreRecordsFound* found,
                        SD_UINT32* pAnswer = nullptr);
// Whether the adapter's image-status records are a pair left unsettled
// (above); false too when they cannot be read.
bool CoreImageStatusPairUnsettled(_tagSDMDevice* device);
// Before a write to a component's copy that does not serve (`running` tells
// the serving copies; 0: unknown, nothing is held): the auxiliary records held
// on the serving copy when they name the other one. As above.
int CoreHoldAuxImageStatus(_tagSDMDevice* device, const SD_ACTIVE_REGIONS& running, SD_UINT32 componentRequest,
                           CoreRecordsFound* found, SD_UINT32* pAnswer = nullptr);

// Writes the first `uRegionSize` bytes of `buffer` (at most its size) to
// `region`, retrying a busy adapter (30 answers, 10 s apart). 0x20000100 counts
// as success and sets *pDisableReset to 1 so that later writes of the same
// activation do not reset either. 0 or -1; *pAnswer (may be null) gets the
// library's last answer to a write that failed.
int CoreUpdateOptionRomEx(_tagSDMDevice* device, std::span<const SD_UINT8> buffer, SD_UINT32 region,
                          SD_UINT32 uRegionSize, SD_UINT16* pDisableReset, SD_UINT32* pAnswer = nullptr);
// Reads `region` back (`uRegionSize` bytes, busy answers retried 30 times, 1 s
// apart) and compares it with `expected`: 0, -1 (no device), -17, -18 (read
// failed or sizes differ) or -21 (miscompare, both buffers dumped to the core log).
int CoreCheckOptionRomData(_tagSDMDevice* device, SD_UINT32 region, SD_UINT32 uRegionSize,
                           std::span<const SD_UINT8> expected);
// Makes the inactive image set the active one (regions 0x95/0x96). With
// `uReadFromFlash` the active regions are asked for and handed back in
// *pInActiveRegions; otherwise the caller's record is taken. With `found`
// held, the switch is built from the records as found before the hold. 0 or
// a negative status.
// *pAnswer (may be null) gets the library's answer to a write it refused.
int CoreUpdateImageStatus(_tagSDMDevice* device, SD_ACTIVE_REGIONS* pInActiveRegions, SD_UINT32 uReadFromFlash,
                          const CoreRecordsFound* found = nullptr, SD_UINT32* pAnswer = nullptr);
// Makes the auxiliary records (0x125/0x126) name, for one component, the copy
// that does not serve by the active regions (the copy the component's writers
// write), however often that ran since the adapter started; when the regions
// do not tell, the component's copy is flipped. With `found` held, the flip
// is built from the records as found before the hold. *pAnswer as above.
int CoreUpdateAuxImageStatus(_tagSDMDevice* device, SD_ACTIVE_REGIONS* pInActiveRegions, SD_UINT32 uReadFlash,
                             SD_UINT32 UComponentRequest, const CoreRecordsFound* found = nullptr,
                             SD_UINT32* pAnswer = nullptr);
// The end of a hold for a run that writes no copy of the component: the
// auxiliary records that the hold changed are written back as `found` had
// them (the one active as found first, each read back, no reset), so that
// the copy an earlier run since the start switched to serves next, as after
// a run that never held them. A record that was not valid as found stays as
// the hold wrote it: no run writes a torn record back. Nothing is written
// when `found` was not held. 0, or a negative status; *pAnswer as above.
int CoreRestoreAuxImageStatus(_tagSDMDevice* device, const CoreRecordsFound& found, SD_UINT32* pAnswer = nullptr);
// Writes a valid NVRAM image; on chip type 27 and above the NVRAM/VPD copy is
// flipped and, with `activate`, the adapter reloads it. 0, -1, -53 or the
// status of the active-regions query.
int CoreUpdateNVRam(_tagSDMDevice* device, std::span<const SD_UINT8> buffer, SD_UINT32 activate);
// 1 when the image starts with "ISP " and its words sum to zero, else 0.
int CoreIsValidNvram(const _tagSDMDevice* device, std::span<const SD_UINT8> buffer);

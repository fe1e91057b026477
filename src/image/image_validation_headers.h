// Checks of single components of a multiboot image that read a header, a
// trailer or a signature block: firmware headers against their table entry,
// EDC, MPI and MPI-configuration headers, the converged components' trailers
// and the Vrel signature block. Every check takes the component's bytes (the
// caller has cut them out of the image by the entry's offset and size) and
// reads nothing outside them.
#pragma once

#include <span>

#include "image/firmware_image.h"
#include "image/flash_memo_block.h"
#include "image/ilt_records.h"
#include "image/image_validation_records.h"

using ComponentBytes = std::span<const SD_UINT8>;

// ---- Firmware header --------------------------------------------------------------------------
// 1 when the component starts with a firmware header whose three revision
// words equal the entry's major, minor and update version and whose
// `supported` word equals `supported`; else 0. The header is copied to
// *header whenever one can be read (a mismatching one too), so a caller can
// record its version before it looks at the result.
int ValidateFirmwareGeneric(ComponentBytes component, const ILT_Region_t& region, SD_UINT32 supported,
                            Fw_Header_t* header);
// The same with `supported` 8 (first-generation converged adapters).
int ValidateFirmware(ComponentBytes component, const ILT_Region_t& region, Fw_Header_t* header);
// Manufacturing-mode firmware files: 28 when `supported` equals the value and
// bytes 9 to 16 of the name read "Firmware", else 30 (also without a header).
// The revision goes to the new RISC version fields when a header is read.
int ValidateRiscFirmwareGeneric(ComponentBytes firmware, MultibootVersions* pVersions, SD_UINT32 supported);

// ---- EDC, MPI and MPI-configuration headers ------------------------------------------------------
// Copies of the headers: 1, or 0 (nothing written) when the bytes are too few.
int GetEDCHeader(ComponentBytes component, EDC_Header_t* header);
int GetMpiHeader(ComponentBytes component, Mpi_Header_t* header);
int GetMpiCfgHeader(ComponentBytes component, MpiCfg_Header_t* header);
// Their fields, one debug line each.
void PrintEDCHeader(const EDC_Header_t* header);
void PrintMpiHeader(const Mpi_Header_t* header);
void PrintMpiCfgHeader(const MpiCfg_Header_t* header);
// Header copy, debug lines and the revision's bytes 1, 2, 3 into the new EDC,
// MPI or MPI-configuration version fields: 1, or 0 without a header.
int GetEDCVersion(ComponentBytes component, MultibootVersions* pVersions);
int GetMpiVersion(ComponentBytes component, MultibootVersions* pVersions);
int GetMpiCfgVersion(ComponentBytes component, MultibootVersions* pVersions);

// 1 when the component is EDC firmware for the entry (cookie, supported
// value and the entry's version in the revision), its version recorded; else 0.
int ValidateEDCFirmware(ComponentBytes component, const ILT_Region_t& region, MultibootVersions* pVersions);
// The same for MPI firmware.
int ValidateMpiFirmware(ComponentBytes component, const ILT_Region_t& region, MultibootVersions* pVersions);
// 1 when the component is a 64 KiB MPI configuration with its cookie whose
// big-endian words add up to 0, its version recorded; else 0.
int ValidateMpiConfig(ComponentBytes component, MultibootVersions* pVersions);

// ---- Trailers of the converged components ---------------------------------------------------------
// The trailer in the last 32 bytes of a `size`-byte component (the whole
// component when `size` is 0): 1 when it carries `signature`, its version
// bytes 0-2 copied to version[0..2]; 0 otherwise, also when the component is
// shorter than `size` or than a trailer.
int ValidateCnaTrailerAtEnd(ComponentBytes component, std::size_t size, SD_UINT32 signature, SD_UINT8 version[3]);
// The trailer in the first 32 bytes (converged and NIC firmware): its
// `length` must lie inside the component.
int ValidateCnaTrailerAtStart(ComponentBytes component, SD_UINT32 signature, SD_UINT8 version[3]);

// ---- Vrel signature block ---------------------------------------------------------------------------
// 0, or -36 for a block carrying both "08KS" signatures whose `Length`
// reaches past the component or stops short of the checksum word, or whose
// words over `Length` do not add up to 0; a good one has its version
// recorded. A component without both signatures (also one too short for its
// 392 bytes) is accepted and records nothing.
int ValidateVrelSignatureRegion(ComponentBytes component, FlashComponentVersion* pVersions);

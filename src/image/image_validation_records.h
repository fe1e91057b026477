// Headers and trailers that the component checks read inside a multiboot
// image, and the statuses of those checks.
//
// EDC, MPI and MPI-configuration headers are big-endian 32-bit words (as the
// firmware header is); the converged components' 32-byte trailers and the
// signature block are little-endian. All are decoded field by field from the
// component's bytes, never cast onto them.
#pragma once

#include <cstddef>

#include "mgmt/sd_types.h"

// ---- EDC and MPI firmware headers (36 bytes), MPI configuration header (32 bytes) ----------------
constexpr std::size_t EDC_HEADER_SIZE = 36;
constexpr std::size_t MPI_HEADER_SIZE = 36;
constexpr std::size_t MPICFG_HEADER_SIZE = 32;

typedef struct _EDC_Header_t {
    SD_UINT32 cookie;
    SD_UINT32 checksum;
    SD_UINT32 start;
    SD_UINT32 length;
    SD_UINT32 revision;       // bytes 1, 2, 3 (of the stored word): major, minor, sub-minor
    SD_UINT32 reserved[2];
    SD_UINT32 attribute;
    SD_UINT32 supported;
} EDC_Header_t;

typedef struct _Mpi_Header_t {
    SD_UINT32 preamble;
    SD_UINT32 checksum;
    SD_UINT32 start;
    SD_UINT32 length;
    SD_UINT32 revision;
    SD_UINT32 reserved[2];
    SD_UINT32 attribute;
    SD_UINT32 supported;
} Mpi_Header_t;

typedef struct _MpiCfg_Header_t {
    SD_UINT32 cookie;
    SD_UINT32 checksum;
    SD_UINT32 start;
    SD_UINT32 length;
    SD_UINT32 port0_offset;
    SD_UINT32 port1_offset;
    SD_UINT16 vendor_id;
    SD_UINT16 device_id;
    SD_UINT32 revision;
} MpiCfg_Header_t;

constexpr SD_UINT32 EDC_COOKIE = 0x5555BBBB;
constexpr SD_UINT32 EDC_SUPPORTED = 0x20000008;
constexpr SD_UINT32 MPI_SUPPORTED = 0x10000008;
constexpr SD_UINT32 MPICFG_COOKIE = 0x5555AAAA;
constexpr std::size_t MPICFG_COMPONENT_SIZE = 0x10000;

// ---- Trailer record of the converged components (32 bytes, little-endian) -----------------------
constexpr std::size_t CNA_TRAILER_SIZE = 32;

typedef struct _Cna_Trailer_t {
    SD_UINT32 signature;
    SD_UINT8 version[4];      // major, minor, sub-minor, spare
    SD_UINT32 attributes;
    SD_UINT32 length;         // the converged firmware: bytes the component spans
    SD_UINT32 reserved[3];
    SD_UINT32 checksum;
} Cna_Trailer_t;
typedef Cna_Trailer_t Bootloader_header;
typedef Cna_Trailer_t CRBinit_header;
typedef Cna_Trailer_t Pegtune_header;
typedef Cna_Trailer_t Firmware_header;

constexpr SD_UINT32 CNA_CRBINIT_SIGNATURE = 0x40400000;
constexpr SD_UINT32 CNA_PEGTUNE_SIGNATURE = 0x40400001;
constexpr SD_UINT32 CNA_BOOTLOADER_SIGNATURE = 0x40400002;
constexpr SD_UINT32 CNA_FIRMWARE_SIGNATURE = 0x40400003;

// Fixed component sizes of the K7R chip-revision-aware checks.
constexpr std::size_t K7R_BOOTLOADER_SIZE = 128 * 1024;
constexpr std::size_t K7R_PEGTUNE_SIZE = 128 * 1024;
constexpr std::size_t K7R_CRBINIT_SIZE = 16 * 1024;
constexpr SD_UINT16 K7R_FIRST_CONVERGED_REVISION = 0x54;

// ---- Signature block of the Vrel signature region (0x9E), 392 bytes, little-endian --------------
constexpr std::size_t SKT_LAYOUT_SIZE = 392;
constexpr std::size_t SKT_SIGNATURE2_OFFSET = 388;
constexpr SD_UINT32 SKT_SIGNATURE = 0x534B3830;   // "08KS" read as a little-endian word

typedef struct _SKTLayout {
    SD_UINT8 Signature[4];
    SD_UINT8 TestVer;
    SD_UINT8 SubMinorVer;
    SD_UINT8 MinorVer;
    SD_UINT8 MajorVer;
    SD_UINT32 CheckSum;       // the block's words over Length bytes add up to 0
    SD_UINT32 Length;
    SD_UINT16 SubSystemVendorID;
    SD_UINT16 SubSystemDeviceID;
    SD_UINT8 Body[368];       // header words, entry count, key size code and key words: not read here
    SD_UINT8 Signature2[4];
} SKTLayout;
static_assert(sizeof(SKTLayout) == SKT_LAYOUT_SIZE);
static_assert(offsetof(SKTLayout, CheckSum) == 8);
static_assert(offsetof(SKTLayout, SubSystemVendorID) == 16);
static_assert(offsetof(SKTLayout, Signature2) == SKT_SIGNATURE2_OFFSET);

// ---- Statuses of the per-region checks -------------------------------------------------------------
// Converged families (shared by Torvi, Pemra, K7R and the first generation).
constexpr int IMGVAL_NIC_FC_BOOTCODE = -5;
constexpr int IMGVAL_MPI = -6;
constexpr int IMGVAL_EDC = -7;
constexpr int IMGVAL_FCOE_ISCSI_BOOTCODE = -8;
constexpr int IMGVAL_RISC_FW = -9;
constexpr int IMGVAL_BOOTLOADER = -10;
constexpr int IMGVAL_PEGTUNE = -11;
constexpr int IMGVAL_CRBINIT = -12;
constexpr int IMGVAL_CNA_FW = -13;
// Dorne and Vrel.
constexpr int IMGVAL_SIGNATURE_REGION = -5;      // Dorne: never produced
constexpr int IMGVAL_BOOTCODE = -8;
constexpr int IMGVAL_PEP_SOFTROM = -31;
constexpr int IMGVAL_PEP_FW = -33;
constexpr int IMGVAL_TRUNK_PEP_FW = -34;
constexpr int IMGVAL_SKT = -36;
constexpr int IMGVAL_MPI_FW = -37;
constexpr int IMGVAL_PRELOAD = -38;
constexpr int IMGVAL_FC_BRDCFG = -39;
constexpr int IMGVAL_PEP_BRDCFG = -40;
constexpr int IMGVAL_MPI_SOFTROM = -41;
constexpr int IMGVAL_PCIE_SERDES = -42;
constexpr int IMGVAL_FC_SOFTROM = -43;
// Any family: a fitting entry whose component lies past the image; a table
// with more fitting entries than a signed 8-bit count can tell from a failure.
constexpr int IMGVAL_OUT_OF_BOUNDS = -44;
constexpr int IMGVAL_TOO_MANY_COMPONENTS = -45;
constexpr int IMGVAL_MAX_COMPONENTS = 127;

// Results of ValidateRiscFirmwareGeneric.
constexpr int IMGVAL_RISC_VALID = 28;
constexpr int IMGVAL_RISC_INVALID = 30;

// Header of the adapter's configuration tables (little-endian, at the table's
// start): 0 signature, 4 version (test, subminor, minor, major), 8 checksum
// (two's complement of the word sum taken with this field 0), 12 length in
// 32-bit words, 16 subsystem vendor id, 18 subsystem device id.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "mgmt/sd_types.h"

constexpr std::size_t CFGTBL_OFF_SIGNATURE = 0;
constexpr std::size_t CFGTBL_OFF_VERSION = 4;
constexpr std::size_t CFGTBL_OFF_CHECKSUM = 8;
constexpr std::size_t CFGTBL_OFF_LENGTH = 12;
constexpr std::size_t CFGTBL_OFF_SSVID = 16;
constexpr std::size_t CFGTBL_OFF_SSDID = 18;
constexpr std::size_t CFGTBL_HEADER_SIZE = 20;

constexpr const char* CFGTBL_SIG_FW_PRELOAD = "JKOZ";
constexpr const char* CFGTBL_SIG_FC_BRDCFG = "CBF(";
constexpr const char* CFGTBL_SIG_PEP_BRDCFG = "IKOZ";
constexpr const char* CFGTBL_SIG_FC_SERDES = "ULS(";
constexpr std::size_t CFGTBL_FC_SERDES_OFFSET = 0x1200;   // inside the FC board configuration

// Flash regions of the tables.
constexpr SD_UINT32 CFGTBL_REGION_FW_PRELOAD = 0x13;
constexpr SD_UINT32 CFGTBL_REGION_FC_BRDCFG = 0xBA;
constexpr SD_UINT32 CFGTBL_REGION_PEP_BRDCFG = 0xCF;

// Major, minor, subminor, test of a table's header (zeros for a short span).
std::array<SD_UINT8, 4> CfgTableVersion(std::span<const SD_UINT8> table);
// True when the span starts with the 4-character signature.
bool CfgTableHasSignature(std::span<const SD_UINT8> table, const char* signature);
// The covered bytes (length field times 4) when the header is there, the
// length holds at least the header and the table fits the span; else 0.
SD_UINT32 CfgTableCoveredSize(std::span<const SD_UINT8> table);
// Writes the ids, recomputes the checksum over the covered bytes and checks
// it. True when the table has the signature, a sound length, and then sums to 0.
bool CfgTablePatchIds(std::span<SD_UINT8> table, const char* signature, SD_UINT16 subVendorId,
                      SD_UINT16 subDeviceId);
// Signature, sound length and a zero word sum.
bool CfgTableIsValid(std::span<const SD_UINT8> table, const char* signature);
// -1, 0, 1 comparing two versions from the major down (the first `parts` bytes).
int CfgCompareVersions(std::span<const SD_UINT8> a, std::span<const SD_UINT8> b, std::size_t parts);

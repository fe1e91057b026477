// The configuration tables a multiboot image carries in generic form (the
// firmware preload table, the FC board configuration with its SerDes table,
// the PEP board configuration), patched with one adapter's subsystem ids and
// a fresh checksum before they are written to it.
//
// Table header (little-endian): 0 signature, 4 version, 8 checksum (the
// covered words add up to 0), 12 length in 32-bit words, 16 subsystem vendor
// id, 18 subsystem device id.
#pragma once

#include <cstddef>
#include <span>

#include "image/card_types.h"

constexpr SD_UINT8 CFGBUF_PATCHED = 0;
constexpr SD_UINT8 CFGBUF_NO_IDS = 9;
constexpr SD_UINT8 CFGBUF_INVALID = 22;

constexpr std::size_t CFGBUF_SERDES_OFFSET = 0x1200;     // inside the FC board configuration
constexpr std::size_t CFGBUF_PEP_SSDID_COPY = 264;
constexpr std::size_t CFGBUF_PEP_SSVID_COPY = 266;

// 0 patched (also for a buffer without storage, and for the PEP table a null
// id record after a valid header); 9 no id record (preload and FC board
// configuration); 22 a table that is not valid: wrong signature, a buffer
// shorter than the header, or a length below the header or past the buffer
// (nothing written then). The FC board configuration is patched before its
// SerDes table is checked, so a missing SerDes table gives 22 after the
// first part was patched.
SD_UINT8 UpdateFWAPreloadBuffer(std::span<SD_UINT8> pBuffer, const sHbaIdentifiers* pSubSystemInfo);
SD_UINT8 UpdateFBCBuffer(std::span<SD_UINT8> pBuffer, const sHbaIdentifiers* pSubSystemInfo);
SD_UINT8 UpdatePEPBrdCfgBuffer(std::span<SD_UINT8> pBuffer, const sHbaIdentifiers* pSubSystemInfo);

// What the two Dorne (chip type 25) engines share: their statuses, the
// message buffer every failure is formatted into, and lookups in the
// adapter's flash layout.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "core/flash_read_buffer.h"
#include "core/sdm_device.h"
#include "engines/engine_status.h"
#include "image/region_io.h"
#include "mgmt/sd_types.h"

// Statuses of the Dorne engines (besides the validation statuses).
constexpr SD_INT32 DORNE_SUCCESS = 0;
constexpr SD_INT32 DORNE_OPEN_FAILED = 1;
constexpr SD_INT32 DORNE_SSID_MISMATCH = 0x0B;
constexpr SD_INT32 DORNE_FILE_CORRUPTED = 0x21;
constexpr SD_INT32 DORNE_NOTHING_WRITTEN = 0x22;       // no region of the image was written
constexpr SD_INT32 DORNE_REGION_UNREADABLE = 0x24;     // boot code, or both image-status regions
constexpr SD_INT32 DORNE_NO_MEMORY = 0x73;
constexpr SD_INT32 DORNE_SUCCESS_REBOOT = 201;
constexpr SD_INT32 DORNE_VIRTUAL_PORT = 0x11E;
constexpr SD_INT32 DORNE_SIGNATURE_FAILED = 0x1FE;
constexpr SD_INT32 DORNE_MPI_FAILED = 0x1FF;
constexpr SD_INT32 DORNE_PEP_FAILED = 0x200;
constexpr SD_INT32 DORNE_TRUNK_PEP_FAILED = 0x201;
constexpr SD_INT32 DORNE_BOOT_CODE_FAILED = 0x1CA;
constexpr SD_INT32 DORNE_RISC_FAILED = 0x1CB;
constexpr SD_INT32 DORNE_LOCKDOWN = 0x1D3;
constexpr SD_INT32 DORNE_PRIMARY_STATUS_FAILED = 0x202;
constexpr SD_INT32 DORNE_SECONDARY_STATUS_FAILED = 0x203;
constexpr SD_INT32 DORNE_ACTIVATION_REJECTED = 0x20B;
constexpr SD_INT32 DORNE_ACTIVATION_FAILED = 0x20C;
constexpr SD_INT32 DORNE_SESSION_IN_PROGRESS = 0x20D;
constexpr SD_INT32 DORNE_UNSUPPORTED = 0x4B3;

// Library answers the engines act on.
constexpr SD_UINT32 DORNE_SD_NOT_ACTIVATED = 0x20000100;   // written; takes effect at the next reboot
constexpr SD_UINT32 DORNE_SD_LOCKDOWN = 0x20000113;
constexpr SD_UINT32 DORNE_SD_SESSION_OPEN = 0x200000C0;
constexpr SD_UINT32 DORNE_SD_ACTIVATION_REJECTED = 0x20000063;

// Minutes the session-in-progress message names (a token lives 900 s).
constexpr int DORNE_SESSION_WAIT_MINUTES = 15;

// Region codes.
constexpr SD_UINT32 DORNE_REGION_SIGNATURE = 0x9E;
constexpr SD_UINT32 DORNE_REGION_BOOT_CODE = 0x07;
constexpr SD_UINT32 DORNE_REGION_BOOT_CODE_2 = 0x09;
constexpr SD_UINT32 DORNE_REGION_EXT_MPI = 0xE1;
constexpr SD_UINT32 DORNE_REGION_MPI = 0xD3;
constexpr SD_UINT32 DORNE_REGION_PEP = 0xD1;
constexpr SD_UINT32 DORNE_REGION_TRUNK_PEP = 0x66;
constexpr SD_UINT32 DORNE_REGION_RISC = 0x01;
constexpr SD_UINT32 DORNE_ALL_REGIONS = 0xFF;

// NVRAM variables of the subsystem ids.
constexpr SD_UINT32 DORNE_NVRAM_SSVID = 0x7F;
constexpr SD_UINT32 DORNE_NVRAM_SSDID = 0x80;

// The engine's message buffer: a failure is formatted into it and printed
// once, when the engine ends.
struct DorneMessage {
    std::array<char, ENGINE_MESSAGE_SIZE> text{};

    void Set(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Clear() { text[0] = '\0'; }
    bool Empty() const { return text[0] == '\0'; }
    // Prints the buffer to the output file (nothing when it is empty).
    void Print() const;
    // Formats and prints at once.
    void Say(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

// The model text of a port (bounded, never unterminated).
struct DorneModel {
    char text[sizeof(DEVICENODEPROPERTY::Model) + 1]{};
    explicit DorneModel(const SDMDevice* port);
};

// The size of `code` in the layout; 0 when the layout lacks it.
SD_UINT32 DorneRegionSize(const SDMOptRomLayoutCopy& layout, SD_UINT32 code);
bool DorneHasRegion(const SDMOptRomLayoutCopy& layout, SD_UINT32 code);
// True (and the refusal said) when the port is a virtual port: both engines
// refuse one before anything else.
bool DorneRefuseVirtualPort(SDMDevice* pDevice, DorneMessage& message);

// Subsystem ids of the port's current NVRAM image.
SD_UINT16 DorneNvramVariable(const SDMDevice* port, SD_UINT32 variable);

// Fetches the flash layout: 0, or the status the engines end with (36 when
// the layout cannot be read or none is given, 115 when it cannot be copied),
// with "Unable to validate flash layout tables of HBA instance %d - %s!" in `message`.
SD_INT32 DorneFetchLayout(SDMDevice* pDevice, SDMOptRomLayoutCopy* layout, DorneMessage& message);

// Reads the boot code region `code` as it is now (its layout size), the
// source of the adapter's BIOS defaults in the new boot code: 0, or 0x73 /
// 0x24 with its message. backup->Bytes() holds the region after 0 only; a
// read that ends short of the layout size counts as unreadable.
SD_INT32 DorneReadBootCodeBackup(SDMDevice* pDevice, const SDMOptRomLayoutCopy& layout, SD_UINT32 code,
                                 FlashReadBuffer* backup, DorneMessage& message);

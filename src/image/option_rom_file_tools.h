// Option-ROM helpers of the older adapters' updates that no command reaches:
// carrying an 8 Gb adapter's defaults into a new BIOS image, saving a flash
// buffer to a file and reading it back, and listing a file's images.
#pragma once

#include <span>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// 8 Gb chips: copies the subsystem vendor id after "SVID" and the defaults
// block after "MEISP " from the adapter's current BIOS image into the BIOS
// images of the new boot code and fixes their checksums. 0, or -1 for other
// chips or a malformed chain.
int PreserveFlashDefaultArea(const SDMDevice* pDevice, std::span<const SD_UINT8> current, std::span<SD_UINT8> next);
// Writes the buffer to a new file (never through a link; mode 0666 less the umask), clears
// the buffer and reads it back: 0, or -1 after an output-file line.
int dumpFlashBufferToFile(const SDMDevice* pDevice, std::span<SD_UINT8> buf, const char* path);
// Writes the data structure of every image of the file's chain to the debug
// log: 0, or 1 when the file cannot be opened.
int scanOptionROMFile(const SDMDevice* pDevice, const char* path);

// Firmware and MPI firmware dumps of an adapter port, through the management
// library: into a caller's buffer, their sizes, and an MPI dump saved to a file.
#pragma once

#include <cstdint>
#include <span>

#include "core/sdm_device.h"

// Dump types 0 to 2 read the firmware dump, 3 the MPI dump, into the (zeroed)
// buffer. The library's status; 0x2000006D for a null device or another
// type, 0x20000073 for an empty buffer.
uint32_t CoreGetFirmwareDumpData(const SDMDevice* device, std::span<uint8_t> buffer, uint32_t dumpType);

// The size of the firmware (MPI) dump, asked with the caller's buffer. When
// the library answers with a compressed dump file named in the buffer, the
// size is returned, that file is copied to a new file of an unpredictable name
// ("/tmp/dumpFile" or "/tmp/MpiFwDumpRaw", six random characters, the
// library's extension) and the buffer receives the new name. A library that
// is not ready gives size -1. The library's status; a null argument gives -1
// (firmware) or 0x20000075 (MPI).
uint32_t CoreGetDumpDataSize(const SDMDevice* device, std::span<char> nameBuffer, int32_t* size);
uint32_t CoreGetMpiFwDumpSize(const SDMDevice* device, std::span<char> nameBuffer, int32_t* size);

// Saves the MPI firmware dump to `path` (created or emptied, without
// following a link): 0; 26 when the adapter has none; -1 on failure; for a
// compressed dump file the result of copying that file to `path`.
int CoreGetMpiFwDump(const SDMDevice* device, const char* path);

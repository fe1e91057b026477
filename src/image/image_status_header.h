// Preparing image-status records in memory for the two-set engines: a fresh
// header for a record, the record's fields and the checksum test. Reading and
// writing the records on flash belongs to the core layer.
#pragma once

#include <span>

#include "core/image_status.h"
#include "mgmt/sd_types.h"

// Gives a 16-byte record the chip-type-25 signature and a recomputed
// checksum (bytes 8-11, so that the record's four words sum to zero); for
// set 1 the mask byte and the first generation byte also become 1. Nothing
// for a record under 16 bytes.
void resetImageStatusHeader(std::span<SD_UINT8> record, SD_UINT8 imageSet);
// Decodes the first 16 bytes of `buffer` into the record; nothing when the
// record is null or the buffer shorter.
void getImageStatusHeader(IMAGESTATUSREGION* record, std::span<const SD_UINT8> buffer);
// The components bitmap byte; 0 for a buffer under 16 bytes.
SD_UINT8 getAuxImageStatusBitMap(std::span<const SD_UINT8> buffer);
// Bit `bit` of the components bitmap (0 or 1; -1 for a bit beyond 7); 0 for a
// buffer under 16 bytes.
int getAuxiliaryComponentBitmapMask(std::span<const SD_UINT8> buffer, SD_UINT8 bit);

// Checks the 32-bit word checksum at `offset` over the first `size` bytes:
// recomputes it (the field counting as zero) and stores the new value at
// `offset`, also through pNewChecksum when given. 0 when the stored value was
// right, 1 when it was not, -1 (nothing changed) when the field does not lie
// inside the first `size` bytes of the buffer.
int validateImageStatusChecksum(std::span<SD_UINT8> buffer, SD_UINT32 size, SD_UINT32 offset,
                                SD_UINT32* pNewChecksum = nullptr);

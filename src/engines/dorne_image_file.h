// Reading the multiboot image file a Dorne engine writes: the whole file,
// less the firmware-update package header that may wrap it.
#pragma once

#include <vector>

#include "engines/dorne_engine_support.h"

// Reads `path` (a regular file; one that others could have planted is
// refused) into *image. With `unwrapPldm`, a file that starts with a PLDM
// firmware-update package header gives the bytes after the header; a header
// that reaches the file's end leaves no image and counts as a corrupted file.
// 0; 1 the file cannot be opened; 0x21 its end cannot be found or the file
// is corrupted (also a read that falls short); 0x73 an empty image or no
// memory. Every failure leaves its message in `message`.
SD_INT32 DorneReadImageFile(const char* path, bool unwrapPldm, std::vector<SD_UINT8>* image, DorneMessage& message);

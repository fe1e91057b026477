// Reading a whole image file that an engine writes to flash: through the
// reader rule of input_file.h (refusals are said there), bounded in size, read
// whole or not at all, and optionally unwrapped from the firmware-update
// package header that may lead it.
#pragma once

#include <cstddef>
#include <vector>

#include "core/input_file.h"
#include "mgmt/sd_types.h"

enum class ImageFileResult {
    Ok,
    OpenFailed,  // missing, unreadable, or refused by the reader rule (said there)
    Corrupted,   // its size cannot be told or is above the limit, a short read, or a package header that leaves nothing
    NoMemory,    // no memory, or an empty file where one is refused
};

struct ImageFileOptions {
    std::size_t maxSize = 256u * 1024 * 1024;  // larger than any adapter flash
    bool unwrapPackage = false;                // take a package header off the front
    bool emptyIsNoMemory = false;              // an empty file counts as an allocation failure
};

ImageFileResult CoreReadImageFile(const char* path, const ImageFileOptions& options, std::vector<SD_UINT8>& image);

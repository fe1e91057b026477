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

// While an ImageFileRun lives (one update pass over every adapter), each image
// file is read once: a later read of the same name takes the bytes the first
// read found, and CoreImageFileRunSize gives their size without opening the
// file again. Reads that fail are not kept (the next one tries again).
class ImageFileRun {
public:
    ImageFileRun();
    ~ImageFileRun();
    ImageFileRun(const ImageFileRun&) = delete;
    ImageFileRun& operator=(const ImageFileRun&) = delete;
};
// The size of a file the current run has read; false outside a run or for a
// file it has not read.
bool CoreImageFileRunSize(const char* path, std::size_t& size);

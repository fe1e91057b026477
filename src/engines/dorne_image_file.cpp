// The Dorne engines' image file reader.
#include "engines/dorne_image_file.h"

#include "core/image_file.h"

SD_INT32 DorneReadImageFile(const char* path, bool unwrapPldm, std::vector<SD_UINT8>* image, DorneMessage& message) {
    const char* name = path != nullptr ? path : "";
    ImageFileOptions options;
    options.unwrapPackage = unwrapPldm;
    options.emptyIsNoMemory = true;  // an empty file has nothing to allocate for
    switch (CoreReadImageFile(name, options, *image)) {
        case ImageFileResult::Ok: return DORNE_SUCCESS;
        case ImageFileResult::OpenFailed:
            message.Set("Unable to open boot/multi-boot image file (%s)!", name);
            return DORNE_OPEN_FAILED;
        case ImageFileResult::Corrupted:
            message.Set("File %s appears to be corrupted!", name);
            return DORNE_FILE_CORRUPTED;
        case ImageFileResult::NoMemory: break;
    }
    message.Set("Memory allocation error!");
    return DORNE_NO_MEMORY;
}

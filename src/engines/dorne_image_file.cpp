// The Dorne engines' image file reader.
#include "engines/dorne_image_file.h"

#include <cstdio>
#include <memory>
#include <new>

#include "core/host_info.h"
#include "core/input_file.h"
#include "frontend/output.h"

namespace {

// Files larger than any Gen6 flash are no multiboot images (and would only
// cost memory).
constexpr long kMaxImageFileSize = 256L * 1024 * 1024;

}  // namespace

SD_INT32 DorneReadImageFile(const char* path, bool unwrapPldm, std::vector<SD_UINT8>* image, DorneMessage& message) {
    image->clear();
    const char* name = path != nullptr ? path : "";
    InputFileStatus status = InputFileStatus::Ok;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        CoreFopenInputFile(name, "rb", InputFileTrust::OwnerOnlyIfShared, &status), &std::fclose);
    if (!file) {
        if (status == InputFileStatus::NotRegular || status == InputFileStatus::Untrusted)
            CoreReportInputFileRefusal(name, status);
        message.Set("Unable to open boot/multi-boot image file (%s)!", name);
        return DORNE_OPEN_FAILED;
    }
    const long end = std::fseek(file.get(), 0, SEEK_END) == 0 ? std::ftell(file.get()) : -1;
    if (end < 0 || end > kMaxImageFileSize) {
        message.Set("File %s appears to be corrupted!", name);
        return DORNE_FILE_CORRUPTED;
    }
    std::vector<SD_UINT8> bytes;
    try {
        bytes.assign(static_cast<size_t>(end), 0);
    } catch (const std::bad_alloc&) {
        message.Set("Memory allocation error!");
        return DORNE_NO_MEMORY;
    }
    if (bytes.empty()) {
        // An empty file has nothing to allocate for.
        message.Set("Memory allocation error!");
        return DORNE_NO_MEMORY;
    }
    std::rewind(file.get());
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        message.Set("File %s appears to be corrupted!", name);
        return DORNE_FILE_CORRUPTED;
    }
    file.reset();

    size_t header = 0;
    if (unwrapPldm && CoreIsPLDMFwImage(bytes) != 0) {
        header = CoreGetPLDMFwImageHeaderSize(bytes);
        VORNLogMessage(VORN_MSG_DEBUG, "DorneReadImageFile: PLDM package header of %zu bytes in %zu", header,
                       bytes.size());
        // A header that claims the whole file leaves no image: the file is broken.
        if (header >= bytes.size()) {
            message.Set("File %s appears to be corrupted!", name);
            return DORNE_FILE_CORRUPTED;
        }
    }
    try {
        image->assign(bytes.begin() + static_cast<std::ptrdiff_t>(header), bytes.end());
    } catch (const std::bad_alloc&) {
        message.Set("Memory allocation error!");
        return DORNE_NO_MEMORY;
    }
    return DORNE_SUCCESS;
}

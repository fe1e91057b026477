#include "core/image_file.h"

#include <cstdio>
#include <memory>
#include <new>

#include "core/core_log.h"
#include "core/host_info.h"

ImageFileResult CoreReadImageFile(const char* path, const ImageFileOptions& options, std::vector<SD_UINT8>& image) {
    image.clear();
    const char* name = path != nullptr ? path : "";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(CoreFopenInputFile(name, "rb", nullptr), &std::fclose);
    if (!file) return ImageFileResult::OpenFailed;
    const long end = std::fseek(file.get(), 0, SEEK_END) == 0 ? std::ftell(file.get()) : -1;
    if (end < 0 || static_cast<unsigned long>(end) > options.maxSize) return ImageFileResult::Corrupted;
    if (end == 0 && options.emptyIsNoMemory) return ImageFileResult::NoMemory;
    std::vector<SD_UINT8> bytes;
    try {
        bytes.assign(static_cast<std::size_t>(end), 0);
    } catch (const std::bad_alloc&) {
        return ImageFileResult::NoMemory;
    }
    std::rewind(file.get());
    // A file that shrinks while it is read is no image to trust.
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return ImageFileResult::Corrupted;
    file.reset();

    std::size_t header = 0;
    if (options.unwrapPackage && CoreIsPLDMFwImage(bytes) != 0) {
        header = CoreGetPLDMFwImageHeaderSize(bytes);
        CoreLogMessage(ZV_MSG_DEBUG, "Image file %s: package header of %zu bytes in %zu", name, header, bytes.size());
        // A header that claims the whole file leaves no image: the file is broken.
        if (header >= bytes.size()) return ImageFileResult::Corrupted;
    }
    if (header == 0) {
        image.swap(bytes);
        return ImageFileResult::Ok;
    }
    try {
        image.assign(bytes.begin() + static_cast<std::ptrdiff_t>(header), bytes.end());
    } catch (const std::bad_alloc&) {
        return ImageFileResult::NoMemory;
    }
    return ImageFileResult::Ok;
}

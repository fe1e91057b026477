#include "core/image_file.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "core/core_log.h"
#include "core/host_info.h"

namespace {

// The files of the current run, by name.
struct RunFiles {
    std::mutex mutex;
    int runs = 0;
    std::map<std::string, std::vector<SD_UINT8>> bytes;
};

RunFiles& Run() {
    static RunFiles* run = new RunFiles;   // outlives static destructors of callers
    return *run;
}

// The run's copy of a file; false when there is none.
bool FromRun(const char* name, std::vector<SD_UINT8>& bytes) {
    RunFiles& run = Run();
    std::lock_guard<std::mutex> lock(run.mutex);
    const auto it = run.bytes.find(name);
    if (it == run.bytes.end()) return false;
    bytes = it->second;
    return true;
}

void KeepForRun(const char* name, const std::vector<SD_UINT8>& bytes) {
    RunFiles& run = Run();
    std::lock_guard<std::mutex> lock(run.mutex);
    if (run.runs > 0) run.bytes[name] = bytes;
}

}  // namespace

ImageFileRun::ImageFileRun() {
    std::lock_guard<std::mutex> lock(Run().mutex);
    ++Run().runs;
}

ImageFileRun::~ImageFileRun() {
    std::lock_guard<std::mutex> lock(Run().mutex);
    if (--Run().runs == 0) Run().bytes.clear();
}

bool CoreImageFileRunSize(const char* path, std::size_t& size) {
    if (path == nullptr) return false;
    RunFiles& run = Run();
    std::lock_guard<std::mutex> lock(run.mutex);
    const auto it = run.bytes.find(path);
    if (it == run.bytes.end()) return false;
    size = it->second.size();
    return true;
}

ImageFileResult CoreReadImageFile(const char* path, const ImageFileOptions& options, std::vector<SD_UINT8>& image) {
    image.clear();
    const char* name = path != nullptr ? path : "";
    std::vector<SD_UINT8> bytes;
    bool kept = false;
    try {
        kept = FromRun(name, bytes);
    } catch (const std::bad_alloc&) {
        return ImageFileResult::NoMemory;
    }
    if (kept) {
        if (bytes.size() > options.maxSize) return ImageFileResult::Corrupted;
        if (bytes.empty() && options.emptyIsNoMemory) return ImageFileResult::NoMemory;
    } else {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(CoreFopenInputFile(name, "rb", nullptr), &std::fclose);
        if (!file) return ImageFileResult::OpenFailed;
        const long end = std::fseek(file.get(), 0, SEEK_END) == 0 ? std::ftell(file.get()) : -1;
        if (end < 0 || static_cast<unsigned long>(end) > options.maxSize) return ImageFileResult::Corrupted;
        if (end == 0 && options.emptyIsNoMemory) return ImageFileResult::NoMemory;
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
        try {
            KeepForRun(name, bytes);
        } catch (const std::bad_alloc&) {
            // Not kept: the next read opens the file again.
        }
    }

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

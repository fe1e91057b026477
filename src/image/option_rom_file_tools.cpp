// Option-ROM file helpers.
#include "image/option_rom_file_tools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/chip_types.h"
#include "core/input_file.h"
#include "frontend/output.h"
#include "image/rom_chain.h"

namespace {

// A chain longer than this is taken for a loop.
constexpr int kMaxImages = 256;

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

}  // namespace

int PreserveFlashDefaultArea(const SDMDevice* pDevice, std::span<const SD_UINT8> current, std::span<SD_UINT8> next) {
    if (pDevice == nullptr || CoreGetISP8GbType(pDevice) == 0) return -1;
    return CorePreserveISPDefaults(pDevice, current, next);
}

int dumpFlashBufferToFile(const SDMDevice* /*pDevice*/, std::span<SD_UINT8> buf, const char* path) {
    if (path == nullptr) return -1;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        scfxPrint("Failed to open file %s for saving!", path);
        return -1;
    }
    std::size_t done = 0;
    while (done < buf.size()) {
        const ssize_t n = ::write(fd, buf.data() + done, buf.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || done != buf.size()) {
        scfxPrint("Not enought space on disk.\nYou need at least %d bytes available for the save operation!",
                  static_cast<int>(buf.size()));
        return -1;
    }
    std::memset(buf.data(), 0, buf.size());
    FilePtr f(CoreFopenInputFile(path, "rb", nullptr), &std::fclose);
    if (!f) {
        scfxPrint("Failed to open file %s for reading!", path);
        return -1;
    }
    if (std::fread(buf.data(), 1, buf.size(), f.get()) != buf.size()) {
        scfxPrint("File %s appears to be corrupted!", path);
        return -1;
    }
    return 0;
}

int scanOptionROMFile(const SDMDevice* /*pDevice*/, const char* path) {
    FilePtr f(CoreFopenInputFile(path != nullptr ? path : "", "rb", nullptr), &std::fclose);
    if (!f) return 1;
    long start = 0;
    for (int index = 0; index < kMaxImages; ++index) {
        Pci_Header_t header;
        Pci_Data_t data;
        if (GetFileImageHeader(f.get(), &header, &data, start) == 0) break;
        PrintDataStructure(&header, &data, index);
        const SD_UINT32 length = GetImageLength(&data);
        if (IsLastImage(&data) || length == 0) break;
        start += static_cast<long>(length);
    }
    return 0;
}

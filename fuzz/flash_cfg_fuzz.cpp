// flash.cfg reader: any file gives records whose texts stay terminated inside
// their fields, never more records than lines.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/flash_cfg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char path[] = "/tmp/zvfuzz-flashcfg-XXXXXX";
    static int fd = mkstemp(path);
    if (fd < 0) std::abort();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    DeleteFlashCtrVersionList();
    if (BuildFlashCtrListFromFile(path) != 0) std::abort();
    size_t lines = 1;
    for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
    size_t records = 0;
    for (const FlashCtrVersion* r = g_VersionCtrEntryList; r != nullptr; r = r->next, ++records) {
        if (strnlen(r->SubSysDeviceID, sizeof r->SubSysDeviceID) >= sizeof r->SubSysDeviceID) std::abort();
        if (strnlen(r->SubSysVendorID, sizeof r->SubSysVendorID) >= sizeof r->SubSysVendorID) std::abort();
        if (strnlen(r->Model, sizeof r->Model) >= sizeof r->Model) std::abort();
        if (strnlen(r->FileName, sizeof r->FileName) > FLASHCTR_FILE_MAX) std::abort();
    }
    if (records > lines) std::abort();
    DeleteFlashCtrVersionList();
    return 0;
}

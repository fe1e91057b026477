// flash.cfg reader: any file gives records whose texts stay terminated inside
// their fields, never more records than lines.
#include <cstdint>
#include <cstring>
#include <span>

#include "cli/flash_cfg.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = zvfuzz::ScratchDir() + "/flash.cfg";
    zvfuzz::WriteFile(path, std::span(data, size));
    DeleteFlashCtrVersionList();
    ZVFUZZ_CHECK(BuildFlashCtrListFromFile(path.c_str()) == 0);
    size_t lines = 1;
    for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
    size_t records = 0;
    for (const FlashCtrVersion* r = g_VersionCtrEntryList; r != nullptr; r = r->next, ++records) {
        ZVFUZZ_CHECK(strnlen(r->SubSysDeviceID, sizeof r->SubSysDeviceID) < sizeof r->SubSysDeviceID);
        ZVFUZZ_CHECK(strnlen(r->SubSysVendorID, sizeof r->SubSysVendorID) < sizeof r->SubSysVendorID);
        ZVFUZZ_CHECK(strnlen(r->Model, sizeof r->Model) < sizeof r->Model);
        ZVFUZZ_CHECK(strnlen(r->FileName, sizeof r->FileName) < sizeof r->FileName);
    }
    ZVFUZZ_CHECK(records <= lines);
    DeleteFlashCtrVersionList();
    return 0;
}

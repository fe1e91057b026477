// The process-wide image-update request.
#include "image/option_rom_request.h"

#include <cstring>
#include <strings.h>

#include "core/core_log.h"
#include "frontend/file_util.h"
#include "frontend/output.h"

OptionROMUserRequest* g_ptrOptionROMRequest = nullptr;

namespace {

constexpr SD_UINT32 kSmallImage = 0x10000;
constexpr SD_UINT32 kLargeImage = 0x20000;
constexpr SD_UINT32 kMaxBootImage = 0x40000;

}  // namespace

int addUserOptionROMRequest(const char* request, const char* inFile) {
    if (g_ptrOptionROMRequest == nullptr) {
        g_ptrOptionROMRequest = static_cast<OptionROMUserRequest*>(CoreZMalloc(sizeof(OptionROMUserRequest)));
        if (g_ptrOptionROMRequest == nullptr) {
            scfxPrint("Memory allocation error!");
            return OPTROM_REQ_NO_MEMORY;
        }
    }
    OptionROMUserRequest& req = *g_ptrOptionROMRequest;

    if (inFile != nullptr) {
        // A name that does not fit would name another file once cut: refuse it
        // before anything of the record changes.
        if (std::strlen(inFile) >= sizeof req.optROMFile) {
            VORNLogMessage(VORN_MSG_DEBUG, "addUserOptionROMRequest: File name longer than %zu characters!",
                           sizeof req.optROMFile - 1);
            scfxPrint("Unable to open file %s!", inFile);
            return OPTROM_REQ_OPEN_FAILED;
        }
        uint32_t size = 0;
        const int st = getFileSize(inFile, &size);
        if (st != 0) {
            scfxPrint("Unable to open file %s!", inFile);
            return st;
        }
        req.iFileSize = size;
        std::memset(req.optROMFile, 0, sizeof req.optROMFile);
        std::memcpy(req.optROMFile, inFile, std::strlen(inFile));
    }

    if (request == nullptr) {
        req.Region = OPTROM_REGION_STANDARD;
    } else if (strcasecmp(request, "all") == 0) {
        req.Region = (req.iFileSize == kSmallImage || req.iFileSize == kLargeImage) ? OPTROM_REGION_STANDARD
                                                                                    : OPTROM_REGION_ALL;
    } else if (strcasecmp(request, "fw") == 0) {
        if (req.iFileSize < kSmallImage) return OPTROM_REQ_BAD_SIZE;
        req.Region = OPTROM_REGION_FIRMWARE;
    } else if (strcasecmp(request, "boot") == 0) {
        if (req.iFileSize > kMaxBootImage) return OPTROM_REQ_BAD_SIZE;
        req.Region = OPTROM_REGION_BOOT;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "addUserOptionROMRequest: OptionROM request file=%s region=0x%x fsize=%d.",
                   req.optROMFile, req.Region, static_cast<int>(req.iFileSize));
    return OPTROM_REQ_SUCCESS;
}

void freeUserOptionROMReq() {
    VORNLogMessage(VORN_MSG_DEBUG, "freeUserOptionROMReq: Freeing allocated memory...");
    CoreFree(g_ptrOptionROMRequest);
    g_ptrOptionROMRequest = nullptr;
}

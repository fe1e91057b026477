// The process-wide image-update request: which file an update uses and which
// region (or all of them) the user asked for. Used by the main thread only.
#pragma once

#include <cstddef>

#include "mgmt/sd_types.h"

constexpr std::size_t OPTROM_FILE_NAME_SIZE = 256;   // at most 255 characters and a terminator

// Requested regions.
constexpr SD_UINT32 OPTROM_REGION_STANDARD = 0;      // the update class decides
constexpr SD_UINT32 OPTROM_REGION_FIRMWARE = 1;
constexpr SD_UINT32 OPTROM_REGION_BOOT = 7;
constexpr SD_UINT32 OPTROM_REGION_ALL = 0xFF;        // every region of a multiboot image

// Results of addUserOptionROMRequest.
constexpr int OPTROM_REQ_SUCCESS = 0;
constexpr int OPTROM_REQ_OPEN_FAILED = 1;            // also a name too long to keep
constexpr int OPTROM_REQ_BAD_SIZE = 2;               // file size does not fit the request word
constexpr int OPTROM_REQ_NO_END = 5;                 // the file's end cannot be found
constexpr int OPTROM_REQ_NO_MEMORY = 11;

typedef struct _OptionROMUserRequest {
    SD_INT32 adapterNo;
    SD_UINT32 Region;
    char optROMFile[OPTROM_FILE_NAME_SIZE];
    SD_UINT32 iFileSize;
    SD_UINT8 activateFw;
    SD_UINT8 typeFw;
    SD_UINT8 acReserved[62];
    SD_UINT32 iReserved;
} OptionROMUserRequest, *POptionROMUserRequest;

// Null while no request is registered.
extern OptionROMUserRequest* g_ptrOptionROMRequest;

// Registers (or updates) the request. `request` ("all", "fw", "boot", any case)
// may be null; `inFile` may be null (only the region word is then applied).
// A file name longer than optROMFile holds is refused like a file that cannot
// be opened (1) and leaves an existing record as it was.
int addUserOptionROMRequest(const char* request, const char* inFile);
// Releases the record and clears the pointer.
void freeUserOptionROMReq();

// Reading a K7R adapter's flash layout table through its boot-code locator.
#include "image/image_combination_k7r_layout.h"

#include <new>

#include "core/busy_retry.h"
#include "frontend/output.h"
#include "image/flash_layout_table.h"
#include "image/rom_chain.h"
#include "mgmt/sdapi.h"

namespace {

bool Allocate(std::vector<SD_UINT8>& v, std::size_t size) {
    try {
        v.assign(size, 0xFF);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

SD_UINT8 CreateK7RFlashLayout(int Device, SD_UINT16 HbaDevPortNum, std::vector<SD_UINT8>* flashLayout) {
    if (flashLayout == nullptr) return K7R_LAYOUT_NO_MEMORY;
    flashLayout->clear();
    std::vector<SD_UINT8> boot;
    if (!Allocate(boot, K7R_BOOTCODE_BUFFER_SIZE)) return K7R_LAYOUT_NO_MEMORY;
    const std::span<SD_UINT8> read(boot.data(), K7R_BOOTCODE_READ_SIZE);
    if (CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS,
                           [&] { return SDGetOptionRomOffset(Device, HbaDevPortNum, read, K7R_BOOTCODE_FLASH_OFFSET); }) !=
        SDERR_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "CreateK7RFlashLayout: Unable to read the boot code");
        return K7R_LAYOUT_BOOTCODE_UNREADABLE;
    }
    const std::span<const SD_UINT8> chain(boot);
    const SD_UINT8* end = GetBootCodeEnd(chain);
    if (end == nullptr) return K7R_LAYOUT_NO_CHAIN_END;
    const auto locator = chain.subspan(static_cast<std::size_t>(end - chain.data()));
    if (ValidateK7RFLTLocator(locator) != 1) {
        VORNLogMessage(VORN_MSG_DEBUG, "CreateK7RFlashLayout: Unable to validate FLTDS.");
        return K7R_LAYOUT_BAD_LOCATOR;
    }
    const SD_UINT32 address = FLT_Locator_GetAddress(locator);
    std::vector<SD_UINT8> table;
    if (!Allocate(table, K7R_FLASH_LAYOUT_SIZE)) return K7R_LAYOUT_TABLE_NO_MEMORY;
    if (CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS,
                           [&] { return SDGetOptionRomOffset(Device, HbaDevPortNum, table, address); }) != SDERR_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "CreateK7RFlashLayout: Unable to read the flash layout at 0x%x", address);
        return K7R_LAYOUT_TABLE_UNREADABLE;
    }
    if (ValidateFlashLayout(table) != 1) return K7R_LAYOUT_BAD_TABLE;
    *flashLayout = std::move(table);
    return K7R_LAYOUT_OK;
}

#include "core/flash_read_buffer.h"

#include "core/busy_retry.h"
#include "mgmt/sdapi.h"

SD_UINT32 FlashReadRetrying(int deviceHandle, SD_UINT32 region, std::span<SD_UINT8> buffer, SD_UINT32* pRead) {
    SD_UINT32 read = 0;
    const SD_UINT32 st = CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS, [&] {
        read = 0;
        return SDGetOptionRomEx(deviceHandle, 0, buffer, region, &read);
    });
    if (pRead != nullptr) *pRead = read;
    return st;
}

SD_UINT32 FlashReadWhole(int deviceHandle, SD_UINT32 region, FlashReadBuffer& buffer, SD_UINT32* pRead) {
    SD_UINT32 read = 0;
    SD_UINT32 st = FlashReadRetrying(deviceHandle, region, buffer.Target(), &read);
    if (pRead != nullptr) *pRead = read;
    if (st == SDERR_SUCCESS && read != buffer.Target().size()) st = SDERR_DATA_UNDERRUN;
    if (st == SDERR_SUCCESS) buffer.MarkFilled();
    return st;
}

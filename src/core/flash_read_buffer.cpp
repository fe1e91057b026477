#include "core/flash_read_buffer.h"

#include "mgmt/sdapi.h"

SD_UINT32 FlashReadWhole(int deviceHandle, SD_UINT32 region, FlashReadBuffer& buffer, SD_UINT32* pRead) {
    SD_UINT32 read = 0;
    SD_UINT32 st = SDGetOptionRomEx(deviceHandle, 0, buffer.Target(), region, &read);
    if (pRead != nullptr) *pRead = read;
    if (st == SDERR_SUCCESS && read != buffer.Target().size()) st = SDERR_DATA_UNDERRUN;
    if (st == SDERR_SUCCESS) buffer.MarkFilled();
    return st;
}

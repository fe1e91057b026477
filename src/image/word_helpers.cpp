// Word sums and byte helpers of the image code.
#include "image/word_helpers.h"

#include <algorithm>

#include "frontend/output.h"

SD_UINT32 HLPR_Sum16(std::span<const SD_UINT8> buffer, SD_UINT32 count) {
    SD_UINT16 sum = 0;
    const std::size_t words = std::min<std::size_t>(count, buffer.size() / 2);
    for (std::size_t i = 0; i < words; ++i)
        sum = static_cast<SD_UINT16>(sum + (buffer[2 * i] | buffer[2 * i + 1] << 8));
    VORNLogMessage(VORN_MSG_DEBUG, "HLPR_Sum16: count=%u sum=0x%04x", count, sum);
    return 0;
}

SD_UINT32 HLPR_Sum32(std::span<const SD_UINT8> buffer, SD_UINT32 count) {
    SD_UINT32 sum = 0;
    const std::size_t words = std::min<std::size_t>(count, buffer.size() / 4);
    for (std::size_t i = 0; i < words; ++i) {
        const std::size_t o = 4 * i;
        sum += SD_UINT32{buffer[o]} | SD_UINT32{buffer[o + 1]} << 8 | SD_UINT32{buffer[o + 2]} << 16 |
               SD_UINT32{buffer[o + 3]} << 24;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "HLPR_Sum32: count=%u sum=0x%08x", count, sum);
    return 0;
}

SD_UINT16 CalculateChksum(std::span<const SD_UINT8> buffer, SD_UINT32 count) {
    return static_cast<SD_UINT16>(0u - HLPR_Sum16(buffer, count));
}

SD_UINT32 HLPR_BEndian4(std::span<const SD_UINT8> bytes) {
    if (bytes.size() < 4) return 0;
    return SD_UINT32{bytes[0]} << 24 | SD_UINT32{bytes[1]} << 16 | SD_UINT32{bytes[2]} << 8 | bytes[3];
}

// Word-sum checksums over little-endian buffers.
#include "frontend/checksum.h"

namespace {
uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
}  // namespace

uint32_t ComputeChecksum32(std::span<uint8_t> buffer, size_t offset, uint8_t store) {
    if (buffer.data() == nullptr || buffer.size() < 4 || offset > buffer.size() - 4) return 0;
    for (size_t i = 0; i < 4; ++i) buffer[offset + i] = 0;
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= buffer.size(); i += 4) sum += le32(&buffer[i]);
    const uint32_t checksum = ~sum + 1;
    if (store != 0)
        for (size_t i = 0; i < 4; ++i) buffer[offset + i] = static_cast<uint8_t>(checksum >> (8 * i));
    return checksum;
}

uint16_t ComputeChecksum16(std::span<uint8_t> buffer, size_t offset, uint8_t store) {
    if (buffer.data() == nullptr || buffer.size() < 2 || offset > buffer.size() - 2) return 0;
    buffer[offset] = 0;
    buffer[offset + 1] = 0;
    uint16_t sum = 0;
    for (size_t i = 0; i + 2 <= buffer.size(); i += 2) sum = static_cast<uint16_t>(sum + (buffer[i] | buffer[i + 1] << 8));
    const uint16_t checksum = static_cast<uint16_t>(~sum + 1);
    if (store != 0) {
        buffer[offset] = static_cast<uint8_t>(checksum);
        buffer[offset + 1] = static_cast<uint8_t>(checksum >> 8);
    }
    return checksum;
}

uint32_t VerifyChecksum32(std::span<const uint8_t> buffer, size_t /*offset*/) {
    if (buffer.data() == nullptr) return 0;
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= buffer.size(); i += 4)
        sum += uint32_t{buffer[i]} | uint32_t{buffer[i + 1]} << 8 | uint32_t{buffer[i + 2]} << 16 |
               uint32_t{buffer[i + 3]} << 24;
    return sum;
}

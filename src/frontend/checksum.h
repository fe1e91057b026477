// Word-sum checksums over little-endian buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Zeroes the 4-byte field at offset, sums the buffer's whole 32-bit LE words and
// returns the two's complement; stores it at offset when `store` is set.
// 0 when the field does not lie inside the buffer.
uint32_t ComputeChecksum32(std::span<uint8_t> buffer, size_t offset, uint8_t store);
// The same with 16-bit words and a 2-byte field.
uint16_t ComputeChecksum16(std::span<uint8_t> buffer, size_t offset, uint8_t store);
// Sum of the buffer's whole 32-bit LE words; 0 means the checksum holds.
uint32_t VerifyChecksum32(std::span<const uint8_t> buffer, size_t offset);

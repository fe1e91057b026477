// Console helpers that no command reaches: a hex dump, waiting for the Enter
// key, and the product-id text of a SCSI device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// A header of byte numbers, then 16 bytes a line ("%08x    " offset, "%02X "
// per byte, the printable characters with "." for the others), then the
// length as "%06X  ". Console lines (silent under "-s").
void HexDump(std::span<const uint8_t> buffer);
// Reads standard input up to a newline (or its end).
void GetEnterKeystroke();
// The product id: its first two words when the first is "RAID", else the id
// cleaned (letters, digits, ".-/()" and white space), at most 64 characters.
// 0, or -1 for a null or empty text.
int GetProductIDStr(const char* text, char* out, size_t size);

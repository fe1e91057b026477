// The buffer a region is written from, kept from region to region. A region
// is its component followed by erased bytes (0xFF); most components are far
// smaller than their region, so erasing the whole tail for every region costs
// more than the write's own copy. The buffer remembers how far earlier regions
// may have changed it, and only that part of a tail is erased again.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "mgmt/sd_types.h"

struct RegionWriteBuffer {
    std::vector<SD_UINT8> bytes;   // grows, never shrinks
    std::size_t dirty = 0;         // every byte at or past this index is 0xFF
};

// The first `regionSize` bytes of the buffer, with every byte from `keep` on
// erased. The caller may then change the bytes before `changed` (at least
// `keep`; the whole region when a later step may patch anywhere in it) and
// no others. Throws std::bad_alloc when the buffer cannot grow; it is then
// left as it was.
std::span<SD_UINT8> TakeRegionWriteBuffer(RegionWriteBuffer& buffer, std::size_t regionSize, std::size_t keep,
                                          std::size_t changed);

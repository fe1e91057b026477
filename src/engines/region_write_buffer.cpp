#include "engines/region_write_buffer.h"

#include <algorithm>

std::span<SD_UINT8> TakeRegionWriteBuffer(RegionWriteBuffer& buffer, std::size_t regionSize, std::size_t keep,
                                          std::size_t changed) {
    // New bytes are erased as they are added, so what lies past `dirty` stays erased.
    if (buffer.bytes.size() < regionSize) buffer.bytes.resize(regionSize, SD_UINT8{0xFF});
    keep = std::min(keep, regionSize);
    changed = std::clamp(changed, keep, regionSize);
    const std::span<SD_UINT8> region = std::span(buffer.bytes).first(regionSize);
    if (buffer.dirty > keep) {
        std::fill(region.begin() + keep, region.begin() + std::min(buffer.dirty, regionSize), SD_UINT8{0xFF});
    }
    // Past the region, what an earlier, larger region left is still there.
    buffer.dirty = buffer.dirty > regionSize ? buffer.dirty : changed;
    return region;
}

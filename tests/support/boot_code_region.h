// Boot-code regions as the converged engines write them from a multiboot
// image: the patched chain, at once behind its last ROM image the image's
// layout table (with the time stamp and checksum the combination renewed),
// then erased bytes to the region's end; and the adapter-defaults block of a
// BIOS image of the fixture chains.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>

#include "fixtures/multiboot_image_builder.h"
#include "fixtures/rom_chain_builder.h"

namespace zvtest {

inline ::testing::AssertionResult TableThenErasedBehindChain(const zvfix::Bytes& region, size_t chainLength,
                                                             const zvfix::Bytes& image,
                                                             const zvfix::MultibootImageSpec& spec) {
    const size_t stamp = zvfix::MbiTimeStampOffset(spec), length = zvfix::MbiTableLength(spec);
    if (region.size() < chainLength + length) return ::testing::AssertionFailure() << "region too short for the table";
    const auto same = [&](size_t from, size_t to) {
        return std::equal(image.begin() + static_cast<long>(from), image.begin() + static_cast<long>(to),
                          region.begin() + static_cast<long>(chainLength + from));
    };
    // The checksum sits at bytes 8 and 9 of the header.
    if (!same(0, 8) || !same(10, stamp) || !same(stamp + 32, length))
        return ::testing::AssertionFailure() << "the image's table does not follow the chain at 0x" << std::hex
                                             << chainLength;
    const auto erased = std::find_if(region.begin() + static_cast<long>(chainLength + length), region.end(),
                                     [](uint8_t b) { return b != 0xFF; });
    if (erased != region.end())
        return ::testing::AssertionFailure() << "byte 0x" << std::hex << (erased - region.begin())
                                             << " behind the table is not erased";
    return ::testing::AssertionSuccess();
}

// The fill of the defaults block after "MEISP " in the BIOS image at `at`
// (RomImageSpec::defaultsFill), or -1 when its bytes differ.
inline int DefaultsFill(const zvfix::Bytes& rom, size_t at) {
    const size_t from = at + zvfix::kBiosDefaultsMarker + 6, to = from + 512 - 4;
    if (rom.size() < to) return -1;
    const auto first = rom.begin() + static_cast<long>(from);
    return std::all_of(first, rom.begin() + static_cast<long>(to), [&](uint8_t b) { return b == *first; }) ? *first
                                                                                                           : -1;
}

}  // namespace zvtest

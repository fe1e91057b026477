// Memo-block regions: the signature and checksum checks never read past a
// short buffer, decoding and encoding keep every byte, and a rewrite always
// leaves a block with its signature, tool id and a checksum that holds,
// without touching the rest of a region that already held one. Clearing the
// version changes nothing but the multiboot major, minor, sub and checksum.
//
// Input: a byte whose bit 0 gives new versions, a byte of checksum length in
// words, then the region.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "image/flash_memo_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool withVersions = (data[0] & 1) != 0;
    const SD_UINT32 words = data[1];
    const std::vector<SD_UINT8> region(data + 2, data + size);

    const int sig = isCorrectFlashMemoBlockSignature(region);
    ZVFUZZ_CHECK(sig == (region.size() >= 4 && std::memcmp(region.data(), "FMBS", 4) == 0 ? 1 : 0));
    const int ck = VerifyChecksum32Bit(region, words);
    ZVFUZZ_CHECK(ck == 0 || ck == 25 || ck == 29 || ck == 40);
    ZVFUZZ_CHECK((ck == 40) == region.empty());
    if (!region.empty()) ZVFUZZ_CHECK((ck == 29) == (words == 0 || size_t{words} * 4 > region.size()));

    SFlashMemoBlock block{};
    const bool decoded = FlashMemoBlockDecode(region, &block);
    ZVFUZZ_CHECK(decoded == (region.size() >= FLASH_MEMO_BLOCK_SIZE));
    if (decoded) {
        std::vector<SD_UINT8> again(FLASH_MEMO_BLOCK_SIZE, 0);
        ZVFUZZ_CHECK(FlashMemoBlockEncode(block, again));
        ZVFUZZ_CHECK(std::equal(again.begin(), again.end(), region.begin()));
    }

    std::vector<SD_UINT8> cleared = region;
    const bool named = decoded && sig == 1 && (region[20] | region[21] | region[22]) != 0;
    ZVFUZZ_CHECK(FlashMemoBlockClearVersion(cleared) == named);
    for (size_t i = 0; i < region.size(); ++i) {
        const bool changes = named && ((i >= 12 && i < 16) || (i >= 20 && i < 23));
        if (!changes) ZVFUZZ_CHECK(cleared[i] == region[i]);
        else if (i >= 20) ZVFUZZ_CHECK(cleared[i] == 0);
    }
    if (named) ZVFUZZ_CHECK(VerifyChecksum32Bit(cleared, FLASH_MEMO_BLOCK_WORDS) == 0);

    SDMDevice device{};
    MultibootVersions versions{};
    versions.NewMultibootVersionMajor = 6;
    versions.ImageBuildYear = 65535;   // wider than the four digits it gets
    versions.ImageBuildMonth = 255;
    std::vector<SD_UINT8> out = region;
    const int rc = UpdateFlashMemoBlockData(&device, out, withVersions ? &versions : nullptr);
    if (region.size() < FLASH_MEMO_BLOCK_SIZE) {
        ZVFUZZ_CHECK(rc == FLASH_MEMO_NULL_RECORD);
        ZVFUZZ_CHECK(out == region);
        return 0;
    }
    ZVFUZZ_CHECK(rc == 0);
    ZVFUZZ_CHECK(isCorrectFlashMemoBlockSignature(out) == 1);
    ZVFUZZ_CHECK(VerifyChecksum32Bit(out, FLASH_MEMO_BLOCK_WORDS) == 0);
    ZVFUZZ_CHECK(std::memcmp(out.data() + 32, "TRMB", 4) == 0);
    for (size_t i = 24; i < 32; ++i) {
        if (withVersions) ZVFUZZ_CHECK(out[i] >= '0' && out[i] <= '9');   // the build date stays eight digits
    }
    const auto rest = out.begin() + FLASH_MEMO_BLOCK_SIZE;
    if (sig == 1) ZVFUZZ_CHECK(std::equal(rest, out.end(), region.begin() + FLASH_MEMO_BLOCK_SIZE));
    else ZVFUZZ_CHECK(std::all_of(rest, out.end(), [](SD_UINT8 b) { return b == 0xFF; }));
    return 0;
}

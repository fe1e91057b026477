// VPD images: walks stop at the buffer's end, a keyword read never overfills
// the caller's buffer, and an update either refuses untouched or leaves a
// checksum that holds, never changing the image's size.
//
// Input: one byte choosing the keyword (low nibble) and the result buffer's
// size (high nibble), then the image.
#include <cstdint>
#include <cstring>
#include <vector>

#include "frontend/vpd.h"
#include "fuzz_support.h"

namespace {
const char* const kKeywords[] = {"SN", "PN", "EC", "MN", "V0", "V9", "YA", "RV",
                                 "RW", "FN", "ZZ", "V1", "VV", "RM", "FC", "S"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char* keyword = kKeywords[data[0] & 0x0F];
    const std::vector<uint8_t> vpd(data + 1, data + size);

    // Exactly-sized result, so that any overrun is seen.
    std::vector<char> result(1 + (data[0] >> 4) * 3, '\x7F');
    const int rc = VpdGetKeywordValue(vpd, keyword, result);
    ZVFUZZ_CHECK(rc == VPD_SUCCESS || rc == VPD_NO_START_TAG || rc == VPD_NO_END_TAG || rc == VPD_NOT_FOUND);
    // Text keywords are always stored terminated ("RV" and unknown ones may leave it as it was).
    if (rc == VPD_SUCCESS && std::strchr("SPEMVYF", keyword[0]) != nullptr && keyword[1] != '\0')
        ZVFUZZ_CHECK(strnlen(result.data(), result.size()) < result.size());

    std::vector<char> serial(result.size(), '\x7F');
    const int sn = getSerialNoFromVPD(vpd, serial);
    ZVFUZZ_CHECK(sn == VPD_SUCCESS || sn == VPD_NOT_FOUND || sn == VPD_INVALID || sn == VPD_CORRUPTED ||
                 sn == VPD_NULL_RESULT);
    if (sn == VPD_SUCCESS) ZVFUZZ_CHECK(strnlen(serial.data(), serial.size()) < serial.size());
    const int ck = verifyVpdChecksum(vpd);
    ZVFUZZ_CHECK(ck == VPD_SUCCESS || ck == VPD_BAD_CHECKSUM);
    const int blank = IsBlankVpd(vpd);
    ZVFUZZ_CHECK(blank == 0 || blank == 1);

    std::vector<uint8_t> after = vpd;
    const int up = UpdateVpdField(after, keyword, "NEW-VALUE-0123456789");
    ZVFUZZ_CHECK(up == VPD_SUCCESS || up == VPD_INVALID || up == VPD_NOT_FOUND || up == VPD_BAD_CHECKSUM);
    if (up == VPD_INVALID || up == VPD_NOT_FOUND) ZVFUZZ_CHECK(after == vpd);
    if (up == VPD_SUCCESS) ZVFUZZ_CHECK(verifyVpdChecksum(after) == VPD_SUCCESS);
    return 0;
}

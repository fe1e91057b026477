// VPD walks over a bounded buffer. Every item's header and value are checked
// against the buffer's end before they are read.
#include "frontend/vpd.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/busy_retry.h"
#include "core/chip_types.h"
#include "frontend/output.h"
#include "mgmt/sdapi.h"

namespace {

constexpr size_t kItemHeader = 3;

// One walked item: where it starts, where its value lies, and its whole length.
struct VpdItem {
    size_t offset = 0;
    size_t valueOffset = 0;
    size_t valueLength = 0;
    size_t length = 0;
};

enum class ZeroItem { Skip, Keyword };

// Reads the item at `offset`; false when it does not fit the buffer.
bool ReadItem(std::span<const uint8_t> vpd, size_t offset, ZeroItem zero, VpdItem& item) {
    const size_t size = vpd.size();
    if (offset >= size) return false;
    const uint8_t tag = vpd[offset];
    item.offset = offset;
    if (tag == VPD_TAG_END) {
        item.valueOffset = offset + 1;
        item.valueLength = 0;
        item.length = 1;
        return true;
    }
    if (size - offset < kItemHeader) return false;
    item.valueOffset = offset + kItemHeader;
    if (tag == VPD_TAG_READ_ONLY || tag == VPD_TAG_READ_WRITE || (tag == 0x00 && zero == ZeroItem::Skip)) {
        item.valueLength = 0;
        item.length = kItemHeader;
        return true;
    }
    if (tag == VPD_TAG_ID_STRING) {
        item.valueLength = size_t{vpd[offset + 1]} | size_t{vpd[offset + 2]} << 8;
    } else {
        item.valueLength = vpd[offset + 2];
    }
    if (size - item.valueOffset < item.valueLength) return false;
    item.length = kItemHeader + item.valueLength;
    return true;
}

bool IsKeyword(uint8_t tag) {
    return tag != VPD_TAG_END && tag != VPD_TAG_ID_STRING && tag != VPD_TAG_READ_ONLY && tag != VPD_TAG_READ_WRITE;
}

bool SameKeyword(std::span<const uint8_t> vpd, const VpdItem& item, const char* keyword) {
    return IsKeyword(vpd[item.offset]) && vpd[item.offset] == static_cast<uint8_t>(keyword[0]) &&
           vpd[item.offset + 1] == static_cast<uint8_t>(keyword[1]);
}

bool KeywordIs(std::span<const uint8_t> item, const char* keyword) {
    return item.size() >= 2 && item[0] == static_cast<uint8_t>(keyword[0]) &&
           item[1] == static_cast<uint8_t>(keyword[1]);
}

bool KeywordIn(std::span<const uint8_t> item, std::initializer_list<const char*> keywords) {
    return std::any_of(keywords.begin(), keywords.end(), [&](const char* k) { return KeywordIs(item, k); });
}

bool ValidKeyword(const char* keyword) {
    return keyword != nullptr && keyword[0] != '\0' && keyword[1] != '\0';
}

// Copies the value as text (it ends at a zero byte) into the result, cut to fit.
void CopyText(std::span<const uint8_t> value, std::span<char> result) {
    const auto end = std::find(value.begin(), value.end(), uint8_t{0});
    const size_t n = std::min(static_cast<size_t>(end - value.begin()), result.size() - 1);
    std::memcpy(result.data(), value.data(), n);
    result[n] = '\0';
}

void TrimBlanks(std::span<char> result) {
    std::string text(result.data());
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        result[0] = '\0';
        return;
    }
    const size_t last = text.find_last_not_of(" \t");
    text = text.substr(first, last - first + 1);
    std::memcpy(result.data(), text.c_str(), text.size() + 1);
}

}  // namespace

size_t VpdSizeForChipType(int chipType) { return chipType < 16 ? 512 : 1024; }

int verifyVpdStartTag(std::span<const uint8_t> vpd) {
    return std::find(vpd.begin(), vpd.end(), VPD_TAG_ID_STRING) != vpd.end() ? 0 : VPD_NO_START_TAG;
}

int verifyVpdEndTag(std::span<const uint8_t> vpd) {
    return std::find(vpd.begin(), vpd.end(), VPD_TAG_END) != vpd.end() ? 0 : VPD_NO_END_TAG;
}

int verifyVpdChecksum(std::span<const uint8_t> vpd) {
    uint8_t sum = 0;
    size_t offset = 0;
    VpdItem item;
    while (ReadItem(vpd, offset, ZeroItem::Keyword, item)) {
        const uint8_t tag = vpd[offset];
        if (tag == VPD_TAG_END) return VPD_BAD_CHECKSUM;
        if (IsKeyword(tag) && vpd[offset] == 'R' && vpd[offset + 1] == 'V') {
            // The checksum is the first value byte; an "RV" without one cannot hold.
            if (item.valueLength == 0) return VPD_BAD_CHECKSUM;
            for (size_t i = offset; i <= offset + kItemHeader; ++i) sum = static_cast<uint8_t>(sum + vpd[i]);
            return sum == 0 ? VPD_SUCCESS : VPD_BAD_CHECKSUM;
        }
        for (size_t i = offset; i < offset + item.length; ++i) sum = static_cast<uint8_t>(sum + vpd[i]);
        offset += item.length;
    }
    return VPD_BAD_CHECKSUM;
}

int IsBlankVpd(std::span<const uint8_t> vpd) {
    if (vpd.empty()) return 0;
    const uint8_t first = vpd[0];
    if (first != 0xFF && first != 0x00) return 0;
    return std::all_of(vpd.begin(), vpd.end(), [first](uint8_t b) { return b == first; }) ? 1 : 0;
}

bool VpdIsSound(std::span<const uint8_t> vpd) {
    if (vpd.empty() || vpd[0] != VPD_TAG_ID_STRING) return false;
    size_t offset = 0;
    VpdItem item;
    while (ReadItem(vpd, offset, ZeroItem::Keyword, item)) {
        if (vpd[offset] == VPD_TAG_END) return verifyVpdChecksum(vpd) == VPD_SUCCESS;
        offset += item.length;
    }
    return false;
}

int UpdateVpdField(std::span<uint8_t> vpd, const char* keyword, std::string_view value) {
    if (!ValidKeyword(keyword)) return VPD_NOT_FOUND;
    if (verifyVpdStartTag(vpd) != 0 || verifyVpdEndTag(vpd) != 0) return VPD_INVALID;

    // Walk first and write afterwards, so a malformed image is left as it was.
    std::vector<VpdItem> matches;
    size_t rvOffset = vpd.size();
    size_t rvLength = 0;
    size_t offset = 0;
    VpdItem item;
    for (;;) {
        if (!ReadItem(vpd, offset, ZeroItem::Keyword, item)) return VPD_INVALID;
        if (vpd[offset] == VPD_TAG_END) break;
        if (SameKeyword(vpd, item, keyword)) matches.push_back(item);
        if (IsKeyword(vpd[offset]) && vpd[offset] == 'R' && vpd[offset + 1] == 'V' && rvOffset == vpd.size()) {
            rvOffset = offset;
            rvLength = item.valueLength;
        }
        offset += item.length;
    }
    if (matches.empty()) return VPD_NOT_FOUND;

    for (const VpdItem& m : matches) {
        const size_t n = std::min(m.valueLength, value.size());
        std::memcpy(vpd.data() + m.valueOffset, value.data(), n);
        std::memset(vpd.data() + m.valueOffset + n, ' ', m.valueLength - n);
    }

    if (rvOffset != vpd.size() && rvLength > 0) {
        uint8_t sum = 0;
        for (size_t i = 0; i < rvOffset + kItemHeader; ++i) sum = static_cast<uint8_t>(sum + vpd[i]);
        vpd[rvOffset + kItemHeader] = static_cast<uint8_t>(0x100 - sum);
    }
    if (verifyVpdChecksum(vpd) != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateVpdField: Detected bad checksum!");
        return VPD_BAD_CHECKSUM;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateVpdField: New checksum has been verified successfully!");
    return VPD_SUCCESS;
}

char* getVpdTagField(std::span<const uint8_t> item, std::span<const uint8_t> value, std::span<char> result) {
    if (result.empty() || item.empty()) return result.data();
    if (item[0] == VPD_TAG_ID_STRING || KeywordIn(item, {"PN", "EC", "SN", "V0"})) {
        CopyText(value, result);
    } else if (KeywordIn(item, {"V2", "MN", "V1", "V3", "V4", "V5", "V9", "YA", "FC", "FN", "VV", "RM"})) {
        CopyText(value, result);
        TrimBlanks(result);
    } else if (KeywordIn(item, {"RV", "RW"}) && !value.empty()) {
        std::snprintf(result.data(), result.size(), "%02X", value[0]);
    }
    return result.data();
}

int VpdGetKeywordValue(std::span<const uint8_t> vpd, const char* keyword, std::span<char> result) {
    if (!ValidKeyword(keyword) || result.empty()) return VPD_NOT_FOUND;
    if (verifyVpdStartTag(vpd) != 0) return VPD_NO_START_TAG;
    if (verifyVpdEndTag(vpd) != 0) return VPD_NO_END_TAG;
    size_t offset = 0;
    VpdItem item;
    while (ReadItem(vpd, offset, ZeroItem::Skip, item)) {
        if (vpd[offset] == VPD_TAG_END) return VPD_NOT_FOUND;
        if (vpd[offset] != 0x00 && SameKeyword(vpd, item, keyword)) {
            getVpdTagField(vpd.subspan(offset, kItemHeader), vpd.subspan(item.valueOffset, item.valueLength), result);
            return VPD_SUCCESS;
        }
        offset += item.length;
    }
    return VPD_NOT_FOUND;
}

int retrieveSpecificVpdField(const SDMDevice* device, const char* keyword, std::span<char> result) {
    if (device == nullptr || result.empty()) return VPD_NOT_FOUND;
    std::vector<uint8_t> vpd;
    try {
        vpd.assign(VpdSizeForChipType(CoreGetISPType(device)), 0);
    } catch (const std::bad_alloc&) {
        return VPD_NO_MEMORY;
    }
    SD_UINT32 copied = 0;
    const SD_UINT32 status =
        CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS, [&] { return SDGetVpd(device->DeviceHandle, 0, vpd, &copied); });
    if (status != SDERR_SUCCESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "Error: Unable to read VPD data of HBA %d (0x%x %s)!",
                       static_cast<int>(device->DeviceNumber), status, SDGetErrorString(status));
        return VPD_NOT_FOUND;
    }
    if (verifyVpdStartTag(vpd) != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "RetrieveSpecificVPDField: No start tag found");
        return VPD_NO_START_TAG;
    }
    if (verifyVpdEndTag(vpd) != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "RetrieveSpecificVPDField: No end tag found");
        return VPD_NO_END_TAG;
    }
    return VpdGetKeywordValue(vpd, keyword, result);
}

bool VpdReadItem(std::span<const uint8_t> vpd, size_t offset, VpdItemView& view) {
    VpdItem item;
    if (!ReadItem(vpd, offset, ZeroItem::Skip, item)) return false;
    view.offset = offset;
    view.length = item.length;
    view.header = vpd.subspan(offset, std::min(kItemHeader, item.length));
    view.value = vpd.subspan(item.valueOffset, item.valueLength);
    return true;
}

int getSerialNoFromVPD(std::span<const uint8_t> vpd, std::span<char> result) {
    if (result.empty()) return VPD_NULL_RESULT;
    if (vpd.empty()) return VPD_INVALID;
    if (verifyVpdStartTag(vpd) != 0 || verifyVpdEndTag(vpd) != 0) return VPD_CORRUPTED;
    return VpdGetKeywordValue(vpd, "SN", result);
}

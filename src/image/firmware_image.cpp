// Firmware image files and the firmware region's version records.
#include "image/firmware_image.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "frontend/output.h"
#include "image/chip_name_table.h"

namespace {

SD_UINT32 BE32(std::span<const SD_UINT8> b, std::size_t word) {
    const std::size_t at = word * 4;
    return SD_UINT32{b[at]} << 24 | SD_UINT32{b[at + 1]} << 16 | SD_UINT32{b[at + 2]} << 8 | SD_UINT32{b[at + 3]};
}

// Sum of `count` words from `first`; the caller has checked the range.
SD_UINT32 WordSum(std::span<const SD_UINT8> b, std::uint64_t first, std::uint64_t count) {
    SD_UINT32 sum = 0;
    for (std::uint64_t w = first; w < first + count; ++w) sum += BE32(b, static_cast<std::size_t>(w));
    return sum;
}

// True when `text` starts at byte `at` (inside the buffer).
bool TextAt(std::span<const SD_UINT8> b, std::size_t at, const char* text) {
    const std::size_t n = std::strlen(text);
    return at <= b.size() && b.size() - at >= n && std::memcmp(b.data() + at, text, n) == 0;
}

}  // namespace

bool DecodeFwHeader(std::span<const SD_UINT8> bytes, Fw_Header_t* header) {
    if (header == nullptr || bytes.size() < FW_HEADER_SIZE) return false;
    Fw_Header_t h{};
    h.preamble[0] = BE32(bytes, 0);
    h.preamble[1] = BE32(bytes, 1);
    h.start = BE32(bytes, 2);
    h.length = BE32(bytes, 3);
    for (std::size_t i = 0; i < 3; ++i) h.revision[i] = BE32(bytes, 4 + i);
    h.attribute = BE32(bytes, 7);
    h.supported = BE32(bytes, 8);
    h.attributeEx = BE32(bytes, 9);
    std::memcpy(h.notice, bytes.data() + offsetof(Fw_Header_t, notice), sizeof h.notice);
    std::memcpy(h.name, bytes.data() + offsetof(Fw_Header_t, name), sizeof h.name);
    h.postamble = BE32(bytes, offsetof(Fw_Header_t, postamble) / 4);
    *header = h;
    return true;
}

int computeFirmwareChecksum(std::span<const SD_UINT8> pBuffer) {
    const std::uint64_t words = pBuffer.size() / 4;
    if (words < 4) return FW_IMAGE_TOO_SHORT;
    const std::uint64_t l1 = BE32(pBuffer, 3);
    if (l1 == 0) return FW_IMAGE_BAD_CHECKSUM;
    // The second segment's length word (L + 3) must be in the buffer before it is read.
    if (l1 + 4 > words) return FW_IMAGE_TOO_SHORT;
    const std::uint64_t l2 = BE32(pBuffer, static_cast<std::size_t>(l1 + 3));
    if (l2 == 0) return FW_IMAGE_BAD_CHECKSUM;
    if (l1 + l2 > words) return FW_IMAGE_TOO_SHORT;
    if (WordSum(pBuffer, 0, l1) != 0 || WordSum(pBuffer, l1, l2) != 0) return FW_IMAGE_BAD_CHECKSUM;
    return FW_IMAGE_VALID;
}

int isCorrectFirmwareImage(std::span<const SD_UINT8> m_Data, const char* hardwareType) {
    if (hardwareType == nullptr || std::strlen(hardwareType) < 5 || m_Data.empty()) return FW_IMAGE_WRONG_IMAGE;
    const std::string family = std::string("ISP") + hardwareType[3] + hardwareType[4] + "xx";
    for (std::size_t at = 0; at + family.size() <= m_Data.size(); ++at)
        if (TextAt(m_Data, at, family.c_str()) && TextAt(m_Data, at + 8, "Firmware")) return FW_IMAGE_VALID;
    return FW_IMAGE_WRONG_IMAGE;
}

int validateFirmware(std::span<const SD_UINT8> m_Data, const char* hardwareType, SD_UINT32 region) {
    const ChipNameRow* row = FindChipNameRow(FcChipNameTable(), hardwareType);
    if (region != FW_REGION_RISC || row == nullptr || !row->firmwareCheck) return FW_IMAGE_WRONG_IMAGE;
    const int st = isCorrectFirmwareImage(m_Data, hardwareType);
    return st == FW_IMAGE_VALID ? computeFirmwareChecksum(m_Data) : st;
}

int isCorrectFirmwareMBImage(std::span<const SD_UINT8> pBuffer) {
    if (pBuffer.data() == nullptr) return FW_IMAGE_WRONG_IMAGE;
    return TextAt(pBuffer, 0, "ZMBV") ? 1 : 0;
}

void getMBImageVersionInFirmware(std::span<const SD_UINT8> pBuffer, MultibootVersions* pVersions) {
    if (pVersions == nullptr) return;
    const bool present = pBuffer.size() >= 7 && TextAt(pBuffer, 0, "ZMBV");
    pVersions->ExistingMultibootVersionMajor = present ? pBuffer[4] : 0;
    pVersions->ExistingMultibootVersionMinor = present ? pBuffer[5] : 0;
    pVersions->ExistingMultibootVersionSubMinor = present ? pBuffer[6] : 0;
    VORNLogMessage(VORN_MSG_DEBUG, "getMBImageVersionInFirmware: pImageVer = %d.%02d.%02d",
                   pVersions->ExistingMultibootVersionMajor, pVersions->ExistingMultibootVersionMinor,
                   pVersions->ExistingMultibootVersionSubMinor);
}

int GetFirmwareAttribute(std::span<const SD_UINT8> pBuffer, SD_UINT32 fwCode, SD_UINT64* ufwAttributes) {
    Fw_Header_t h;
    if (ufwAttributes == nullptr || !DecodeFwHeader(pBuffer, &h)) return FW_ATTRIBUTE_NO_BUFFER;
    if (h.supported == fwCode) *ufwAttributes = SD_UINT64{h.attributeEx} << 32 | h.attribute;
    return 0;
}

int isZantoFirmwareImage(std::span<const SD_UINT8> m_Data, const char*) {
    if (!TextAt(m_Data, 82, "Zanto")) return FW_IMAGE_WRONG_IMAGE;
    for (std::size_t at = 1; at <= 128; ++at)
        if (TextAt(m_Data, at, "Firmware")) return 0;
    return FW_IMAGE_WRONG_IMAGE;
}

int validateZantoFirmware(std::span<const SD_UINT8> m_Data, const char* hardwareType, SD_UINT32 region) {
    if (region != FW_REGION_RISC || hardwareType == nullptr || std::strcmp(hardwareType, ZANTO_CHIP_NAME) != 0)
        return FW_IMAGE_WRONG_IMAGE;
    return isZantoFirmwareImage(m_Data, hardwareType);
}

int GetZantoFirmwareVersionFromImage(std::span<const SD_UINT8> m_Data, std::span<char> pVersion) {
    if (m_Data.size() < 12 || pVersion.empty()) return FW_IMAGE_WRONG_IMAGE;
    const SD_UINT32 w = SD_UINT32{m_Data[8]} | SD_UINT32{m_Data[9]} << 8 | SD_UINT32{m_Data[10]} << 16 |
                        SD_UINT32{m_Data[11]} << 24;
    const int n = std::snprintf(pVersion.data(), pVersion.size(), "%x.%x.%x", (w >> 16) & 0xFF, (w >> 8) & 0xFF,
                                w & 0xFF);
    return n >= 0 && static_cast<std::size_t>(n) < pVersion.size() ? 0 : FW_IMAGE_WRONG_IMAGE;
}

// Flash layout table locator and table.
#include "image/flash_layout_table.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "frontend/output.h"
#include "image/word_helpers.h"

namespace {

std::optional<FLT_Locator> ReadLocator(std::span<const SD_UINT8> bytes) {
    if (bytes.size() < FLT_LOCATOR_SIZE) return std::nullopt;
    FLT_Locator locator;
    std::memcpy(&locator, bytes.data(), sizeof locator);
    return locator;
}

std::optional<FlashLayoutTableHeader> ReadHeader(std::span<const SD_UINT8> table) {
    if (table.size() < FLT_HEADER_SIZE) return std::nullopt;
    FlashLayoutTableHeader header;
    std::memcpy(&header, table.data(), sizeof header);
    return header;
}

bool LocatorSignatureHolds(std::span<const SD_UINT8> bytes, const char* name) {
    static constexpr char kSignature[] = "ZFLT";
    bool holds = bytes.size() >= FLT_LOCATOR_SIZE && bytes[4] == 0;
    for (std::size_t i = 0; holds && i < 4; ++i)
        holds = std::toupper(bytes[i]) == kSignature[i];
    // The word sum is only logged: locators in the field are not held to their checksum.
    if (holds) CalculateChksum(bytes.first(FLT_LOCATOR_SIZE), FLT_LOCATOR_SIZE / 2);
    if (!holds) VORNLogMessage(VORN_MSG_DEBUG, "%s: Signature Match Failed!", name);
    return holds;
}

void LogTable(const char* name, const FlashLayoutTableHeader& header, std::span<const SD_UINT8> table) {
    VORNLogMessage(VORN_MSG_DEBUG, "%s: version=%u length=%u checksum=0x%04x", name, header.fltVersion,
                   header.fltLength, header.checksum);
    // Logged only, like every table checksum of the image code.
    const std::size_t covered = std::min<std::size_t>(table.size(), FLT_HEADER_SIZE + header.fltLength);
    CalculateChksum(table.first(covered), static_cast<SD_UINT32>(covered / 2));
}

}  // namespace

SD_UINT32 FLT_Locator_GetAddress(std::span<const SD_UINT8> locator) {
    const auto l = ReadLocator(locator);
    return l ? HLPR_GetDoubleWord(l->addr_l, l->addr_h) : 0;
}

int ValidateFLTLocator(std::span<const SD_UINT8> locator) {
    if (!LocatorSignatureHolds(locator, "ValidateFLTLocator")) return 0;
    VORNLogMessage(VORN_MSG_DEBUG, "ValidateFLTLocator: FLTDS OK!");
    return 1;
}

int ValidateK7RFLTLocator(std::span<const SD_UINT8> locator) {
    if (!LocatorSignatureHolds(locator, "ValidateK7RFLTLocator")) return 0;
    if (FLT_Locator_GetAddress(locator) == FLT_K7R_INVALID_ADDRESS) {
        VORNLogMessage(VORN_MSG_DEBUG, "ValidateK7RFLTLocator: Invalid FLT offset!");
        return 0;
    }
    return 1;
}

int ValidateFlashLayout(std::span<const SD_UINT8> table) {
    const auto header = ReadHeader(table);
    if (!header) return 0;
    LogTable("ValidateFlashLayout", *header, table);
    VORNLogMessage(VORN_MSG_DEBUG, "ValidateFlashLayout: FLT OK!");
    return 1;
}

SD_UINT16 GetFlashLayoutVersion(std::span<const SD_UINT8> table) {
    const auto header = ReadHeader(table);
    if (!header) return 0;
    LogTable("GetFlashLayoutVersion", *header, table);
    return header->fltVersion;
}

std::optional<FlashLayoutTableEntry> GetFlashLayoutEntryByRegionCode(std::span<const SD_UINT8> table,
                                                                     SD_UINT8 regionCode) {
    if (ValidateFlashLayout(table) == 0) return std::nullopt;
    const auto header = ReadHeader(table);
    // Every entry the length gives is searched (not only as many as an
    // 8-bit count would reach); a length past the buffer is no table.
    if (FLT_HEADER_SIZE + std::size_t{header->fltLength} > table.size()) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetFlashLayoutEntryByRegionCode: length %u reaches past the %zu-byte table",
                       header->fltLength, table.size());
        return std::nullopt;
    }
    const std::size_t count = header->fltLength / FLT_ENTRY_SIZE;
    for (std::size_t i = 0; i < count; ++i) {
        FlashLayoutTableEntry entry;
        std::memcpy(&entry, table.data() + FLT_HEADER_SIZE + FLT_ENTRY_SIZE * i, sizeof entry);
        VORNLogMessage(VORN_MSG_DEBUG,
                       "GetFlashLayoutEntryByRegionCode: code=0x%x attribute=0x%x length=0x%x offset=0x%x",
                       entry.region_code, entry.attribute, entry.size, entry.begin_address);
        if (entry.region_code == regionCode) return entry;
    }
    return std::nullopt;
}

void DestroyFlashLayout(std::vector<SD_UINT8>* table) {
    if (table == nullptr) return;
    std::vector<SD_UINT8>().swap(*table);
}

// Chip-revision rule, component copy and time stamp of image layout table entries.
#include "image/ilt_entry_data.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "frontend/output.h"
#include "image/ilt_accessors.h"
#include "image/word_helpers.h"

namespace {

// Region codes whose components fit every chip revision.
constexpr std::array<SD_UINT16, 32> kAnyRevision = {
    0x00, 0x01, 0x07, 0x11, 0x13, 0x14, 0x16, 0x2E, 0x4F, 0x66, 0x72,  0x73,  0x95,  0x96,  0x9E,  0xA2,
    0xA4, 0xBA, 0xCF, 0xD2, 0xD3, 0xD4, 0xD6, 0xE1, 0xE5, 0x101, 0x102, 0x103, 0x10C, 0x10E, 0x110, 0x112};

constexpr SD_UINT16 kConvergedRevision = 0x54;   // chip revision of the 0x74 converged firmware
constexpr SD_UINT16 kLaterRevisions = 0x58;      // first revision of the 0x97 converged firmware

int ChipRevisionRule(const ILT_Region_t& r, SD_UINT16 adapter) {
    const SD_UINT16 image = r.chipRev;
    if (std::find(kAnyRevision.begin(), kAnyRevision.end(), r.regionType) != kAnyRevision.end()) return 0;
    switch (r.regionType) {
        case 0xD1: {
            const char* kind = r.swapModeCardType <= 1   ? "Dorne PEP OP Firmware"
                               : r.swapModeCardType == 2 ? "Brantix PEP OP Firmware"
                                                         : "Unknown OP Firmware";
            VORNLogMessage(VORN_MSG_DEBUG, "ValidateImageChipRevision: %s", kind);
            return 0;
        }
        case 0x70:   // CRB init
            if (image == 0) return 0;
            if (adapter == 0) return ILT_CHIPREV_NO_ADAPTER_REV;
            return image == adapter ? 0 : ILT_CHIPREV_WRONG_REGION;
        case 0x74:   // converged firmware of the first revision
            if (image == 0) return adapter == kConvergedRevision ? 0 : ILT_CHIPREV_CONVERGED_FW;
            if (adapter != kConvergedRevision) return ILT_CHIPREV_WRONG_REGION;
            return image == adapter ? 0 : ILT_CHIPREV_CONVERGED_FW;
        case 0x97:   // converged firmware of the later revisions
            if (image == 0) return 0;
            if (adapter < kLaterRevisions) return ILT_CHIPREV_CONVERGED_FW;
            return image == adapter ? 0 : ILT_CHIPREV_WRONG_REGION;
        case 0xA3:   // minidump template
            return image == 0 ? 0 : ILT_CHIPREV_MINIDUMP;
        case 0xB1:   // reset sequence
            return image == 0 ? 0 : ILT_CHIPREV_RESET_SEQUENCE;
        default:
            return ILT_CHIPREV_WRONG_REGION;
    }
}

}  // namespace

int ValidateImageChipRevision(const ILT_Region_t* region, SD_UINT16 adapterChipRev) {
    if (region == nullptr) return ILT_CHIPREV_WRONG_REGION;
    const int ret = ChipRevisionRule(*region, adapterChipRev);
    VORNLogMessage(VORN_MSG_DEBUG,
                   "ValidateImageChipRevision: image rev=0x%x adapter rev=0x%x swap/card type=0x%x offset=0x%x "
                   "size=0x%x",
                   region->chipRev, adapterChipRev, region->swapModeCardType,
                   HLPR_GetDoubleWord(region->offsetLo, region->offsetHi),
                   HLPR_GetDoubleWord(region->sizeLo, region->sizeHi));
    VORNLogMessage(VORN_MSG_DEBUG, "ValidateImageChipRevision: Region No=0x%x Ret=%d", region->regionType, ret);
    return ret;
}

int GetSpecificImageComponentInBuffer(std::span<SD_UINT8> dest, std::span<const SD_UINT8> image,
                                      const ILT_Region_t* region) {
    if (region == nullptr) return ILT_COPY_NO_ENTRY;
    const auto component = ILT_Region_GetComponent(image, *region);
    if (!component || component->size() > dest.size()) {
        VORNLogMessage(VORN_MSG_DEBUG,
                       "GetSpecificImageComponentInBuffer: region 0x%x (0x%x bytes at 0x%x) does not fit the image "
                       "or the 0x%zx-byte buffer",
                       region->regionType, HLPR_GetDoubleWord(region->sizeLo, region->sizeHi),
                       HLPR_GetDoubleWord(region->offsetLo, region->offsetHi), dest.size());
        return ILT_COPY_OUT_OF_BOUNDS;
    }
    std::memcpy(dest.data(), component->data(), component->size());
    return 0;
}

int UdpateTimeStampAt(std::span<SD_UINT8> dest, std::span<SD_UINT8> ilt, const std::tm* local) {
    const auto header = ILT_Header_Get(ilt);
    if (!header) {
        VORNLogMessage(VORN_MSG_DEBUG, "UdpateTimeStamp: No image layout table");
        return 0;
    }
    const std::size_t length = header->tableLength;
    // The stamp must land inside the copied table, past the header: a table
    // without entries would have it overwrite the header itself.
    const std::size_t stampAt = ILT_TimeStampOffset(header->numOfEntries);
    if (header->numOfEntries < 1 || stampAt + ILT_ENTRY_SIZE > length || length > ilt.size() ||
        length > dest.size()) {
        VORNLogMessage(VORN_MSG_DEBUG,
                       "UdpateTimeStamp: Table of %zu bytes with %u entries does not fit (%zu-byte image, "
                       "%zu-byte buffer)",
                       length, header->numOfEntries, ilt.size(), dest.size());
        return 0;
    }
    constexpr std::size_t kChecksumAt = offsetof(ILT_Header_t, tableChecksum);
    ilt[kChecksumAt] = 0;
    ilt[kChecksumAt + 1] = 0;
    std::memmove(dest.data(), ilt.data(), length);

    if (local != nullptr) {
        ILT_Timestamp_t stamp;
        std::memcpy(&stamp, dest.data() + stampAt, sizeof stamp);
        stamp.dateMonth = static_cast<SD_UINT8>(local->tm_mon + 1);
        stamp.dateDay = static_cast<SD_UINT8>(local->tm_mday);
        stamp.dateYear = static_cast<SD_UINT16>(local->tm_year + 1900);
        stamp.timeHour = static_cast<SD_UINT8>(local->tm_hour);
        stamp.timeMin = static_cast<SD_UINT8>(local->tm_min);
        stamp.funSource = ILT_STAMP_SOURCE;
        stamp.originatorID = ILT_STAMP_ORIGINATOR;
        std::memcpy(dest.data() + stampAt, &stamp, sizeof stamp);
        VORNLogMessage(VORN_MSG_DEBUG, "UdpateTimeStamp: %02d/%02d/%04d %02d:%02d", stamp.dateMonth, stamp.dateDay,
                       stamp.dateYear, stamp.timeHour, stamp.timeMin);
    }
    const SD_UINT16 checksum = CalculateChksum(dest.first(length), static_cast<SD_UINT32>(length / 2));
    ilt[kChecksumAt] = static_cast<SD_UINT8>(checksum);
    ilt[kChecksumAt + 1] = static_cast<SD_UINT8>(checksum >> 8);
    return 1;
}

int UdpateTimeStamp(std::span<SD_UINT8> dest, std::span<SD_UINT8> ilt) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    return UdpateTimeStampAt(dest, ilt, localtime_r(&now, &local) != nullptr ? &local : nullptr);
}

int GetImageTimeStamp(std::span<const SD_UINT8> ilt) {
    const auto stamp = ILT_Region_GetTimeStampEntry(ilt);
    if (!stamp) return -1;
    VORNLogMessage(VORN_MSG_DEBUG, "GetImageTimeStamp: %02d/%02d/%04d %02d:%02d", stamp->dateMonth, stamp->dateDay,
                   stamp->dateYear, stamp->timeHour, stamp->timeMin);
    return 0;
}

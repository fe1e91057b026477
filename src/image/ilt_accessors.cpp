// Bounded reads of the image layout table.
#include "image/ilt_accessors.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frontend/output.h"
#include "image/word_helpers.h"

namespace {

// A record of type T at `offset`, when it lies wholly inside the buffer.
template <typename T>
std::optional<T> ReadRecord(IltBytes buffer, std::size_t offset) {
    if (offset > buffer.size() || buffer.size() - offset < sizeof(T)) return std::nullopt;
    T record;
    std::memcpy(&record, buffer.data() + offset, sizeof(T));
    return record;
}

bool SignatureIs(IltBytes buffer, const char (&signature)[4]) {
    bool same = true;
    for (std::size_t i = 0; i < 4; ++i) {
        VORNLogMessage(VORN_MSG_DEBUG, "ILT_Header_CompareSignature: [%zu] 0x%02x vs 0x%02x", i, buffer[i],
                       static_cast<unsigned char>(signature[i]));
        if (buffer[i] != static_cast<unsigned char>(signature[i])) same = false;
    }
    return same;
}

}  // namespace

bool ILT_Header_CompareSignature(IltBytes buffer) {
    if (buffer.size() < 4) return false;
    return SignatureIs(buffer, ILT_HEADER) || SignatureIs(buffer, ILT_HEADER_V2);
}

std::optional<ILT_Header_t> ILT_Header_Get(IltBytes buffer) { return ReadRecord<ILT_Header_t>(buffer, 0); }

SD_UINT16 ILT_Header_GetTableVersion(IltBytes buffer) {
    const auto h = ILT_Header_Get(buffer);
    return h ? h->tableVersion : 0;
}

SD_UINT16 ILT_Header_GetTableLength(IltBytes buffer) {
    const auto h = ILT_Header_Get(buffer);
    return h ? h->tableLength : 0;
}

SD_UINT16 ILT_Header_GetTableCheckSum(IltBytes buffer) {
    const auto h = ILT_Header_Get(buffer);
    return h ? h->tableChecksum : 0;
}

SD_UINT16 ILT_Header_GetNumOfRegionEntries(IltBytes buffer) {
    const auto h = ILT_Header_Get(buffer);
    return h ? h->numOfEntries : 0;
}

bool ILT_Header_IsTableVersionMatched(IltBytes buffer, SD_UINT16 ver) {
    const auto h = ILT_Header_Get(buffer);
    return h && h->tableVersion <= ver;
}

int ILT_Header_GetImageHeaderSize(IltBytes) { return 23; }

const char* ILT_Header_GetImageVersion(IltBytes buffer, std::span<char> pImageVer) {
    if (pImageVer.empty()) return nullptr;
    pImageVer[0] = '\0';
    if (const auto h = ILT_Header_Get(buffer))
        std::snprintf(pImageVer.data(), pImageVer.size(), "%02d.%02d.%02d", h->imageVersion[0], h->imageVersion[1],
                      h->imageVersion[2]);
    return pImageVer.data();
}

int ILT_Header_GetImageVersionNoSeparator(IltBytes buffer, std::span<char> pImageVer) {
    const auto h = ILT_Header_Get(buffer);
    if (!h || pImageVer.size() < 6) return -1;
    char text[16];
    std::snprintf(text, sizeof text, "%02d%02d%02d", h->imageVersion[0], h->imageVersion[1], h->imageVersion[2]);
    std::memcpy(pImageVer.data(), text, 6);
    return 0;
}

std::optional<ILT_Region_t> ILT_Region_GetRegionByIndex(IltBytes buffer, SD_UINT16 index) {
    const int last = static_cast<int>(ILT_Header_GetNumOfRegionEntries(buffer)) - 2;
    if (static_cast<int>(index) > last) return std::nullopt;
    return ReadRecord<ILT_Region_t>(buffer, ILT_RegionOffset(index));
}

std::optional<ILT_Timestamp_t> ILT_Region_GetTimeStampEntry(IltBytes buffer) {
    const SD_UINT16 n = ILT_Header_GetNumOfRegionEntries(buffer);
    if (n < 1) return std::nullopt;
    return ReadRecord<ILT_Timestamp_t>(buffer, ILT_TimeStampOffset(n));
}

std::optional<ILT_CardType_Header_t> ILT_CardType_Header_GetCardListHeader(IltBytes buffer) {
    const SD_UINT16 n = ILT_Header_GetNumOfRegionEntries(buffer);
    if (n < 1) return std::nullopt;
    return ReadRecord<ILT_CardType_Header_t>(buffer, ILT_CardTypeHeaderOffset(n));
}

SD_UINT16 ILT_CardType_Header_GetNumOfCardTypeList(IltBytes buffer) {
    const auto h = ILT_CardType_Header_GetCardListHeader(buffer);
    return h ? h->noCardTypeList : 0;
}

std::optional<ILT_CardTypeListPos> ILT_CardTypeList_First(IltBytes buffer) {
    const SD_UINT16 n = ILT_Header_GetNumOfRegionEntries(buffer);
    if (n < 1) return std::nullopt;
    const std::size_t offset = ILT_CardTypeHeaderOffset(n) + ILT_CARDTYPE_HEADER_SIZE;
    const auto list = ReadRecord<ILT_CardTypeList_t>(buffer, offset);
    if (!list) return std::nullopt;
    return ILT_CardTypeListPos{*list, offset};
}

std::optional<ILT_CardTypeListPos> ILT_CardTypeList_Next(IltBytes buffer, const ILT_CardTypeListPos& pos) {
    const std::size_t offset =
        pos.offset + ILT_CARDTYPE_LIST_SIZE + ILT_CARDTYPE_ENTRY_SIZE * std::size_t{pos.list.noEntriesInList};
    const auto list = ReadRecord<ILT_CardTypeList_t>(buffer, offset);
    if (!list) return std::nullopt;
    return ILT_CardTypeListPos{*list, offset};
}

std::optional<ILT_CardTypeList_Entry_t> ILT_CardTypeList_GetEntry(IltBytes buffer, const ILT_CardTypeListPos& pos,
                                                                  SD_UINT16 index) {
    if (index >= pos.list.noEntriesInList) return std::nullopt;
    return ReadRecord<ILT_CardTypeList_Entry_t>(
        buffer, pos.offset + ILT_CARDTYPE_LIST_SIZE + ILT_CARDTYPE_ENTRY_SIZE * std::size_t{index});
}

std::optional<ILT_CardTypeList_t> ILT_CardTypeList_GetCardTypeListByIndex(IltBytes buffer, SD_UINT16 index) {
    if (index != 0 && index >= ILT_CardType_Header_GetNumOfCardTypeList(buffer)) return std::nullopt;
    auto pos = ILT_CardTypeList_First(buffer);
    for (SD_UINT16 i = 0; pos && i < index; ++i) pos = ILT_CardTypeList_Next(buffer, *pos);
    if (!pos) return std::nullopt;
    return pos->list;
}

bool ILT_IsTableWithinBuffer(IltBytes buffer) {
    const SD_UINT16 n = ILT_Header_GetNumOfRegionEntries(buffer);
    if (n < 1) {
        VORNLogMessage(VORN_MSG_DEBUG, "ILT_IsTableWithinBuffer: table without entries");
        return false;
    }
    const auto header = ILT_CardType_Header_GetCardListHeader(buffer);
    if (!header) {
        VORNLogMessage(VORN_MSG_DEBUG, "ILT_IsTableWithinBuffer: %u entries reach past the %zu-byte buffer", n,
                       buffer.size());
        return false;
    }
    if (header->noCardTypeList > ILT_MAX_CARDTYPE_COUNT) {
        VORNLogMessage(VORN_MSG_DEBUG, "ILT_IsTableWithinBuffer: too many card-type lists (%u)",
                       header->noCardTypeList);
        return false;
    }
    auto pos = ILT_CardTypeList_First(buffer);
    for (SD_UINT32 i = 0; i < header->noCardTypeList; ++i) {
        if (i > 0 && pos) pos = ILT_CardTypeList_Next(buffer, *pos);
        if (!pos) {
            VORNLogMessage(VORN_MSG_DEBUG, "ILT_IsTableWithinBuffer: card-type list %u lies past the buffer", i);
            return false;
        }
        const std::size_t end =
            pos->offset + ILT_CARDTYPE_LIST_SIZE + ILT_CARDTYPE_ENTRY_SIZE * std::size_t{pos->list.noEntriesInList};
        if (pos->list.noEntriesInList > ILT_MAX_CARDTYPE_COUNT || end > buffer.size()) {
            VORNLogMessage(VORN_MSG_DEBUG, "ILT_IsTableWithinBuffer: card-type list %u (%u entries) does not fit", i,
                           pos->list.noEntriesInList);
            return false;
        }
    }
    return true;
}

std::optional<IltBytes> ILT_Region_GetComponent(IltBytes buffer, const ILT_Region_t& region) {
    const std::size_t offset = HLPR_GetDoubleWord(region.offsetLo, region.offsetHi);
    const std::size_t size = HLPR_GetDoubleWord(region.sizeLo, region.sizeHi);
    if (offset > buffer.size() || buffer.size() - offset < size) return std::nullopt;
    return buffer.subspan(offset, size);
}

bool ILT_AreComponentsWithinBuffer(IltBytes buffer) {
    const int count = static_cast<int>(ILT_Header_GetNumOfRegionEntries(buffer)) - 1;
    for (int i = 0; i < count; ++i) {
        const auto region = ILT_Region_GetRegionByIndex(buffer, static_cast<SD_UINT16>(i));
        if (!region) return false;
        if (!ILT_Region_GetComponent(buffer, *region)) {
            VORNLogMessage(VORN_MSG_DEBUG,
                           "ILT_AreComponentsWithinBuffer: region 0x%x at 0x%x (0x%x bytes) lies past the buffer",
                           region->regionType, HLPR_GetDoubleWord(region->offsetLo, region->offsetHi),
                           HLPR_GetDoubleWord(region->sizeLo, region->sizeHi));
            return false;
        }
    }
    return true;
}

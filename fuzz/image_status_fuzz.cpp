// Image-status and auxiliary records: whatever the flash held, a switch that
// reports success leaves the requested set valid and active and the other
// one inactive and sealed; a flip updates one record with only the requested
// component changed; a hold leaves what runs deciding; short records read
// as zero; checksums stay in bounds.
//
// Input (fixed layout, missing bytes read as erased 0xFF):
//   0 flags (bit 0: activate set 2, bit 1: chip type 27), 1 component request,
//   2 tool id, 3 length of a short record, 4 checksum size, 5 checksum offset,
//   6.. primary, secondary, first and second auxiliary records (16 bytes each),
//   70.. a buffer for the checksum helpers.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/active_regions.h"
#include "core/image_status.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<SD_UINT8>;

Bytes Take(const uint8_t* data, size_t size, size_t at, size_t n) {
    Bytes b(n, 0xFF);
    for (size_t i = 0; i < n && at + i < size; ++i) b[i] = data[at + i];
    return b;
}

void CheckSwitch(Bytes first, Bytes second, int chipType, int set) {
    const SD_UINT32 signature = chipType == 27 ? IMAGE_STATUS_SIGNATURE_27 : IMAGE_STATUS_SIGNATURE_25;
    ZVFUZZ_CHECK(CoreBuildImageStatusSwitch(first, second, chipType, set) == 0);
    const Bytes& on = set == 1 ? first : second;
    const Bytes& off = set == 1 ? second : first;
    ZVFUZZ_CHECK(CoreIsImageStatusRegionValid(on, signature));
    ZVFUZZ_CHECK((CoreGetImageStatusMask(on) & 1) == 1);
    ZVFUZZ_CHECK((CoreGetImageStatusMask(off) & 1) == 0);
    ZVFUZZ_CHECK(CoreValidateChecksum32(off, 16) == 0);
}

void CheckFlip(Bytes x, Bytes y, SD_UINT8 request, SD_UINT8 toolId, SD_UINT8 serving) {
    const bool xValid = CoreIsImageStatusRegionValid(x, AUX_IMAGE_STATUS_SIGNATURE);
    const bool yValid = CoreIsImageStatusRegionValid(y, AUX_IMAGE_STATUS_SIGNATURE);
    const Bytes x0 = x, y0 = y;
    int which = 0;
    ZVFUZZ_CHECK(CoreBuildAuxImageStatusFlip(x, y, request, toolId, &which, serving) == 0);
    ZVFUZZ_CHECK(which == 1 || which == 2);
    const Bytes& upd = which == 1 ? x : y;
    const Bytes& other = which == 1 ? y : x;
    const Bytes& other0 = which == 1 ? y0 : x0;
    const bool otherValid = which == 1 ? yValid : xValid;
    ZVFUZZ_CHECK(CoreIsImageStatusRegionValid(upd, AUX_IMAGE_STATUS_SIGNATURE));
    ZVFUZZ_CHECK((CoreGetImageStatusMask(upd) & 1) == 1 && (CoreGetImageStatusMask(other) & 1) == 0);
    ZVFUZZ_CHECK(CoreGetImageStatusToolId(upd) == toolId);
    ZVFUZZ_CHECK(CoreValidateChecksum32(other, 16) == 0);
    // Only the requested component may differ from the copy the adapter runs
    // from: it names the copy that does not serve, or is flipped when that is not known.
    const SD_UINT8 component = request == 0 ? AUX_COMPONENT_BOARD_CONFIG : static_cast<SD_UINT8>(request & -request);
    const SD_UINT8 base = otherValid ? other0[5] : 0;
    const SD_UINT8 moved = serving == 1   ? static_cast<SD_UINT8>(base | component)
                           : serving == 2 ? static_cast<SD_UINT8>(base & ~component)
                                          : static_cast<SD_UINT8>(base ^ component);
    const SD_UINT8 expected = component <= AUX_COMPONENT_NPIV_23 ? moved : base;
    // An updated record that was not valid keeps none of its old bytes.
    const bool updValid = which == 1 ? xValid : yValid;
    if (!updValid) ZVFUZZ_CHECK(upd[0] == 1 && (upd[6] == 0 || upd[6] == other0[6]));
    ZVFUZZ_CHECK(CoreGetImageStatusComponentsBitMap(upd) == expected);
}

// A hold leaves the running set deciding (and after its first write alone
// too), and the switch built from the records as found is the same.
void CheckHold(Bytes primary, Bytes secondary, int chipType, int running) {
    const Bytes p0 = primary, s0 = secondary;
    const auto boots = [chipType](const Bytes& p, const Bytes& s) {
        ACTIVE_REGIONS r{};
        CoreDecideFlashActiveRegions(p, s, {}, {}, chipType, &r);
        return int{r.ActiveGlobalRegions};
    };
    if (!CoreBuildImageStatusHold(primary, secondary, chipType, running)) {
        ZVFUZZ_CHECK(primary == p0 && secondary == s0);
        return;
    }
    ZVFUZZ_CHECK(boots(primary, secondary) == running);
    // Unless the generation wrapped, the running set's record alone decides too.
    const SD_UINT32 signature = chipType == 27 ? IMAGE_STATUS_SIGNATURE_27 : IMAGE_STATUS_SIGNATURE_25;
    const Bytes& other = running == 1 ? s0 : p0;
    const SD_UINT16 held = CoreGetImageStatusGenerationNumber(running == 1 ? primary : secondary);
    if (!CoreIsImageStatusRegionValid(other, signature) || held > CoreGetImageStatusGenerationNumber(other))
        ZVFUZZ_CHECK(boots(running == 1 ? primary : p0, running == 1 ? s0 : secondary) == running);
}

// An auxiliary hold serves the component from the running copy, decided by a valid record.
void CheckAuxHold(Bytes x, Bytes y, const Bytes& primary, const Bytes& secondary, SD_UINT8 request, SD_UINT8 copy) {
    ACTIVE_REGIONS before{}, after{};
    CoreDecideFlashActiveRegions(primary, secondary, x, y, 27, &before);
    const int decides = CoreBuildAuxImageStatusHold(x, y, primary, secondary, request, copy);
    CoreDecideFlashActiveRegions(primary, secondary, x, y, 27, &after);
    const SD_UINT8 component = request == 0 ? AUX_COMPONENT_BOARD_CONFIG : static_cast<SD_UINT8>(request & -request);
    if (decides == 0 || component > AUX_COMPONENT_NPIV_23) return;
    ZVFUZZ_CHECK(decides == 1 || decides == 2);
    ZVFUZZ_CHECK(CoreIsImageStatusRegionValid(decides == 1 ? x : y, AUX_IMAGE_STATUS_SIGNATURE));
    const SD_UINT8 served[4][2] = {{before.ActiveBoardConfig, after.ActiveBoardConfig},
                                   {before.ActiveVpdNvram, after.ActiveVpdNvram},
                                   {before.ActiveNpivConfig01, after.ActiveNpivConfig01},
                                   {before.ActiveNpivConfig23, after.ActiveNpivConfig23}};
    for (int i = 0; i < 4; ++i) {
        if ((1 << i) == component) ZVFUZZ_CHECK(served[i][1] == copy);
    }
}

void CheckShort(const Bytes& record, size_t n) {
    const Bytes cut(record.begin(), record.begin() + static_cast<long>(n));   // exact size on the heap
    ZVFUZZ_CHECK((CoreGetImageStatusSignature(cut) | CoreGetImageStatusGenerationNumber(cut) |
                  CoreGetImageStatusCheckSum(cut) | CoreGetImageStatusToolId(cut) | CoreGetImageStatusMask(cut)) == 0);
    ZVFUZZ_CHECK(!CoreIsImageStatusRegionValid(cut, IMAGE_STATUS_SIGNATURE_25));
    Bytes a = cut, b = record;
    ZVFUZZ_CHECK(CoreBuildImageStatusSwitch(a, b, 25, 1) == CORE_FLASH_FAILED);
    ZVFUZZ_CHECK(CoreBuildAuxImageStatusFlip(b, a, 1, 1, nullptr) == CORE_FLASH_FAILED);
    ZVFUZZ_CHECK(a == cut && b == record);
}

void CheckChecksum(Bytes buf, SD_UINT32 size, SD_UINT32 offset) {
    const Bytes before = buf;
    const SD_UINT32 sum = CoreCalculateChecksum32(buf, size, offset);
    const size_t covered = std::min<size_t>(size, buf.size());
    if (size_t{offset} + 4 > covered) {
        ZVFUZZ_CHECK(sum == 0 && buf == before);
    } else {
        // Only a checksum word on a word boundary can make the words sum to zero.
        if (offset % 4 == 0) ZVFUZZ_CHECK(CoreValidateChecksum32(buf, static_cast<SD_UINT32>(covered)) == 0);
        for (size_t i = 0; i < buf.size(); ++i) ZVFUZZ_CHECK(buf[i] == before[i] || (i >= offset && i < offset + 4));
    }
    ZVFUZZ_CHECK(CoreValidateChecksum32(buf, static_cast<SD_UINT32>(buf.size() + 1)) == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes head = Take(data, size, 0, 6);
    const int set = (head[0] & 1) != 0 ? 2 : 1;
    const int chipType = (head[0] & 2) != 0 ? 27 : 25;
    const Bytes primary = Take(data, size, 6, 16), secondary = Take(data, size, 22, 16);
    const Bytes aux1 = Take(data, size, 38, 16), aux2 = Take(data, size, 54, 16);
    CheckSwitch(primary, secondary, chipType, set);
    CheckFlip(aux1, aux2, head[1], head[2], static_cast<SD_UINT8>(head[4] % 3));
    CheckHold(primary, secondary, chipType, set);
    CheckAuxHold(aux1, aux2, primary, secondary, head[1], static_cast<SD_UINT8>(1 + (head[2] & 1)));
    CheckShort(primary, head[3] % IMAGE_STATUS_RECORD_SIZE);
    CheckChecksum(size > 70 ? Bytes(data + 70, data + size) : Bytes{}, head[4], head[5]);
    return 0;
}

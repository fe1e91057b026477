// Region write orders of the image sets and the set mapping.
#include "image/region_sequences.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "frontend/output.h"

namespace {

constexpr std::array<SD_UINT32, 11> kDorneOffline{0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x66,
                                                  0x01, 0x14, 0x16, 0xD4, 0xD6};
constexpr std::array<SD_UINT32, 13> kDorneOnline1{0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x67, 0x01,
                                                  0x95, 0x96, 0x14, 0x16, 0xD4, 0xD6};
constexpr std::array<SD_UINT32, 13> kDorneOnline2{0x9F, 0x09, 0xE1, 0xD3, 0xD1, 0x68, 0x02,
                                                  0x95, 0x96, 0x50, 0x52, 0xD8, 0xDA};
constexpr std::array<SD_UINT32, 16> kVrel1{0x9E, 0x07, 0x11, 0xD2,  0xD1,  0xCF, 0x13, 0x101,
                                           0xD3, 0x102, 0x103, 0xBA, 0x01, 0xDF, 0x95, 0x125};
// Set 2 holds its memo block in 0x124, the region the memo-block code pairs with 0xDF.
constexpr std::array<SD_UINT32, 16> kVrel2{0x9F,  0x09,  0x0A,  0x105, 0xF1, 0x106, 0x107, 0x108,
                                           0xF0, 0x109, 0x10A, 0x10B, 0x02, 0x124, 0x96, 0x126};
constexpr std::array<SD_UINT32, 4> kVpd{0x14, 0x16, 0xD4, 0xD6};

void LogSequence(const char* func, std::span<const SD_UINT32> seq) {
    for (std::size_t i = 0; i < seq.size(); ++i)
        VORNLogMessage(VORN_MSG_DEBUG, "%s: uFlashUpdateArraySequence[%d] = 0x%x", func, static_cast<int>(i), seq[i]);
}

// Clears the array and copies the order in, unless the array cannot hold it.
void Fill(const char* func, std::span<SD_UINT32> seq, std::span<const SD_UINT32> order) {
    std::fill(seq.begin(), seq.end(), 0u);
    if (order.size() > seq.size()) {
        VORNLogMessage(VORN_MSG_ERROR, "%s: sequence array of %d entries cannot hold %d regions!", func,
                       static_cast<int>(seq.size()), static_cast<int>(order.size()));
        return;
    }
    std::copy(order.begin(), order.end(), seq.begin());
    LogSequence(func, seq);
}

bool IsSet(SD_UINT32 set) { return set == REGION_SET_PRIMARY || set == REGION_SET_SECONDARY; }

}  // namespace

void InitImageStatusFlashUpdateSequence(std::span<SD_UINT32> seq, SD_UINT32, SD_UINT32 uActiveRegion) {
    const std::array<SD_UINT32, 2> order =
        uActiveRegion == REGION_SET_PRIMARY ? std::array<SD_UINT32, 2>{0x95, 0x96} : std::array<SD_UINT32, 2>{0x96, 0x95};
    Fill("InitImageStatusFlashUpdateSequence", seq, order);
}

void InitDorneVpdUpdateSequence(std::span<SD_UINT32> seq, SD_UINT32, SD_UINT32 initImageSet) {
    static constexpr const char* kFunc = "InitDorneVpdUpdateSequence";
    if (!IsSet(initImageSet)) {
        VORNLogMessage(VORN_MSG_DEBUG, "InitDorneVpdUpdateSequence: Uninitialize!");
        return;
    }
    VORNLogMessage(VORN_MSG_DEBUG, initImageSet == REGION_SET_PRIMARY
                                       ? "InitDorneVpdUpdateSequence: Initializing Primary Set 1..."
                                       : "InitDorneVpdUpdateSequence: Initializing Secondary Set 2...");
    if (seq.size() < kVpd.size()) {
        VORNLogMessage(VORN_MSG_ERROR, "%s: sequence array of %d entries cannot hold %d regions!", kFunc,
                       static_cast<int>(seq.size()), static_cast<int>(kVpd.size()));
        return;
    }
    std::copy(kVpd.begin(), kVpd.end(), seq.begin());
    LogSequence(kFunc, seq);
}

void InitDorneFlashUpdateSequence(std::span<SD_UINT32> seq, SD_UINT32) {
    Fill("InitDorneFlashUpdateSequence", seq, kDorneOffline);
}

void InitDorneSecuredOnlineFlashUpdateSequence(std::span<SD_UINT32> seq, SD_UINT32, SD_UINT32 initImageSet) {
    static constexpr const char* kFunc = "InitDorneSecuredOnlineFlashUpdateSequence";
    if (!IsSet(initImageSet)) {
        Fill(kFunc, seq, {});
        return;
    }
    Fill(kFunc, seq, initImageSet == REGION_SET_PRIMARY ? std::span<const SD_UINT32>(kDorneOnline1) : kDorneOnline2);
}

void InitOnlineFlashUpdateSequenceForVrelAdapter(std::span<SD_UINT32> seq, SD_UINT32, SD_UINT32 initImageSet) {
    static constexpr const char* kFunc = "InitOnlineFlashUpdateSequenceForVrelAdapter";
    if (!IsSet(initImageSet)) {
        Fill(kFunc, seq, {});
        return;
    }
    Fill(kFunc, seq, initImageSet == REGION_SET_PRIMARY ? std::span<const SD_UINT32>(kVrel1) : kVrel2);
}

SD_UINT32 GetActualRegionToUpdate(SD_UINT32 uRegion, SD_UINT32* uRetRegion, SD_INT32 iRegionSet) {
    VORNLogMessage(VORN_MSG_DEBUG, "GetActualRegionToUpdate: region in=0x%x iRegionSet=%x", uRegion,
                   static_cast<unsigned>(iRegionSet));
    SD_UINT32 out = uRegion;
    if (iRegionSet != static_cast<SD_INT32>(REGION_SET_PRIMARY)) {
        switch (uRegion) {
            case 0x01: out = 0x02; break;
            case 0x07: out = 0x09; break;
            case 0x66: out = 0x67; break;
            case 0x9E: out = 0x9F; break;
            case 0xE1: out = 0xE5; break;
            default: break;   // shared regions (VPD, image status, MPI, PEP) keep their code
        }
    }
    if (uRetRegion != nullptr) *uRetRegion = out;
    VORNLogMessage(VORN_MSG_DEBUG, "GetActualRegionToUpdate: region in=0x%x region out=0x%x (0x%x)", uRegion, out,
                   uRetRegion != nullptr ? *uRetRegion : out);
    return out;
}

SD_UINT32 GetDorneFlashImageILTRegion(SD_UINT32 uRegionNo, SD_UINT32 initImageSet) {
    if (initImageSet == REGION_SET_PRIMARY) return uRegionNo;
    switch (uRegionNo) {
        case 0x01: return 0x02;
        case 0x07: return 0x09;
        case 0x66: return 0x67;
        case 0x9E: return 0x9F;
        case 0xD1: return 0xF1;
        case 0xD3: return 0xF0;
        default: return uRegionNo;
    }
}

// Carrying an adapter's settings into an FC board configuration built from a
// template: the result either validates over its own length with the
// adapter's settings and the device's ids, or is refused untouched; no other
// byte of the new table changes.
//
// Input: the adapter's table, separator, the new table.
#include <cstdint>
#include <vector>

#include "core/host_info.h"
#include "core/image_status.h"
#include "fuzz_support.h"

namespace {
constexpr SD_UINT16 kSubVendor = 0x1A77, kSubSystem = 0x02B1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<zvfuzz::Bytes> pieces = zvfuzz::Split(data, size, 2);
    const zvfuzz::Bytes& adapter = pieces[0];
    const zvfuzz::Bytes before = pieces[1];
    zvfuzz::Bytes file = pieces[1];
    const int rc = CorePreserveFCBrdCfgBuffers(25, kSubVendor, kSubSystem, adapter, file);
    ZVFUZZ_CHECK(rc == 0 || rc == -1);
    if (rc != 0) {
        ZVFUZZ_CHECK(file == before);
        return 0;
    }
    ZVFUZZ_CHECK(file.size() >= FC_BRDCFG_MIN_SIZE && adapter.size() >= FC_BRDCFG_MIN_SIZE);
    const SD_UINT32 words = file[12] | file[13] << 8 | file[14] << 16 | static_cast<SD_UINT32>(file[15]) << 24;
    ZVFUZZ_CHECK(CoreValidateChecksum32(file, words * 4) == 0);
    ZVFUZZ_CHECK((file[16] | file[17] << 8) == kSubVendor && (file[18] | file[19] << 8) == kSubSystem);
    ZVFUZZ_CHECK(file[FC_BRDCFG_OFF_SFP_POLL_TIME] == adapter[FC_BRDCFG_OFF_SFP_POLL_TIME]);
    ZVFUZZ_CHECK(file[FC_BRDCFG_OFF_SFP_POLL_ENABLE] ==
                 ((before[FC_BRDCFG_OFF_SFP_POLL_ENABLE] & ~1) | (adapter[FC_BRDCFG_OFF_SFP_POLL_ENABLE] & 1)));
    std::vector<bool> carried(file.size(), false);
    for (size_t i : {size_t{8}, size_t{9}, size_t{10}, size_t{11}, size_t{16}, size_t{17}, size_t{18}, size_t{19},
                     FC_BRDCFG_OFF_SFP_POLL_TIME, FC_BRDCFG_OFF_SFP_POLL_ENABLE})
        carried[i] = true;
    for (size_t port = 0; port < 4; ++port) {
        const size_t bbcr = FC_BRDCFG_OFF_BBCR[port], fec = FC_BRDCFG_OFF_FEC[port];
        ZVFUZZ_CHECK(file[bbcr] == adapter[bbcr]);
        ZVFUZZ_CHECK(file[fec] == ((before[fec] & ~2) | (adapter[fec] & 2)));
        carried[bbcr] = carried[fec] = true;
    }
    for (size_t i = 0; i < file.size(); ++i) ZVFUZZ_CHECK(carried[i] || file[i] == before[i]);
    return 0;
}

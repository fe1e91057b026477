// Common transport answers of the simulated fabric.
#include "mgmt/sim/sim_fabric.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kPreamble = 16;

void PutBe32(std::span<SD_UINT8> b, size_t at, SD_UINT32 v) {
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<size_t>(i)] = static_cast<SD_UINT8>(v >> (24 - 8 * i));
    }
}

void PutWwn(std::span<SD_UINT8> b, size_t at, SD_UINT64 w) {
    for (int i = 0; i < 8; ++i) {
        b[at + static_cast<size_t>(i)] = static_cast<SD_UINT8>(w >> (56 - 8 * i));
    }
}

SD_UINT64 GetWwn(std::span<const SD_UINT8> b, size_t at) {
    SD_UINT64 w = 0;
    for (int i = 0; i < 8; ++i) {
        w = (w << 8) | b[at + static_cast<size_t>(i)];
    }
    return w;
}

// The preamble with the response code: accept, or reject with "unable to perform".
void Respond(std::span<const SD_UINT8> in, std::span<SD_UINT8> out, bool accept) {
    std::copy_n(in.begin(), kPreamble, out.begin());
    out[8] = 0x80;
    out[9] = accept ? 0x02 : 0x01;
    out[10] = out[11] = 0;
    out[13] = accept ? 0 : 0x09;
}

}  // namespace

SD_UINT32 zvsim_ct_answer(const zvsim_port& port, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                          size_t& outLen) {
    if (in.size() < kPreamble || out.size() < kPreamble) {
        return SDERR_INVALID_PARAMETER;
    }
    std::fill(out.begin(), out.end(), SD_UINT8{0});
    const SD_UINT8 gsType = in[4], gsSubtype = in[5];
    const SD_UINT16 command = static_cast<SD_UINT16>(in[8] << 8 | in[9]);
    outLen = out.size();
    if (gsType == 0xFA && gsSubtype == 0x01 && (command == 0x0101 || command == 0x0100)) {
        // The count is the fabric's; the elements stop where the answer ends.
        Respond(in, out, true);
        if (out.size() >= 20) {
            PutBe32(out, 16, static_cast<SD_UINT32>(port.fabricElements.size()));
        }
        size_t at = 20;
        for (const zvsim_fabric_element& e : port.fabricElements) {
            if (at + 12 > out.size()) {
                break;
            }
            PutWwn(out, at, e.name);
            out[at + 11] = e.type;
            at += 12;
        }
        return SDERR_SUCCESS;
    }
    if (gsType == 0xFA && gsSubtype == 0x01 && command == 0x0112) {
        const zvsim_fabric_element* found = nullptr;
        if (in.size() >= 24) {
            const SD_UINT64 name = GetWwn(in, 16);
            for (const zvsim_fabric_element& e : port.fabricElements) {
                if (e.name == name) {
                    found = &e;
                    break;
                }
            }
        }
        Respond(in, out, found != nullptr);
        if (found != nullptr && out.size() > 17) {
            out[17] = found->domain;
        }
        return SDERR_SUCCESS;
    }
    if (gsType == 0xFC && gsSubtype == 0x02 && (command == 0x011C || command == 0x0112)) {
        const SD_UINT64 name = command == 0x011C ? port.fabricPortName : port.attachedPortName;
        const bool ours = in.size() >= 20 && (static_cast<SD_UINT32>(in[17]) << 16 | in[18] << 8 | in[19]) ==
                                                 (port.portId & 0xFFFFFF);
        const bool accept = name != 0 && ours;
        Respond(in, out, accept);
        if (accept && out.size() >= 24) {
            PutWwn(out, 16, name);
        }
        return SDERR_SUCCESS;
    }
    Respond(in, out, true);
    return SDERR_SUCCESS;
}

#include "mgmt/sim/fault_transport.h"

#include <algorithm>
#include <cstring>
#include <vector>

zvsim_fault_transport::zvsim_fault_transport(std::unique_ptr<zvapi_transport> inner, std::vector<zvsim_fault> rules,
                                             std::map<SD_UINT32, std::vector<size_t>> byInstance,
                                             zvsim_fault_hooks hooks)
    : inner_(std::move(inner)),
      rules_(std::move(rules)),
      counters_(rules_.size()),
      byInstance_(std::move(byInstance)),
      hooks_(std::move(hooks)) {}

bool zvsim_fault_transport::Matches(const zvsim_fault& f, zvapi_op op, std::span<const SD_UINT8> in) const {
    if (f.op != op) {
        return false;
    }
    // hide_region names the region to hide, it does not filter the call.
    if (!f.region || f.kind == zvsim_fault::HideRegion) {
        return true;
    }
    SD_UINT32 region = 0;
    if (op == ZVOP_FLASH_READ || op == ZVOP_FLASH_WRITE) {
        if (in.size() < sizeof(zvapi_flash_io)) {
            return false;
        }
        zvapi_flash_io io{};
        std::memcpy(&io, in.data(), sizeof io);
        region = io.Region;
    } else if (op == ZVOP_REGION_ACTIVATE) {
        if (in.size() < sizeof(SD_UINT32)) {
            return false;
        }
        std::memcpy(&region, in.data(), sizeof region);
    } else {
        return false;
    }
    return region == *f.region;
}

const zvsim_fault* zvsim_fault_transport::Choose(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in) {
    auto it = byInstance_.find(instance);
    if (it == byInstance_.end()) {
        return nullptr;
    }
    const zvsim_fault* chosen = nullptr;
    for (size_t idx : it->second) {
        const zvsim_fault& f = rules_[idx];
        if (!Matches(f, op, in)) {
            continue;
        }
        Counter& c = counters_[idx];
        ++c.seen;
        if (chosen != nullptr || c.seen <= f.skip) {
            continue;
        }
        if (f.count >= 0 && c.applied >= f.count) {
            continue;
        }
        ++c.applied;
        chosen = &f;
    }
    return chosen;
}

SD_UINT32 zvsim_fault_transport::Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in,
                                         std::span<SD_UINT8> out, size_t* outLen) {
    if (const zvsim_fault* chosen = Choose(instance, op, in)) {
        return Apply(*chosen, instance, op, in, out, outLen);
    }
    return inner_->Request(instance, op, in, out, outLen);
}

SD_UINT32 zvsim_fault_transport::RequestParts(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> head,
                                              std::span<const SD_UINT8> body, std::span<SD_UINT8> out,
                                              size_t* outLen) {
    // The rules look at the record only; a fault is applied to the joined request.
    if (const zvsim_fault* chosen = Choose(instance, op, head)) {
        return Apply(*chosen, instance, op, zvapi_joined(head, body), out, outLen);
    }
    return inner_->RequestParts(instance, op, head, body, out, outLen);
}

SD_UINT32 zvsim_fault_transport::Apply(const zvsim_fault& f, SD_UINT32 instance, zvapi_op op,
                                       std::span<const SD_UINT8> in, std::span<SD_UINT8> out, size_t* outLen) {
    size_t ignored = 0;
    if (outLen == nullptr) {
        outLen = &ignored;
    }
    switch (f.kind) {
        case zvsim_fault::Status:
            *outLen = 0;
            return f.status;
        case zvsim_fault::After: {
            const SD_UINT32 st = inner_->Request(instance, op, in, out, outLen);
            return st == SDERR_SUCCESS ? f.status : st;
        }
        case zvsim_fault::Partial: {
            std::vector<SD_UINT8> cut(in.begin(), in.end());
            if (op == ZVOP_FLASH_WRITE) {
                if (cut.size() < sizeof(zvapi_flash_io)) {
                    return inner_->Request(instance, op, in, out, outLen);
                }
                zvapi_flash_io io{};
                std::memcpy(&io, cut.data(), sizeof io);
                io.Length = std::min(io.Length, f.bytes);
                std::memcpy(cut.data(), &io, sizeof io);
                cut.resize(std::min(cut.size(), sizeof io + io.Length));
            } else {
                cut.resize(std::min<size_t>(cut.size(), f.bytes));
            }
            if (hooks_.markWrite) {
                hooks_.markWrite("partial");
            }
            const SD_UINT32 st = inner_->Request(instance, op, cut, out, outLen);
            *outLen = 0;
            return st != SDERR_SUCCESS ? st : (f.status != 0 ? f.status : SDERR_UNKNOWN);
        }
        case zvsim_fault::Corrupt: {
            std::vector<SD_UINT8> bad(in.begin(), in.end());
            const size_t first = op == ZVOP_FLASH_WRITE ? sizeof(zvapi_flash_io) : 0;
            if (bad.size() > first) {
                // One flipped byte in the middle: the call still succeeds.
                bad[first + (bad.size() - first) / 2] ^= 0xFF;
                if (hooks_.markWrite) {
                    hooks_.markWrite("corrupt");
                }
            }
            return inner_->Request(instance, op, bad, out, outLen);
        }
        case zvsim_fault::Zero:
            if (out.size() < sizeof(SD_ACTIVE_REGIONS)) {
                *outLen = sizeof(SD_ACTIVE_REGIONS);
                return SDERR_BUFFER_TOO_SMALL;
            }
            std::fill(out.begin(), out.begin() + sizeof(SD_ACTIVE_REGIONS), SD_UINT8{0});
            *outLen = sizeof(SD_ACTIVE_REGIONS);
            return SDERR_SUCCESS;
        case zvsim_fault::AdvanceClock: {
            const SD_UINT32 st = inner_->Request(instance, op, in, out, outLen);
            if (hooks_.advanceClock) {
                hooks_.advanceClock(f.seconds);
            }
            return st;
        }
        case zvsim_fault::HideRegion: {
            const SD_UINT32 st = inner_->Request(instance, op, in, out, outLen);
            if (st != SDERR_SUCCESS) {
                return st;
            }
            const size_t n = std::min(*outLen, out.size()) / sizeof(zvapi_flash_region);
            size_t kept = 0;
            for (size_t i = 0; i < n; ++i) {
                zvapi_flash_region r{};
                std::memcpy(&r, out.data() + i * sizeof r, sizeof r);
                if (r.Code == *f.region) {
                    continue;
                }
                std::memcpy(out.data() + kept * sizeof r, &r, sizeof r);
                ++kept;
            }
            *outLen = kept * sizeof(zvapi_flash_region);
            return st;
        }
    }
    return inner_->Request(instance, op, in, out, outLen);
}

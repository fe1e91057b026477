// Deterministic fault injection around any transport: busy answers, failed,
// partial or silently corrupted writes, refused activations and sessions, odd
// active-region answers, refused opens, hidden regions and clock jumps, as
// configured per adapter. The simulation itself stays free of fault
// conditionals.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "mgmt/sim/sim_host.h"
#include "mgmt/transport.h"

// What the injector asks of the platform beneath it.
struct zvsim_fault_hooks {
    std::function<void(const char*)> markWrite;     // before a write whose bytes it changed ("partial", "corrupt")
    std::function<void(SD_INT64)> advanceClock;     // the platform clock jumps ahead
};

class zvsim_fault_transport : public zvapi_transport {
public:
    // rules: all fault rules; byInstance: for each port instance, the indexes
    // of the rules that apply to it.
    zvsim_fault_transport(std::unique_ptr<zvapi_transport> inner, std::vector<zvsim_fault> rules,
                          std::map<SD_UINT32, std::vector<size_t>> byInstance, zvsim_fault_hooks hooks);
    SD_UINT32 PortCount() override { return inner_->PortCount(); }
    SD_UINT32 Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                      size_t* outLen) override;
    SD_UINT32 RequestParts(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> head,
                           std::span<const SD_UINT8> body, std::span<SD_UINT8> out, size_t* outLen) override;
    std::string Describe(const std::string& key) override { return inner_->Describe(key); }
    SD_INT64 Now() override { return inner_->Now(); }

private:
    struct Counter {
        SD_UINT32 seen = 0;
        long applied = 0;
    };
    bool Matches(const zvsim_fault& f, zvapi_op op, std::span<const SD_UINT8> in) const;
    // The rule that applies to this request, counted as seen and applied; null when none.
    const zvsim_fault* Choose(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in);
    SD_UINT32 Apply(const zvsim_fault& f, SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in,
                    std::span<SD_UINT8> out, size_t* outLen);

    std::unique_ptr<zvapi_transport> inner_;
    std::vector<zvsim_fault> rules_;
    std::vector<Counter> counters_;
    std::map<SD_UINT32, std::vector<size_t>> byInstance_;
    zvsim_fault_hooks hooks_;
};

// The simulated adapter platform as a transport: answers every operation of
// transport.h from the host description, keeps flash in the adapters' files
// and the running image set in state.json.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mgmt/sim/sim_flash.h"
#include "mgmt/sim/sim_host.h"
#include "mgmt/transport.h"

class zvsim_transport : public zvapi_transport {
public:
    explicit zvsim_transport(zvsim_host host);
    SD_UINT32 PortCount() override;
    SD_UINT32 Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                      size_t* outLen) override;
    // "library_version", "failover_api_version", "host_dir".
    std::string Describe(const std::string& key) override;

    // The next flash write is journalled with this fault mark ("corrupt", "partial").
    void MarkNextWrite(const char* fault) { pendingFault_ = fault; }
    const zvsim_host& Host() const { return host_; }

private:
    struct PortRuntime {
        bool aenEnabled = false;
        bool eventsDelivered = false;
        std::map<size_t, std::vector<size_t>> scriptPos;   // target index -> answers used per script
        std::map<SD_UINT16, std::vector<SD_UINT8>> sfp;
        std::vector<SD_LUN_QOS_ENTRY> qos;
        std::array<SD_UINT32, 8> foParams{};
        bool havePersistTargets = false, havePersistLuns = false;
        std::vector<zvsim_port::FoTarget> persistTargets;
        std::vector<zvsim_port::FoLun> persistLuns;
    };

    SD_UINT32 Dispatch(zvsim_adapter& a, zvsim_port& p, PortRuntime& rt, SD_UINT32 instance, zvapi_op op,
                       std::span<const SD_UINT8> in, std::span<SD_UINT8> out, size_t& outLen);
    SD_UINT32 FlashRead(zvsim_adapter& a, std::span<const SD_UINT8> in, std::span<SD_UINT8> out, size_t& outLen);
    SD_UINT32 FlashWrite(zvsim_adapter& a, std::span<const SD_UINT8> in);
    SD_UINT32 NvramRead(zvsim_adapter& a, zvsim_port& p, std::span<SD_UINT8> out, size_t& outLen);
    SD_UINT32 NvramWrite(zvsim_adapter& a, zvsim_port& p, std::span<const SD_UINT8> in);
    SD_UINT32 VpdRead(zvsim_adapter& a, zvsim_port& p, std::span<SD_UINT8> out, size_t& outLen);
    SD_UINT32 Scsi(zvsim_port& p, PortRuntime& rt, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                   size_t& outLen);
    zvsim_running Running(const zvsim_adapter& a);
    void SetRunning(const zvsim_adapter& a, const zvsim_running& r);
    void Journal(const zvsim_adapter& a, SD_UINT32 region, SD_UINT32 offset, std::span<const SD_UINT8> bytes,
                 SD_UINT32 disableReset);

    zvsim_host host_;
    std::vector<PortRuntime> runtime_;     // per instance
    const char* pendingFault_ = "none";
};

// The host at `dir` as the platform serves it: the simulation wrapped in the
// fault injector that host.json configures. nullptr (and `err`) when the
// host cannot be read.
std::unique_ptr<zvapi_transport> zvsim_open_host(const std::string& dir, std::string& err);

// The simulated adapter platform as a transport: answers every operation of
// transport.h from the host description, keeps flash in the adapters' files
// and the running state in state.json (read once per instance, each change
// written in place at once), and cuts the power where host.json says so.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "mgmt/sim/sim_flash.h"
#include "mgmt/sim/sim_host.h"
#include "mgmt/sim/sim_state_file.h"
#include "mgmt/transport.h"

class zvsim_transport : public zvapi_transport {
public:
    explicit zvsim_transport(zvsim_host host);
    // The host goes back to the reader for the next library load.
    ~zvsim_transport() override;
    SD_UINT32 PortCount() override;
    SD_UINT32 Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                      size_t* outLen) override;
    // A flash write's header and bytes are taken apart; other requests are joined.
    SD_UINT32 RequestParts(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> head,
                           std::span<const SD_UINT8> body, std::span<SD_UINT8> out, size_t* outLen) override;
    // "library_version", "failover_api_version", "host_dir".
    std::string Describe(const std::string& key) override;
    // Wall clock plus the host's clock offset (state.json).
    SD_INT64 Now() override;

    // The next flash write is journalled with this fault mark ("corrupt", "partial").
    void MarkNextWrite(const char* fault) { pendingFault_ = fault; }
    // Moves the platform clock ahead (kept in state.json).
    void AdvanceClock(SD_INT64 seconds);
    const zvsim_host& Host() const { return host_; }

private:
    struct PortRuntime {
        bool aenEnabled = false;
        bool eventsDelivered = false;
        std::map<size_t, std::vector<size_t>> scriptPos;   // target index -> answers used per script
        std::map<SD_UINT16, std::vector<SD_UINT8>> sfp;
        std::vector<SD_LUN_QOS> qos;
        std::array<SD_UINT32, 8> foParams{};
        bool havePersistTargets = false, havePersistLuns = false;
        std::vector<zvsim_port::FoTarget> persistTargets;
        std::vector<zvsim_port::FoLun> persistLuns;
    };

    SD_UINT32 Dispatch(zvsim_adapter& a, zvsim_port& p, PortRuntime& rt, SD_UINT32 instance, zvapi_op op,
                       std::span<const SD_UINT8> in, std::span<SD_UINT8> out, size_t& outLen);
    SD_UINT32 FlashRead(zvsim_adapter& a, std::span<const SD_UINT8> in, std::span<SD_UINT8> out, size_t& outLen);
    SD_UINT32 FlashWrite(zvsim_adapter& a, std::span<const SD_UINT8> head, std::span<const SD_UINT8> body);
    // Stores one write (where the power may fail) and journals it.
    int Store(const zvsim_adapter& a, const char* op, SD_UINT32 region, SD_UINT32 offset,
              std::span<const SD_UINT8> bytes, SD_UINT32 disableReset, SD_UINT32 limit);
    [[noreturn]] void PowerFails() const;
    // The running firmware reloaded from the running set (activation, reset).
    void ReloadFirmware(const zvsim_adapter& a);
    SD_UINT32 NvramRead(zvsim_adapter& a, zvsim_port& p, std::span<SD_UINT8> out, size_t& outLen);
    SD_UINT32 NvramWrite(zvsim_adapter& a, zvsim_port& p, std::span<const SD_UINT8> in);
    SD_UINT32 VpdRead(zvsim_adapter& a, zvsim_port& p, std::span<SD_UINT8> out, size_t& outLen);
    SD_UINT32 Scsi(zvsim_port& p, PortRuntime& rt, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                   size_t& outLen);
    zvsim_state& State();
    zvsim_running& Running(const zvsim_adapter& a) { return State().adapters.at(static_cast<size_t>(a.index)); }
    // Adapter a's running state written to state.json when it changed.
    void SaveState(const zvsim_adapter& a);
    void Journal(const zvsim_adapter& a, const char* op, SD_UINT32 region, SD_UINT32 disableReset = 0);

    zvsim_host host_;
    std::vector<PortRuntime> runtime_;     // per instance
    const char* pendingFault_ = "none";
    zvsim_state state_;
    bool stateLoaded_ = false;
    zvsim_state_file stateFile_;
    zvsim_journal journal_;
    SD_UINT64 writes_ = 0;                 // writes stored by this instance, all adapters
};

// The host at `dir` as the platform serves it: the simulation wrapped in the
// fault injector that host.json configures. nullptr (and `err`) when the
// host cannot be read.
std::unique_ptr<zvapi_transport> zvsim_open_host(const std::string& dir, std::string& err);

// The simulated host: what host.json describes, held in plain records. The
// loader validates everything that comes from the file, so the transport can
// trust these records (every region lies inside the flash, sizes fit).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "mgmt/sd_types.h"

struct zvsim_scsi_answer {
    enum Kind { Good, Busy, Check, Conflict, Status } kind = Good;
    SD_UINT8 senseKey = 0, asc = 0, ascq = 0;
    SD_UINT32 status = 0;
    bool withData = false;
};

struct zvsim_scsi_script {
    int lun = -1;                      // -1 any
    int opcode = -1;                   // -1 any
    std::vector<zvsim_scsi_answer> answers;
};

struct zvsim_lun {
    SD_UINT16 lun = 0;
    SD_UINT8 peripheral = 0;
    std::string vendor, product, revision, serial, osDeviceName;
    std::vector<SD_UINT8> deviceId;
    SD_UINT64 lastLba = 0;
    SD_UINT32 blockLength = 512;
    bool vpd83 = true;
};

struct zvsim_target {
    SD_UINT64 nodeWwn = 0, portWwn = 0;
    SD_UINT32 portId = 0;
    SD_UINT16 targetId = 0, bus = 0, portType = 0, portState = 1, loopId = 0xFFFF, congestion = 0;
    std::vector<zvsim_lun> luns;
    std::vector<zvsim_scsi_script> scripts;
};

struct zvsim_fault {
    SD_UINT32 op = 0;                  // zvapi_op
    enum Kind { Status, After, Partial, Corrupt, Zero, HideRegion, AdvanceClock } kind = Status;
    std::optional<SD_UINT32> region;
    int port = -1;                     // index of the port in its adapter
    SD_UINT32 skip = 0;
    long count = -1;
    SD_UINT32 status = 0;
    SD_UINT32 bytes = 0;
    SD_INT64 seconds = 0;              // advance_clock: how far the platform clock jumps
};

// What the running firmware and the driver report about versions. The
// platform reads these from the flash of the image set it boots; host.json
// may pin any of them.
struct zvsim_live {
    // The running firmware (loaded at boot, activation or reset).
    SD_UINT64 fwAttributes = 1;
    std::string firmwareVersion = "9.08.01";
    std::array<SD_UINT16, 4> mpi{3, 4, 0, 0}, pep{2, 1, 0, 0};
    // The images in flash as the driver last read them (boot or refresh).
    std::string optionRomVersion = "3.64";
    SD_UINT32 biValid = 0x63;
    std::array<SD_UINT16, 4> biFw{9, 8, 1, 0}, biEfi{7, 21, 0, 0}, biFcode{4, 12, 0, 0}, biMpi{3, 4, 0, 0},
        biPep{2, 1, 0, 0};
};

// Values host.json gives; each one given wins over what flash says.
struct zvsim_live_overrides {
    std::optional<SD_UINT64> fwAttributes;
    std::optional<std::string> firmwareVersion, optionRomVersion;
    std::optional<std::array<SD_UINT16, 4>> mpi, pep, biFw, biEfi, biFcode, biMpi, biPep;
    std::optional<SD_UINT32> biValid;
};

// Power fails at the Nth write the platform stores (all adapters of the
// host counted together, per transport instance).
struct zvsim_power_loss {
    SD_UINT64 atWrite = 0;             // 1 = the first write
    enum Moment { Before, During, After } moment = After;
    std::optional<SD_UINT32> cut;      // During: bytes of the write programmed (default half)
    bool kill = true;                  // SIGKILL; false: _exit
};

struct zvsim_region {
    SD_UINT32 code = 0, offset = 0, size = 0;
    bool needsActivation = false;
};

// One interconnect element the fabric configuration server lists.
struct zvsim_fabric_element {
    SD_UINT64 name = 0;
    SD_UINT8 type = 1;
    SD_UINT8 domain = 0;
};

struct zvsim_port {
    int order = 0;
    SD_UINT32 function = 0;
    SD_UINT16 interfaceType = SD_INTERFACE_FC;
    SD_UINT64 nodeWwn = 0, portWwn = 0;
    SD_UINT32 portId = 0;
    SD_UINT16 portType = 0, portState = 1, linkState1 = 0, linkState2 = 0, linkState3 = 0, connectionMode = 0;
    std::string deviceName;
    SD_UINT32 speed = 0;
    SD_UINT8 supportedSpeed = 0, scmFlags = 0;
    SD_UINT64 principalFabricWwn = 0, adjacentFabricWwn = 0;
    SD_UINT32 beacon = 0;
    STATISTICS stats{};
    std::vector<zvsim_target> targets;
    std::map<SD_UINT32, std::vector<DEVICEINFOENTRY>> portDb;   // by mode 7, 8, 16
    SD_UINT32 foCapability = 0x30000002;
    std::string foDriverVersion;
    std::array<SD_UINT32, 8> foParams{};
    struct FoTarget {
        SD_UINT16 loopId = 0, targetId = 0;
        SD_UINT32 deviceFlags = 0;
        SD_UINT8 multipathControl = 0;
        SD_UINT16 baseLun = 0;
        SD_UINT32 portId = 0;
        SD_UINT64 nodeWwn = 0, portWwn = 0;
    };
    struct FoLun {
        SD_UINT64 nodeWwn = 0, portWwn = 0;
        SD_UINT16 targetId = 0;
        std::map<SD_UINT16, SD_UINT8> data;
    };
    struct FoPath {
        SD_UINT64 wwn = 0;
        SD_UINT8 currentPathIndex = 0xFF;
        std::vector<std::pair<SD_UINT32, SD_UINT64>> entries;
    };
    std::vector<FoTarget> foTargetData, foPersistentTargetData;
    std::vector<FoLun> foLunData, foPersistentLunData;
    std::vector<FoPath> foPaths;
    std::vector<FEATURE_GET_ENTRY> features;
    std::vector<SECUREPORTENTRY> securePorts;
    std::vector<ASYNCEVENT> events;
    std::vector<VPORT_INFO> vports;
    std::string nvmeHostNqn;
    SD_UINT32 fwDumpSize = 0, mpiDumpSize = 0;
    std::map<SD_UINT16, std::vector<SD_UINT8>> sfp;             // by device address
    SD_UINT32 qosEnable = 0;
    std::vector<SD_LUN_QOS> qos;                                 // one record per target WWPN
    // What the fabric's services answer (common transport requests).
    std::vector<zvsim_fabric_element> fabricElements;
    SD_UINT64 fabricPortName = 0, attachedPortName = 0;
};

// The flash file's descriptor, opened at the first request and kept for the
// process (closed with the host record, i.e. at unload). A copy of the
// record starts without one, so two records never share or close the same
// descriptor.
struct zvsim_flash_handle {
    int fd = -1;
    int readOnlyFd = -1;               // replaced by a read-write one, kept until unload
    bool writable = false;
    std::mutex opening;                // an event thread may ask at the same time
    zvsim_flash_handle() = default;
    // noexcept keeps the adapter records movable in their vector.
    zvsim_flash_handle(const zvsim_flash_handle&) noexcept {}
    zvsim_flash_handle& operator=(const zvsim_flash_handle&) noexcept { return *this; }
    ~zvsim_flash_handle();
    void Close();
};

struct zvsim_adapter {
    int index = 0;
    SD_UINT16 vendorId = 0x1A77, deviceId = 0, subVendorId = 0, subSystemId = 0, bus = 0, slot = 0;
    SD_UINT16 chipType = 0;            // family code: layout, records, boot rule
    SD_UINT16 chipRevision = 0;        // what the chip property reports as ChipType
    std::string manufacturer, model, modelDescription, serial;
    std::string driverName, driverVersion;
    SD_UINT32 lunsPerTarget = 256, numberOfBus = 1, targetsPerBus = 512, maxTransferLen = 0x100000;
    SD_UINT32 driverAttributes = 0x02000000;
    zvsim_live_overrides live;
    SD_UINT32 pcieLinkCap = 0, pcieLinkStat = 0;
    SD_UINT32 flashSize = 0;
    std::string flashPath;             // absolute (host dir joined with the file name)
    mutable zvsim_flash_handle flashFile;
    std::vector<zvsim_region> layout;
    SD_UINT32 lockdownStatus = 0;
    SYSTEM_LOCKDOWN_INFO lockdown{};
    SD_UINT16 mpiState = 0x8300;
    SD_UINT8 activeVpdNvram = 1;
    std::vector<zvsim_fault> faults;
    std::vector<zvsim_port> ports;

    const zvsim_region* Region(SD_UINT32 code) const;
    // Firmware-update lockdown: flash writes are refused with 0x20000113.
    bool FwUpdateLocked() const;
};
static_assert(std::is_nothrow_move_constructible_v<zvsim_adapter>);

struct zvsim_host {
    std::string dir;
    std::string libraryVersion = "v6.04 build77";
    std::string failoverApiVersion = "6.4.0 build77";
    std::vector<zvsim_adapter> adapters;
    std::optional<zvsim_power_loss> powerLoss;
    // Port instances in order: (adapter index, port index).
    std::vector<std::pair<int, int>> instances;
    // The host.json text this host was parsed from, by size and hash.
    size_t textSize = 0;
    SD_UINT64 textHash = 0;
};

// Reads <dir>/host.json. On any fault fills `err` with one line and returns false.
// A host given back by zvsim_keep_host is taken again while the text is the
// same and its flash files still fit, instead of parsing anew.
bool zvsim_load_host(const std::string& dir, zvsim_host& host, std::string& err);
// Keeps a host no longer used (its flash files are closed) for the next load
// of the same text: one host model in memory, never a second copy.
void zvsim_keep_host(zvsim_host&& host);

// zvapi_op from its documented name ("flash_write" ...); 0 when unknown.
SD_UINT32 zvsim_op_from_name(const std::string& name);

// VPD / NVRAM region codes of PCI function 0..3.
SD_UINT32 zvsim_vpd_region(SD_UINT32 function, bool secondary);
SD_UINT32 zvsim_nvram_region(SD_UINT32 function, bool secondary);
// Image sizes the driver serves. The library applies the same rule (a test
// holds the two together).
size_t zvsim_nvram_size(SD_UINT16 deviceId);
size_t zvsim_vpd_size(SD_UINT16 deviceId);

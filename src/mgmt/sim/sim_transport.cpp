#include "mgmt/sim/sim_transport.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "mgmt/fo_api.h"
#include "mgmt/sim/fault_transport.h"
#include "mgmt/sim/sim_fabric.h"
#include "mgmt/sim/sim_live.h"

namespace {

// Fixed records: the caller's span must hold the whole record.
template <class T>
SD_UINT32 PutRecord(const T& rec, std::span<SD_UINT8> out, size_t& outLen) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (out.size() < sizeof rec) {
        outLen = sizeof rec;
        return SDERR_BUFFER_TOO_SMALL;
    }
    std::memcpy(out.data(), &rec, sizeof rec);
    outLen = sizeof rec;
    return SDERR_SUCCESS;
}

// Variable-length answers: too small a span gives 0x20000072 with the bytes needed.
SD_UINT32 PutBytes(std::span<const SD_UINT8> bytes, std::span<SD_UINT8> out, size_t& outLen) {
    outLen = bytes.size();
    if (out.size() < bytes.size()) {
        return SDERR_BUFFER_TOO_SMALL;
    }
    if (!bytes.empty()) {
        std::memcpy(out.data(), bytes.data(), bytes.size());
    }
    return SDERR_SUCCESS;
}

template <class T>
SD_UINT32 PutList(const std::vector<T>& list, std::span<SD_UINT8> out, size_t& outLen) {
    static_assert(std::is_trivially_copyable_v<T>);
    return PutBytes({reinterpret_cast<const SD_UINT8*>(list.data()), list.size() * sizeof(T)}, out, outLen);
}

template <class T>
bool GetIn(std::span<const SD_UINT8> in, T& v) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (in.size() < sizeof v) {
        return false;
    }
    std::memcpy(&v, in.data(), sizeof v);
    return true;
}

template <size_t N>
void CopyText(char (&dst)[N], const std::string& src) {
    const size_t n = std::min(src.size(), N - 1);
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

void PutWwn(SD_UINT8 (&dst)[8], SD_UINT64 wwn) {
    for (int i = 0; i < 8; ++i) {
        dst[i] = static_cast<SD_UINT8>(wwn >> (56 - 8 * i));
    }
}

// The driver reports each version part as one byte (host.json bounds them).
void Put4(SD_UINT8 (&dst)[4], const std::array<SD_UINT16, 4>& v) {
    for (int i = 0; i < 4; ++i) {
        dst[i] = static_cast<SD_UINT8>(v[static_cast<size_t>(i)]);
    }
}

FOPORTSUMMARYENTRY ToSummary(const zvsim_port::FoTarget& t) {
    FOPORTSUMMARYENTRY e{};
    e.LoopId = t.loopId;
    e.TargetId = t.targetId;
    e.DeviceFlags = t.deviceFlags;
    e.MultipathControl = t.multipathControl;
    e.BaseLunNumber = t.baseLun;
    e.PortId[0] = static_cast<SD_UINT8>(t.portId >> 16);
    e.PortId[1] = static_cast<SD_UINT8>(t.portId >> 8);
    e.PortId[2] = static_cast<SD_UINT8>(t.portId);
    PutWwn(e.NodeName, t.nodeWwn);
    PutWwn(e.PortName, t.portWwn);
    return e;
}

SD_UINT64 WwnOf(const SD_UINT8 (&b)[8]) {
    SD_UINT64 v = 0;
    for (SD_UINT8 x : b) {
        v = v << 8 | x;
    }
    return v;
}

SD_LUN_QOS* FindQos(std::vector<SD_LUN_QOS>& list, const SD_UINT8 (&wwpn)[8]) {
    for (SD_LUN_QOS& q : list) {
        if (std::memcmp(q.WWPN, wwpn, sizeof q.WWPN) == 0) {
            return &q;
        }
    }
    return nullptr;
}

// A remote port the port knows: a discovered target or a port-database entry.
bool KnowsTarget(const zvsim_port& p, SD_UINT64 wwpn) {
    for (const zvsim_target& t : p.targets) {
        if (t.portWwn == wwpn) {
            return true;
        }
    }
    for (const auto& [mode, list] : p.portDb) {
        for (const DEVICEINFOENTRY& e : list) {
            if (WwnOf(e.PortWWN) == wwpn) {
                return true;
            }
        }
    }
    return false;
}

// A flash request stays inside the flash and, when it names a region, inside that region.
bool FlashIoInBounds(const zvsim_adapter& a, const zvapi_flash_io& io) {
    const SD_UINT64 end = static_cast<SD_UINT64>(io.Offset) + io.Length;
    if (end > a.flashSize) {
        return false;
    }
    if (io.Region == 0) {
        return true;
    }
    const zvsim_region* r = a.Region(io.Region);
    return r != nullptr && io.Offset >= r->offset && end <= static_cast<SD_UINT64>(r->offset) + r->size;
}

}  // namespace

zvsim_transport::zvsim_transport(zvsim_host host) : host_(std::move(host)), journal_(host_.dir) {
    runtime_.resize(host_.instances.size());
    for (size_t i = 0; i < host_.instances.size(); ++i) {
        const zvsim_port& p = host_.adapters[static_cast<size_t>(host_.instances[i].first)]
                                  .ports[static_cast<size_t>(host_.instances[i].second)];
        runtime_[i].sfp = p.sfp;
        runtime_[i].qos = p.qos;
        runtime_[i].foParams = p.foParams;
    }
}

zvsim_transport::~zvsim_transport() { zvsim_keep_host(std::move(host_)); }

SD_UINT32 zvsim_transport::PortCount() { return static_cast<SD_UINT32>(host_.instances.size()); }

std::string zvsim_transport::Describe(const std::string& key) {
    if (key == "library_version") {
        return host_.libraryVersion;
    }
    if (key == "failover_api_version") {
        return host_.failoverApiVersion;
    }
    if (key == "host_dir") {
        return host_.dir;
    }
    return {};
}

zvsim_state& zvsim_transport::State() {
    // Once per instance: a host of thousands of ports would otherwise parse
    // the whole file for every request.
    if (!stateLoaded_) {
        state_ = stateFile_.Load(host_);
        stateLoaded_ = true;
    }
    return state_;
}

void zvsim_transport::SaveState(const zvsim_adapter& a) {
    stateFile_.SaveAdapter(host_, State(), static_cast<size_t>(a.index));
}

SD_INT64 zvsim_transport::Now() { return static_cast<SD_INT64>(std::time(nullptr)) + State().clockOffset; }

void zvsim_transport::AdvanceClock(SD_INT64 seconds) {
    State().clockOffset += seconds;
    stateFile_.SaveClock(host_, state_);
}

void zvsim_transport::Journal(const zvsim_adapter& a, const char* op, SD_UINT32 region, SD_UINT32 disableReset) {
    zvsim_journal_line line;
    line.op = op;
    line.adapter = a.index;
    line.region = region;
    line.disableReset = disableReset;
    journal_.Append(line);
}

void zvsim_transport::PowerFails() const {
    // No clean-up of any kind: files, locks and shared memory stay as they are.
    if (host_.powerLoss->kill) {
        ::kill(::getpid(), SIGKILL);
    }
    ::_exit(99);
}

int zvsim_transport::Store(const zvsim_adapter& a, const char* op, SD_UINT32 region, SD_UINT32 offset,
                           std::span<const SD_UINT8> bytes, SD_UINT32 disableReset, SD_UINT32 limit) {
    // The adapter booted before anything was written to it.
    State();
    const SD_UINT64 n = ++writes_;
    const bool cut = host_.powerLoss && host_.powerLoss->atWrite == n;
    zvsim_journal_line line;
    line.op = op;
    line.write = true;
    line.adapter = a.index;
    line.region = region;
    line.offset = offset;
    line.bytes = bytes;
    line.disableReset = disableReset;
    line.fault = pendingFault_;
    pendingFault_ = "none";
    if (cut && host_.powerLoss->moment == zvsim_power_loss::Before) {
        PowerFails();
    }
    if (cut && host_.powerLoss->moment == zvsim_power_loss::During) {
        const SD_UINT32 programmed = static_cast<SD_UINT32>(
            std::min<size_t>(host_.powerLoss->cut.value_or(static_cast<SD_UINT32>(bytes.size() / 2)), bytes.size()));
        zvsim_flash_tear(a, offset, bytes, programmed, limit);
        line.bytes = bytes.first(programmed);
        line.fault = "torn";
        journal_.Append(line);
        PowerFails();
    }
    if (int e = zvsim_flash_write(a, offset, bytes)) {
        return e;
    }
    journal_.Append(line);
    if (cut) {
        PowerFails();
    }
    return 0;
}

void zvsim_transport::ReloadFirmware(const zvsim_adapter& a) {
    zvsim_running& r = Running(a);
    zvsim_load_running_firmware(a, r.global, r.live);
    zvsim_load_flash_versions(a, r.global, r.live);
    SaveState(a);
}

SD_UINT32 zvsim_transport::Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in,
                                   std::span<SD_UINT8> out, size_t* outLen) {
    size_t len = 0;
    SD_UINT32 st = SDERR_DEVICE_NOT_FOUND;
    if (instance < host_.instances.size()) {
        const auto [ai, pi] = host_.instances[instance];
        zvsim_adapter& a = host_.adapters[static_cast<size_t>(ai)];
        st = Dispatch(a, a.ports[static_cast<size_t>(pi)], runtime_[instance], instance, op, in, out, len);
    }
    pendingFault_ = "none";
    if (outLen != nullptr) {
        *outLen = len;
    }
    return st;
}

SD_UINT32 zvsim_transport::RequestParts(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> head,
                                        std::span<const SD_UINT8> body, std::span<SD_UINT8> out, size_t* outLen) {
    if (op != ZVOP_FLASH_WRITE || body.empty()) {
        return zvapi_transport::RequestParts(instance, op, head, body, out, outLen);
    }
    SD_UINT32 st = SDERR_DEVICE_NOT_FOUND;
    if (instance < host_.instances.size()) {
        st = FlashWrite(host_.adapters[static_cast<size_t>(host_.instances[instance].first)], head, body);
    }
    pendingFault_ = "none";
    if (outLen != nullptr) {
        *outLen = 0;
    }
    return st;
}

SD_UINT32 zvsim_transport::FlashRead(zvsim_adapter& a, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                                     size_t& outLen) {
    zvapi_flash_io io{};
    if (!GetIn(in, io)) {
        return SDERR_INVALID_PARAMETER;
    }
    if (!FlashIoInBounds(a, io)) {
        return SDERR_INVALID_PARAMETER;
    }
    if (out.size() < io.Length) {
        outLen = io.Length;
        return SDERR_BUFFER_TOO_SMALL;
    }
    if (int e = zvsim_flash_read(a, io.Offset, out.first(io.Length))) {
        return static_cast<SD_UINT32>(e);
    }
    outLen = io.Length;
    return SDERR_SUCCESS;
}

// The request's header, then its bytes: apart (RequestParts) or one after the
// other in the header's span (Request).
SD_UINT32 zvsim_transport::FlashWrite(zvsim_adapter& a, std::span<const SD_UINT8> head, std::span<const SD_UINT8> body) {
    zvapi_flash_io io{};
    if (!GetIn(head, io)) {
        return SDERR_INVALID_PARAMETER;
    }
    const std::span<const SD_UINT8> data = body.empty() ? head.subspan(sizeof io) : body;
    if ((!body.empty() && head.size() != sizeof io) || data.size() < io.Length) {
        return SDERR_INVALID_PARAMETER;
    }
    if (!FlashIoInBounds(a, io)) {
        return SDERR_INVALID_PARAMETER;
    }
    if (a.FwUpdateLocked()) {
        return SDERR_LOCKDOWN;
    }
    const std::span<const SD_UINT8> bytes = data.first(io.Length);
    const zvsim_region* r = io.Region != 0 ? a.Region(io.Region) : nullptr;
    const SD_UINT32 limit = r != nullptr ? r->offset + r->size : a.flashSize;
    if (int e = Store(a, "write", io.Region, io.Offset, bytes, io.DisableReset, limit)) {
        return static_cast<SD_UINT32>(e);
    }
    // Without DisableReset the driver resets the adapter after the write:
    // its firmware starts again from the running set.
    if (io.DisableReset == 0) {
        ReloadFirmware(a);
    }
    return SDERR_SUCCESS;
}

// NVRAM and VPD images are read whole from the running copy's region; a region
// shorter than the image reads as erased past its end.
static SD_UINT32 ReadImageRegion(zvsim_adapter& a, SD_UINT32 code, size_t imageSize, std::span<SD_UINT8> out,
                                 size_t& outLen) {
    const zvsim_region* reg = a.Region(code);
    if (reg == nullptr) {
        return SDERR_NOT_SUPPORTED;
    }
    std::vector<SD_UINT8> image(imageSize, 0xFF);
    if (int e = zvsim_flash_read(a, reg->offset, std::span(image).first(std::min<size_t>(image.size(), reg->size)))) {
        return static_cast<SD_UINT32>(e);
    }
    const size_t n = std::min(out.size(), image.size());
    std::memcpy(out.data(), image.data(), n);
    outLen = n;
    return SDERR_SUCCESS;
}

SD_UINT32 zvsim_transport::NvramRead(zvsim_adapter& a, zvsim_port& p, std::span<SD_UINT8> out, size_t& outLen) {
    const zvsim_running& r = Running(a);
    return ReadImageRegion(a, zvsim_nvram_region(p.function, r.vpdNvram == 2), zvsim_nvram_size(a.deviceId), out,
                           outLen);
}

SD_UINT32 zvsim_transport::NvramWrite(zvsim_adapter& a, zvsim_port& p, std::span<const SD_UINT8> in) {
    if (in.empty() || in.size() > zvsim_nvram_size(a.deviceId)) {
        return SDERR_INVALID_PARAMETER;
    }
    const zvsim_running& r = Running(a);
    // Chip type 27 writes the copy it does not run from; the auxiliary
    // records then decide (at reload or boot) which copy serves.
    bool secondary = r.vpdNvram == 2;
    if (a.chipType == 27) {
        secondary = !secondary;
    }
    const SD_UINT32 code = zvsim_nvram_region(p.function, secondary);
    const zvsim_region* reg = a.Region(code);
    if (reg == nullptr) {
        return SDERR_NOT_SUPPORTED;
    }
    if (in.size() > reg->size) {
        return SDERR_INVALID_PARAMETER;
    }
    if (int e = Store(a, "nvram_write", code, reg->offset, in, 0, reg->offset + reg->size)) {
        return static_cast<SD_UINT32>(e);
    }
    return SDERR_SUCCESS;
}

SD_UINT32 zvsim_transport::VpdRead(zvsim_adapter& a, zvsim_port& p, std::span<SD_UINT8> out, size_t& outLen) {
    const zvsim_running& r = Running(a);
    return ReadImageRegion(a, zvsim_vpd_region(p.function, r.vpdNvram == 2), zvsim_vpd_size(a.deviceId), out,
                           outLen);
}

SD_UINT32 zvsim_transport::Dispatch(zvsim_adapter& a, zvsim_port& p, PortRuntime& rt, SD_UINT32 instance,
                                    zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                                    size_t& outLen) {
    switch (op) {
        case ZVOP_OPEN: {
            zvapi_port_ident id{};
            id.AdapterIndex = static_cast<SD_UINT32>(a.index);
            id.PciFunction = p.function;
            id.IsPhysicalFc = p.interfaceType == SD_INTERFACE_FC ? 1 : 0;
            return PutRecord(id, out, outLen);
        }
        case ZVOP_CLOSE:
            return SDERR_SUCCESS;
        case ZVOP_NODE_PROPERTY: {
            const zvsim_live& live = Running(a).live;
            DEVICENODEPROPERTY n{};
            PutWwn(n.WWN, p.nodeWwn);
            CopyText(n.Manufacturer, a.manufacturer);
            CopyText(n.Model, a.model);
            CopyText(n.ModelDescription, a.modelDescription);
            CopyText(n.SerialNumber, a.serial);
            CopyText(n.DriverVersion, a.driverVersion);
            CopyText(n.FirmwareVersion, live.firmwareVersion);
            CopyText(n.OptionRomVersion, live.optionRomVersion);
            n.InterfaceType = p.interfaceType;
            n.NumberOfPorts = static_cast<SD_UINT16>(std::count_if(
                a.ports.begin(), a.ports.end(), [](const zvsim_port& x) { return x.interfaceType == SD_INTERFACE_FC; }));
            n.BIValid = live.biValid;
            Put4(n.BIFwVersion, live.biFw);
            Put4(n.BIEfiVersion, live.biEfi);
            Put4(n.BIFCodeVersion, live.biFcode);
            Put4(n.BIMpiFwVersion, live.biMpi);
            Put4(n.BIPepFwVersion, live.biPep);
            Put4(n.MpiFwVersion, live.mpi);
            Put4(n.PepFwVersion, live.pep);
            return PutRecord(n, out, outLen);
        }
        case ZVOP_PORT_PROPERTY: {
            DEVICEPORTPROPERTY pp{};
            PutWwn(pp.WWN, p.portWwn);
            pp.PortID = p.portId;
            pp.PortType = p.portType;
            pp.PortState = p.portState;
            pp.LinkState1 = p.linkState1;
            pp.LinkState2 = p.linkState2;
            pp.LinkState3 = p.linkState3;
            pp.ConnectionMode = p.connectionMode;
            pp.DiscPortCount = static_cast<SD_UINT16>(std::min<size_t>(p.targets.size(), 0xFFFF));
            pp.DiscTargetCount = pp.DiscPortCount;
            CopyText(pp.DeviceName, p.deviceName.empty() ? "host" + std::to_string(instance + 1) : p.deviceName);
            pp.PortSpeed = p.speed;
            pp.SupportedSpeed = p.supportedSpeed;
            pp.ScmFabricConnectionFlags = p.scmFlags;
            PutWwn(pp.PrincipalFabricWWN, p.principalFabricWwn);
            PutWwn(pp.AdjacentFabricWWN, p.adjacentFabricWwn);
            return PutRecord(pp, out, outLen);
        }
        case ZVOP_CHIP_PROPERTY: {
            CHIPPROPERTY c{};
            c.VendorID = a.vendorId;
            c.DeviceID = a.deviceId;
            c.SubVendorID = a.subVendorId;
            c.SubSystemID = a.subSystemId;
            c.PciBusNumber = a.bus;
            c.PciSlotNumber = static_cast<SD_UINT16>((a.slot << 3) | (p.function & 7));
            c.ChipType = a.chipRevision;
            c.PortNumber = static_cast<SD_UINT16>(p.function);
            c.PcieLinkCap = a.pcieLinkCap;
            c.PcieLinkStat = a.pcieLinkStat;
            return PutRecord(c, out, outLen);
        }
        case ZVOP_DRIVER_PROPERTY: {
            DRIVERPROPERTY d{};
            CopyText(d.DriverName, a.driverName);
            CopyText(d.DriverVersion, a.driverVersion);
            d.NumberOfBus = a.numberOfBus;
            d.TargetsPerBus = a.targetsPerBus;
            d.LunsPerTarget = a.lunsPerTarget;
            d.MaxTransferLen = a.maxTransferLen;
            d.Attributes = a.driverAttributes;
            return PutRecord(d, out, outLen);
        }
        case ZVOP_DISC_TARGET: {
            SD_UINT32 index = 0;
            if (!GetIn(in, index) || index >= p.targets.size()) {
                return SDERR_INVALID_PARAMETER;
            }
            const zvsim_target& t = p.targets[index];
            DISCTARGETPROPERTY d{};
            PutWwn(d.NodeWWN, t.nodeWwn);
            PutWwn(d.PortWWN, t.portWwn);
            d.PortID = t.portId;
            d.BusNumber = t.bus;
            d.TargetID = t.targetId;
            d.PortType = t.portType;
            d.PortState = t.portState;
            d.LoopID = t.loopId;
            d.CongestionState = t.congestion;
            return PutRecord(d, out, outLen);
        }
        case ZVOP_PORT_DATABASE: {
            SD_UINT32 mode = 0;
            if (!GetIn(in, mode) || (mode != 7 && mode != 8 && mode != 16)) {
                return SDERR_INVALID_PARAMETER;
            }
            auto it = p.portDb.find(mode);
            return PutList(it == p.portDb.end() ? std::vector<DEVICEINFOENTRY>{} : it->second, out, outLen);
        }
        case ZVOP_STATISTICS:
            return PutRecord(p.stats, out, outLen);
        case ZVOP_PRIV_STATS: {
            std::array<SD_UINT8, 512> block{};
            std::memcpy(block.data(), &p.stats, sizeof p.stats);
            return PutRecord(block, out, outLen);
        }
        case ZVOP_BEACON:
            return PutRecord(p.beacon, out, outLen);
        case ZVOP_FLASH_LAYOUT: {
            std::vector<zvapi_flash_region> list;
            for (const zvsim_region& r : a.layout) {
                list.push_back({r.code, r.offset, r.size, r.needsActivation ? ZVAPI_REGION_NEEDS_ACTIVATION : 0u});
            }
            return PutList(list, out, outLen);
        }
        case ZVOP_FLASH_READ:
            return FlashRead(a, in, out, outLen);
        case ZVOP_FLASH_WRITE:
            return FlashWrite(a, in, {});
        case ZVOP_REGION_ACTIVATE: {
            SD_UINT32 code = 0;
            if (!GetIn(in, code) || a.Region(code) == nullptr) {
                return SDERR_INVALID_PARAMETER;
            }
            // The written component is loaded: the firmware runs what the
            // running set now holds.
            Journal(a, "activate", code);
            ReloadFirmware(a);
            return SDERR_SUCCESS;
        }
        case ZVOP_ONLINE_ACTIVATE:
            if (zvsim_status_signature(a) == 0) {
                return SDERR_NOT_SUPPORTED;
            }
            // As a reboot would: the records decide the set anew.
            Running(a) = zvsim_boot(a);
            SaveState(a);
            Journal(a, "online_activate", 0);
            return SDERR_SUCCESS;
        case ZVOP_ACTIVE_REGIONS: {
            if (zvsim_status_signature(a) == 0) {
                return SDERR_NOT_SUPPORTED;
            }
            const zvsim_running& r = Running(a);
            SD_ACTIVE_REGIONS rec{};
            rec.ActiveGlobalRegions = r.global;
            rec.ActiveBoardConfig = r.boardConfig;
            rec.ActiveVpdNvram = r.vpdNvram;
            rec.ActiveNpivConfig01 = r.npiv01;
            rec.ActiveNpivConfig23 = r.npiv23;
            return PutRecord(rec, out, outLen);
        }
        case ZVOP_FW_ATTRIBUTES:
            return PutRecord(Running(a).live.fwAttributes, out, outLen);
        case ZVOP_REFRESH_VERSIONS: {
            zvsim_running& r = Running(a);
            zvsim_load_flash_versions(a, r.global, r.live);
            SaveState(a);
            return SDERR_SUCCESS;
        }
        case ZVOP_NVRAM_READ:
            return NvramRead(a, p, out, outLen);
        case ZVOP_NVRAM_WRITE:
            return NvramWrite(a, p, in);
        case ZVOP_NVRAM_RELOAD: {
            zvsim_running& r = Running(a);
            zvsim_running fresh = r;
            zvsim_boot_components(a, fresh);
            r.vpdNvram = fresh.vpdNvram;
            SaveState(a);
            Journal(a, "nvram_reload", 0);
            return SDERR_SUCCESS;
        }
        case ZVOP_VPD_READ:
            return VpdRead(a, p, out, outLen);
        case ZVOP_LOCKDOWN: {
            const SD_UINT32 st = PutRecord(a.lockdown, out, outLen);
            return st != SDERR_SUCCESS ? st : a.lockdownStatus;
        }
        case ZVOP_MAILBOX: {
            if (in.size() < sizeof(SD_UINT16) || out.size() < sizeof(SD_UINT16)) {
                return SDERR_INVALID_PARAMETER;
            }
            SD_UINT16 cmd = 0;
            std::memcpy(&cmd, in.data(), sizeof cmd);
            const size_t regs = std::min<size_t>(out.size() / sizeof(SD_UINT16), 32);
            std::vector<SD_UINT16> mb(regs, 0);
            if (cmd == 0x69) {
                mb[0] = 0x4000;
                if (regs > 12) {
                    mb[12] = a.mpiState;
                }
            } else {
                mb[0] = 0x4001;  // invalid command
            }
            std::memcpy(out.data(), mb.data(), regs * sizeof(SD_UINT16));
            outLen = regs * sizeof(SD_UINT16);
            return SDERR_SUCCESS;
        }
        case ZVOP_SCSI:
            return Scsi(p, rt, in, out, outLen);
        case ZVOP_CT:
            return zvsim_ct_answer(p, in, out, outLen);
        case ZVOP_ELS: {
            zvapi_els_request req{};
            if (!GetIn(in, req)) {
                return SDERR_INVALID_PARAMETER;
            }
            const std::span<const SD_UINT8> payload = in.subspan(sizeof req);
            if (req.Opcode == 0) {
                const size_t n = std::min(out.size(), payload.size());
                std::memcpy(out.data(), payload.data(), n);
                if (n > 0) {
                    out[0] = 0x02;  // LS_ACC
                }
                outLen = n;
                return SDERR_SUCCESS;
            }
            std::fill(out.begin(), out.end(), SD_UINT8{0});
            if (!out.empty()) {
                out[0] = 0x02;
            }
            // Read diagnostic parameters (24) answer 508 bytes; others 64 at most.
            outLen = std::min<size_t>(out.size(), req.Opcode == 24 ? 508 : 64);
            return SDERR_SUCCESS;
        }
        case ZVOP_LINK_SPEED: {
            zvapi_link_speed ls{};
            return GetIn(in, ls) ? SDERR_SUCCESS : SDERR_INVALID_PARAMETER;
        }
        case ZVOP_SWAP_TARGET:
            return in.size() >= 2 * sizeof(DEVICEINFOENTRY) ? SDERR_SUCCESS : SDERR_INVALID_PARAMETER;
        case ZVOP_AEN_ENABLE: {
            SD_UINT32 on = 0;
            if (!GetIn(in, on)) {
                return SDERR_INVALID_PARAMETER;
            }
            rt.aenEnabled = on != 0;
            return SDERR_SUCCESS;
        }
        case ZVOP_AEN_GET: {
            // Queued events are delivered once per run, while enabled.
            if (!rt.aenEnabled || rt.eventsDelivered) {
                return PutList(std::vector<ASYNCEVENT>{}, out, outLen);
            }
            const SD_UINT32 st = PutList(p.events, out, outLen);
            if (st == SDERR_SUCCESS) {
                rt.eventsDelivered = true;
            }
            return st;
        }
        case ZVOP_VPORT_INFO: {
            SD_UINT32 id = 0;
            if (!GetIn(in, id)) {
                return SDERR_INVALID_PARAMETER;
            }
            for (const VPORT_INFO& v : p.vports) {
                if (v.id == id) {
                    VPORT_INFO info = v;
                    info.used = static_cast<SD_UINT32>(p.vports.size());
                    info.free = info.used < 64 ? 64 - info.used : 0;
                    return PutRecord(info, out, outLen);
                }
            }
            return SDERR_INVALID_PARAMETER;
        }
        case ZVOP_SECURE_PORTS:
            return PutList(p.securePorts, out, outLen);
        case ZVOP_NVME_HOST_INFO: {
            std::array<SD_UINT8, SD_NVME_HOST_INFO_SIZE> rec{};
            std::memcpy(rec.data() + 16, p.nvmeHostNqn.data(), std::min<size_t>(p.nvmeHostNqn.size(), rec.size() - 17));
            return PutRecord(rec, out, outLen);
        }
        case ZVOP_FEATURES:
            return PutList(p.features, out, outLen);
        case ZVOP_OS_DEVICE_NAME: {
            SD_UINT32 ids[2] = {};
            if (!GetIn(in, ids)) {
                return SDERR_INVALID_PARAMETER;
            }
            for (const zvsim_target& t : p.targets) {
                if (t.targetId != ids[0]) {
                    continue;
                }
                for (const zvsim_lun& l : t.luns) {
                    if (l.lun == ids[1] && !l.osDeviceName.empty()) {
                        // With its terminating NUL.
                        const auto* name = reinterpret_cast<const SD_UINT8*>(l.osDeviceName.c_str());
                        return PutBytes({name, l.osDeviceName.size() + 1}, out, outLen);
                    }
                }
            }
            return SDERR_DEVICE_NOT_FOUND;
        }
        case ZVOP_FW_DUMP:
        case ZVOP_MPI_DUMP: {
            const SD_UINT32 size = op == ZVOP_FW_DUMP ? p.fwDumpSize : p.mpiDumpSize;
            if (size == 0) {
                return SDERR_NO_FW_DUMP;
            }
            outLen = size;
            if (out.size() < size) {
                return SDERR_BUFFER_TOO_SMALL;
            }
            for (SD_UINT32 i = 0; i < size; ++i) {
                out[i] = static_cast<SD_UINT8>((i & 0xFF) ^ (op == ZVOP_FW_DUMP ? 0xA5 : 0x5A));
            }
            return SDERR_SUCCESS;
        }
        case ZVOP_SFP_READ:
        case ZVOP_SFP_WRITE: {
            zvapi_sfp_io io{};
            if (!GetIn(in, io) || static_cast<SD_UINT32>(io.DataAddr) + io.Length > 256) {
                return SDERR_INVALID_PARAMETER;
            }
            std::vector<SD_UINT8>& page = rt.sfp[io.DevAddr];
            if (page.size() < 256) {
                page.resize(256, 0);
                if (io.DevAddr == 0xA0) {
                    page[0] = 0x03;  // SFP/SFP+ identifier
                    std::memcpy(page.data() + 20, "KORVEX          ", 16);
                }
            }
            if (op == ZVOP_SFP_READ) {
                return PutBytes(std::span(page).subspan(io.DataAddr, io.Length), out, outLen);
            }
            if (in.size() - sizeof io < io.Length) {
                return SDERR_INVALID_PARAMETER;
            }
            std::memcpy(page.data() + io.DataAddr, in.data() + sizeof io, io.Length);
            return SDERR_SUCCESS;
        }
        case ZVOP_QOS_ENABLE:
            return PutRecord(p.qosEnable, out, outLen);
        case ZVOP_QOS_GET: {
            // The record of the WWPN asked for; a target of the port without
            // one answers its WWPN with zero bytes, any other WWPN a zero record.
            SD_UINT8 wwpn[8] = {};
            if (!GetIn(in, wwpn)) {
                return SDERR_INVALID_PARAMETER;
            }
            SD_LUN_QOS q{};
            if (const SD_LUN_QOS* held = FindQos(rt.qos, wwpn)) {
                q = *held;
            } else if (KnowsTarget(p, WwnOf(wwpn))) {
                std::memcpy(q.WWPN, wwpn, sizeof wwpn);
            }
            return PutRecord(q, out, outLen);
        }
        case ZVOP_QOS_SET: {
            SD_LUN_QOS q{};
            if (!GetIn(in, q) || WwnOf(q.WWPN) == 0) {
                return SDERR_INVALID_PARAMETER;
            }
            if (SD_LUN_QOS* held = FindQos(rt.qos, q.WWPN)) {
                *held = q;
            } else {
                rt.qos.push_back(q);
            }
            return SDERR_SUCCESS;
        }
        case ZVOP_FO_CAPABILITY:
            return PutRecord(p.foCapability, out, outLen);
        case ZVOP_FO_DRIVER_VERSION: {
            FODRIVERVERSION v{};
            CopyText(v.Version, p.foDriverVersion);
            return PutRecord(v, out, outLen);
        }
        case ZVOP_FO_SYS_PARAMS_GET: {
            FOPARAMS fp{};
            std::copy(rt.foParams.begin(), rt.foParams.end(), fp.Words);
            return PutRecord(fp, out, outLen);
        }
        case ZVOP_FO_SYS_PARAMS_SET: {
            FOPARAMS fp{};
            if (!GetIn(in, fp)) {
                return SDERR_INVALID_PARAMETER;
            }
            std::copy(std::begin(fp.Words), std::end(fp.Words), rt.foParams.begin());
            return SDERR_SUCCESS;
        }
        case ZVOP_FO_PATHS: {
            FOGETPATHS req{};
            if (!GetIn(in, req)) {
                return SDERR_INVALID_PARAMETER;
            }
            auto info = std::make_unique<FOPATHSINFO>();
            std::memset(info.get(), 0, sizeof *info);
            info->HbaInstance = instance;
            std::memset(info->CurrentPathIndex, 0xFF, sizeof info->CurrentPathIndex);
            const SD_UINT64 wwn = WwnOf(req.HbaAddr.AddressUsing);
            for (const zvsim_port::FoPath& path : p.foPaths) {
                if (path.wwn != wwn) {
                    continue;
                }
                std::memset(info->CurrentPathIndex, path.currentPathIndex, sizeof info->CurrentPathIndex);
                for (size_t i = 0; i < path.entries.size() && i < FO_MAX_ENTRIES; ++i) {
                    info->PathEntry[i].HbaInstance = path.entries[i].first;
                    PutWwn(info->PathEntry[i].PortName, path.entries[i].second);
                }
                break;
            }
            return PutRecord(*info, out, outLen);
        }
        case ZVOP_FO_TARGET_DATA_GET: {
            SD_UINT32 persistent = 0;
            if (!GetIn(in, persistent)) {
                return SDERR_INVALID_PARAMETER;
            }
            const auto& src = persistent ? (rt.havePersistTargets ? rt.persistTargets : p.foPersistentTargetData)
                                         : p.foTargetData;
            auto list = std::make_unique<FOPORTSUMMARYLISTBUFFER>();
            std::memset(list.get(), 0, sizeof *list);
            list->EntryCount = static_cast<SD_UINT16>(std::min<size_t>(src.size(), FO_MAX_ENTRIES));
            for (size_t i = 0; i < list->EntryCount; ++i) {
                list->Entries[i] = ToSummary(src[i]);
            }
            return PutRecord(*list, out, outLen);
        }
        case ZVOP_FO_TARGET_DATA_SET: {
            auto list = std::make_unique<FOPORTSUMMARYLISTBUFFER>();
            if (!GetIn(in, *list) || list->EntryCount > FO_MAX_ENTRIES) {
                return SDERR_INVALID_PARAMETER;
            }
            rt.persistTargets.clear();
            for (size_t i = 0; i < list->EntryCount; ++i) {
                const FOPORTSUMMARYENTRY& e = list->Entries[i];
                zvsim_port::FoTarget t;
                t.loopId = e.LoopId;
                t.targetId = e.TargetId;
                t.deviceFlags = e.DeviceFlags;
                t.multipathControl = e.MultipathControl;
                t.baseLun = e.BaseLunNumber;
                t.portId = static_cast<SD_UINT32>(e.PortId[0]) << 16 | static_cast<SD_UINT32>(e.PortId[1]) << 8 | e.PortId[2];
                t.nodeWwn = WwnOf(e.NodeName);
                t.portWwn = WwnOf(e.PortName);
                rt.persistTargets.push_back(t);
            }
            rt.havePersistTargets = true;
            return SDERR_SUCCESS;
        }
        case ZVOP_FO_LUN_DATA_GET: {
            SD_UINT32 persistent = 0;
            if (!GetIn(in, persistent)) {
                return SDERR_INVALID_PARAMETER;
            }
            const auto& src = persistent ? (rt.havePersistLuns ? rt.persistLuns : p.foPersistentLunData) : p.foLunData;
            if (persistent && src.empty()) {
                return 0x20000076;  // nothing in the persistent store
            }
            // Built in the caller's span, entry by entry: the list is a
            // megabyte, asked for every port at discovery.
            if (out.size() < sizeof(FOLUNDATALIST)) {
                outLen = sizeof(FOLUNDATALIST);
                return SDERR_BUFFER_TOO_SMALL;
            }
            std::memset(out.data(), 0, sizeof(FOLUNDATALIST));
            const SD_UINT16 count = static_cast<SD_UINT16>(std::min<size_t>(src.size(), FO_MAX_ENTRIES));
            std::memcpy(out.data() + offsetof(FOLUNDATALIST, EntryCount), &count, sizeof count);
            for (size_t i = 0; i < count; ++i) {
                FOEXTERNALLUNDATAENTRY e{};
                PutWwn(e.NodeName, src[i].nodeWwn);
                PutWwn(e.PortName, src[i].portWwn);
                e.TargetId = src[i].targetId;
                for (const auto& [lun, byte] : src[i].data) {
                    if (lun < FO_MAX_LUNS) {
                        e.Data[lun] = byte;
                    }
                }
                std::memcpy(out.data() + offsetof(FOLUNDATALIST, Entries) + i * sizeof e, &e, sizeof e);
            }
            outLen = sizeof(FOLUNDATALIST);
            return SDERR_SUCCESS;
        }
        case ZVOP_FO_LUN_DATA_SET: {
            auto list = std::make_unique<FOLUNDATALIST>();
            if (!GetIn(in, *list) || list->EntryCount > FO_MAX_ENTRIES) {
                return SDERR_INVALID_PARAMETER;
            }
            rt.persistLuns.clear();
            for (size_t i = 0; i < list->EntryCount; ++i) {
                const FOEXTERNALLUNDATAENTRY& e = list->Entries[i];
                zvsim_port::FoLun l;
                l.nodeWwn = WwnOf(e.NodeName);
                l.portWwn = WwnOf(e.PortName);
                l.targetId = e.TargetId;
                for (SD_UINT16 k = 0; k < FO_MAX_LUNS; ++k) {
                    if (e.Data[k] != 0) {
                        l.data[k] = e.Data[k];
                    }
                }
                rt.persistLuns.push_back(std::move(l));
            }
            rt.havePersistLuns = true;
            return SDERR_SUCCESS;
        }
        case ZVOP_FLASH_UPDATE_START:
        case ZVOP_FLASH_UPDATE_END:
            return SDERR_SUCCESS;
        case ZVOP_FW_ATTRIBUTES_SEND: {
            zvapi_fw_attributes attrs{};
            return GetIn(in, attrs) ? SDERR_SUCCESS : SDERR_INVALID_PARAMETER;
        }
        case ZVOP_COUNT_:
            break;
    }
    return SDERR_NOT_SUPPORTED;
}

std::unique_ptr<zvapi_transport> zvsim_open_host(const std::string& dir, std::string& err) {
    zvsim_host host;
    if (!zvsim_load_host(dir, host, err)) {
        return nullptr;
    }
    // Fault rules are per adapter; each port instance sees the rules of its
    // adapter that are not limited to another port.
    std::vector<zvsim_fault> rules;
    std::map<SD_UINT32, std::vector<size_t>> byInstance;
    std::vector<std::vector<size_t>> adapterRules(host.adapters.size());
    for (size_t ai = 0; ai < host.adapters.size(); ++ai) {
        for (const zvsim_fault& f : host.adapters[ai].faults) {
            adapterRules[ai].push_back(rules.size());
            rules.push_back(f);
        }
    }
    for (size_t inst = 0; inst < host.instances.size(); ++inst) {
        const auto [ai, pi] = host.instances[inst];
        for (size_t idx : adapterRules[static_cast<size_t>(ai)]) {
            if (rules[idx].port < 0 || rules[idx].port == pi) {
                byInstance[static_cast<SD_UINT32>(inst)].push_back(idx);
            }
        }
    }
    auto sim = std::make_unique<zvsim_transport>(std::move(host));
    zvsim_transport* raw = sim.get();
    zvsim_fault_hooks hooks;
    hooks.markWrite = [raw](const char* fault) { raw->MarkNextWrite(fault); };
    hooks.advanceClock = [raw](SD_INT64 seconds) { raw->AdvanceClock(seconds); };
    return std::make_unique<zvsim_fault_transport>(std::move(sim), std::move(rules), std::move(byInstance),
                                                   std::move(hooks));
}

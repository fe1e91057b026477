// Reading host.json. Every value is checked for type and range here, so a
// hand-written file with a mistake gives one clear line instead of a crash
// or a platform that serves nonsense.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "mgmt/sim/sim_file.h"
#include "mgmt/sim/sim_flash.h"
#include "mgmt/sim/sim_host.h"
#include "mgmt/sim/sim_layout.h"
#include "mgmt/transport.h"

using nlohmann::json;

namespace {

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw LoadError(where + ": " + what);
}

// Numbers may be JSON integers or strings ("0x1A77", "42").
SD_UINT64 ToU64(const json& v, const std::string& where, SD_UINT64 max) {
    SD_UINT64 n = 0;
    if (v.is_number_unsigned()) {
        n = v.get<SD_UINT64>();
    } else if (v.is_number_integer()) {
        Fail(where, "negative number");
    } else if (v.is_string()) {
        const std::string s = v.get<std::string>();
        if (s.empty()) {
            Fail(where, "empty number");
        }
        size_t used = 0;
        try {
            n = std::stoull(s, &used, 0);
        } catch (const std::exception&) {
            Fail(where, "not a number: \"" + s + "\"");
        }
        if (used != s.size() || s[0] == '-' || s[0] == '+') {
            Fail(where, "not a number: \"" + s + "\"");
        }
    } else {
        Fail(where, "expected a number");
    }
    if (n > max) {
        Fail(where, "out of range (" + std::to_string(n) + " > " + std::to_string(max) + ")");
    }
    return n;
}

template <class T>
void Num(const json& obj, const char* key, T& field, const std::string& where) {
    if (!obj.contains(key)) {
        return;
    }
    field = static_cast<T>(ToU64(obj[key], where + "." + key, std::numeric_limits<T>::max()));
}

void Str(const json& obj, const char* key, std::string& field, const std::string& where, size_t maxLen) {
    if (!obj.contains(key)) {
        return;
    }
    if (!obj[key].is_string()) {
        Fail(where + "." + key, "expected a string");
    }
    field = obj[key].get<std::string>();
    if (field.size() > maxLen) {
        Fail(where + "." + key, "longer than " + std::to_string(maxLen) + " characters");
    }
}

void Bool(const json& obj, const char* key, bool& field, const std::string& where) {
    if (!obj.contains(key)) {
        return;
    }
    if (!obj[key].is_boolean()) {
        Fail(where + "." + key, "expected true or false");
    }
    field = obj[key].get<bool>();
}

const json& Arr(const json& obj, const char* key, const std::string& where) {
    static const json empty = json::array();
    if (!obj.contains(key)) {
        return empty;
    }
    if (!obj[key].is_array()) {
        Fail(where + "." + key, "expected an array");
    }
    return obj[key];
}

void RequireObject(const json& v, const std::string& where) {
    if (!v.is_object()) {
        Fail(where, "expected an object");
    }
}

// WWN as 16 hex digits, optionally separated by ':' or '-'; or a number.
SD_UINT64 ToWwn(const json& v, const std::string& where) {
    if (!v.is_string()) {
        return ToU64(v, where, std::numeric_limits<SD_UINT64>::max());
    }
    std::string s = v.get<std::string>();
    std::string hex;
    for (char c : s) {
        if (c == ':' || c == '-') {
            continue;
        }
        hex.push_back(c);
    }
    if (hex.rfind("0x", 0) == 0 || hex.rfind("0X", 0) == 0) {
        hex = hex.substr(2);
    }
    if (hex.size() != 16 || !std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        Fail(where, "not a WWN (16 hex digits): \"" + s + "\"");
    }
    return std::stoull(hex, nullptr, 16);
}

void Wwn(const json& obj, const char* key, SD_UINT64& field, const std::string& where) {
    if (obj.contains(key)) {
        field = ToWwn(obj[key], where + "." + key);
    }
}

std::vector<SD_UINT8> ToHexBytes(const json& v, const std::string& where, size_t maxLen) {
    if (!v.is_string()) {
        Fail(where, "expected a hex string");
    }
    const std::string s = v.get<std::string>();
    std::string hex;
    for (char c : s) {
        if (c != ' ' && c != ':') {
            hex.push_back(c);
        }
    }
    if (hex.size() % 2 != 0 || hex.size() / 2 > maxLen ||
        !std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        Fail(where, "not a hex string of at most " + std::to_string(maxLen) + " bytes");
    }
    std::vector<SD_UINT8> out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        out.push_back(static_cast<SD_UINT8>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

void Version4(const json& obj, const char* key, std::array<SD_UINT16, 4>& field, const std::string& where) {
    if (!obj.contains(key)) {
        return;
    }
    const json& v = obj[key];
    const std::string w = where + "." + key;
    if (!v.is_array() || v.size() > 4) {
        Fail(w, "expected an array of at most 4 numbers");
    }
    field = {};
    for (size_t i = 0; i < v.size(); ++i) {
        field[i] = static_cast<SD_UINT16>(ToU64(v[i], w + "[" + std::to_string(i) + "]", 0xFF));
    }
}

template <class T>
void OptNum(const json& obj, const char* key, std::optional<T>& field, const std::string& where) {
    if (obj.contains(key)) {
        T value{};
        Num(obj, key, value, where);
        field = value;
    }
}

void OptStr(const json& obj, const char* key, std::optional<std::string>& field, const std::string& where,
            size_t maxLen) {
    if (obj.contains(key)) {
        std::string value;
        Str(obj, key, value, where, maxLen);
        field = value;
    }
}

void OptVersion4(const json& obj, const char* key, std::optional<std::array<SD_UINT16, 4>>& field,
                 const std::string& where) {
    if (obj.contains(key)) {
        std::array<SD_UINT16, 4> value{};
        Version4(obj, key, value, where);
        field = value;
    }
}

const char* const kOpNames[] = {
    "open", "close", "node_property", "port_property", "chip_property", "driver_property", "disc_target",
    "port_database", "statistics", "priv_stats", "beacon", "flash_layout", "flash_read", "flash_write",
    "region_activate", "online_activate", "active_regions", "fw_attributes", "refresh_versions",
    "nvram_read", "nvram_write", "nvram_reload", "vpd_read", "lockdown", "mailbox", "scsi", "ct", "els",
    "link_speed", "swap_target", "aen_enable", "aen_get", "vport_info", "secure_ports", "nvme_host_info",
    "features", "os_device_name", "fw_dump", "mpi_dump", "sfp_read", "sfp_write", "qos_enable", "qos_get",
    "qos_set", "fo_capability", "fo_driver_version", "fo_sys_params_get", "fo_sys_params_set", "fo_paths",
    "fo_target_data_get", "fo_target_data_set", "fo_lun_data_get", "fo_lun_data_set",
    "flash_update_start", "flash_update_end", "fw_attributes_send",
};
static_assert(std::size(kOpNames) == ZVOP_COUNT_ - 1, "one name per transport operation");

zvsim_scsi_answer ParseAnswer(const json& v, const std::string& w) {
    RequireObject(v, w);
    zvsim_scsi_answer a;
    std::string kind = "good";
    Str(v, "kind", kind, w, 32);
    if (kind == "good") {
        a.kind = zvsim_scsi_answer::Good;
    } else if (kind == "busy") {
        a.kind = zvsim_scsi_answer::Busy;
    } else if (kind == "check") {
        a.kind = zvsim_scsi_answer::Check;
    } else if (kind == "unit_attention") {
        a.kind = zvsim_scsi_answer::Check;
        a.senseKey = 6;
        a.asc = 0x29;
    } else if (kind == "not_ready") {
        a.kind = zvsim_scsi_answer::Check;
        a.senseKey = 2;
        a.asc = 0x04;
    } else if (kind == "reservation_conflict") {
        a.kind = zvsim_scsi_answer::Conflict;
    } else if (kind == "status") {
        a.kind = zvsim_scsi_answer::Status;
    } else {
        Fail(w + ".kind", "unknown answer kind \"" + kind + "\"");
    }
    Num(v, "sense_key", a.senseKey, w);
    Num(v, "asc", a.asc, w);
    Num(v, "ascq", a.ascq, w);
    Num(v, "status", a.status, w);
    Bool(v, "with_data", a.withData, w);
    return a;
}

zvsim_lun ParseLun(const json& v, const std::string& w, SD_UINT64 targetWwn) {
    RequireObject(v, w);
    zvsim_lun l;
    Num(v, "lun", l.lun, w);
    l.vendor = "KORVEX";
    l.product = "VDISK";
    l.revision = "0001";
    l.lastLba = 0x1FFFFF;
    Num(v, "peripheral", l.peripheral, w);
    Str(v, "vendor", l.vendor, w, 8);
    Str(v, "product", l.product, w, 16);
    Str(v, "revision", l.revision, w, 4);
    Num(v, "last_lba", l.lastLba, w);
    Num(v, "block_length", l.blockLength, w);
    Str(v, "serial", l.serial, w, 255);   // the page length is one byte
    if (l.serial.empty()) {
        char buf[40];
        snprintf(buf, sizeof buf, "SIM%016llX%04X", static_cast<unsigned long long>(targetWwn), l.lun);
        l.serial = buf;
    }
    if (v.contains("device_id")) {
        l.deviceId = ToHexBytes(v["device_id"], w + ".device_id", 200);
    } else {
        // NAA type 6 designator from the target's WWN and the LUN.
        l.deviceId = {0x01, 0x03, 0x00, 0x10, 0x60};
        for (int i = 7; i >= 0; --i) {
            l.deviceId.push_back(static_cast<SD_UINT8>(targetWwn >> (8 * i)));
        }
        l.deviceId.push_back(0);
        l.deviceId.push_back(0);
        l.deviceId.push_back(0);
        l.deviceId.push_back(0);
        l.deviceId.push_back(0);
        l.deviceId.push_back(static_cast<SD_UINT8>(l.lun >> 8));
        l.deviceId.push_back(static_cast<SD_UINT8>(l.lun));
    }
    Bool(v, "vpd83", l.vpd83, w);
    Str(v, "os_device_name", l.osDeviceName, w, 255);
    return l;
}

zvsim_target ParseTarget(const json& v, const std::string& w, SD_UINT64 seed) {
    RequireObject(v, w);
    zvsim_target t;
    t.portWwn = 0x5000000000000000ULL | seed;
    t.nodeWwn = 0x5000000000000000ULL | (seed ^ 0x100000ULL);
    Wwn(v, "port_wwn", t.portWwn, w);
    Wwn(v, "node_wwn", t.nodeWwn, w);
    t.portId = static_cast<SD_UINT32>(0x020000 | (seed & 0xFFFF));
    Num(v, "port_id", t.portId, w);
    if (t.portId > 0xFFFFFF) {
        Fail(w + ".port_id", "more than 24 bits");
    }
    Num(v, "target_id", t.targetId, w);
    Num(v, "bus", t.bus, w);
    Num(v, "port_type", t.portType, w);
    Num(v, "port_state", t.portState, w);
    Num(v, "loop_id", t.loopId, w);
    Num(v, "congestion_state", t.congestion, w);
    if (v.contains("luns")) {
        const json& luns = Arr(v, "luns", w);
        for (size_t i = 0; i < luns.size(); ++i) {
            t.luns.push_back(ParseLun(luns[i], w + ".luns[" + std::to_string(i) + "]", t.portWwn));
        }
    } else {
        t.luns.push_back(ParseLun(json::object(), w + ".luns[0]", t.portWwn));
    }
    const json& scripts = Arr(v, "scsi_script", w);
    for (size_t i = 0; i < scripts.size(); ++i) {
        const std::string sw = w + ".scsi_script[" + std::to_string(i) + "]";
        RequireObject(scripts[i], sw);
        zvsim_scsi_script s;
        if (scripts[i].contains("lun")) {
            s.lun = static_cast<int>(ToU64(scripts[i]["lun"], sw + ".lun", 0xFFFF));
        }
        if (scripts[i].contains("opcode")) {
            s.opcode = static_cast<int>(ToU64(scripts[i]["opcode"], sw + ".opcode", 0xFF));
        }
        const json& answers = Arr(scripts[i], "answers", sw);
        for (size_t k = 0; k < answers.size(); ++k) {
            s.answers.push_back(ParseAnswer(answers[k], sw + ".answers[" + std::to_string(k) + "]"));
        }
        t.scripts.push_back(std::move(s));
    }
    return t;
}

DEVICEINFOENTRY ParsePortDbEntry(const json& v, const std::string& w) {
    RequireObject(v, w);
    DEVICEINFOENTRY e{};
    SD_UINT64 node = 0, port = 0;
    SD_UINT32 portId = 0;
    Wwn(v, "node_wwn", node, w);
    Wwn(v, "port_wwn", port, w);
    Num(v, "port_id", portId, w);
    if (portId > 0xFFFFFF) {
        Fail(w + ".port_id", "more than 24 bits");
    }
    for (int i = 0; i < 8; ++i) {
        e.NodeWWN[i] = static_cast<SD_UINT8>(node >> (56 - 8 * i));
        e.PortWWN[i] = static_cast<SD_UINT8>(port >> (56 - 8 * i));
    }
    e.PortID[0] = static_cast<SD_UINT8>(portId >> 16);
    e.PortID[1] = static_cast<SD_UINT8>(portId >> 8);
    e.PortID[2] = static_cast<SD_UINT8>(portId);
    Num(v, "control_flags", e.ControlFlags, w);
    Num(v, "bus", e.TargetAddress.BusNumber, w);
    Num(v, "target_id", e.TargetAddress.TargetID, w);
    Num(v, "lun", e.TargetAddress.LUN, w);
    Num(v, "device_flags", e.DeviceFlags, w);
    Num(v, "loop_id", e.LoopID, w);
    Num(v, "base_lun", e.BaseLunNumber, w);
    return e;
}

std::vector<zvsim_port::FoTarget> ParseFoTargets(const json& arr, const std::string& w) {
    std::vector<zvsim_port::FoTarget> out;
    for (size_t i = 0; i < arr.size(); ++i) {
        const std::string ew = w + "[" + std::to_string(i) + "]";
        RequireObject(arr[i], ew);
        zvsim_port::FoTarget t;
        Num(arr[i], "loop_id", t.loopId, ew);
        Num(arr[i], "target_id", t.targetId, ew);
        Num(arr[i], "device_flags", t.deviceFlags, ew);
        Num(arr[i], "multipath_control", t.multipathControl, ew);
        Num(arr[i], "base_lun", t.baseLun, ew);
        Num(arr[i], "port_id", t.portId, ew);
        Wwn(arr[i], "node_wwn", t.nodeWwn, ew);
        Wwn(arr[i], "port_wwn", t.portWwn, ew);
        out.push_back(t);
    }
    if (out.size() > 256) {
        Fail(w, "more than 256 entries");
    }
    return out;
}

std::vector<zvsim_port::FoLun> ParseFoLuns(const json& arr, const std::string& w) {
    std::vector<zvsim_port::FoLun> out;
    for (size_t i = 0; i < arr.size(); ++i) {
        const std::string ew = w + "[" + std::to_string(i) + "]";
        RequireObject(arr[i], ew);
        zvsim_port::FoLun l;
        Wwn(arr[i], "node_wwn", l.nodeWwn, ew);
        Wwn(arr[i], "port_wwn", l.portWwn, ew);
        Num(arr[i], "target_id", l.targetId, ew);
        if (arr[i].contains("data")) {
            const json& d = arr[i]["data"];
            if (!d.is_object()) {
                Fail(ew + ".data", "expected an object of LUN number to byte");
            }
            for (auto it = d.begin(); it != d.end(); ++it) {
                const SD_UINT16 lun = static_cast<SD_UINT16>(ToU64(json(it.key()), ew + ".data key", 4095));
                l.data[lun] = static_cast<SD_UINT8>(ToU64(it.value(), ew + ".data." + it.key(), 0xFF));
            }
        }
        out.push_back(std::move(l));
    }
    if (out.size() > 256) {
        Fail(w, "more than 256 entries");
    }
    return out;
}

void ParseFailover(const json& v, zvsim_port& p, const std::string& w) {
    RequireObject(v, w);
    Num(v, "capability", p.foCapability, w);
    Str(v, "driver_version", p.foDriverVersion, w, 31);
    if (v.contains("params")) {
        const json& params = Arr(v, "params", w);
        if (params.size() > 8) {
            Fail(w + ".params", "more than 8 words");
        }
        for (size_t i = 0; i < params.size(); ++i) {
            p.foParams[i] = static_cast<SD_UINT32>(ToU64(params[i], w + ".params", 0xFFFFFFFF));
        }
    }
    p.foTargetData = ParseFoTargets(Arr(v, "target_data", w), w + ".target_data");
    p.foPersistentTargetData = ParseFoTargets(Arr(v, "persistent_target_data", w), w + ".persistent_target_data");
    p.foLunData = ParseFoLuns(Arr(v, "lun_data", w), w + ".lun_data");
    p.foPersistentLunData = ParseFoLuns(Arr(v, "persistent_lun_data", w), w + ".persistent_lun_data");
    const json& paths = Arr(v, "paths", w);
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string pw = w + ".paths[" + std::to_string(i) + "]";
        RequireObject(paths[i], pw);
        zvsim_port::FoPath path;
        Wwn(paths[i], "wwn", path.wwn, pw);
        Num(paths[i], "current_path_index", path.currentPathIndex, pw);
        const json& entries = Arr(paths[i], "entries", pw);
        if (entries.size() > 256) {
            Fail(pw + ".entries", "more than 256 entries");
        }
        for (size_t k = 0; k < entries.size(); ++k) {
            const std::string ew = pw + ".entries[" + std::to_string(k) + "]";
            RequireObject(entries[k], ew);
            SD_UINT32 inst = 0;
            SD_UINT64 name = 0;
            Num(entries[k], "instance", inst, ew);
            Wwn(entries[k], "port_name", name, ew);
            path.entries.emplace_back(inst, name);
        }
        p.foPaths.push_back(std::move(path));
    }
}

void ParseStatistics(const json& v, STATISTICS& s, const std::string& w) {
    RequireObject(v, w);
    Num(v, "total_ios", s.TotalIOs, w);
    Num(v, "total_mbytes", s.TotalMBytes, w);
    Num(v, "lip_count", s.LipCount, w);
    Num(v, "nos_count", s.NosCount, w);
    Num(v, "link_failure_count", s.LinkFailureCount, w);
    Num(v, "loss_of_sync_count", s.LossOfSyncCount, w);
    Num(v, "loss_of_signal_count", s.LossOfSignalCount, w);
    Num(v, "invalid_crc_count", s.InvalidCRCCount, w);
    Num(v, "invalid_tx_word_count", s.InvalidTxWordCount, w);
    Num(v, "error_frames", s.ErrorFrames, w);
    Num(v, "dumped_frames", s.DumpedFrames, w);
}

zvsim_port ParsePort(const json& v, const std::string& w, int adapterIndex, int portIndex, int position) {
    RequireObject(v, w);
    zvsim_port p;
    p.order = position;
    if (v.contains("order")) {
        p.order = static_cast<int>(ToU64(v["order"], w + ".order", 1000000));
    }
    p.function = static_cast<SD_UINT32>(portIndex);
    Num(v, "function", p.function, w);
    if (p.function > 7) {
        Fail(w + ".function", "PCI function above 7");
    }
    Num(v, "interface_type", p.interfaceType, w);
    if (p.interfaceType != SD_INTERFACE_FC && p.interfaceType != SD_INTERFACE_VPORT &&
        p.interfaceType != SD_INTERFACE_FCOE) {
        Fail(w + ".interface_type", "must be 1 (FC), 3 (virtual port) or 4 (FCoE)");
    }
    const SD_UINT64 seed = (static_cast<SD_UINT64>(adapterIndex) << 8) | static_cast<SD_UINT64>(portIndex);
    p.portWwn = 0x21000011AA000000ULL | seed;
    p.nodeWwn = 0x20000011AA000000ULL | seed;
    Wwn(v, "port_wwn", p.portWwn, w);
    Wwn(v, "node_wwn", p.nodeWwn, w);
    p.portId = static_cast<SD_UINT32>(0x010000 | (seed & 0xFFFF));
    Num(v, "port_id", p.portId, w);
    if (p.portId > 0xFFFFFF) {
        Fail(w + ".port_id", "more than 24 bits");
    }
    Num(v, "port_type", p.portType, w);
    Num(v, "state", p.portState, w);
    if (v.contains("link_states")) {
        const json& ls = Arr(v, "link_states", w);
        if (ls.size() > 3) {
            Fail(w + ".link_states", "more than 3 values");
        }
        SD_UINT16* dst[3] = {&p.linkState1, &p.linkState2, &p.linkState3};
        for (size_t i = 0; i < ls.size(); ++i) {
            *dst[i] = static_cast<SD_UINT16>(ToU64(ls[i], w + ".link_states", 0xFFFF));
        }
    }
    Num(v, "connection_mode", p.connectionMode, w);
    Str(v, "device_name", p.deviceName, w, 31);
    p.speed = 0x32;
    p.supportedSpeed = 0x0E;
    Num(v, "speed", p.speed, w);
    Num(v, "supported_speed", p.supportedSpeed, w);
    Num(v, "scm_flags", p.scmFlags, w);
    Wwn(v, "principal_fabric_wwn", p.principalFabricWwn, w);
    Wwn(v, "adjacent_fabric_wwn", p.adjacentFabricWwn, w);
    Num(v, "beacon", p.beacon, w);
    if (v.contains("statistics")) {
        ParseStatistics(v["statistics"], p.stats, w + ".statistics");
    }
    const json& targets = Arr(v, "targets", w);
    for (size_t i = 0; i < targets.size(); ++i) {
        p.targets.push_back(ParseTarget(targets[i], w + ".targets[" + std::to_string(i) + "]",
                                        (seed << 12) | static_cast<SD_UINT64>(i)));
    }
    if (v.contains("port_database")) {
        const json& db = v["port_database"];
        RequireObject(db, w + ".port_database");
        for (auto it = db.begin(); it != db.end(); ++it) {
            const std::string dw = w + ".port_database." + it.key();
            if (it.key() != "7" && it.key() != "8" && it.key() != "16") {
                Fail(dw, "mode must be 7, 8 or 16");
            }
            if (!it.value().is_array()) {
                Fail(dw, "expected an array");
            }
            std::vector<DEVICEINFOENTRY>& list = p.portDb[static_cast<SD_UINT32>(std::stoul(it.key()))];
            for (size_t i = 0; i < it.value().size(); ++i) {
                list.push_back(ParsePortDbEntry(it.value()[i], dw + "[" + std::to_string(i) + "]"));
            }
        }
    }
    p.foDriverVersion = "10.02.09.100-fo";
    if (v.contains("failover")) {
        ParseFailover(v["failover"], p, w + ".failover");
    }
    if (v.contains("features")) {
        const json& f = Arr(v, "features", w);
        for (size_t i = 0; i < f.size(); ++i) {
            const std::string fw = w + ".features[" + std::to_string(i) + "]";
            RequireObject(f[i], fw);
            FEATURE_GET_ENTRY e{};
            Num(f[i], "feature", e.Feature, fw);
            Num(f[i], "current", e.Current, fw);
            Num(f[i], "default", e.Default, fw);
            Num(f[i], "supported", e.Supported, fw);
            p.features.push_back(e);
        }
    } else {
        p.features.push_back(FEATURE_GET_ENTRY{4, 1, 1, 1});
    }
    const json& sec = Arr(v, "secure_ports", w);
    for (size_t i = 0; i < sec.size(); ++i) {
        const std::string sw = w + ".secure_ports[" + std::to_string(i) + "]";
        RequireObject(sec[i], sw);
        SECUREPORTENTRY e{};
        SD_UINT64 wwn = 0;
        SD_UINT32 portId = 0;
        Wwn(sec[i], "port_wwn", wwn, sw);
        for (int k = 0; k < 8; ++k) {
            e.RemoteWWPN[k] = static_cast<SD_UINT8>(wwn >> (56 - 8 * k));
        }
        Num(sec[i], "port_id", portId, sw);
        if (portId > 0xFFFFFF) {
            Fail(sw + ".port_id", "more than 24 bits");
        }
        e.RemotePID[0] = static_cast<SD_UINT8>(portId >> 16);
        e.RemotePID[1] = static_cast<SD_UINT8>(portId >> 8);
        e.RemotePID[2] = static_cast<SD_UINT8>(portId);
        Num(sec[i], "remote_type", e.RemoteType, sw);
        Num(sec[i], "remote_state", e.RemoteState, sw);
        Num(sec[i], "auth_state", e.AuthState, sw);
        Num(sec[i], "rekey_mode", e.RekeyMode, sw);
        Num(sec[i], "rekey_count", e.RekeyCount, sw);
        Num(sec[i], "rekey_config_value", e.RekeyConfigValue, sw);
        Num(sec[i], "rekey_consumed_value", e.RekeyConsumedValue, sw);
        p.securePorts.push_back(e);
    }
    const json& ev = Arr(v, "events", w);
    for (size_t i = 0; i < ev.size(); ++i) {
        const std::string ew = w + ".events[" + std::to_string(i) + "]";
        RequireObject(ev[i], ew);
        ASYNCEVENT e{};
        Num(ev[i], "code", e.EventCode, ew);
        const json& payload = Arr(ev[i], "payload", ew);
        if (payload.size() > 3) {
            Fail(ew + ".payload", "more than 3 words");
        }
        for (size_t k = 0; k < payload.size(); ++k) {
            e.Payload[k] = static_cast<SD_UINT32>(ToU64(payload[k], ew + ".payload", 0xFFFFFFFF));
        }
        p.events.push_back(e);
    }
    const json& vp = Arr(v, "vports", w);
    for (size_t i = 0; i < vp.size(); ++i) {
        const std::string vw = w + ".vports[" + std::to_string(i) + "]";
        RequireObject(vp[i], vw);
        VPORT_INFO e{};
        e.state = 1;
        Num(vp[i], "id", e.id, vw);
        Num(vp[i], "state", e.state, vw);
        Num(vp[i], "bound", e.bound, vw);
        Num(vp[i], "instance", e.instance, vw);
        SD_UINT64 wwnn = 0, wwpn = 0;
        Wwn(vp[i], "wwnn", wwnn, vw);
        Wwn(vp[i], "wwpn", wwpn, vw);
        for (int k = 0; k < 8; ++k) {
            e.wwnn[k] = static_cast<SD_UINT8>(wwnn >> (56 - 8 * k));
            e.wwpn[k] = static_cast<SD_UINT8>(wwpn >> (56 - 8 * k));
        }
        p.vports.push_back(e);
    }
    Str(v, "nvme_host_nqn", p.nvmeHostNqn, w, SD_NVME_HOST_INFO_SIZE - 17);
    Num(v, "fw_dump_size", p.fwDumpSize, w);
    Num(v, "mpi_dump_size", p.mpiDumpSize, w);
    if (p.fwDumpSize > 0x4000000 || p.mpiDumpSize > 0x4000000) {
        Fail(w, "dump size above 64 MiB");
    }
    if (v.contains("sfp")) {
        const json& sfp = v["sfp"];
        RequireObject(sfp, w + ".sfp");
        for (auto it = sfp.begin(); it != sfp.end(); ++it) {
            const SD_UINT16 addr = static_cast<SD_UINT16>(ToU64(json(it.key()), w + ".sfp key", 0xFF));
            p.sfp[addr] = ToHexBytes(it.value(), w + ".sfp." + it.key(), 256);
        }
    }
    if (v.contains("fabric")) {
        const json& f = v["fabric"];
        const std::string fw = w + ".fabric";
        RequireObject(f, fw);
        const json& elements = Arr(f, "elements", fw);
        if (elements.size() > 1024) {
            Fail(fw + ".elements", "more than 1024 elements");
        }
        for (size_t i = 0; i < elements.size(); ++i) {
            const std::string ew = fw + ".elements[" + std::to_string(i) + "]";
            RequireObject(elements[i], ew);
            zvsim_fabric_element e;
            Wwn(elements[i], "name", e.name, ew);
            Num(elements[i], "type", e.type, ew);
            Num(elements[i], "domain", e.domain, ew);
            p.fabricElements.push_back(e);
        }
        Wwn(f, "fabric_port_name", p.fabricPortName, fw);
        Wwn(f, "port_name", p.attachedPortName, fw);
    }
    if (v.contains("qos")) {
        const json& q = v["qos"];
        const std::string qw = w + ".qos";
        RequireObject(q, qw);
        Num(q, "enable", p.qosEnable, qw);
        const json& targets = Arr(q, "targets", qw);
        if (targets.size() > 256) {
            Fail(qw + ".targets", "more than 256 targets");
        }
        for (size_t i = 0; i < targets.size(); ++i) {
            const std::string tw = qw + ".targets[" + std::to_string(i) + "]";
            RequireObject(targets[i], tw);
            SD_LUN_QOS rec{};
            SD_UINT64 wwn = 0;
            Wwn(targets[i], "wwpn", wwn, tw);
            if (wwn == 0) {
                Fail(tw + ".wwpn", "required, non-zero");
            }
            for (int k = 0; k < 8; ++k) {
                rec.WWPN[k] = static_cast<SD_UINT8>(wwn >> (56 - 8 * k));
            }
            for (const SD_LUN_QOS& held : p.qos) {
                if (std::memcmp(held.WWPN, rec.WWPN, sizeof rec.WWPN) == 0) {
                    Fail(tw + ".wwpn", "given twice");
                }
            }
            if (targets[i].contains("luns")) {
                const json& luns = targets[i]["luns"];
                RequireObject(luns, tw + ".luns");
                for (auto it = luns.begin(); it != luns.end(); ++it) {
                    const std::string lw = tw + ".luns." + it.key();
                    const SD_UINT64 lun = ToU64(json(it.key()), tw + ".luns key", SD_LUN_QOS_LUNS - 1);
                    rec.LunQosData[lun] = static_cast<SD_UINT8>(ToU64(it.value(), lw, 0xFF));
                }
            }
            p.qos.push_back(rec);
        }
    }
    return p;
}

zvsim_fault ParseFault(const json& v, const std::string& w, size_t portCount) {
    RequireObject(v, w);
    zvsim_fault f;
    std::string op;
    Str(v, "op", op, w, 64);
    f.op = zvsim_op_from_name(op);
    if (f.op == 0) {
        Fail(w + ".op", "unknown operation \"" + op + "\"");
    }
    std::string kind = "status";
    Str(v, "kind", kind, w, 32);
    if (kind == "status") {
        f.kind = zvsim_fault::Status;
    } else if (kind == "after") {
        f.kind = zvsim_fault::After;
    } else if (kind == "partial") {
        f.kind = zvsim_fault::Partial;
    } else if (kind == "corrupt") {
        f.kind = zvsim_fault::Corrupt;
    } else if (kind == "zero") {
        f.kind = zvsim_fault::Zero;
    } else if (kind == "hide_region") {
        f.kind = zvsim_fault::HideRegion;
    } else if (kind == "advance_clock") {
        f.kind = zvsim_fault::AdvanceClock;
    } else {
        Fail(w + ".kind", "unknown fault kind \"" + kind + "\"");
    }
    if ((f.kind == zvsim_fault::Partial || f.kind == zvsim_fault::Corrupt) &&
        f.op != ZVOP_FLASH_WRITE && f.op != ZVOP_NVRAM_WRITE) {
        Fail(w + ".kind", "\"" + kind + "\" applies to flash_write or nvram_write only");
    }
    if (f.kind == zvsim_fault::Zero && f.op != ZVOP_ACTIVE_REGIONS) {
        Fail(w + ".kind", "\"zero\" applies to active_regions only");
    }
    if (f.kind == zvsim_fault::HideRegion && f.op != ZVOP_FLASH_LAYOUT) {
        Fail(w + ".kind", "\"hide_region\" applies to flash_layout only");
    }
    if (v.contains("region")) {
        f.region = static_cast<SD_UINT32>(ToU64(v["region"], w + ".region", 0xFFFFFFFF));
    }
    if (f.kind == zvsim_fault::HideRegion && !f.region) {
        Fail(w + ".region", "\"hide_region\" needs a region");
    }
    if (v.contains("port")) {
        f.port = static_cast<int>(ToU64(v["port"], w + ".port", 0xFFFF));
        if (static_cast<size_t>(f.port) >= portCount) {
            Fail(w + ".port", "no such port in this adapter");
        }
    }
    Num(v, "skip", f.skip, w);
    if (v.contains("count")) {
        if (v["count"].is_number_integer() && v["count"].get<long long>() == -1) {
            f.count = -1;
        } else {
            f.count = static_cast<long>(ToU64(v["count"], w + ".count", 0x7FFFFFFF));
        }
    }
    Num(v, "status", f.status, w);
    Num(v, "bytes", f.bytes, w);
    if (v.contains("seconds")) {
        f.seconds = static_cast<SD_INT64>(ToU64(v["seconds"], w + ".seconds", 0x7FFFFFFF));
    }
    if (f.kind == zvsim_fault::AdvanceClock && f.seconds == 0) {
        Fail(w + ".seconds", "\"advance_clock\" needs a number of seconds");
    }
    if (f.kind == zvsim_fault::Status && f.status == 0) {
        Fail(w + ".status", "a \"status\" fault needs a non-zero status");
    }
    return f;
}

zvsim_adapter ParseAdapter(const json& v, const std::string& w, int index, const std::string& dir) {
    RequireObject(v, w);
    zvsim_adapter a;
    a.index = index;
    a.deviceId = 0x2261;
    Num(v, "device_id", a.deviceId, w);
    Num(v, "vendor_id", a.vendorId, w);
    a.subVendorId = a.vendorId;
    a.subSystemId = 0x0289;
    Num(v, "subsystem_vendor_id", a.subVendorId, w);
    Num(v, "subsystem_device_id", a.subSystemId, w);
    Num(v, "pci_bus", a.bus, w);
    Num(v, "pci_slot", a.slot, w);
    if (a.bus > 0xFF || a.slot > 0x1F) {
        Fail(w, "pci_bus must be at most 255 and pci_slot at most 31");
    }
    a.chipType = zvsim_chip_type_of(a.deviceId);
    Num(v, "chip_type", a.chipType, w);
    a.chipRevision = a.chipType;
    Num(v, "chip_revision", a.chipRevision, w);
    a.manufacturer = "Korvex";
    a.model = "KV2692";
    a.modelDescription = "Korvex Gen6 Fibre Channel adapter";
    char serial[32];
    snprintf(serial, sizeof serial, "ZV%08d", 10000 + index);
    a.serial = serial;
    Str(v, "manufacturer", a.manufacturer, w, 63);
    Str(v, "model", a.model, w, 31);
    Str(v, "model_description", a.modelDescription, w, 127);
    Str(v, "serial_number", a.serial, w, 31);
    a.driverName = "zvfcdrv";
    a.driverVersion = "10.02.09.100-k";
    Str(v, "driver_name", a.driverName, w, 31);
    Str(v, "driver_version", a.driverVersion, w, 31);
    Num(v, "luns_per_target", a.lunsPerTarget, w);
    Num(v, "number_of_bus", a.numberOfBus, w);
    Num(v, "targets_per_bus", a.targetsPerBus, w);
    Num(v, "max_transfer_len", a.maxTransferLen, w);
    Num(v, "driver_attributes", a.driverAttributes, w);
    // Running and flash versions: given values pin them, the rest comes
    // from the flash of the image set the adapter boots.
    zvsim_live_overrides& o = a.live;
    OptStr(v, "firmware_version", o.firmwareVersion, w, 31);
    OptStr(v, "option_rom_version", o.optionRomVersion, w, 31);
    OptNum(v, "bi_valid", o.biValid, w);
    OptVersion4(v, "bi_firmware", o.biFw, w);
    OptVersion4(v, "bi_efi", o.biEfi, w);
    OptVersion4(v, "bi_fcode", o.biFcode, w);
    OptVersion4(v, "bi_mpi", o.biMpi, w);
    OptVersion4(v, "bi_pep", o.biPep, w);
    OptVersion4(v, "mpi_version", o.mpi, w);
    OptVersion4(v, "pep_version", o.pep, w);
    OptNum(v, "fw_attributes", o.fwAttributes, w);
    a.pcieLinkCap = 0x4083;
    a.pcieLinkStat = 0x1083;
    Num(v, "pcie_link_cap", a.pcieLinkCap, w);
    Num(v, "pcie_link_stat", a.pcieLinkStat, w);
    Num(v, "mpi_state", a.mpiState, w);
    Num(v, "active_vpd_nvram", a.activeVpdNvram, w);
    if (a.activeVpdNvram != 1 && a.activeVpdNvram != 2) {
        Fail(w + ".active_vpd_nvram", "must be 1 (primary) or 2 (secondary)");
    }

    // Lockdown record.
    a.lockdown.Signature = 0x4C4B444E;
    if (v.contains("lockdown")) {
        const json& l = v["lockdown"];
        const std::string lw = w + ".lockdown";
        RequireObject(l, lw);
        Num(l, "status", a.lockdownStatus, lw);
        Num(l, "signature", a.lockdown.Signature, lw);
        Num(l, "config_disable_flags", a.lockdown.MPIFwLockdown.ConfigDisableFlags, lw);
        Num(l, "fw_update_disable_flags", a.lockdown.MPIFwLockdown.FwUpdateDisableFlags, lw);
        Num(l, "mpi_disable_flags", a.lockdown.MPIFwLockdown.MpiDisableFlags, lw);
        Num(l, "lockdown_support", a.lockdown.MPIFwLockdown.LockdownSupport, lw);
        Num(l, "isp_fw_lockdown", a.lockdown.ISPFwLockdown, lw);
    }

    // Flash.
    a.flashSize = ZVSIM_DEFAULT_FLASH_SIZE;
    std::string file = "adapter" + std::to_string(index) + ".flash";
    bool haveLayout = false;
    if (v.contains("flash")) {
        const json& f = v["flash"];
        const std::string fw = w + ".flash";
        RequireObject(f, fw);
        Num(f, "size", a.flashSize, fw);
        Str(f, "file", file, fw, 255);
        if (file.empty() || file.find('/') != std::string::npos || file == "." || file == "..") {
            Fail(fw + ".file", "must be a plain file name inside the host directory");
        }
        if (f.contains("regions")) {
            haveLayout = true;
            const json& regions = Arr(f, "regions", fw);
            // Held for the whole run for every adapter: no growth slack.
            a.layout.reserve(regions.size());
            for (size_t i = 0; i < regions.size(); ++i) {
                const std::string rw = fw + ".regions[" + std::to_string(i) + "]";
                RequireObject(regions[i], rw);
                if (!regions[i].contains("code") || !regions[i].contains("offset") || !regions[i].contains("size")) {
                    Fail(rw, "needs code, offset and size");
                }
                zvsim_region r;
                Num(regions[i], "code", r.code, rw);
                Num(regions[i], "offset", r.offset, rw);
                Num(regions[i], "size", r.size, rw);
                Bool(regions[i], "needs_activation", r.needsActivation, rw);
                a.layout.push_back(r);
            }
        }
    }
    if (a.flashSize == 0 || a.flashSize > 0x40000000) {
        Fail(w + ".flash.size", "must be between 1 byte and 1 GiB");
    }
    if (!haveLayout) {
        a.layout = zvsim_default_layout(a.chipType);
    }
    std::vector<zvsim_region> sorted = a.layout;
    std::sort(sorted.begin(), sorted.end(), [](const zvsim_region& x, const zvsim_region& y) { return x.offset < y.offset; });
    for (size_t i = 0; i < sorted.size(); ++i) {
        const zvsim_region& r = sorted[i];
        char buf[160];
        if (r.code == 0) {
            Fail(w + ".flash.regions", "region code 0 is not a region");
        }
        if (r.size == 0 || static_cast<SD_UINT64>(r.offset) + r.size > a.flashSize) {
            snprintf(buf, sizeof buf, "region 0x%X (offset 0x%X, size 0x%X) lies outside the flash (size 0x%X)",
                     r.code, r.offset, r.size, a.flashSize);
            Fail(w + ".flash.regions", buf);
        }
        if (i > 0 && static_cast<SD_UINT64>(sorted[i - 1].offset) + sorted[i - 1].size > r.offset) {
            snprintf(buf, sizeof buf, "regions 0x%X and 0x%X overlap", sorted[i - 1].code, r.code);
            Fail(w + ".flash.regions", buf);
        }
        for (size_t k = 0; k < i; ++k) {
            if (sorted[k].code == r.code) {
                snprintf(buf, sizeof buf, "region 0x%X is listed twice", r.code);
                Fail(w + ".flash.regions", buf);
            }
        }
    }
    a.flashPath = dir + "/" + file;
    // Type and size only (no times: see zvsim_open_regular).
    struct statx st{};
    if (statx(AT_FDCWD, a.flashPath.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_SIZE, &st) != 0 ||
        !S_ISREG(st.stx_mode)) {
        Fail(w + ".flash.file", "flash file \"" + a.flashPath + "\" is missing");
    }
    if (st.stx_size > a.flashSize) {
        Fail(w + ".flash.file", "flash file \"" + a.flashPath + "\" is larger than the flash size");
    }

    // Ports.
    if (v.contains("ports")) {
        const json& ports = Arr(v, "ports", w);
        for (size_t i = 0; i < ports.size(); ++i) {
            a.ports.push_back(ParsePort(ports[i], w + ".ports[" + std::to_string(i) + "]", index,
                                        static_cast<int>(i), 0));
        }
    } else {
        a.ports.push_back(ParsePort(json::object(), w + ".ports[0]", index, 0, 0));
    }
    const json& faults = Arr(v, "faults", w);
    for (size_t i = 0; i < faults.size(); ++i) {
        a.faults.push_back(ParseFault(faults[i], w + ".faults[" + std::to_string(i) + "]", a.ports.size()));
    }
    return a;
}

zvsim_power_loss ParsePowerLoss(const json& v, const std::string& w) {
    RequireObject(v, w);
    zvsim_power_loss p;
    if (!v.contains("write")) {
        Fail(w + ".write", "the power-loss fault needs the number of the write");
    }
    p.atWrite = ToU64(v["write"], w + ".write", 0xFFFFFFFF);
    if (p.atWrite == 0) {
        Fail(w + ".write", "writes are counted from 1");
    }
    std::string moment = "after";
    Str(v, "moment", moment, w, 16);
    if (moment == "before") {
        p.moment = zvsim_power_loss::Before;
    } else if (moment == "during") {
        p.moment = zvsim_power_loss::During;
    } else if (moment == "after") {
        p.moment = zvsim_power_loss::After;
    } else {
        Fail(w + ".moment", "unknown moment \"" + moment + "\" (before, during, after)");
    }
    if (v.contains("cut")) {
        p.cut = static_cast<SD_UINT32>(ToU64(v["cut"], w + ".cut", 0xFFFFFFFF));
    }
    std::string how = "kill";
    Str(v, "how", how, w, 16);
    if (how != "kill" && how != "exit") {
        Fail(w + ".how", "unknown way to end \"" + how + "\" (kill, exit)");
    }
    p.kill = how == "kill";
    return p;
}

}  // namespace

const zvsim_region* zvsim_adapter::Region(SD_UINT32 code) const {
    for (const zvsim_region& r : layout) {
        if (r.code == code) {
            return &r;
        }
    }
    return nullptr;
}

bool zvsim_adapter::FwUpdateLocked() const {
    // As the front end reads the record: support bit 1, then bit 0 or bit 3
    // of the firmware-update disable flags.
    return (lockdown.MPIFwLockdown.LockdownSupport & 0x2) != 0 &&
           (lockdown.MPIFwLockdown.FwUpdateDisableFlags & 0x9) != 0;
}

SD_UINT32 zvsim_op_from_name(const std::string& name) {
    for (size_t i = 0; i < std::size(kOpNames); ++i) {
        if (name == kOpNames[i]) {
            return static_cast<SD_UINT32>(i + 1);
        }
    }
    return 0;
}

SD_UINT32 zvsim_vpd_region(SD_UINT32 function, bool secondary) {
    static constexpr SD_UINT32 primary[4] = {0x14, 0x16, 0xD4, 0xD6};
    static constexpr SD_UINT32 second[4] = {0x10C, 0x10E, 0x110, 0x112};
    return function < 4 ? (secondary ? second[function] : primary[function]) : 0;
}

SD_UINT32 zvsim_nvram_region(SD_UINT32 function, bool secondary) {
    static constexpr SD_UINT32 primary[4] = {0x15, 0x17, 0xD5, 0xD7};
    static constexpr SD_UINT32 second[4] = {0x10D, 0x10F, 0x111, 0x113};
    return function < 4 ? (secondary ? second[function] : primary[function]) : 0;
}

size_t zvsim_nvram_size(SD_UINT16 deviceId) {
    // 512-byte NVRAM only on the Gen6 chips, less the three with the small part.
    if (deviceId == 0x2061 || deviceId == 0x2171 || deviceId == 0x2371) return 256;
    const SD_UINT16 chip = zvsim_chip_type_of(deviceId);
    return chip == 25 || chip == 27 ? 512 : 256;
}

size_t zvsim_vpd_size(SD_UINT16 deviceId) {
    switch (deviceId) {
        case 0x0101: case 0x8021: case 0x8031: case 0x8831: case 0x8044:
            return 1024;
        default:
            return 512;
    }
}

namespace {

// The last host parsed in this process: the library opens the platform at
// every load, and a large host.json takes far longer to parse than to read.
// The last host given back, known by its text's size and hash: the process
// keeps neither a second copy of host.json nor of the host model.
struct ParsedHost {
    std::mutex mutex;
    zvsim_host host;
    bool held = false;
};

SD_UINT64 TextHash(const std::string& text) {
    return zvsim_hash64({reinterpret_cast<const SD_UINT8*>(text.data()), text.size()});
}

ParsedHost& LastParsed() {
    static ParsedHost* p = new ParsedHost;   // outlives static destructors of callers
    return *p;
}

// The flash files the parser checked are still there and still fit.
bool FlashFilesStillFit(const zvsim_host& host) {
    for (const zvsim_adapter& a : host.adapters) {
        struct statx st{};
        if (statx(AT_FDCWD, a.flashPath.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_SIZE, &st) != 0 ||
            !S_ISREG(st.stx_mode) || st.stx_size > a.flashSize)
            return false;
    }
    return true;
}

bool ParseHostText(const std::string& dir, const std::string& path, const std::string& text, zvsim_host& host,
                   std::string& err);

}  // namespace

bool zvsim_load_host(const std::string& dir, zvsim_host& host, std::string& err) {
    host = zvsim_host{};
    host.dir = dir;
    const std::string path = dir + "/host.json";
    std::string text;
    try {
        if (!zvsim_read_file(path, kZvsimMaxTextFile, text, err)) {
            return false;
        }
    } catch (const std::exception& e) {
        err = path + ": " + e.what();
        return false;
    }
    // The same text parses to the same host; only the flash files it names
    // can have changed since. Anything else goes through the parser, which
    // gives the one-line fault.
    ParsedHost& last = LastParsed();
    std::lock_guard<std::mutex> lock(last.mutex);
    const SD_UINT64 hash = TextHash(text);
    if (last.held && last.host.dir == dir && last.host.textSize == text.size() && last.host.textHash == hash &&
        FlashFilesStillFit(last.host)) {
        host = std::move(last.host);
        last.held = false;
        return true;
    }
    last.host = zvsim_host{};
    last.held = false;
    if (!ParseHostText(dir, path, text, host, err)) return false;
    host.textSize = text.size();
    host.textHash = hash;
    return true;
}

void zvsim_keep_host(zvsim_host&& host) {
    for (const zvsim_adapter& a : host.adapters) {
        a.flashFile.Close();
    }
    ParsedHost& last = LastParsed();
    std::lock_guard<std::mutex> lock(last.mutex);
    last.host = std::move(host);
    last.held = true;
}

namespace {

bool ParseHostText(const std::string& dir, const std::string& path, const std::string& text, zvsim_host& host,
                   std::string& err) {
    host = zvsim_host{};
    host.dir = dir;
    try {
        // Each adapter is taken from the text as soon as the parser has it
        // and dropped from the document: a whole document of a large host
        // takes several times the text in memory. Its faults wait until the
        // top level is checked, so the first fault is the one a parse of
        // the whole document would find first.
        std::vector<std::vector<bool>> explicitOrder;   // per adapter and port: "order" given
        size_t count = 0;
        std::string adapterFault;
        bool sawAdaptersKey = false, inAdapters = false;
        const auto take = [&](int depth, json::parse_event_t event, json& parsed) {
            using E = json::parse_event_t;
            if (depth == 1 && event == E::key) {
                sawAdaptersKey = parsed == "adapters";
                if (sawAdaptersKey) {   // a repeated key: the last one counts
                    host.adapters.clear();
                    explicitOrder.clear();
                    count = 0;
                    adapterFault.clear();
                }
                return true;
            }
            if (depth == 1 && event == E::array_start) {
                inAdapters = sawAdaptersKey;
                return true;
            }
            if (depth == 1 && event == E::array_end) {
                inAdapters = false;
                return true;
            }
            if (!inAdapters || depth != 2 || (event != E::object_end && event != E::array_end && event != E::value)) {
                return true;
            }
            const size_t i = count++;
            if (adapterFault.empty() && i < 1024) {
                try {
                    host.adapters.push_back(
                        ParseAdapter(parsed, "adapters[" + std::to_string(i) + "]", static_cast<int>(i), dir));
                    std::vector<bool> given;
                    if (parsed.is_object() && parsed.contains("ports") && parsed["ports"].is_array()) {
                        for (const json& port : parsed["ports"]) given.push_back(port.contains("order"));
                    }
                    explicitOrder.push_back(std::move(given));
                } catch (const std::exception& e) {
                    adapterFault = e.what();
                }
            }
            return false;
        };
        json doc;
        try {
            doc = json::parse(text, take);
        } catch (const json::parse_error& e) {
            err = path + ": not valid JSON (" + e.what() + ")";
            return false;
        }
        RequireObject(doc, "host");
        Str(doc, "library_version", host.libraryVersion, "host", 127);
        Str(doc, "failover_api_version", host.failoverApiVersion, "host", 63);
        if (doc.contains("power_loss")) {
            host.powerLoss = ParsePowerLoss(doc["power_loss"], "host.power_loss");
        }
        Arr(doc, "adapters", "host");
        if (count > 1024) {
            Fail("host.adapters", "more than 1024 adapters");
        }
        if (!adapterFault.empty()) {
            throw LoadError(adapterFault);
        }
        // Instance numbers follow the ports' order keys; ties keep file order.
        struct Key {
            long order;
            int adapter, port;
        };
        std::vector<Key> keys;
        long position = 0;
        for (size_t ai = 0; ai < host.adapters.size(); ++ai) {
            for (size_t pi = 0; pi < host.adapters[ai].ports.size(); ++pi) {
                const bool given = pi < explicitOrder[ai].size() && explicitOrder[ai][pi];
                keys.push_back({given ? host.adapters[ai].ports[pi].order : position, static_cast<int>(ai),
                                static_cast<int>(pi)});
                ++position;
            }
        }
        std::stable_sort(keys.begin(), keys.end(), [](const Key& x, const Key& y) { return x.order < y.order; });
        if (keys.size() > 4096) {
            Fail("host.adapters", "more than 4096 ports");
        }
        for (const Key& k : keys) {
            host.instances.emplace_back(k.adapter, k.port);
        }
    } catch (const LoadError& e) {
        err = path + ": " + e.what();
        host.adapters.clear();
        host.instances.clear();
        return false;
    } catch (const std::exception& e) {
        err = path + ": " + e.what();
        host.adapters.clear();
        host.instances.clear();
        return false;
    }
    return true;
}

}  // namespace

#include "mgmt/sim/sim_boot.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <nlohmann/json.hpp>

#include "mgmt/sim/sim_file.h"
#include "mgmt/sim/sim_flash.h"
#include "mgmt/sim/sim_live.h"

using nlohmann::json;

namespace {

SD_UINT32 Le32(std::span<const SD_UINT8> b, size_t at) {
    return static_cast<SD_UINT32>(b[at]) | static_cast<SD_UINT32>(b[at + 1]) << 8 |
           static_cast<SD_UINT32>(b[at + 2]) << 16 | static_cast<SD_UINT32>(b[at + 3]) << 24;
}

zvsim_status_record ReadRecord(const zvsim_adapter& a, SD_UINT32 code, SD_UINT32 signature) {
    const zvsim_region* r = a.Region(code);
    if (r == nullptr || r->size < 16) {
        return {};
    }
    std::array<SD_UINT8, 16> rec{};
    if (zvsim_flash_read(a, r->offset, rec) != 0) {
        return {};
    }
    return zvsim_parse_status(rec, signature);
}

}  // namespace

zvsim_status_record zvsim_parse_status(std::span<const SD_UINT8> rec, SD_UINT32 signature) {
    zvsim_status_record r;
    if (rec.size() < 16 || signature == 0) {
        return r;
    }
    const SD_UINT32 sum = Le32(rec, 0) + Le32(rec, 4) + Le32(rec, 8) + Le32(rec, 12);
    if (Le32(rec, 12) != signature || sum != 0) {
        return r;  // invalid: mask 0, generation 0
    }
    r.valid = true;
    r.mask = rec[0] & 1;
    r.generation = static_cast<SD_UINT16>(rec[1] | rec[2] << 8);
    r.components = rec[5];
    return r;
}

SD_UINT32 zvsim_status_signature(const zvsim_adapter& a) {
    if (a.chipType == 25) {
        return 0xFACEFADE;
    }
    if (a.chipType == 27) {
        return 0xFACEFADF;
    }
    return 0;
}

void zvsim_boot_components(const zvsim_adapter& a, zvsim_running& r) {
    if (a.chipType != 27) {
        // No auxiliary records: the one configured copy serves.
        r.boardConfig = 1;
        r.vpdNvram = a.activeVpdNvram;
        r.npiv01 = 1;
        r.npiv23 = 1;
        return;
    }
    const zvsim_status_record s1 = ReadRecord(a, 0x95, zvsim_status_signature(a));
    const zvsim_status_record s2 = ReadRecord(a, 0x96, zvsim_status_signature(a));
    const zvsim_status_record x1 = ReadRecord(a, 0x125, 0xFACEFAED);
    const zvsim_status_record x2 = ReadRecord(a, 0x126, 0xFACEFAED);
    SD_UINT8 bitmap = 0;
    bool fromBitmap = false;
    if (x1.mask == 1 && x2.mask == 0) {
        bitmap = x1.components;
        fromBitmap = true;
    } else if (x2.mask == 1 && x1.mask == 0) {
        bitmap = x2.components;
        fromBitmap = true;
    }
    if (fromBitmap) {
        r.boardConfig = (bitmap & 0x1) ? 2 : 1;
        r.vpdNvram = (bitmap & 0x2) ? 2 : 1;
        r.npiv01 = (bitmap & 0x4) ? 2 : 1;
        r.npiv23 = (bitmap & 0x8) ? 2 : 1;
        return;
    }
    // Neither auxiliary record decides: follow the global records' tie rule.
    const SD_UINT8 all = (s1.mask == s2.mask && s2.generation > s1.generation) ? 2 : 1;
    r.boardConfig = r.vpdNvram = r.npiv01 = r.npiv23 = all;
}

SD_UINT8 zvsim_boot_set(const zvsim_adapter& a, SD_UINT16* generation) {
    const SD_UINT32 sig = zvsim_status_signature(a);
    const zvsim_status_record s1 = ReadRecord(a, 0x95, sig);
    const zvsim_status_record s2 = ReadRecord(a, 0x96, sig);
    SD_UINT8 set = 1;
    if (s1.mask == 1 && s2.mask == 0) {
        set = 1;
    } else if (s1.mask == 0 && s2.mask == 1) {
        set = 2;
    } else {
        set = s2.generation > s1.generation ? 2 : 1;
    }
    if (generation != nullptr) {
        *generation = set == 1 ? s1.generation : s2.generation;
    }
    return set;
}

zvsim_running zvsim_boot(const zvsim_adapter& a) {
    zvsim_running r;
    r.global = zvsim_boot_set(a, &r.generation);
    zvsim_boot_components(a, r);
    zvsim_load_running_firmware(a, r.global, r.live);
    zvsim_load_flash_versions(a, r.global, r.live);
    return r;
}

namespace {

std::string StatePath(const zvsim_host& host) { return host.dir + "/state.json"; }

json Version(const std::array<SD_UINT16, 4>& v) { return json{v[0], v[1], v[2], v[3]}; }

json StateEntry(const std::string& serial, const zvsim_running& r) {
    const zvsim_live& l = r.live;
    return {{"serial_number", serial},
            {"global", r.global},
            {"board_config", r.boardConfig},
            {"vpd_nvram", r.vpdNvram},
            {"npiv01", r.npiv01},
            {"npiv23", r.npiv23},
            {"generation", r.generation},
            {"firmware",
             {{"attributes", l.fwAttributes}, {"version", l.firmwareVersion}, {"mpi", Version(l.mpi)},
              {"pep", Version(l.pep)}}},
            {"flash_versions",
             {{"option_rom", l.optionRomVersion},
              {"valid", l.biValid},
              {"firmware", Version(l.biFw)},
              {"efi", Version(l.biEfi)},
              {"fcode", Version(l.biFcode)},
              {"mpi", Version(l.biMpi)},
              {"pep", Version(l.biPep)}}}};
}

// One line of the file, padded with spaces to `size`. A text that does not
// fit (no entry within the bounds the loader keeps can) is kept whole: the
// file stays valid JSON, only its slots no longer line up.
std::string Line(std::string text, size_t size) {
    if (text.size() + 1 < size) {
        text.resize(size - 1, ' ');
    }
    text += '\n';
    return text;
}

std::string Compact(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

bool ValidCopy(const json& e, const char* key, SD_UINT8& out) {
    if (!e.contains(key) || !e[key].is_number_unsigned()) {
        return false;
    }
    const SD_UINT64 v = e[key].get<SD_UINT64>();
    out = static_cast<SD_UINT8>(v);
    return v == 1 || v == 2;
}

bool GetVersion(const json& obj, const char* key, std::array<SD_UINT16, 4>& out) {
    if (!obj.contains(key) || !obj[key].is_array() || obj[key].size() != 4) {
        return false;
    }
    for (size_t i = 0; i < 4; ++i) {
        const json& n = obj[key][i];
        if (!n.is_number_unsigned() || n.get<SD_UINT64>() > 0xFFFF) {
            return false;
        }
        out[i] = n.get<SD_UINT16>();
    }
    return true;
}

bool GetText(const json& obj, const char* key, std::string& out) {
    if (!obj.contains(key) || !obj[key].is_string() || obj[key].get<std::string>().size() > 31) {
        return false;
    }
    out = obj[key].get<std::string>();
    return true;
}

// One entry of state.json; false when it does not fit (the adapter then boots).
bool ParseEntry(const json& e, const zvsim_adapter& a, zvsim_running& r) {
    if (!e.is_object() || !e.contains("serial_number") || !e["serial_number"].is_string() ||
        e["serial_number"].get<std::string>() != a.serial) {
        return false;
    }
    bool ok = ValidCopy(e, "global", r.global) && ValidCopy(e, "board_config", r.boardConfig) &&
              ValidCopy(e, "vpd_nvram", r.vpdNvram) && ValidCopy(e, "npiv01", r.npiv01) &&
              ValidCopy(e, "npiv23", r.npiv23);
    ok = ok && e.contains("generation") && e["generation"].is_number_unsigned() &&
         e["generation"].get<SD_UINT64>() <= 0xFFFF;
    if (!ok) {
        return false;
    }
    r.generation = e["generation"].get<SD_UINT16>();
    if (!e.contains("firmware") || !e["firmware"].is_object() || !e.contains("flash_versions") ||
        !e["flash_versions"].is_object()) {
        return false;
    }
    const json& fw = e["firmware"];
    const json& fl = e["flash_versions"];
    zvsim_live& l = r.live;
    if (!fw.contains("attributes") || !fw["attributes"].is_number_unsigned() ||
        !fl.contains("valid") || !fl["valid"].is_number_unsigned() || fl["valid"].get<SD_UINT64>() > 0xFFFFFFFF) {
        return false;
    }
    l.fwAttributes = fw["attributes"].get<SD_UINT64>();
    l.biValid = fl["valid"].get<SD_UINT32>();
    return GetText(fw, "version", l.firmwareVersion) && GetVersion(fw, "mpi", l.mpi) &&
           GetVersion(fw, "pep", l.pep) && GetText(fl, "option_rom", l.optionRomVersion) &&
           GetVersion(fl, "firmware", l.biFw) && GetVersion(fl, "efi", l.biEfi) &&
           GetVersion(fl, "fcode", l.biFcode) && GetVersion(fl, "mpi", l.biMpi) && GetVersion(fl, "pep", l.biPep);
}

// The clock offset of a state document; 0 when it has none or one so far
// off that the wall clock plus it would not fit (a damaged file).
SD_INT64 ClockOffset(const json& doc) {
    constexpr SD_INT64 kFarthest = SD_INT64{1} << 62;
    if (!doc.is_object() || !doc.contains("clock_offset") || !doc["clock_offset"].is_number_integer()) {
        return 0;
    }
    const json& v = doc["clock_offset"];
    if (v.is_number_unsigned() ? v.get<SD_UINT64>() > static_cast<SD_UINT64>(kFarthest)
                               : (v.get<SD_INT64>() < -kFarthest || v.get<SD_INT64>() > kFarthest)) {
        return 0;
    }
    return v.get<SD_INT64>();
}

int WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t w = write(fd, text.data() + done, text.size() - done);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<size_t>(w);
    }
    return 0;
}

}  // namespace

zvsim_state zvsim_parse_state(const zvsim_host& host, const std::string& text, bool& booted) {
    zvsim_state state;
    state.adapters.resize(host.adapters.size());
    std::vector<bool> known(host.adapters.size(), false);
    const json doc = json::parse(text, nullptr, false);
    state.clockOffset = ClockOffset(doc);
    // A state that does not fit the host (edited host.json, damaged file)
    // is ignored entry by entry: that adapter simply boots.
    if (doc.is_object() && doc.contains("adapters") && doc["adapters"].is_array()) {
        const json& list = doc["adapters"];
        for (size_t i = 0; i < list.size() && i < host.adapters.size(); ++i) {
            zvsim_running r;
            if (ParseEntry(list[i], host.adapters[i], r)) {
                state.adapters[i] = r;
                known[i] = true;
            }
        }
    }
    booted = false;
    for (size_t i = 0; i < host.adapters.size(); ++i) {
        if (!known[i]) {
            state.adapters[i] = zvsim_boot(host.adapters[i]);
            booted = true;
        }
    }
    return state;
}

zvsim_state zvsim_load_state(const zvsim_host& host) {
    std::string text, err;
    if (!zvsim_read_file(StatePath(host), kZvsimMaxTextFile, text, err)) {
        text.clear();
    }
    bool booted = false;
    zvsim_state state = zvsim_parse_state(host, text, booted);
    if (booted) {
        zvsim_save_state(host, state);
    }
    return state;
}

size_t zvsim_state_slot_size() {
    // The longest entry any adapter can have: texts of 31 control characters
    // (6 bytes each escaped), every number at its largest.
    static const size_t size = [] {
        zvsim_running r;
        r.global = r.boardConfig = r.vpdNvram = r.npiv01 = r.npiv23 = 2;
        r.generation = 0xFFFF;
        zvsim_live& l = r.live;
        l.fwAttributes = ~SD_UINT64{0};
        l.biValid = ~SD_UINT32{0};
        l.firmwareVersion = l.optionRomVersion = std::string(31, '\x01');
        for (auto* v : {&l.mpi, &l.pep, &l.biFw, &l.biEfi, &l.biFcode, &l.biMpi, &l.biPep}) {
            v->fill(0xFFFF);
        }
        const size_t worst = Compact(StateEntry(std::string(31, '\x01'), r)).size() + 2;  // separator, newline
        size_t slot = 256;
        while (slot < worst) {
            slot *= 2;
        }
        return slot;
    }();
    return size;
}

std::string zvsim_state_header(const zvsim_state& state) {
    std::string text = "{\"clock_offset\": ";
    text += std::to_string(state.clockOffset);
    text += ", \"adapters\": [";
    return Line(std::move(text), zvsim_state_slot_size());
}

std::string zvsim_state_slot(const zvsim_host& host, const zvsim_state& state, size_t index) {
    std::string text(1, index == 0 ? ' ' : ',');
    text += Compact(StateEntry(host.adapters[index].serial, state.adapters[index]));
    return Line(std::move(text), zvsim_state_slot_size());
}

std::string zvsim_state_text(const zvsim_host& host, const zvsim_state& state) {
    std::string text = zvsim_state_header(state);
    for (size_t i = 0; i < host.adapters.size() && i < state.adapters.size(); ++i) {
        text += zvsim_state_slot(host, state, i);
    }
    return text + "]}\n";
}

bool zvsim_write_state_text(const zvsim_host& host, const std::string& text) {
    const std::string tmp = StatePath(host) + ".tmp." + std::to_string(getpid());
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return false;
    }
    // No fsync: this is the adapters' volatile state, and the simulated power
    // loss ends the process, never the kernel, so the page cache keeps the
    // file. The rename keeps it whole against a process that dies mid-save.
    const bool written = WriteAll(fd, text) == 0;
    close(fd);
    if (!written || rename(tmp.c_str(), StatePath(host).c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool zvsim_save_state(const zvsim_host& host, const zvsim_state& state) {
    return zvsim_write_state_text(host, zvsim_state_text(host, state));
}

int zvsim_reboot_host(const std::string& dir, std::string& err) {
    zvsim_host host;
    if (!zvsim_load_host(dir, host, err)) {
        return -1;
    }
    zvsim_state state;
    // The clock runs on through a reboot.
    {
        std::string text, unread;
        zvsim_read_file(StatePath(host), kZvsimMaxTextFile, text, unread);
        state.clockOffset = ClockOffset(json::parse(text, nullptr, false));
    }
    for (const zvsim_adapter& a : host.adapters) {
        state.adapters.push_back(zvsim_boot(a));
    }
    if (!zvsim_save_state(host, state)) {
        err = dir + "/state.json: cannot be written";
        return -1;
    }
    return 0;
}

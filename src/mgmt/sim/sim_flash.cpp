#include "mgmt/sim/sim_flash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

SD_UINT32 Le32(std::span<const SD_UINT8> b, size_t at) {
    return static_cast<SD_UINT32>(b[at]) | static_cast<SD_UINT32>(b[at + 1]) << 8 |
           static_cast<SD_UINT32>(b[at + 2]) << 16 | static_cast<SD_UINT32>(b[at + 3]) << 24;
}

// Closes the descriptor on every path.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) {
            close(fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

int WriteAll(int fd, const SD_UINT8* p, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t w = pwrite(fd, p, n, at);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (w == 0) {
            return EIO;
        }
        p += w;
        n -= static_cast<size_t>(w);
        at += w;
    }
    return 0;
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

int zvsim_flash_read(const zvsim_adapter& a, SD_UINT32 offset, std::span<SD_UINT8> out) {
    std::fill(out.begin(), out.end(), SD_UINT8{0xFF});
    if (static_cast<SD_UINT64>(offset) + out.size() > a.flashSize) {
        return EINVAL;
    }
    Fd f(open(a.flashPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0) {
        return errno;
    }
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = pread(f.fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            break;  // past the file's end: erased
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

int zvsim_flash_write(const zvsim_adapter& a, SD_UINT32 offset, std::span<const SD_UINT8> bytes) {
    if (static_cast<SD_UINT64>(offset) + bytes.size() > a.flashSize) {
        return EINVAL;
    }
    Fd f(open(a.flashPath.c_str(), O_RDWR | O_CLOEXEC));
    if (f.fd < 0) {
        return errno;
    }
    struct stat st{};
    if (fstat(f.fd, &st) != 0) {
        return errno;
    }
    // A hole would read back as zeros; flash between the old end and the
    // write is erased, so fill it with 0xFF.
    if (static_cast<SD_UINT64>(st.st_size) < offset) {
        std::vector<SD_UINT8> ff(std::min<SD_UINT64>(offset - st.st_size, 0x10000), 0xFF);
        off_t at = st.st_size;
        while (static_cast<SD_UINT64>(at) < offset) {
            const size_t n = static_cast<size_t>(std::min<SD_UINT64>(ff.size(), offset - at));
            if (int e = WriteAll(f.fd, ff.data(), n, at)) {
                return e;
            }
            at += static_cast<off_t>(n);
        }
    }
    if (int e = WriteAll(f.fd, bytes.data(), bytes.size(), offset)) {
        return e;
    }
    if (fsync(f.fd) != 0) {
        return errno;
    }
    return 0;
}

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

zvsim_running zvsim_boot(const zvsim_adapter& a) {
    zvsim_running r;
    const SD_UINT32 sig = zvsim_status_signature(a);
    const zvsim_status_record s1 = ReadRecord(a, 0x95, sig);
    const zvsim_status_record s2 = ReadRecord(a, 0x96, sig);
    if (s1.mask == 1 && s2.mask == 0) {
        r.global = 1;
    } else if (s1.mask == 0 && s2.mask == 1) {
        r.global = 2;
    } else {
        r.global = s2.generation > s1.generation ? 2 : 1;
    }
    r.generation = r.global == 1 ? s1.generation : s2.generation;
    zvsim_boot_components(a, r);
    return r;
}

namespace {

std::string StatePath(const zvsim_host& host) { return host.dir + "/state.json"; }

nlohmann::json StateEntry(const zvsim_adapter& a, const zvsim_running& r) {
    return {{"serial_number", a.serial}, {"global", r.global},     {"board_config", r.boardConfig},
            {"vpd_nvram", r.vpdNvram},   {"npiv01", r.npiv01},     {"npiv23", r.npiv23},
            {"generation", r.generation}};
}

bool ValidCopy(const nlohmann::json& v) {
    return v.is_number_unsigned() && (v.get<SD_UINT64>() == 1 || v.get<SD_UINT64>() == 2);
}

}  // namespace

std::vector<zvsim_running> zvsim_load_state(const zvsim_host& host) {
    std::vector<zvsim_running> out(host.adapters.size());
    std::vector<bool> known(host.adapters.size(), false);
    nlohmann::json doc;
    {
        std::ifstream in(StatePath(host), std::ios::binary);
        if (in) {
            std::stringstream ss;
            ss << in.rdbuf();
            doc = nlohmann::json::parse(ss.str(), nullptr, false);
        }
    }
    // A state that does not fit the host (edited host.json, damaged file)
    // is ignored entry by entry: that adapter simply boots.
    if (doc.is_object() && doc.contains("adapters") && doc["adapters"].is_array()) {
        const auto& list = doc["adapters"];
        for (size_t i = 0; i < list.size() && i < host.adapters.size(); ++i) {
            const auto& e = list[i];
            if (!e.is_object() || !e.contains("serial_number") || !e["serial_number"].is_string() ||
                e["serial_number"].get<std::string>() != host.adapters[i].serial) {
                continue;
            }
            bool ok = true;
            for (const char* k : {"global", "board_config", "vpd_nvram", "npiv01", "npiv23"}) {
                ok = ok && e.contains(k) && ValidCopy(e[k]);
            }
            ok = ok && e.contains("generation") && e["generation"].is_number_unsigned() &&
                 e["generation"].get<SD_UINT64>() <= 0xFFFF;
            if (!ok) {
                continue;
            }
            zvsim_running& r = out[i];
            r.global = e["global"].get<SD_UINT8>();
            r.boardConfig = e["board_config"].get<SD_UINT8>();
            r.vpdNvram = e["vpd_nvram"].get<SD_UINT8>();
            r.npiv01 = e["npiv01"].get<SD_UINT8>();
            r.npiv23 = e["npiv23"].get<SD_UINT8>();
            r.generation = e["generation"].get<SD_UINT16>();
            known[i] = true;
        }
    }
    bool booted = false;
    for (size_t i = 0; i < host.adapters.size(); ++i) {
        if (!known[i]) {
            out[i] = zvsim_boot(host.adapters[i]);
            booted = true;
        }
    }
    if (booted) {
        zvsim_save_state(host, out);
    }
    return out;
}

bool zvsim_save_state(const zvsim_host& host, const std::vector<zvsim_running>& states) {
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < host.adapters.size() && i < states.size(); ++i) {
        list.push_back(StateEntry(host.adapters[i], states[i]));
    }
    const std::string text = nlohmann::json{{"adapters", list}}.dump(2) + "\n";
    const std::string tmp = StatePath(host) + ".tmp." + std::to_string(getpid());
    {
        Fd f(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (f.fd < 0) {
            return false;
        }
        if (WriteAll(f.fd, reinterpret_cast<const SD_UINT8*>(text.data()), text.size(), 0) != 0 ||
            fsync(f.fd) != 0) {
            unlink(tmp.c_str());
            return false;
        }
    }
    if (rename(tmp.c_str(), StatePath(host).c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

int zvsim_reboot_host(const std::string& dir, std::string& err) {
    zvsim_host host;
    if (!zvsim_load_host(dir, host, err)) {
        return -1;
    }
    std::vector<zvsim_running> states;
    for (const zvsim_adapter& a : host.adapters) {
        states.push_back(zvsim_boot(a));
    }
    if (!zvsim_save_state(host, states)) {
        err = dir + "/state.json: cannot be written";
        return -1;
    }
    return 0;
}

SD_UINT64 zvsim_fnv1a64(std::span<const SD_UINT8> bytes) {
    SD_UINT64 h = 0xcbf29ce484222325ULL;
    for (SD_UINT8 b : bytes) {
        h ^= b;
        h *= 0x100000001b3ULL;
    }
    return h;
}

void zvsim_journal(const zvsim_host& host, int adapter, SD_UINT32 region, SD_UINT32 offset,
                   std::span<const SD_UINT8> bytes, SD_UINT32 disableReset, const char* fault) {
    char line[256];
    const int n = snprintf(line, sizeof line,
                           "adapter=%d region=0x%X offset=0x%X size=%zu fnv1a=%016llx disable_reset=%u fault=%s\n",
                           adapter, region, offset, bytes.size(),
                           static_cast<unsigned long long>(zvsim_fnv1a64(bytes)), disableReset, fault);
    if (n <= 0) {
        return;
    }
    const std::string path = host.dir + "/journal.log";
    Fd f(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (f.fd < 0) {
        return;
    }
    // One write call per line keeps lines whole between processes.
    const size_t len = std::min(static_cast<size_t>(n), sizeof line - 1);
    ssize_t w;
    do {
        w = write(f.fd, line, len);
    } while (w < 0 && errno == EINTR);
}

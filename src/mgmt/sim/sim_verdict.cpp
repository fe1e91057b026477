#include "mgmt/sim/sim_verdict.h"

#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "mgmt/sim/sim_boot.h"
#include "mgmt/sim/sim_file.h"
#include "mgmt/sim/sim_flash.h"

using nlohmann::json;

namespace {

constexpr std::size_t kMaxManifest = 16 * 1024 * 1024;

struct Expect {
    SD_UINT64 hash = 0;
    SD_UINT64 size = 0;                // 0: the whole region
};

bool ParseNumber(const std::string& text, int base, SD_UINT64 max, SD_UINT64& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return false;
    }
    try {
        size_t used = 0;
        out = std::stoull(text, &used, base);
        return used == text.size() && out <= max;
    } catch (const std::exception&) {
        return false;
    }
}

bool ParseHash(const json& v, SD_UINT64& out) {
    return v.is_string() && v.get<std::string>().size() == 16 &&
           ParseNumber(v.get<std::string>(), 16, ~SD_UINT64{0}, out);
}

// Expectations of one set: region code -> expectation.
bool ParseSet(const json& v, std::map<SD_UINT32, Expect>& out, std::string& err, const std::string& where) {
    if (!v.is_object()) {
        err = where + ": expected an object of region hashes";
        return false;
    }
    for (auto it = v.begin(); it != v.end(); ++it) {
        SD_UINT64 code = 0;
        Expect e;
        const std::string w = where + "." + it.key();
        if (!ParseNumber(it.key(), 0, 0xFFFFFFFF, code) || code == 0) {
            err = w + ": not a region code";
            return false;
        }
        if (it.value().is_object()) {
            const json& o = it.value();
            if (!o.contains("fnv1a") || !ParseHash(o["fnv1a"], e.hash) || !o.contains("size") ||
                !o["size"].is_number_unsigned() || o["size"].get<SD_UINT64>() == 0) {
                err = w + ": expected {\"fnv1a\": 16 hex digits, \"size\": bytes}";
                return false;
            }
            e.size = o["size"].get<SD_UINT64>();
        } else if (!ParseHash(it.value(), e.hash)) {
            err = w + ": expected 16 hex digits";
            return false;
        }
        out[static_cast<SD_UINT32>(code)] = e;
    }
    return true;
}

// True when the region's bytes hash as expected.
bool Matches(const zvsim_adapter& a, SD_UINT32 code, const Expect& e) {
    const zvsim_region* r = a.Region(code);
    if (r == nullptr || e.size > r->size) {
        return false;
    }
    std::vector<SD_UINT8> bytes(e.size != 0 ? e.size : r->size);
    if (zvsim_flash_read(a, r->offset, bytes) != 0) {
        return false;
    }
    return zvsim_fnv1a64(bytes) == e.hash;
}

}  // namespace

bool zvsim_check_boot(const zvsim_host& host, const std::string& manifestPath, std::vector<zvsim_verdict>& out,
                      std::string& err) {
    out.clear();
    std::string text, why;
    if (!zvsim_read_file(manifestPath, kMaxManifest, text, why)) {
        err = manifestPath + ": not a readable manifest file";
        return false;
    }
    const json doc = json::parse(text, nullptr, false);
    if (!doc.is_object() || !doc.contains("adapters") || !doc["adapters"].is_object()) {
        err = manifestPath + ": expected {\"adapters\": {...}}";
        return false;
    }
    std::map<SD_UINT64, std::map<SD_UINT8, std::map<SD_UINT32, Expect>>> wanted;
    for (auto it = doc["adapters"].begin(); it != doc["adapters"].end(); ++it) {
        const std::string where = manifestPath + ": adapters." + it.key();
        SD_UINT64 index = 0;
        if (!ParseNumber(it.key(), 10, 0xFFFFFFFF, index) || index >= host.adapters.size()) {
            err = where + ": no such adapter";
            return false;
        }
        if (!it.value().is_object()) {
            err = where + ": expected an object of image sets";
            return false;
        }
        for (auto set = it.value().begin(); set != it.value().end(); ++set) {
            if (set.key() != "1" && set.key() != "2") {
                err = where + "." + set.key() + ": image sets are 1 and 2";
                return false;
            }
            if (!ParseSet(set.value(), wanted[index][static_cast<SD_UINT8>(set.key()[0] - '0')], err,
                          where + "." + set.key())) {
                return false;
            }
        }
    }
    for (const auto& [index, sets] : wanted) {
        const zvsim_adapter& a = host.adapters[static_cast<size_t>(index)];
        zvsim_verdict v;
        v.adapter = a.index;
        v.serial = a.serial;
        v.set = zvsim_boot_set(a);
        const auto found = sets.find(v.set);
        v.expected = found != sets.end();
        if (v.expected) {
            for (const auto& [code, e] : found->second) {
                if (!Matches(a, code, e)) {
                    v.differing.push_back(code);
                }
            }
        }
        out.push_back(std::move(v));
    }
    return true;
}

std::string zvsim_verdict_line(const zvsim_verdict& v) {
    std::string line = "adapter " + std::to_string(v.adapter) + " (" + v.serial + "): boots set " +
                       std::to_string(v.set) + ": ";
    if (!v.expected) {
        return line + "set not in the manifest";
    }
    if (v.differing.empty()) {
        return line + "intact";
    }
    line += "regions differ:";
    for (SD_UINT32 code : v.differing) {
        char hex[16];
        std::snprintf(hex, sizeof hex, " 0x%X", code);
        line += hex;
    }
    return line;
}

// The MCTP update of one adapter of each flash family with two image sets,
// as the power-loss sweep and the fault matrix drive it: the host, the
// installation, the regions of each set, and the boot manifests that say
// which bytes a complete old or new set holds.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/adapters_properties_builder.h"
#include "fixtures/board_template_builder.h"
#include "fixtures/byte_order.h"
#include "fixtures/flash_cfg_builder.h"
#include "fixtures/host_builder.h"
#include "fixtures/image_component_builder.h"
#include "fixtures/memo_block_builder.h"
#include "fixtures/multiboot_image_builder.h"
#include "fixtures/rom_chain_builder.h"
#include "support/e2e_support.h"

namespace zvonline {

using zvfix::Bytes;

constexpr uint16_t kVendor = 0x1A77;
constexpr uint16_t kSsid25 = 0x0289;
constexpr uint16_t kSsid27 = 0x02A9;

struct Family {
    std::string name;
    std::function<void(zvfix::HostBuilder&)> build;      // adds adapter 0
    std::function<void(zvtest::InstallDir&)> install;   // image, tables, templates
    std::vector<uint32_t> set1, set2;                   // counterparts, in the same order
    std::set<uint32_t> singleCopy;                      // on flash once, shared by both sets
    std::set<uint32_t> ownChoice;                       // served by a record of their own, not by the set
    std::vector<std::pair<uint32_t, uint32_t>> recordPairs;   // exactly one of each active at the end
    int runningSet = 1;                                 // the set the adapter runs before the update
    bool session = true;                                // the engine writes inside a flash-update session
    // The engine's status when the write of a region (as written) fails; empty: not checked.
    std::map<uint32_t, int> failStatus;
    // Checks of what the own-choice records serve, given the control run's
    // host: whole and old or new (oldAllowed), or new.
    std::function<void(const std::string& dir, const std::string& control, bool oldAllowed)> served;
    int sanitizerStride = 6;                            // the power-loss sweep's stride in the sanitizer build
    // Torn writes of a region cut at these bytes too (region, cut), besides
    // the sweep's own cuts: e.g. at the end of the first erase block.
    std::vector<std::pair<uint32_t, uint32_t>> regionCuts;
    // What changes in the installation before the reruns (`install` puts it back).
    std::function<void(zvtest::InstallDir&)> beforeRerun;
    // Regions the rerun may leave whole as the pristine host has them or as
    // the control run left them (what the changed installation no longer writes).
    std::set<uint32_t> oldOrNew;
    // Switches the installation to MCTP disable with an image of other bytes.
    std::function<void(zvtest::InstallDir&)> disable;
    // The bytes of the copy the own-choice records serve from, in a host dir.
    std::function<Bytes(const std::string& dir)> servedCopy;
    // An enable of the version the written set's memo block names before the
    // update, with an image of that version: the sweep runs it after each cut.
    std::function<void(zvtest::InstallDir&)> enableFound;
};

// Every write point, or in the sanitizer build every `sanitizerStride`th one
// (the suite stays short there: each test well inside ctest's limit on a
// loaded machine); ZV_SWEEP_STRIDE=k overrides both.
#if defined(__SANITIZE_ADDRESS__)
#define ZV_ONLINE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZV_ONLINE_SANITIZED 1
#endif
#endif
inline int WriteStride(int sanitizerStride) {
#if defined(ZV_ONLINE_SANITIZED)
    int k = sanitizerStride;
#else
    int k = 1;
    (void)sanitizerStride;
#endif
    if (const char* s = std::getenv("ZV_SWEEP_STRIDE")) k = std::atoi(s);
    return k > 0 ? k : 1;
}

inline bool Active(const Bytes& region) { return !region.empty() && region[0] != 0xFF && (region[0] & 1) != 0; }
// A record that holds: signed, its checksum right.
inline bool Sound(const Bytes& record) {
    return zvfix::Le32(record, 12) != 0xFFFFFFFF && zvfix::Le32(record, 8) == zvfix::ImageStatusChecksum(record);
}

// A region's expectation: the bytes up to its layout table's time stamp
// (which moves with the clock) or the whole region.
inline void ExpectRegion(zvfix::BootManifest& m, int set, uint32_t code, const Bytes& content) {
    static const char kTable[] = "ZILT";
    const auto at = std::search(content.begin(), content.end(), kTable, kTable + 4);
    if (at != content.end()) {
        m.Expect(0, set, code, std::span<const uint8_t>(content.data(), static_cast<size_t>(at - content.begin())));
    } else {
        m.ExpectWhole(0, set, code, zvfix::Fnv1a64(content));
    }
}

struct ToolRun {
    int status = -1;
    std::string out;
};

// zvsim-reboot with these arguments.
inline ToolRun RebootTool(const std::string& args) {
    ToolRun r;
    const std::string cmd = std::string(ZV_FIXTURE_TOOLS_DIR) + "/zvsim-reboot " + args;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr) r.out += buf;
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// Rewrites host.json alone (the flash files stay as the runs left them).
inline void RewriteHostJson(const zvfix::HostBuilder& host, const std::string& dir) {
    std::ofstream json(dir + "/host.json", std::ios::trunc);
    json << host.Json();
}

inline zvtest::RunResult RunOn(const zvtest::InstallDir& inst, const std::string& dir,
                                std::vector<std::string> args = {}) {
    zvtest::RunOptions o;
    o.args = std::move(args);
    o.env = {{"ZV_SIM_HOST", dir}};
    return zvtest::RunProgram(inst, o);
}

// The engine's status as the MCTP pass logged it (a run with "-trace"); -1
// when it was not reached.
inline int EngineStatus(const zvtest::RunResult& r) {
    const std::string key = "UpdateAdapteFwComponents: flash update result=";
    const size_t at = r.debugLog.find(key);
    return at == std::string::npos ? -1 : std::atoi(r.debugLog.c_str() + at + key.size());
}

// A complete update of `f` on a pristine host (`control`), and the manifests:
// `oldOrNew` (the running set as it was, the other set as the update left
// it) and `onlyNew` (either set as the update writes it). Gives the writes.
inline std::vector<zvfix::JournalEntry> ControlRun(const Family& f, const zvfix::HostBuilder& host,
                                                   const zvtest::InstallDir& inst, const std::string& control,
                                                   const std::string& oldOrNewPath, const std::string& onlyNewPath) {
    host.Write(control);
    const std::vector<uint32_t>& oldCodes = f.runningSet == 1 ? f.set1 : f.set2;
    const std::vector<uint32_t>& newCodes = f.runningSet == 1 ? f.set2 : f.set1;
    const auto judged = [&](uint32_t code) { return f.singleCopy.count(code) == 0 && f.ownChoice.count(code) == 0; };
    zvfix::BootManifest oldOrNew, onlyNew;
    for (uint32_t code : oldCodes) {
        if (judged(code)) ExpectRegion(oldOrNew, f.runningSet, code, zvfix::ReadRegion(control, 0, code));
    }
    const zvtest::RunResult first = RunOn(inst, control);
    EXPECT_EQ(first.status, 1) << first.out << first.err << first.outputFile;
    for (size_t i = 0; i < newCodes.size(); ++i) {
        if (!judged(newCodes[i])) continue;
        const Bytes now = zvfix::ReadRegion(control, 0, newCodes[i]);
        ExpectRegion(oldOrNew, 3 - f.runningSet, newCodes[i], now);
        ExpectRegion(onlyNew, 3 - f.runningSet, newCodes[i], now);
        ExpectRegion(onlyNew, f.runningSet, oldCodes[i], now);
    }
    oldOrNew.Write(oldOrNewPath);
    onlyNew.Write(onlyNewPath);
    return zvfix::ReadJournal(control);
}

// The rerun after a fault or a power cut has gone: the update completes (or
// was complete), the new set boots with its records clean, and a second
// rerun has nothing to do.
// `forced`: every run writes (MCTP disable), so a third run writes again
// rather than find nothing to do. `writes`: the rerun must update, never
// call the adapter up to date.
inline void ExpectRerunSettles(const Family& f, const zvtest::InstallDir& inst, const std::string& dir,
                               const std::string& control, const std::string& onlyNewPath, bool forced = false,
                               bool writes = false) {
    const zvtest::RunResult again = RunOn(inst, dir);
    EXPECT_TRUE(again.status == 1 || (again.status == 2 && !writes)) << again.status << "\n" << again.out
                                                                     << again.outputFile;
    EXPECT_FALSE(writes && zvtest::Has(again.out + again.outputFile, "Not required.")) << again.out;
    const ToolRun fresh = RebootTool("--verify " + onlyNewPath + " " + dir);
    EXPECT_EQ(fresh.status, 0) << fresh.out;
    for (const auto& [a, b] : f.recordPairs) {
        const Bytes first = zvfix::ReadRegion(dir, 0, a), second = zvfix::ReadRegion(dir, 0, b);
        const bool one = Active(first);
        const bool two = Active(second);
        EXPECT_NE(one, two) << std::hex << "records 0x" << a << "/0x" << b << " active " << one << two;
        // Both hold, the inactive one too: the pair's signature and their checksums.
        EXPECT_TRUE(zvfix::Le32(first, 12) == zvfix::Le32(second, 12) && Sound(first) && Sound(second))
            << std::hex << "records 0x" << a << "/0x" << b << " not both valid";
    }
    if (f.served) f.served(dir, control, false);
    if (forced) return;
    const size_t settled = zvfix::ReadJournal(dir).size();
    const zvtest::RunResult third = RunOn(inst, dir);
    EXPECT_EQ(third.status, 2) << third.out << third.outputFile;
    EXPECT_EQ(zvfix::ReadJournal(dir).size(), settled);
}

// The manifest of both image sets as a host dir holds them.
inline void WriteSetManifest(const Family& f, const std::string& dir, const std::string& path) {
    zvfix::BootManifest m;
    for (const auto& [set, codes] : {std::pair{1, f.set1}, std::pair{2, f.set2}}) {
        for (uint32_t code : codes) {
            if (f.singleCopy.count(code) == 0 && f.ownChoice.count(code) == 0)
                ExpectRegion(m, set, code, zvfix::ReadRegion(dir, 0, code));
        }
    }
    m.Write(path);
}

// Either set as the one the records of a host dir name holds it (as
// ControlRun's `onlyNew`).
inline void WriteNewSetManifest(const Family& f, const std::string& dir, const std::string& path) {
    const bool first = Active(zvfix::ReadRegion(dir, 0, zvfix::kRegionImageStatus1));
    const std::vector<uint32_t>& named = first ? f.set1 : f.set2;
    const std::vector<uint32_t>& other = first ? f.set2 : f.set1;
    zvfix::BootManifest m;
    for (size_t i = 0; i < named.size(); ++i) {
        if (f.singleCopy.count(named[i]) != 0 || f.ownChoice.count(named[i]) != 0) continue;
        const Bytes now = zvfix::ReadRegion(dir, 0, named[i]);
        ExpectRegion(m, first ? 1 : 2, named[i], now);
        ExpectRegion(m, first ? 2 : 1, other[i], now);
    }
    m.Write(path);
}

// The regions outside the image sets and their records that differ from what
// the control run left: the tables, the VPDs, the firmware both sets share, a
// single memo block and all the update does not touch must not. Of a memo
// region only the block is compared, without its checksum, update time and
// multiboot build byte (ExpectMemoRegionsKeepTheirOwnBytes judges the bytes
// no run rewrites).
inline std::vector<uint32_t> RegionsUnlikeControl(const Family& f, const zvfix::AdapterSpec& a, const std::string& dir,
                                                  const std::string& control, const std::string& pristine = {}) {
    std::set<uint32_t> skip(f.ownChoice);
    for (const auto& codes : {f.set1, f.set2}) {
        for (uint32_t code : codes) {
            if (f.singleCopy.count(code) == 0) skip.insert(code);
        }
    }
    for (const auto& [one, two] : f.recordPairs) skip.insert({one, two});
    std::vector<uint32_t> differing;
    for (const zvfix::RegionSpec& r : a.layout) {
        const bool memo = r.code == zvfix::kRegionMemo1 || r.code == zvfix::kRegionMemo2;
        if (skip.count(r.code) != 0 || (memo && f.singleCopy.count(r.code) == 0)) continue;
        Bytes now = zvfix::ReadRegion(dir, 0, r.code), clean = zvfix::ReadRegion(control, 0, r.code);
        if (memo) {
            for (Bytes* b : {&now, &clean}) {
                b->resize(zvfix::kMemoBlockSize);
                std::fill(b->begin() + 12, b->begin() + 16, uint8_t{0});   // checksum
                (*b)[23] = 0;                                               // multiboot build
                std::fill(b->begin() + 36, b->begin() + 44, uint8_t{0});   // update time
            }
        }
        if (now != clean && !(f.oldOrNew.count(r.code) != 0 && now == zvfix::ReadRegion(pristine, 0, r.code))) {
            differing.push_back(r.code);
        }
    }
    return differing;
}

// The bytes of `region` a torn write lost, [from, to) from the region's
// start: from the cut to the end of the erase block that holds it (or of the
// region). `region` 0: none.
struct LostBytes {
    uint32_t region = 0;
    size_t from = 0, to = 0;
    bool Holds(uint32_t code, size_t at) const { return code == region && at >= from && at < to; }
};

// The bytes of each memo region that no run rewrites: the multiboot build
// byte, the update time's reserved byte and all after the block. Whatever
// history of runs was cut and rerun, they are the region's own as `found`
// held it, but for those a torn write of the region itself lost (`lost`): no
// copy of a memo region is kept. What the torn write programmed, and the
// erase blocks it never reached, are the region's own still.
inline void ExpectMemoRegionsKeepTheirOwnBytes(const zvfix::AdapterSpec& a, const std::string& dir,
                                               const std::string& found, const LostBytes& lost = {}) {
    for (const uint32_t code : {zvfix::kRegionMemo1, zvfix::kRegionMemo2}) {
        if (a.Region(code) == nullptr) continue;
        const Bytes now = zvfix::ReadRegion(dir, 0, code), own = zvfix::ReadRegion(found, 0, code);
        ASSERT_TRUE(now.size() == own.size() && own.size() > zvfix::kMemoBlockSize) << std::hex << code;
        for (const auto& [at, what] : {std::pair<size_t, const char*>{23, "multiboot build byte"},
                                       {43, "update time's reserved byte"}}) {
            if (lost.Holds(code, at)) continue;
            EXPECT_EQ(now[at], own[at]) << std::hex << "memo region 0x" << code << ": " << what;
        }
        size_t at = zvfix::kMemoBlockSize;
        while (at < now.size() && (now[at] == own[at] || lost.Holds(code, at))) ++at;
        EXPECT_EQ(at, now.size()) << std::hex << "memo region 0x" << code << ": bytes after the block, from 0x" << at;
    }
}

// ---- chip type 25 ---------------------------------------------------------------------

// A chip-type-25 two-port adapter with these image-status records, whose memo
// block says 6.<memoMinor>.<memoSub> and whose table steps have nothing to do.
inline zvfix::AdapterSpec& BuildChip25(zvfix::HostBuilder& host, uint8_t mask1, uint16_t gen1, uint8_t mask2,
                                       uint16_t gen2, uint8_t memoMinor = 4, uint8_t memoSub = 0) {
    zvfix::AdapterSpec& a = host.AddChip25TwoPort(0x2261);
    a.subSystemId = kSsid25;
    a.SetRegion(zvfix::kRegionMemo1,
                zvfix::MakeMemoRegionWithTail({.mbi = {6, memoMinor, memoSub, 0x2C}, .timeReserved = 0x5E}, 0x3C));
    a.SetRegion(zvfix::kRegionPreload1, zvfix::MakeConfigTable("JKOZ", {1, 0, 0, 0}, 0x80, kVendor, kSsid25));
    a.SetRegion(zvfix::kRegionBoardConfig1, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid25, {}));
    a.SetImageStatus(mask1, gen1, mask2, gen2);
    return a;
}

// A valid multiboot image 6.05.01 for that adapter.
inline zvfix::MultibootImageSpec Chip25ImageSpec() {
    zvfix::MultibootImageSpec s = zvfix::DorneImageSpec({.deviceId = 0x2261, .ssvid = kVendor, .ssdid = kSsid25});
    s.imageVersion = {6, 5, 1};
    return s;
}

// Its adapter table, flash.cfg, the image file and a board configuration
// template of the adapter's version (the preload template is missing, which
// is no failure): only the multiboot step writes.
// `mbi`: the multiboot version flash.cfg names (the image's).
inline void InstallChip25(zvtest::InstallDir& inst, const Bytes& image, const char* mbi = "6.05.01") {
    inst.WriteFile("adapters.properties", zvfix::AdapterTable({zvfix::TableRow(kSsid25, kVendor)}));
    inst.WriteFile("flash.cfg",
                   zvfix::FlashCfg({zvfix::FlashCfgRowFor(kSsid25, kVendor, "KV2692", mbi, "kv_mbi.bin")}));
    inst.WriteFile("kv_mbi.bin", std::string(image.begin(), image.end()));
    inst.WriteFile("Vx9FBC.dat", zvfix::BoardTemplateSpec{"CBF(", "1.0.0", {}, {}}.Text());
}

// The adapter's settings and the new tables when the table steps have work:
// preload table and board configuration go from 1.0.0 to 1.1.0. A table cut
// short on its single copy can be restored only as far as its template names
// it, so these templates name every byte of their tables (the settings the
// board configuration carries over are the adapter's own).
inline const zvfix::FcSettings kChip25Settings{0x2A, true, {3, 4, 5, 6}, {true, false, true, false}};

inline void WriteChip25TableTemplates(zvtest::InstallDir& inst) {
    Bytes fwa = zvfix::MakeConfigTable("JKOZ", {1, 1, 0, 0}, 0x80, kVendor, kSsid25);
    std::copy_n("MCTP", 4, fwa.begin() + 0x40);
    inst.WriteFile("Vx9FWA.dat", zvfix::WholeTableTemplate("JKOZ", "1.1.0", fwa).Text());
    Bytes fbc = zvfix::MakeFcBoardConfig({1, 1, 0, 0}, kVendor, kSsid25, kChip25Settings, 0x1400);
    fbc[0x40] = 0x11;
    inst.WriteFile("Vx9FBC.dat", zvfix::WholeTableTemplate("CBF(", "1.1.0", fbc).Text());
}

// MCTP disable with an image of other bytes; with `another` also of another
// multiboot version (6.06.00, as flash.cfg names it).
inline void DisableChip25(zvtest::InstallDir& inst, bool tables, bool another = false) {
    zvfix::MultibootImageSpec s = Chip25ImageSpec();
    *s.Component(0x01) = zvfix::MbiComponent::Firmware(0x01, {9, 10, 7}, zvfix::kDorneRiscSupported, "ISP27xx");
    *s.Component(0xE1) = zvfix::MbiComponent::Firmware(0xE1, {2, 1, 7}, 0, "MPI");
    if (another) s.imageVersion = {6, 6, 0};
    InstallChip25(inst, zvfix::BuildMultibootImage(s), another ? "6.06.00" : "6.05.01");
    if (tables) WriteChip25TableTemplates(inst);
    inst.WriteFile("package.cfg", "");
}

// The on-line engine with the primary set running, or the off-line engine (a
// library without on-line activation) with the secondary set running, so
// that its primary set is the one the adapter does not run. With `tables`
// the preload and board-configuration steps write too.
inline Family Chip25(bool online, bool tables = false) {
    Family f;
    f.name = std::string(online ? "chip type 25 on-line" : "chip type 25 off-line") + (tables ? " with tables" : "");
    const auto settings = [tables](zvfix::AdapterSpec& a) {
        if (tables) {
            a.SetRegion(zvfix::kRegionBoardConfig1,
                        zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid25, kChip25Settings));
        }
    };
    if (online) {
        f.build = [settings](zvfix::HostBuilder& h) { settings(BuildChip25(h, 1, 7, 0, 3)); };
    } else {
        f.build = [settings](zvfix::HostBuilder& h) {
            h.libraryVersion = "v6.03 build12";
            settings(BuildChip25(h, 0, 3, 1, 9));
        };
        f.runningSet = 2;
    }
    f.install = [tables](zvtest::InstallDir& inst) {
        InstallChip25(inst, zvfix::BuildMultibootImage(Chip25ImageSpec()));
        if (tables) WriteChip25TableTemplates(inst);
    };
    f.set1 = {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x66, 0x01};
    f.disable = [tables](zvtest::InstallDir& inst) { DisableChip25(inst, tables); };
    f.set2 = {0x9F, 0x09, 0xE5, 0xD3, 0xD1, 0x67, 0x02};
    f.session = online;
    // Each region's own status (the off-line engine gives the PEP firmware the
    // MPI firmware's, and either record 0x202).
    if (online) {
        f.failStatus = {{0x9F, 0x1FE}, {0x09, 0x1CA}, {0xE5, 0x1FF}, {0xD3, 0x1FF}, {0xD1, 0x200},
                        {0x67, 0x201}, {0x02, 0x1CB}, {0x95, 0x202}, {0x96, 0x203}};
    } else {
        f.failStatus = {{0x9E, 0x1FE}, {0x07, 0x1CA}, {0xE1, 0x1FF}, {0xD3, 0x1FF}, {0xD1, 0x1FF},
                        {0x66, 0x201}, {0x01, 0x1CB}, {0x95, 0x202}, {0x96, 0x202}};
    }
    // PEP and MPI firmware, the memo block and the VPDs have one copy.
    f.singleCopy = {0xD1, 0xD3, 0xDF, 0x14, 0x16, 0xD4, 0xD6};
    f.recordPairs = {{zvfix::kRegionImageStatus1, zvfix::kRegionImageStatus2}};
    return f;
}

// Chip25 with tables whose MCTP disable image has another multiboot version.
inline Family Chip25DisableOfAnotherVersion(bool online) {
    Family f = Chip25(online, true);
    f.disable = [](zvtest::InstallDir& inst) { DisableChip25(inst, true, true); };
    return f;
}

// Ordinary templates, the demo's kind: the new version and a few bytes. The
// adapter's tables hold bytes of their own all over (and the board
// configuration its settings), which no template names: after a cut in a
// table's single copy only the copy the update kept on the host brings them
// back.
inline Bytes Chip25OwnPreloadTable() {
    Bytes t = zvfix::MakeConfigTable("JKOZ", {1, 0, 0, 0}, 0x80, kVendor, kSsid25);
    for (size_t i = 0x20; i < t.size(); ++i) t[i] = static_cast<uint8_t>(i * 7 + 3) & 0x7F;
    zvfix::FixTableChecksum(t);
    return t;
}

// `lengthWords` 0x400: the board configuration's length (0x1000 bytes) stops
// short of its SerDes table at 0x1200, which its checksum then does not see.
inline Bytes Chip25OwnBoardConfig(uint32_t lengthWords = 0x500) {
    Bytes t = zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid25, kChip25Settings, 0x10000, lengthWords);
    // Around the carried settings (0x1C0, 0x332...) and short of the SerDes table at 0x1200.
    for (size_t i = 0x20; i < 0x1C0; ++i) t[i] = static_cast<uint8_t>(i * 5 + 1) & 0x7F;
    for (size_t i = 0x400; i < 0x600; ++i) t[i] = static_cast<uint8_t>(i * 3 + 2) & 0x7F;
    zvfix::FixTableChecksum(t);
    return t;
}

inline void WriteChip25OrdinaryTemplates(zvtest::InstallDir& inst) {
    inst.WriteFile("Vx9FWA.dat", zvfix::BoardTemplateSpec{"JKOZ", "1.1.0", {{0x40, {'M', 'C', 'T', 'P'}}}}.Text());
    inst.WriteFile("Vx9FBC.dat", zvfix::BoardTemplateSpec{"CBF(", "1.1.0", {{0x40, {0x11}}}}.Text());
}

inline Family Chip25OrdinaryTemplates(bool online, uint32_t boardConfigWords = 0x500) {
    Family f = Chip25(online, true);
    f.name += " (ordinary templates)";
    f.singleCopy.insert({zvfix::kRegionPreload1, zvfix::kRegionBoardConfig1});
    // The later writes are the other chip-type-25 sweeps' own: under the
    // sanitizers the first write (the preload table) and a few more.
    f.sanitizerStride = 8;
    const auto build = f.build;
    f.build = [build, boardConfigWords](zvfix::HostBuilder& h) {
        build(h);
        h.adapters.back().SetRegion(zvfix::kRegionPreload1, Chip25OwnPreloadTable());
        h.adapters.back().SetRegion(zvfix::kRegionBoardConfig1, Chip25OwnBoardConfig(boardConfigWords));
    };
    f.install = [](zvtest::InstallDir& inst) {
        InstallChip25(inst, zvfix::BuildMultibootImage(Chip25ImageSpec()));
        WriteChip25OrdinaryTemplates(inst);
    };
    return f;
}

// A board configuration whose length stops short of its SerDes table: a cut
// at the end of its first erase block leaves the table sound by its own
// checksum and the SerDes table erased.
inline Family Chip25ShortBoardConfig(bool online) {
    Family f = Chip25OrdinaryTemplates(online, 0x400);
    f.name += ", board configuration short of its SerDes table";
    f.regionCuts = {{zvfix::kRegionBoardConfig1, 0x1000}};
    return f;
}

// The reruns find no preload template: a preload table the cut run left
// torn, or kept a copy of, is not the template's business any more.
inline Family Chip25NoPreloadTemplateOnRerun(bool online) {
    Family f = Chip25OrdinaryTemplates(online);
    f.name += ", Vx9FWA.dat gone before the rerun";
    f.beforeRerun = [](zvtest::InstallDir& inst) { std::remove((inst.Path() + "/Vx9FWA.dat").c_str()); };
    f.oldOrNew = {zvfix::kRegionPreload1};
    return f;
}

// ---- chip type 27 ---------------------------------------------------------------------

// A valid multiboot image for the chip-type-27 adapter, of `version`.
inline zvfix::MultibootImageSpec Chip27ImageSpec(std::array<uint8_t, 3> version = {6, 5, 1}) {
    zvfix::MultibootImageSpec s =
        zvfix::VrelImageSpecWithTables({.deviceId = 0x2281, .ssvid = kVendor, .ssdid = kSsid27, .cardType = 1});
    s.imageVersion = version;
    return s;
}

// The demo's installation with that image; flash.cfg names its version (the
// demo's names 6.05.01).
inline void InstallChip27(zvtest::InstallDir& inst, std::array<uint8_t, 3> version = {6, 5, 1}) {
    const Bytes image = zvfix::BuildMultibootImage(Chip27ImageSpec(version));
    zvfix::WriteMctpDemoInstall(inst.Path());
    inst.WriteFile("adapters.properties", zvfix::AdapterTable({zvfix::TableRow(kSsid27, kVendor)}));
    inst.WriteFile("kv_gen7_mbi.bin", std::string(image.begin(), image.end()));
    if (version == std::array<uint8_t, 3>{6, 5, 1}) return;
    char named[16];
    std::snprintf(named, sizeof named, "%u.%02u.%02u", version[0], version[1], version[2]);
    zvfix::FlashCfgRow row = zvfix::FlashCfgRowFor(kSsid27, kVendor, "KV2692", named, "kv_gen7_mbi.bin");
    row.fwa = row.fbc = "2.00.00";   // as the demo's rows
    inst.WriteFile("flash.cfg", zvfix::FlashCfg({row}));
}

inline Family Chip27() {
    Family f;
    f.name = "chip type 27 on-line";
    f.build = [](zvfix::HostBuilder& h) {
        zvfix::AdapterSpec& a = h.AddChip27(0x2281);
        a.subSystemId = kSsid27;
        // Each set's memo region with bytes of its own.
        a.SetRegion(zvfix::kRegionMemo1,
                    zvfix::MakeMemoRegionWithTail({.mbi = {6, 4, 0, 0x1D}, .timeReserved = 0x4B}, 0x11));
        a.SetRegion(zvfix::kRegionMemo2,
                    zvfix::MakeMemoRegionWithTail({.mbi = {6, 4, 0, 0x2E}, .timeReserved = 0x6C}, 0x22));
        // Both copies alike, so the carried settings are the same whichever serves.
        zvfix::RomImageSpec bios = zvfix::RomImageSpec::Bios(0x2281);
        bios.ssvid = kVendor;
        const Bytes boot = zvfix::MakeRomChain({bios});
        a.SetRegion(zvfix::kRegionBoot1, boot);
        a.SetRegion(zvfix::kRegionBoot2, boot);
        const zvfix::FcSettings settings{0x2A, true, {3, 4, 5, 6}, {true, false, true, false}};
        a.SetRegion(zvfix::kRegionBoardConfig1, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid27, settings));
        a.SetRegion(zvfix::kRegionBoardConfig2, zvfix::MakeFcBoardConfig({1, 0, 0, 0}, kVendor, kSsid27, settings));
    };
    f.install = [](zvtest::InstallDir& inst) { InstallChip27(inst); };
    // Both memo blocks name 6.04.00.
    f.enableFound = [](zvtest::InstallDir& inst) { InstallChip27(inst, {6, 4, 0}); };
    f.set1 = {0x9E, 0x07, 0x11, 0xD2, 0xD1, 0xCF, 0x13, 0x101, 0xD3, 0x102, 0x103, 0xBA, 0x01};
    // MCTP disable with an image whose firmware differs from the enable image's.
    f.disable = [](zvtest::InstallDir& inst) {
        zvfix::MultibootImageSpec s = Chip27ImageSpec();
        *s.Component(0x01) = zvfix::MbiComponent::Firmware(0x01, {9, 12, 7}, zvfix::kVrelRiscSupported, "ISP28xx");
        *s.Component(0xD3) = zvfix::MbiComponent::Firmware(0xD3, {4, 2, 7}, 0, "MPI");
        const Bytes image = zvfix::BuildMultibootImage(s);
        inst.WriteFile("kv_gen7_mbi.bin", std::string(image.begin(), image.end()));
        inst.WriteFile("package.cfg", "");
    };
    f.set2 = {0x9F, 0x09, 0x0A, 0x105, 0xF1, 0x106, 0x107, 0x108, 0xF0, 0x109, 0x10A, 0x10B, 0x02};
    f.recordPairs = {{zvfix::kRegionImageStatus1, zvfix::kRegionImageStatus2},
                     {zvfix::kRegionAuxStatus1, zvfix::kRegionAuxStatus2}};
    // The board configuration has a copy choice of its own (the auxiliary
    // records). The control run carried 0xBA and wrote 0x10B.
    f.ownChoice = {zvfix::kRegionBoardConfig1, zvfix::kRegionBoardConfig2};
    f.servedCopy = [](const std::string& dir) {
        const bool firstActive = Active(zvfix::ReadRegion(dir, 0, zvfix::kRegionAuxStatus1));
        const Bytes aux = zvfix::ReadRegion(dir, 0, firstActive ? zvfix::kRegionAuxStatus1 : zvfix::kRegionAuxStatus2);
        return zvfix::ReadRegion(dir, 0, (aux[5] & 1) != 0 ? zvfix::kRegionBoardConfig2 : zvfix::kRegionBoardConfig1);
    };
    f.served = [servedCopy = f.servedCopy](const std::string& dir, const std::string& control, bool oldAllowed) {
        const Bytes now = servedCopy(dir);
        const bool isNew = now == zvfix::ReadRegion(control, 0, zvfix::kRegionBoardConfig2);
        const bool isOld = now == zvfix::ReadRegion(control, 0, zvfix::kRegionBoardConfig1);
        EXPECT_TRUE(isNew || (oldAllowed && isOld)) << "the board configuration that serves is neither copy";
    };
    return f;
}

// MCTP disable on chip type 27 with an image of another multiboot version
// (6.06.00) and a board configuration of its own, or (`boardConfig` false)
// none: its run holds no auxiliary record.
inline void InstallChip27DisableOtherVersion(zvtest::InstallDir& inst, bool boardConfig = true) {
    zvfix::MultibootImageSpec s = Chip27ImageSpec({6, 6, 0});
    *s.Component(0x01) = zvfix::MbiComponent::Firmware(0x01, {9, 12, 7}, zvfix::kVrelRiscSupported, "ISP28xx");
    *s.Component(0xD3) = zvfix::MbiComponent::Firmware(0xD3, {4, 2, 7}, 0, "MPI");
    s.Component(0xBA)->data = zvfix::MakeFcBoardConfig({5, 2, 0});
    s.Component(0xBA)->version = {5, 2, 0};
    if (!boardConfig) std::erase_if(s.components, [](const zvfix::MbiComponent& c) { return c.region == 0xBA; });
    const Bytes image = zvfix::BuildMultibootImage(s);
    inst.WriteFile("kv_gen7_mbi.bin", std::string(image.begin(), image.end()));
    inst.WriteFile("package.cfg", "");
}

// Chip27 whose MCTP disable image is of another multiboot version and
// carries no FC board configuration.
inline Family Chip27DisableOfAnotherVersion() {
    Family f = Chip27();
    f.disable = [](zvtest::InstallDir& inst) { InstallChip27DisableOtherVersion(inst, false); };
    return f;
}

// Packages for the chip-type-27 adapter that share no component: each has
// its own multiboot version, and its firmware, MPI and PEP firmware, boot
// code, tables and board configurations are its own bytes of their own
// versions. After a cut, which package a set holds and which one the board
// configuration that serves holds may then differ, and each is told by its bytes.
// N's image has no FC board configuration: its run leaves whichever serves.
struct Chip27Package {
    const char* name;
    std::array<uint8_t, 3> version;
    uint8_t mark;   // what sets its components apart
    bool boardConfig = true;
};
inline const std::array<Chip27Package, 4> kChip27Packages{
    {{"P", {6, 5, 1}, 1}, {"A", {6, 6, 0}, 2}, {"B", {6, 7, 0}, 3}, {"N", {6, 8, 0}, 4, false}}};

inline zvfix::MultibootImageSpec Chip27PackageSpec(const Chip27Package& p) {
    zvfix::MultibootImageSpec s = Chip27ImageSpec(p.version);
    const uint8_t m = p.mark;
    // The four version bytes at `at`, highest first, as the family image has them.
    const auto versioned = [](zvfix::MbiComponent& c, size_t at, std::array<uint8_t, 3> v) {
        c.version = v;
        c.data[at] = 0;
        std::reverse_copy(v.begin(), v.end(), c.data.begin() + static_cast<long>(at) + 1);
    };
    const auto firmware = [](zvfix::MbiComponent& c, std::array<uint8_t, 3> v, uint32_t supported, const char* family) {
        c.data = zvfix::MbiComponent::Firmware(c.region, v, supported, family).data;
        c.version = v;
    };
    for (zvfix::MbiComponent& c : s.components) {
        switch (c.region) {
            case 0x9E:
            case 0x103: c.data[0x20] = static_cast<uint8_t>(0xA0 + m); break;
            case 0x07:
            case 0x11: {
                std::vector<zvfix::RomImageSpec> chain = {
                    zvfix::RomImageSpec::Bios(0x2281), zvfix::RomImageSpec::FCode(0x2281),
                    zvfix::RomImageSpec::Efi(0x2281), zvfix::RomImageSpec::Pxe(0x2281)};
                for (zvfix::RomImageSpec& r : chain) r.versionMinor = static_cast<uint8_t>(65 + m);
                c.data = zvfix::MakeRomChain(chain);
                c.version = {3, static_cast<uint8_t>(65 + m), 0};
                break;
            }
            case 0xD2: versioned(c, 76, {1, 2, static_cast<uint8_t>(3 + m)}); break;
            case 0xD1: versioned(c, 76, {1, 5, static_cast<uint8_t>(8 + m)}); break;
            case 0x102: versioned(c, 4, {1, 1, m}); break;
            case 0xCF:
                c.data = zvfix::MakeConfigTable("IKOZ", 0x400, 0x300, {2, 0, static_cast<uint8_t>(1 + m)});
                c.version = {2, 0, static_cast<uint8_t>(1 + m)};
                break;
            case 0x13:
                c.data = zvfix::MakeConfigTable("JKOZ", 0x400, 0x200, {3, 1, m});
                c.version = {3, 1, m};
                break;
            case 0xBA:
                c.data = zvfix::MakeFcBoardConfig({5, 3, m});
                c.version = {5, 3, m};
                break;
            case 0x101: firmware(c, {4, 2, static_cast<uint8_t>(10 + m)}, 0, "MPI"); break;
            case 0xD3: firmware(c, {4, 3, m}, 0, "MPI"); break;
            case 0x01: firmware(c, {9, 12, static_cast<uint8_t>(10 + m)}, zvfix::kVrelRiscSupported, "ISP28xx"); break;
            default: ADD_FAILURE() << std::hex << "no bytes of its own for component 0x" << c.region;
        }
    }
    if (!p.boardConfig) std::erase_if(s.components, [](const zvfix::MbiComponent& c) { return c.region == 0xBA; });
    return s;
}

// An installation whose flash.cfg names the package's version and whose
// image is the package; `disable`: MCTP disable with it.
inline void InstallChip27Package(zvtest::InstallDir& inst, const Chip27Package& p, bool disable = false) {
    InstallChip27(inst, p.version);
    const Bytes image = zvfix::BuildMultibootImage(Chip27PackageSpec(p));
    inst.WriteFile("kv_gen7_mbi.bin", std::string(image.begin(), image.end()));
    if (disable) inst.WriteFile("package.cfg", "");
}

}  // namespace zvonline

// Start-up discovery over simulated hosts: which ports end up in the model,
// how unsupported and duplicate ports are handled, what the SCSI probing
// records for targets and LUNs, and that clean-up closes every handle.
#include "core/device_discovery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/oss_services.h"
#include "mgmt/sd_shared_db.h"
#include "mgmt/sdapi.h"
#include "fixtures/host_builder.h"
#include "support/sleep_log.h"

namespace {

constexpr const char* kSharedFile = ZVSHDB_PATH;

// The platform stores a WWN most significant byte first.
bool SameWwn(const SD_UINT8* bytes, uint64_t w) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | bytes[i];
    return v == w;
}

std::vector<SDMDevice*> Devices() {
    std::vector<SDMDevice*> v;
    for (SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) v.push_back(d);
    return v;
}

std::vector<SDMTarget*> Targets(SDMDevice* d) {
    std::vector<SDMTarget*> v;
    for (SDMTarget* t = d->TargetList.firstTarget; t != nullptr; t = t->next) v.push_back(t);
    return v;
}

std::vector<SDMLun*> Luns(SDMTarget* t) {
    std::vector<SDMLun*> v;
    for (SDMLun* l = t->LunList.firstLun; l != nullptr; l = l->next) v.push_back(l);
    return v;
}

SDMTarget* TargetByPort(SDMDevice* d, uint64_t portWwn) {
    for (SDMTarget* t : Targets(d))
        if (SameWwn(t->DiscTargetProperty.PortWWN, portWwn)) return t;
    return nullptr;
}

// The object a check needs; a missing one fails the test instead of crashing it.
template <class T>
T* Must(T* p) {
    if (p == nullptr) throw std::runtime_error("not found");
    return p;
}

// The only port of a single-port Gen6 adapter.
zvfix::PortSpec& OnePort(zvfix::HostBuilder& host) { return host.AddChip25(0x2261, 1).ports[0]; }

SDMLun* LunById(SDMTarget* t, SD_UINT16 id) {
    for (SDMLun* l : Luns(t))
        if (l->LunID == id) return l;
    return nullptr;
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = zvfix::MakeTempDir("zvdisc");
        sleeps_.Start(dir_ + "/sleeps.log");
        InitDeviceList();
    }
    void TearDown() override {
        RemoveAllDevicesFromDeviceList();
        // The last close unloads the library, which removes its shared file.
        EXPECT_FALSE(std::filesystem::exists(kSharedFile)) << "a handle was left open";
        sleeps_.Stop();
        unsetenv("ZV_SIM_HOST");
        OSSSetLogQuiet(1);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Writes the host, points the library at it and runs discovery; returns
    // what the core log printed on standard output (standard error into *err).
    std::string Discover(const zvfix::HostBuilder& host, std::string* err = nullptr) {
        const std::string hostDir = dir_ + "/host";
        host.Write(hostDir);
        setenv("ZV_SIM_HOST", hostDir.c_str(), 1);
        sleeps_.Clear();
        OSSSetLogQuiet(0);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        CoreInitializeDevices();
        const std::string e = ::testing::internal::GetCapturedStderr();
        if (err != nullptr) *err = e;
        std::string out = ::testing::internal::GetCapturedStdout();
        OSSSetLogQuiet(1);
        return out;
    }

    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
        return n;
    }

    std::string dir_;
    zvtest::SleepLog sleeps_;
};

// ---- Instances -------------------------------------------------------------------------

// A library that cannot start (others may write the directory of its shared
// database) fails every
// open the same way: the loop stops at the first instead of trying them all.
TEST_F(Discovery, LibraryThatCannotStartEndsTheLoopAtOnce) {
    if (std::getenv("ZV_ISOLATED") == nullptr) GTEST_SKIP() << "needs the private /tmp";
    zvfix::HostBuilder h;
    h.AddChip25TwoPort();
    ASSERT_EQ(chmod(ZVSHDB_DIR, 01777), 0);   // the test's private /run
    std::string err;
    Discover(h, &err);
    chmod(ZVSHDB_DIR, 0755);
    zvapi_reset_setup_error();
    EXPECT_EQ(GetDeviceList()->count, 0u);
    EXPECT_EQ(Count(err, "SDOpenDevice("), 1u) << err;
}


// A two-port adapter (instances 0, 1) and single-port ones after it whose
// opens answer "not supported" the given number of times (-1: always).
TEST_F(Discovery, UnsupportedInstancesAreRetriedSixTimesEachThenSkipped) {
    const struct {
        const char* name;
        std::vector<int> refusals;
        std::vector<SD_UINT32> numbers;   // device numbers discovered
        size_t sleeps;                    // of 5 s each
        size_t unsupported;               // "*UNSUPPORTED*" lines
    } rows[] = {
        {"seven refusals skip it", {7}, {0, 1}, 6, 1},
        // Six refusals: the seventh open is the last one made, and it succeeds.
        {"the seventh open still counts", {6}, {0, 1, 2}, 6, 0},
        // Instance 3 is not skipped at its first refusal although instance 2 used up its retries.
        {"each instance has its own retries", {-1, 1}, {0, 1, 3}, 7, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        zvfix::HostBuilder host;
        host.AddChip25TwoPort();
        for (int n : row.refusals) host.AddChip25(0x2261, 1).faults.push_back(zvfix::FaultSpec::OpenUnsupported(n));
        const std::string out = Discover(host);

        std::vector<SD_UINT32> numbers;
        for (SDMDevice* d : Devices()) numbers.push_back(d->DeviceNumber);
        EXPECT_EQ(numbers, row.numbers);
        EXPECT_EQ(sleeps_.Lengths(), std::vector<long>(row.sleeps, 5000));
        EXPECT_EQ(Count(out, "*UNSUPPORTED*"), row.unsupported);
        EXPECT_EQ(Count(out, "Found *UNSUPPORTED* Korvex HBA - instance (2)"), row.unsupported);
        RemoveAllDevicesFromDeviceList();
        InitDeviceList();
    }
}

// Once the run is interrupted, discovery asks nothing again: neither an
// instance that answers "not supported" nor a target that stays busy. In a
// child process (an interrupt is for good), with the library loaded before.
TEST_F(Discovery, AfterAnInterruptNoInstanceOrTargetIsAskedAgain) {
    zvfix::HostBuilder host;
    auto& t = OnePort(host).AddTarget();
    t.scripts.push_back({0, 0x00, std::vector<zvfix::ScsiAnswer>(20, zvfix::ScsiAnswer::Busy())});
    host.AddChip25(0x2261, 1).faults.push_back(zvfix::FaultSpec::OpenUnsupported(-1));
    const std::string hostDir = dir_ + "/host";
    host.Write(hostDir);
    setenv("ZV_SIM_HOST", hostDir.c_str(), 1);
    int handle = -1;
    ASSERT_EQ(SDOpenDevice(0, &handle), 0u);
    sleeps_.Clear();
    EXPECT_EXIT(
        {
            zvapi_interrupt_waits();
            CoreInitializeDevices();
            _exit(static_cast<int>(sleeps_.Lengths().size()));
        },
        ::testing::ExitedWithCode(0), "");
    SDCloseDevice(handle);
}

TEST_F(Discovery, DuplicatePortIsDroppedAndItsHandleClosed) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25TwoPort();
    a.ports[1].nodeWwn = a.ports[0].nodeWwn = 0x2000001A77000001ull;
    a.ports[1].portWwn = a.ports[0].portWwn = 0x2100001A77000001ull;
    a.ports[1].portId = a.ports[0].portId = 0x010203;
    host.AddChip25(0x2261, 1);
    const std::string out = Discover(host);

    ASSERT_EQ(Devices().size(), 2u);
    EXPECT_EQ(Devices()[0]->DeviceNumber, 0u);
    EXPECT_EQ(Devices()[1]->DeviceNumber, 2u);
    EXPECT_EQ(Count(out, "Duplicate device found: Instance = (1)"), 1u);
    // TearDown checks that nothing stays open.
}

TEST_F(Discovery, SixtyFourTwoPortAdapters) {
    zvfix::HostBuilder host;
    for (int i = 0; i < 64; ++i) host.AddChip25TwoPort();
    Discover(host);

    const auto devices = Devices();
    ASSERT_EQ(devices.size(), 128u);
    for (size_t i = 0; i < devices.size(); ++i) {
        SDMDevice* d = devices[i];
        EXPECT_EQ(d->DeviceNumber, i);
        const auto& port = host.adapters[i / 2].ports[i % 2];
        EXPECT_TRUE(SameWwn(d->DevicePortProperty.WWN, port.portWwn)) << i;
        EXPECT_EQ(d->DeviceChipProperty.DeviceID, 0x2261);
        EXPECT_EQ(d->ImageSetUpdatingInProgress, 'U');
        EXPECT_NE(d->DeviceAbilityFlags & SDM_DEV_AEN_ENABLED, 0u);
        // The current NVRAM copy carries the subsystem ids at their place.
        EXPECT_EQ(d->DeviceCurrentNVRAM[0x1FA] | d->DeviceCurrentNVRAM[0x1FB] << 8,
                  host.adapters[i / 2].subSystemId);
    }
}

// ---- Targets and LUNs --------------------------------------------------------------------

TEST_F(Discovery, LunsOfADiskTooLargeForReadCapacity10UseReadCapacity16) {
    zvfix::HostBuilder host;
    auto& t = OnePort(host).AddTarget();
    t.AddLun(1, 0x100000000ull).blockLength = 4096;
    t.AddLun(2, 0x3FFF);
    // Any READ CAPACITY (10) to LUN 2 fails: it must not be asked for one.
    t.scripts.push_back({2, 0x25, std::vector<zvfix::ScsiAnswer>(5, zvfix::ScsiAnswer::Status(SDERR_UNKNOWN))});
    Discover(host);

    ASSERT_EQ(Devices().size(), 1u);
    SDMTarget* target = Must(TargetByPort(Devices()[0], t.portWwn));
    ASSERT_EQ(Luns(target).size(), 3u);
    std::vector<std::pair<SD_UINT64, SD_UINT32>> sizes;
    for (SD_UINT16 id : {0, 1, 2}) {
        const SDMLun* l = Must(LunById(target, id));
        sizes.emplace_back(l->LunMaxLogicalBlockAddress, l->LunBytesPerBlock);
    }
    EXPECT_EQ(sizes, (std::vector<std::pair<SD_UINT64, SD_UINT32>>{
                         {t.luns[0].lastLba, 512}, {0x100000000ull, 4096}, {0x3FFF, 512}}));
    EXPECT_EQ(target->TargetType, 0u);
    EXPECT_EQ(std::string(target->TargetVendorID, 6), "KORVEX");
}

TEST_F(Discovery, PassivePathAndUnsupportedLuns) {
    zvfix::HostBuilder host;
    auto& p = OnePort(host);
    auto& t = p.AddTarget();
    t.AddLun(1);
    t.AddLun(2);
    t.AddLun(3, 0, 0x03);  // a processor, not a disk
    t.scripts.push_back({1, 0x00, {zvfix::ScsiAnswer::NotReady(0x04, 0x00)}});
    t.scripts.push_back({2, 0x00, {zvfix::ScsiAnswer::Check(5, 0x25, 0)}});
    // The same "LUN not supported" answer makes a target ready.
    auto& t2 = p.AddTarget();
    t2.scripts.push_back({0, 0x00, {zvfix::ScsiAnswer::Check(5, 0x25, 0)}});
    Discover(host);

    SDMTarget* target = Must(TargetByPort(Devices().at(0), t.portWwn));
    EXPECT_EQ(Must(LunById(target, 1))->LunOnPassivePath, 1);
    EXPECT_EQ(Must(LunById(target, 0))->LunOnPassivePath, 0);
    EXPECT_EQ(LunById(target, 2), nullptr);
    SDMLun* proc = Must(LunById(target, 3));
    EXPECT_EQ(proc->LunMaxLogicalBlockAddress, SD_UINT64{SDM_VALUE_UNKNOWN});
    EXPECT_EQ(proc->LunBytesPerBlock, SDM_VALUE_UNKNOWN);
    EXPECT_EQ(proc->LunOSSRaidType, SDM_VALUE_UNKNOWN);

    SDMTarget* second = Must(TargetByPort(Devices()[0], t2.portWwn));
    EXPECT_NE(second->TargetFlags & SDM_TGT_READY, 0u);
    EXPECT_EQ(Luns(second).size(), 1u);
}

TEST_F(Discovery, TargetThatStaysBusyIsAddedUnprobedAfterTenTries) {
    zvfix::HostBuilder host;
    auto& t = OnePort(host).AddTarget();
    t.scripts.push_back({0, 0x00, std::vector<zvfix::ScsiAnswer>(20, zvfix::ScsiAnswer::Busy())});
    const std::string out = Discover(host);

    SDMTarget* target = Must(TargetByPort(Devices().at(0), t.portWwn));
    EXPECT_EQ(target->TargetFlags & SDM_TGT_READY, 0u);
    EXPECT_TRUE(Luns(target).empty());
    EXPECT_STREQ(target->TargetVendorID, "N/A");
    EXPECT_EQ(sleeps_.Lengths(), std::vector<long>(9, 1000));
    EXPECT_EQ(Count(out, "CheckTargetReady: Target failed Test Unit Ready (0x20000067)"), 1u);
}

// The serial number keeps the 60 bytes the 64-byte answer holds; its size is
// the page's length up to the 64-byte field.
TEST_F(Discovery, SerialSizeIsThePageLengthUpTo64) {
    for (const auto& [length, size] : {std::pair{59u, 59u}, {62u, 62u}, {200u, 64u}}) {
        SCOPED_TRACE(length);
        zvfix::HostBuilder host;
        auto& t = OnePort(host).AddTarget();
        t.luns[0].serial.clear();
        for (unsigned i = 0; i < length; ++i) t.luns[0].serial += static_cast<char>('A' + i % 26);
        Discover(host);
        SDMTarget* target = Must(TargetByPort(Devices().at(0), t.portWwn));
        EXPECT_EQ(target->SerialSize, size);
        const size_t kept = std::min(length, 60u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(target->SerialNumber), kept), t.luns[0].serial.substr(0, kept));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(target->SerialNumber) + kept, 64 - kept), std::string(64 - kept, '\0'));
        RemoveAllDevicesFromDeviceList();
    }
}

TEST_F(Discovery, IdentityPagesOsNamesAndTheDriversLunLimit) {
    zvfix::HostBuilder host;
    auto& a = host.AddChip25(0x2261, 1);
    a.lunsPerTarget = 2;   // REPORT LUNS is cut there
    auto& t = a.ports[0].AddTarget();
    t.luns[0].serial = "SER-0123456789";
    // One NAA designation descriptor: 4-byte header, 16-byte identifier.
    t.luns[0].deviceId = {0x01, 0x03, 0x00, 0x10, 0x60, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18};
    t.luns[0].osDeviceName = "/dev/sdq";
    auto& l1 = t.AddLun(1);
    l1.vpd83 = false;
    l1.osDeviceName = "/dev/sd";  // too short to be a name
    t.AddLun(2);
    Discover(host);

    SDMTarget* target = Must(TargetByPort(Devices().at(0), t.portWwn));
    EXPECT_EQ(Luns(target).size(), 2u);
    EXPECT_EQ(target->SerialSize, 14u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(target->SerialNumber), 14), "SER-0123456789");
    SDMLun* l0 = Must(LunById(target, 0));
    ASSERT_EQ(l0->LunWWULNSize, 16u);
    EXPECT_TRUE(std::equal(l0->WWULN, l0->WWULN + 16, t.luns[0].deviceId.begin() + 4));
    EXPECT_STREQ(l0->LunOSSDeviceName, "/dev/sdq");
    SDMLun* lun1 = Must(LunById(target, 1));
    EXPECT_EQ(lun1->LunWWULNSize, 0u);
    EXPECT_STREQ(lun1->LunOSSDeviceName, "");
    // A LUN without the page stops the question for the target's later LUNs.
    EXPECT_EQ(target->TargetAbilityFlags & SDM_TGT_ASK_WWULN, 0u);
}

// Binding by port name (the feature's usual setting) takes no persistent
// binding entries but keeps remote ports without a port id; binding by port
// id the other way round.
TEST_F(Discovery, PortDatabaseAndPersistentTargetsByBindingMode) {
    // Fabric-only remote port: known but not configured, never probed.
    const zvfix::PortDbEntry fabric{.nodeWwn = 0x2000005000000A01ull, .portWwn = 0x2100005000000A01ull, .portId = 0x0A0100};
    // Remote port without a usable node WWN: never a target.
    const zvfix::PortDbEntry null{.nodeWwn = 0x00AA00BB00CC00DDull, .portWwn = 0x2100005000000A02ull, .portId = 0x0A0200};
    const zvfix::PortDbEntry idless{.nodeWwn = 0x2000005000000A03ull, .portWwn = 0x2100005000000A03ull, .portId = 0};
    const zvfix::FoTargetEntry persisted{.targetId = 5, .portId = 0x0B0100, .nodeWwn = 0x2000005000000B01ull,
                                         .portWwn = 0x2100005000000B01ull};
    for (const bool byName : {true, false}) {
        SCOPED_TRACE(byName ? "binds by port name" : "binds by port id");
        zvfix::HostBuilder host;
        auto& p = OnePort(host);
        p.features = {{.feature = 4, .current = byName ? 1u : 0u, .deflt = 1, .supported = 1}};
        p.portDb8 = {fabric, null, idless};
        p.portDb7 = {null};
        p.foPersistentTargetData = {persisted};
        Discover(host);

        SDMDevice* d = Devices().at(0);
        SDMTarget* t = Must(TargetByPort(d, fabric.portWwn));
        EXPECT_EQ(t->TargetAgentFlags, SDM_AGENT_UNCONFIGURED);
        EXPECT_EQ(t->TargetMultipathControl, 0x40);
        EXPECT_EQ(t->TargetFlags, 1u);
        EXPECT_EQ(t->DiscTargetProperty.TargetID, 0xFFFF);
        EXPECT_EQ(t->TargetLoopID, 0xFFFF);
        EXPECT_EQ(t->DiscTargetProperty.PortID & 0xFFFFFF, 0x0A0100u);
        EXPECT_TRUE(Luns(t).empty());
        EXPECT_EQ(TargetByPort(d, null.portWwn), nullptr);
        EXPECT_EQ(TargetByPort(d, persisted.portWwn) != nullptr, !byName);
        EXPECT_EQ(TargetByPort(d, idless.portWwn) != nullptr, byName);
        RemoveAllDevicesFromDeviceList();
    }
}

// Every entry of a port database of several remote ports becomes its own
// target with its own fields.
TEST_F(Discovery, PortDatabaseWithSeveralTargets) {
    zvfix::HostBuilder host;
    auto& p = OnePort(host);
    for (uint16_t i = 0; i < 3; ++i)
        p.portDb7.push_back({.nodeWwn = 0x2000005000000C00ull + i, .portWwn = 0x2100005000000C00ull + i,
                             .portId = 0x0C0100u + i, .controlFlags = static_cast<uint8_t>(0x11 + i),
                             .bus = static_cast<uint16_t>(i), .targetId = static_cast<uint16_t>(20 + i),
                             .deviceFlags = i == 2 ? 0x800u : 0u, .loopId = static_cast<uint16_t>(0x80 + i),
                             .baseLun = static_cast<uint16_t>(3 * i)});
    Discover(host);
    SDMDevice* d = Devices().at(0);
    ASSERT_EQ(Targets(d).size(), 3u);
    for (uint16_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        SDMTarget* t = Must(TargetByPort(d, 0x2100005000000C00ull + i));
        EXPECT_TRUE(SameWwn(t->DiscTargetProperty.NodeWWN, 0x2000005000000C00ull + i));
        EXPECT_EQ(t->DiscTargetProperty.PortID & 0xFFFFFF, 0x0C0100u + i);
        EXPECT_EQ(std::tuple(t->DiscTargetProperty.BusNumber, t->DiscTargetProperty.TargetID), std::tuple(i, 20 + i));
        EXPECT_EQ(std::tuple(t->TargetMultipathControl, t->TargetLoopID, t->TargetBaseLunNumber),
                  std::tuple(0x11 + i, 0x80 + i, 3 * i));
        EXPECT_EQ(t->TargetFlags & SDM_TGT_NVME, i == 2 ? SDM_TGT_NVME : 0u);
        EXPECT_EQ(t->TargetAgentFlags, SDM_AGENT_CONFIGURED);
    }
}

TEST_F(Discovery, LunLevelFailoverMarksCurrentPaths) {
    zvfix::HostBuilder host;
    auto& p = OnePort(host);
    p.foCapability = 0x30000004;
    auto& t = p.AddTarget();
    t.AddLun(1);
    p.foLunData.push_back({.nodeWwn = t.nodeWwn, .portWwn = t.portWwn, .data = {{0, 0x05}, {1, 0x06}}});
    p.foPaths.push_back({.wwn = t.nodeWwn, .currentPathIndex = 0, .entries = {{0, t.portWwn}}});
    Discover(host);

    SDMDevice* d = Devices().at(0);
    EXPECT_NE(d->DeviceAbilityFlags & SDM_DEV_FO_LUN_LEVEL, 0u);
    EXPECT_EQ(d->DeviceAbilityFlags & SDM_DEV_FO_TARGET_LEVEL, 0u);
    SDMTarget* target = Must(TargetByPort(d, t.portWwn));
    EXPECT_NE(target->TargetAgentFlags & SDM_AGENT_LUN_DATA, 0u);
    std::vector<std::pair<int, int>> luns;  // (LunData, LunIsCurrentPath) of LUNs 0 and 1
    for (SD_UINT16 id : {0, 1}) {
        const SDMLun* l = Must(LunById(target, id));
        luns.emplace_back(l->LunData, l->LunIsCurrentPath);
    }
    EXPECT_EQ(luns, (std::vector<std::pair<int, int>>{{0x05, 1}, {0x06, 1}}));
}

// The current path of a LUN is the path entry its index names, and only
// when that entry is this adapter's (the answer's instance) and leads to the
// target's own port; the paths are asked by the target's node WWN. An index
// of 255 or more marks it current without an entry; a LUN numbered 4096 or
// above has no index and is never marked.
TEST_F(Discovery, TheCurrentPathIsTheIndexedEntryOfThisAdapterToTheTargetsPort) {
    enum class To { TargetPort, OtherPort, TargetNode };
    struct Row {
        const char* what;
        uint8_t index;
        std::vector<std::pair<uint32_t, To>> entries;   // (adapter instance, where the path leads)
        int current;                                    // of LUNs 0 and 1
    };
    const std::vector<Row> rows = {
        {"first entry named, it leads to the target", 0, {{0, To::TargetPort}}, 1},
        {"second entry named, it leads to the target", 1, {{0, To::OtherPort}, {0, To::TargetPort}}, 1},
        {"first entry named, it leads elsewhere", 0, {{0, To::OtherPort}, {0, To::TargetPort}}, 0},
        {"another adapter's path to the target", 0, {{1, To::TargetPort}}, 0},
        {"an entry naming the target's node, not its port", 0, {{0, To::TargetNode}}, 0},
        {"no index (255)", 255, {{0, To::OtherPort}}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        zvfix::HostBuilder host;
        auto& p = OnePort(host);
        p.foCapability = 0x30000004;
        auto& t = p.AddTarget();
        t.AddLun(1);
        t.AddLun(4096);
        zvfix::FoPathSpec paths{.wwn = t.nodeWwn, .currentPathIndex = row.index, .entries = {}};
        for (auto [instance, to] : row.entries)
            paths.entries.emplace_back(instance, to == To::TargetPort   ? t.portWwn
                                                 : to == To::TargetNode ? t.nodeWwn
                                                                        : 0x2100005000000E01ull);
        p.foPaths.push_back(paths);
        Discover(host);

        SDMTarget* target = Must(TargetByPort(Devices().at(0), t.portWwn));
        std::vector<int> marks;   // LUNs 0, 1, 4096
        for (SD_UINT16 id : {0, 1, 4096}) marks.push_back(Must(LunById(target, id))->LunIsCurrentPath);
        EXPECT_EQ(marks, (std::vector<int>{row.current, row.current, 0}));
        RemoveAllDevicesFromDeviceList();
    }
}

// The 72 bytes the library hands over for one remote port, laid out by hand.
std::vector<SD_UINT8> SecureEntryBytes(const zvfix::SecurePortEntry& e) {
    std::vector<SD_UINT8> b(72, 0);
    for (int i = 0; i < 3; ++i) b[i] = static_cast<SD_UINT8>(e.portId >> (16 - 8 * i));
    for (int i = 0; i < 8; ++i) b[4 + i] = static_cast<SD_UINT8>(e.portWwn >> (56 - 8 * i));
    b[12] = e.remoteType, b[13] = e.remoteState, b[14] = e.authState, b[15] = e.rekeyMode;
    const int64_t words[3] = {e.rekeyCount, e.rekeyConfigValue, e.rekeyConsumedValue};
    for (int w = 0; w < 3; ++w)
        for (int i = 0; i < 8; ++i) b[16 + 8 * w + i] = static_cast<SD_UINT8>(static_cast<uint64_t>(words[w]) >> (8 * i));
    return b;
}

std::vector<SD_UINT8> HeldEntry(const SDMTarget* t) {
    const auto* p = reinterpret_cast<const SD_UINT8*>(&t->TargetSecurePortInfo);
    return {p, p + sizeof t->TargetSecurePortInfo};
}

TEST_F(Discovery, SecurePortStateOnlyOnChipType27) {
    zvfix::HostBuilder host;
    std::vector<zvfix::SecurePortEntry> gen7Entries;
    for (bool gen7 : {false, true}) {
        auto& a = gen7 ? host.AddChip27(0x2281, 1) : host.AddChip25(0x2261, 1);
        auto& port = a.ports[0];
        auto& first = port.AddTarget();
        auto& second = port.AddTarget();
        port.securePorts.push_back({.portWwn = first.portWwn, .portId = first.portId, .remoteType = 1,
                                    .remoteState = 1, .authState = 2, .rekeyMode = 1, .rekeyCount = 5,
                                    .rekeyConfigValue = 3600, .rekeyConsumedValue = 1200});
        // Codes outside the named ones, and counts past 32 bits.
        port.securePorts.push_back({.portWwn = second.portWwn, .portId = second.portId, .remoteType = 2,
                                    .remoteState = 0, .authState = 7, .rekeyMode = 9,
                                    .rekeyCount = int64_t{1} << 32, .rekeyConfigValue = 0x123456789AB,
                                    .rekeyConsumedValue = 0x7000000000000001});
        // The first target's name under another port id belongs to no target.
        port.securePorts.push_back({.portWwn = first.portWwn, .portId = first.portId ^ 0x10, .remoteType = 2});
        if (gen7) gen7Entries = port.securePorts;
    }
    const std::string out = Discover(host);
    ASSERT_EQ(Devices().size(), 2u);
    for (SDMTarget* t : Targets(Devices()[0])) EXPECT_EQ(HeldEntry(t), std::vector<SD_UINT8>(72, 0));
    const std::vector<SDMTarget*> gen7 = Targets(Devices()[1]);
    ASSERT_EQ(gen7.size(), 2u);
    EXPECT_EQ(HeldEntry(gen7[0]), SecureEntryBytes(gen7Entries[0]));
    EXPECT_EQ(HeldEntry(gen7[1]), SecureEntryBytes(gen7Entries[1]));

    char id[64];
    std::snprintf(id, sizeof id, "Secure port [1] Remote port id: %06x\n", gen7Entries[1].portId);
    for (const std::string& line : std::vector<std::string>{
             "Secure port [0] Remote type: Target\n", "Secure port [0] Remote state: Good\n",
          "Secure port [0] Auth state: Needed\n", "Secure port [0] Rekey mode: Time\n",
          "Secure port [0] Rekey count: 5\n", "Secure port [0] Rekey configured value: 3600\n",
          "Secure port [0] Rekey consumed value: 1200\n", "Secure port [1] Remote type: Initiator\n",
          "Secure port [1] Remote state: Bad\n", "Secure port [1] Auth state: Unknown\n",
          "Secure port [1] Rekey mode: Unknown\n", "Secure port [1] Rekey count: 4294967296\n",
          "Secure port [1] Rekey consumed value: 8070450532247928833\n", id})
        EXPECT_EQ(Count(out, line), 1u) << line;
}

}  // namespace

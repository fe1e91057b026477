// Reading host directories: a minimal host works, and every kind of broken
// description gives one error line and no adapter instead of a crash.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "fixtures/host_builder.h"
#include "fixtures/sim_client.h"

namespace {

TEST(SimHost, MinimalHostJsonServesOneDefaultPort) {
    const std::string dir = zvfix::MakeTempDir("simhost");
    std::ofstream(dir + "/host.json") << R"({"adapters":[{}]})";
    std::ofstream(dir + "/adapter0.flash").flush();
    auto t = zvfix::OpenSimHost(dir);
    ASSERT_EQ(t->PortCount(), 1u);
    CHIPPROPERTY chip{};
    ASSERT_EQ(zvfix::SimGet(*t, 0, ZVOP_CHIP_PROPERTY, chip), SDERR_SUCCESS);
    EXPECT_EQ(std::tuple(chip.DeviceID, chip.ChipType), std::tuple(0x2261, 25));
    zvapi_port_ident id{};
    ASSERT_EQ(zvfix::SimGet(*t, 0, ZVOP_OPEN, id), SDERR_SUCCESS);
    EXPECT_EQ(id.IsPhysicalFc, 1u);
    // An empty flash file is erased flash.
    std::vector<SD_UINT8> rec(16);
    const auto layout = zvfix::SimLayout(*t, 0);
    const zvapi_flash_region* r = zvfix::SimFind(layout, 0x95);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(zvfix::SimFlashRead(*t, 0, 0x95, r->Offset, rec), SDERR_SUCCESS);
    EXPECT_EQ(rec, std::vector<SD_UINT8>(16, 0xFF));
    // Instances past the last port are not there.
    EXPECT_EQ(zvfix::SimGet(*t, 1, ZVOP_CHIP_PROPERTY, chip), SDERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(t->Describe("library_version"), "v6.04 build77");
}

TEST(SimHost, PortOrderKeysNumberTheInstances) {
    zvfix::HostBuilder h;
    auto& a = h.AddChip25TwoPort();
    auto& b = h.AddChip27();
    a.ports[0].order = 30;
    a.ports[1].order = 10;
    b.ports[0].order = 20;
    b.ports[1].order = 40;
    auto t = zvfix::OpenSimHost(h);
    ASSERT_EQ(t->PortCount(), 4u);
    const SD_UINT32 want[4][2] = {{0, 1}, {1, 0}, {0, 0}, {1, 1}};
    for (SD_UINT32 i = 0; i < 4; ++i) {
        zvapi_port_ident id{};
        ASSERT_EQ(zvfix::SimGet(*t, i, ZVOP_OPEN, id), SDERR_SUCCESS);
        EXPECT_EQ(std::tuple(id.AdapterIndex, id.PciFunction), std::tuple(want[i][0], want[i][1])) << i;
    }
}

struct BadHost {
    const char* name;
    const char* json;
    const char* expect;  // fragment of the error line
    bool makeFlash = true;
    size_t flashBytes = 0;
};

void PrintTo(const BadHost& b, std::ostream* os) { *os << b.name; }

class SimHostMalformed : public ::testing::TestWithParam<BadHost> {};

TEST_P(SimHostMalformed, GivesOneErrorLineAndNoPort) {
    const BadHost& c = GetParam();
    const std::string dir = zvfix::MakeTempDir("simbad");
    std::ofstream(dir + "/host.json") << c.json;
    if (c.makeFlash) zvfix::WriteBytes(dir + "/adapter0.flash", zvfix::Bytes(c.flashBytes, 0xFF));
    std::string err;
    EXPECT_EQ(zvsim_open_host(dir, err), nullptr);
    EXPECT_NE(err.find(c.expect), std::string::npos) << err;

    // Through the platform entry point: one line on stderr, no port.
    setenv("ZV_SIM_HOST", dir.c_str(), 1);
    ::testing::internal::CaptureStderr();
    auto t = zvapi_create_platform_transport();
    const std::string text = ::testing::internal::GetCapturedStderr();
    unsetenv("ZV_SIM_HOST");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->PortCount(), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_NE(text.find(c.expect), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimHostMalformed,
    ::testing::Values(
        BadHost{"BadJson", R"({"adapters":[{)", "not valid JSON"},
        BadHost{"NotAnObject", R"([1,2])", "expected an object"},
        BadHost{"WrongType", R"({"adapters":[{"device_id":true}]})", "device_id: expected a number"},
        BadHost{"NotANumber", R"({"adapters":[{"device_id":"0x22G1"}]})", "not a number"},
        BadHost{"OutOfRange", R"({"adapters":[{"device_id":"0x12345"}]})", "device_id: out of range"},
        BadHost{"Negative", R"({"adapters":[{"flash":{"size":-1}}]})", "negative number"},
        BadHost{"BusTooBig", R"({"adapters":[{"pci_bus":300}]})", "pci_bus"},
        BadHost{"BadWwn", R"({"adapters":[{"ports":[{"port_wwn":"21:00:00"}]}]})", "not a WWN"},
        BadHost{"Overlap",
                R"({"adapters":[{"flash":{"size":65536,"regions":[{"code":1,"offset":0,"size":4096},{"code":2,"offset":4000,"size":16}]}}]})",
                "overlap"},
        BadHost{"OutsideFlash",
                R"({"adapters":[{"flash":{"size":65536,"regions":[{"code":1,"offset":65535,"size":2}]}}]})",
                "outside the flash"},
        BadHost{"OffsetWraps",
                R"({"adapters":[{"flash":{"size":65536,"regions":[{"code":1,"offset":"0xFFFFFFFF","size":2}]}}]})",
                "outside the flash"},
        BadHost{"DuplicateRegion",
                R"({"adapters":[{"flash":{"size":65536,"regions":[{"code":1,"offset":0,"size":16},{"code":1,"offset":16,"size":16}]}}]})",
                "listed twice"},
        BadHost{"MissingFlashFile", R"({"adapters":[{}]})", "is missing", false},
        BadHost{"FlashFileTooBig", R"({"adapters":[{"flash":{"size":16,"regions":[]}}]})", "larger than the flash", true,
                32},
        BadHost{"FileOutsideDir", R"({"adapters":[{"flash":{"file":"../x.flash"}}]})", "plain file name"},
        BadHost{"UnknownFaultOp", R"({"adapters":[{"faults":[{"op":"frobnicate","status":1}]}]})",
                "unknown operation"},
        BadHost{"FaultPortMissing", R"({"adapters":[{"faults":[{"op":"open","status":1,"port":3}]}]})",
                "no such port"},
        BadHost{"BadInterface", R"({"adapters":[{"ports":[{"interface_type":2}]}]})", "interface_type"},
        BadHost{"PowerLossWithoutWrite", R"({"power_loss":{"moment":"after"},"adapters":[{}]})", "power_loss.write"},
        BadHost{"PowerLossBadMoment", R"({"power_loss":{"write":1,"moment":"soon"},"adapters":[{}]})",
                "unknown moment"},
        BadHost{"ClockJumpWithoutSeconds", R"({"adapters":[{"faults":[{"op":"flash_write","kind":"advance_clock"}]}]})",
                "needs a number of seconds"},
        BadHost{"BadScriptAnswer",
                R"({"adapters":[{"ports":[{"targets":[{"scsi_script":[{"answers":[{"kind":"maybe"}]}]}]}]}]})",
                "unknown answer kind"}),
    [](const ::testing::TestParamInfo<BadHost>& i) { return std::string(i.param.name); });

TEST(SimHost, NoHostVariableMeansNoPort) {
    unsetenv("ZV_SIM_HOST");
    auto t = zvapi_create_platform_transport();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->PortCount(), 0u);
    zvapi_port_ident id{};
    EXPECT_EQ(zvfix::SimGet(*t, 0, ZVOP_OPEN, id), SDERR_DEVICE_NOT_FOUND);
}

TEST(SimHost, UnreadableHostDirGivesErrorLine) {
    setenv("ZV_SIM_HOST", "/nonexistent/zvsim-host", 1);
    ::testing::internal::CaptureStderr();
    auto t = zvapi_create_platform_transport();
    const std::string text = ::testing::internal::GetCapturedStderr();
    unsetenv("ZV_SIM_HOST");
    EXPECT_EQ(t->PortCount(), 0u);
    EXPECT_NE(text.find("cannot be read"), std::string::npos) << text;
}

}  // namespace

// Firmware and MPI dumps, ELS echo and the SFP version record over a
// simulated adapter.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/els_echo.h"
#include "core/firmware_dumps.h"
#include "core/sfp_version.h"
#include "fixtures/host_builder.h"
#include "mgmt/fake_transport.h"
#include "mgmt/sdapi.h"
#include "support/discovered_host.h"
#include "support/e2e_support.h"

namespace {

using zvfix::FaultSpec;

class AdapterUtilities : public zvtest::DiscoveredHostTest {
protected:
    SDMDevice* One(uint32_t fwDump, uint32_t mpiDump, std::vector<FaultSpec> faults = {}) {
        zvfix::HostBuilder h;
        auto& a = h.AddChip27(0x2281, 1);
        a.ports[0].fwDumpSize = fwDump, a.ports[0].mpiDumpSize = mpiDump;
        a.faults = std::move(faults);
        const auto devices = Discover(h);
        if (devices.empty()) throw std::runtime_error("the port was not discovered");
        return devices[0];
    }
};

TEST_F(AdapterUtilities, FirmwareDumpIntoBufferAndSizes) {
    SDMDevice* d = One(40, 100);
    std::vector<uint8_t> buf(64, 0xEE);
    ASSERT_EQ(CoreGetFirmwareDumpData(d, buf, 0), SDERR_SUCCESS);
    EXPECT_EQ(buf[1], 1 ^ 0xA5);
    EXPECT_EQ(buf[40], 0);   // zeroed past the dump
    EXPECT_EQ(CoreGetFirmwareDumpData(d, buf, 3), SDERR_BUFFER_TOO_SMALL);   // the MPI dump is larger
    EXPECT_EQ(CoreGetFirmwareDumpData(d, buf, 4), SDERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(CoreGetFirmwareDumpData(d, {}, 0), SDERR_INVALID_REQUEST);

    char name[64] = {};
    int32_t size = 0;
    EXPECT_EQ(CoreGetMpiFwDumpSize(d, name, &size), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 100);
    EXPECT_EQ(CoreGetDumpDataSize(d, name, &size), SDERR_SUCCESS);
    EXPECT_EQ(size, 40);
    EXPECT_EQ(CoreGetDumpDataSize(nullptr, name, &size), static_cast<uint32_t>(-1));
    EXPECT_EQ(CoreGetMpiFwDumpSize(nullptr, name, &size), SDERR_UNKNOWN);
}

TEST_F(AdapterUtilities, CompressedDumpIsCopiedToAFreshName) {
    SDMDevice* d = One(40, 0, {FaultSpec::Fail("fw_dump", SDERR_FW_DUMP_ZIP, 1)});
    const std::string library = dir_ + "/fw_dump_1.gz";
    std::ofstream(library, std::ios::binary) << "compressed dump";
    char name[128] = {};
    std::snprintf(name, sizeof name, "%s", library.c_str());   // where the library names its file
    int32_t size = -5;
    EXPECT_EQ(CoreGetDumpDataSize(d, name, &size), SDERR_FW_DUMP_ZIP);
    const std::string copy = name;
    EXPECT_EQ(copy.rfind("/tmp/dumpFile", 0), 0u) << copy;
    EXPECT_EQ(copy.size(), std::string("/tmp/dumpFileXXXXXX.gz").size());
    EXPECT_NE(copy, "/tmp/dumpFile.gz");
    EXPECT_EQ(zvtest::ReadFile(copy), "compressed dump");
    std::remove(copy.c_str());
}

TEST_F(AdapterUtilities, MpiDumpSavedToAFileOrTwentySixWithoutOne) {
    SDMDevice* d = One(0, 100);
    const std::string path = dir_ + "/mpi.dmp";
    ASSERT_EQ(CoreGetMpiFwDump(d, path.c_str()), 0);   // asked again with the size the library gave
    const std::string bytes = zvtest::ReadFile(path);
    ASSERT_EQ(bytes.size(), 100u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[7]), 7 ^ 0x5A);
    EXPECT_EQ(CoreGetMpiFwDump(nullptr, path.c_str()), -1);

    RemoveAllDevicesFromDeviceList();
    d = One(0, 0);   // an adapter without an MPI dump
    EXPECT_EQ(CoreGetMpiFwDump(d, (dir_ + "/none.dmp").c_str()), 26);
}

TEST_F(AdapterUtilities, ElsEchoBothWays) {
    SDMDevice* d = One(0, 0);
    DESTINATIONADDRESS dest{};
    dest.AddressType = SD_ADDRESS_BY_PORT_ID;
    const std::vector<uint8_t> request = {0x10, 0, 0, 0, 'p', 'i', 'n', 'g', 1, 2};
    std::vector<uint8_t> response(32, 0);
    uint32_t length = 0;
    ASSERT_EQ(CoreSendElsEcho(d->DeviceHandle, 0, &dest, request, response, &length), SDERR_SUCCESS);
    EXPECT_EQ(response[0], 0x02);   // accepted
    EXPECT_EQ(length, 32u);
    ASSERT_EQ(CoreGetElsEchoPath(d->DeviceHandle, 0, &dest, request, response, &length), SDERR_SUCCESS);
    EXPECT_EQ(length, request.size());
    EXPECT_EQ(std::memcmp(response.data() + 4, "ping", 4), 0);
    EXPECT_EQ(CoreSendElsEcho(d->DeviceHandle, 0, &dest, {}, response, &length), SDERR_SUCCESS);   // nothing sent
}

// A transceiver with the larger I2C memory: every write is recorded, reads
// come from what was written, and the next read can be made to fail.
struct SfpMemory {
    std::map<std::pair<SD_UINT16, SD_UINT16>, SD_UINT8> bytes;
    std::vector<std::pair<SD_UINT16, SD_UINT16>> writes;   // (device, data address)
    SD_UINT32 failNextRead = 0;
};

class SfpTransport : public zvapi_transport {
public:
    SfpTransport(std::shared_ptr<zvtest::FakeState> s, std::shared_ptr<SfpMemory> m)
        : base_(std::move(s)), mem_(std::move(m)) {}
    SD_UINT32 PortCount() override { return base_.PortCount(); }
    SD_UINT32 Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                      size_t* outLen) override {
        if (op != ZVOP_SFP_READ && op != ZVOP_SFP_WRITE) return base_.Request(instance, op, in, out, outLen);
        zvapi_sfp_io io{};
        std::memcpy(&io, in.data(), sizeof io);
        if (op == ZVOP_SFP_WRITE) {
            mem_->writes.emplace_back(io.DevAddr, io.DataAddr);
            for (SD_UINT32 i = 0; i < io.Length; ++i)
                mem_->bytes[{io.DevAddr, static_cast<SD_UINT16>(io.DataAddr + i)}] = in[sizeof io + i];
            return 0;
        }
        if (const SD_UINT32 st = std::exchange(mem_->failNextRead, 0); st != 0) return st;
        for (SD_UINT32 i = 0; i < io.Length && i < out.size(); ++i)
            out[i] = mem_->bytes[{io.DevAddr, static_cast<SD_UINT16>(io.DataAddr + i)}];
        *outLen = io.Length;
        return 0;
    }

private:
    zvtest::FakeTransport base_;
    std::shared_ptr<SfpMemory> mem_;
};

class SfpVersion : public ::testing::Test {
protected:
    void SetUp() override {
        auto state = std::make_shared<zvtest::FakeState>();
        state->AddAdapter(0x2281, "SN1");
        mem = std::make_shared<SfpMemory>();
        zvapi_set_transport_factory([state, m = mem] { return std::make_unique<SfpTransport>(state, m); });
        ASSERT_EQ(SDOpenDevice(0, &handle), 0u);
    }
    void TearDown() override {
        SDCloseDevice(handle);
        zvapi_set_transport_factory({});
    }
    std::shared_ptr<SfpMemory> mem;
    int handle = -1;
};

TEST_F(SfpVersion, RecordThenStatusBitClearedAndSet) {
    EXPECT_EQ(CoreUpdateVersionInI2cVpdOverAll(handle, 0, "01.02.03", "2026-01-01", 0x13), 0u);   // other region
    EXPECT_EQ(CoreHandleVersionInI2cVpdOverAll(handle, 0x14, "", "x"), 0u);                      // no version
    EXPECT_TRUE(mem->writes.empty());

    mem->bytes[{0xE0, 0}] = 0x5F;
    ASSERT_EQ(CoreHandleVersionInI2cVpdOverAll(handle, 0x14, "01.02.03", "2026-01-01"), SDERR_SUCCESS);
    const std::vector<std::pair<SD_UINT16, SD_UINT16>> order = {{0xA0, 0x406}, {0xE0, 1}, {0xE0, 1}};
    EXPECT_EQ(mem->writes, order);
    std::string record;
    for (SD_UINT16 i = 0; i < 36; ++i) record += static_cast<char>(mem->bytes[{0xA0, static_cast<SD_UINT16>(0x406 + i)}]);
    EXPECT_EQ(record, std::string("V:01.02.03,D:2026-01-01,A:Y,T:M") + std::string(5, '\0'));
    EXPECT_EQ(mem->bytes[(std::pair<SD_UINT16, SD_UINT16>{0xE0, 1})], 0x5F);   // bit 4 set again after the pause
}

TEST_F(SfpVersion, UnreadableStatusRegisterIsNotWritten) {
    mem->failNextRead = SDERR_BUSY;
    EXPECT_EQ(CoreUpdateVersionInI2cVpdOverAll(handle, 0, "01.02.03", "d", 0x14), SDERR_BUSY);
    ASSERT_EQ(mem->writes.size(), 1u);   // the record only
    EXPECT_EQ(mem->writes[0].first, 0xA0);
}

}  // namespace

// SCSI answers of simulated targets, scripted sequences, buffer bounds; and
// the port-level answers discovery relies on.
#include <gtest/gtest.h>

#include "fixtures/host_builder.h"
#include "fixtures/sim_client.h"

namespace {

struct Reply {
    SD_UINT32 status = 0;
    zvapi_scsi_reply head{};
    std::vector<SD_UINT8> data;
};

class SimScsi : public ::testing::Test {
protected:
    void SetUp() override {
        auto& a = h.AddChip25TwoPort();
        target = &a.ports[0].AddTarget();
        target->AddLun(1, 0x1FFFFFFFFULL);   // above 32 bits of blocks
        target->AddLun(300).vpd83 = false;
        target->luns[0].serial = "SER-0";
        target->scripts.push_back({1, 0x00, {zvfix::ScsiAnswer::Busy(), zvfix::ScsiAnswer::UnitAttention(),
                                             zvfix::ScsiAnswer::ReservationConflict()}});
        target->scripts.push_back({0, 0xA0, {zvfix::ScsiAnswer::Status(0x20000077, true)}});
        a.ports[0].events = {{0x8012, {1, 2, 3}}};
        t = zvfix::OpenSimHost(h);
    }
    Reply Send(std::vector<SD_UINT8> cdb, SD_UINT16 lun, SD_UINT32 want = 255, size_t room = 4096,
               SD_UINT16 addrType = SD_ADDRESS_BY_PORT_WWN) {
        zvapi_scsi_request req{};
        req.Dest.AddressType = addrType;
        for (int i = 0; i < 8; ++i) req.Dest.AddressUsing[i] = static_cast<SD_UINT8>(target->portWwn >> (56 - 8 * i));
        req.Dest.LunNumber = lun;
        std::copy(cdb.begin(), cdb.end(), req.Cdb);
        req.CdbLength = static_cast<SD_UINT32>(cdb.size());
        req.DataInLength = want;
        std::vector<SD_UINT8> out(sizeof(zvapi_scsi_reply) + room, 0xCC);
        size_t len = 0;
        Reply r;
        r.status = t->Request(0, ZVOP_SCSI, zvapi_bytes(req), out, &len);
        if (len >= sizeof r.head) {
            std::memcpy(&r.head, out.data(), sizeof r.head);
            r.data.assign(out.begin() + sizeof r.head, out.begin() + static_cast<long>(len));
            // Nothing past what was reported is touched.
            EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(len), out.end(), [](SD_UINT8 b) { return b == 0xCC; }));
        }
        return r;
    }
    zvfix::HostBuilder h;
    zvfix::TargetSpec* target = nullptr;
    std::unique_ptr<zvapi_transport> t;
};

TEST_F(SimScsi, StandardCommands) {
    EXPECT_EQ(Send({0, 0, 0, 0, 0, 0}, 0).status, SDERR_SUCCESS);
    // A LUN the target does not have.
    Reply r = Send({0, 0, 0, 0, 0, 0}, 7);
    EXPECT_EQ(std::tuple(r.status, r.head.Sense[2], r.head.Sense[12]), std::tuple(SDERR_SCSI_CHECK_CONDITION, 5, 0x25));
    r = Send({0x12, 0, 0, 0, 36, 0}, 7);
    ASSERT_EQ(r.status, SDERR_SUCCESS);
    EXPECT_EQ(r.data[0], 0x7F);

    r = Send({0x12, 0, 0, 0, 36, 0}, 0);
    ASSERT_EQ(r.data.size(), 36u);
    EXPECT_EQ(r.data[0], 0);
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 16), "KORVEX  ");
    r = Send({0x12, 1, 0x80, 0, 64, 0}, 0);
    ASSERT_GE(r.data.size(), 9u);
    EXPECT_EQ(r.data[1], 0x80);
    EXPECT_EQ(std::string(r.data.begin() + 4, r.data.begin() + 4 + r.data[3]), "SER-0");
    r = Send({0x12, 1, 0x83, 0, 64, 0}, 1);
    EXPECT_EQ(r.data[1], 0x83);
    EXPECT_EQ(r.data[8], 0x60);  // NAA 6 designator follows the 4-byte page and 4-byte descriptor headers
    r = Send({0x12, 1, 0x83, 0, 64, 0}, 300);
    EXPECT_EQ(std::tuple(r.status, r.head.Sense[12]), std::tuple(SDERR_SCSI_CHECK_CONDITION, 0x24));

    r = Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1);
    ASSERT_EQ(r.data.size(), 8u);
    EXPECT_EQ(r.data[0] & r.data[1] & r.data[2] & r.data[3], 0xFF);  // needs READ CAPACITY (16)
    r = Send({0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 1);
    ASSERT_EQ(r.data.size(), 32u);
    EXPECT_EQ(std::tuple(r.data[3], r.data[4]), std::tuple(0x01, 0xFF));
    EXPECT_EQ(r.data[10], 0x02);  // 512-byte blocks
    r = Send({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0);
    EXPECT_EQ(std::tuple(r.status, r.head.Sense[12]), std::tuple(SDERR_SCSI_CHECK_CONDITION, 0x20));
}

TEST_F(SimScsi, ScriptedSequencesThenNormalAnswers) {
    Reply r = Send({0, 0, 0, 0, 0, 0}, 1);
    EXPECT_EQ(r.status, SDERR_BUSY);
    r = Send({0x12, 0, 0, 0, 36, 0}, 1);  // another command is not scripted
    EXPECT_EQ(r.status, SDERR_SUCCESS);
    r = Send({0, 0, 0, 0, 0, 0}, 1);
    EXPECT_EQ(std::tuple(r.status, r.head.Sense[2], r.head.SenseLength), std::tuple(SDERR_SCSI_CHECK_CONDITION, 6, 18u));
    EXPECT_EQ(Send({0, 0, 0, 0, 0, 0}, 1).status, SDERR_SCSI_RESERVATION_CONFLICT);
    EXPECT_EQ(Send({0, 0, 0, 0, 0, 0}, 1).status, SDERR_SUCCESS);

    // REPORT LUNS with a status that still carries the list.
    r = Send({0xA0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}, 0);
    EXPECT_EQ(r.status, 0x20000077u);
    ASSERT_EQ(r.data.size(), 32u);
    EXPECT_EQ(r.data[3], 24);
    EXPECT_EQ(r.data[8 + 8 + 1], 1);
    EXPECT_EQ((r.data[24] << 8 | r.data[25]) & 0xBFFF, 300);
    EXPECT_EQ(Send({0xA0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}, 0).status, SDERR_SUCCESS);
}

TEST_F(SimScsi, AnswersAreBoundedByTheCaller) {
    // Allocation length, DataInLength and the output span each cut the data.
    EXPECT_EQ(Send({0x12, 0, 0, 0, 10, 0}, 0).data.size(), 10u);
    EXPECT_EQ(Send({0x12, 0, 0, 0, 36, 0}, 0, 5).data.size(), 5u);
    EXPECT_EQ(Send({0x12, 0, 0, 0, 36, 0}, 0, 255, 3).data.size(), 3u);
    // No room for the reply head: refused, nothing written.
    zvapi_scsi_request req{};
    req.CdbLength = 6;
    std::vector<SD_UINT8> tiny(8, 0xCC);
    size_t len = 0;
    EXPECT_EQ(t->Request(0, ZVOP_SCSI, zvapi_bytes(req), tiny, &len), SDERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(tiny, std::vector<SD_UINT8>(8, 0xCC));
    req.CdbLength = 17;
    std::vector<SD_UINT8> out(200);
    EXPECT_EQ(t->Request(0, ZVOP_SCSI, zvapi_bytes(req), out, &len), SDERR_INVALID_PARAMETER);
    // Unknown target.
    req.CdbLength = 6;
    req.Dest.AddressType = SD_ADDRESS_BY_PORT_WWN;
    EXPECT_EQ(t->Request(0, ZVOP_SCSI, zvapi_bytes(req), out, &len), SDERR_DEVICE_NOT_FOUND);
}

TEST_F(SimScsi, PortAnswersForDiscovery) {
    size_t len = 0;
    DEVICEPORTPROPERTY pp{};
    ASSERT_EQ(zvfix::SimGet(*t, 0, ZVOP_PORT_PROPERTY, pp), SDERR_SUCCESS);
    EXPECT_EQ(pp.DiscTargetCount, 1);
    DISCTARGETPROPERTY d{};
    const SD_UINT32 idx0 = 0, idx1 = 1;
    ASSERT_EQ(zvfix::SimGet(*t, 0, ZVOP_DISC_TARGET, d, zvapi_bytes(idx0)), SDERR_SUCCESS);
    EXPECT_EQ(d.PortWWN[7], static_cast<SD_UINT8>(target->portWwn));
    EXPECT_EQ(zvfix::SimGet(*t, 0, ZVOP_DISC_TARGET, d, zvapi_bytes(idx1)), SDERR_INVALID_PARAMETER);

    // Events: only while enabled, once per run.
    std::vector<ASYNCEVENT> ev(8);
    const std::span<SD_UINT8> evBytes(reinterpret_cast<SD_UINT8*>(ev.data()), ev.size() * sizeof(ASYNCEVENT));
    ASSERT_EQ(t->Request(0, ZVOP_AEN_GET, {}, evBytes, &len), SDERR_SUCCESS);
    EXPECT_EQ(len, 0u);
    const SD_UINT32 on = 1;
    ASSERT_EQ(t->Request(0, ZVOP_AEN_ENABLE, zvapi_bytes(on), {}, &len), SDERR_SUCCESS);
    ASSERT_EQ(t->Request(0, ZVOP_AEN_GET, {}, evBytes, &len), SDERR_SUCCESS);
    ASSERT_EQ(len, sizeof(ASYNCEVENT));
    EXPECT_EQ(ev[0].EventCode, 0x8012u);
    EXPECT_EQ(ev[0].Payload[2], 3u);
    ASSERT_EQ(t->Request(0, ZVOP_AEN_GET, {}, evBytes, &len), SDERR_SUCCESS);
    EXPECT_EQ(len, 0u);

    std::vector<SD_UINT8> dump(16);
    EXPECT_EQ(t->Request(0, ZVOP_FW_DUMP, {}, dump, &len), SDERR_NO_FW_DUMP);
}

}  // namespace

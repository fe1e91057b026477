// Fabric CT, ELS and QoS queries: the requests as sent, answers read within
// what came back (short answers, counts larger than the answer), the
// fabric's element rules on a simulated fabric, and the QoS records and
// their flash copy.
#include "core/fabric_queries.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <tuple>
#include <vector>

#include "core/core_init.h"
#include "core/oss_services.h"
#include "core/sdm_device.h"
#include "mgmt/fake_transport.h"
#include "mgmt/sdapi.h"
#include "support/discovered_host.h"
#include "support/e2e_support.h"

namespace {

using Bytes = std::vector<SD_UINT8>;

std::array<SD_UINT8, 8> Wwn(uint64_t w) {
    std::array<SD_UINT8, 8> b{};
    for (int i = 0; i < 8; ++i) b[i] = static_cast<SD_UINT8>(w >> (56 - 8 * i));
    return b;
}

// ---- Scripted answers -------------------------------------------------------------------
struct Script {
    Bytes ct, els;                    // answer bytes (cut to the caller's span)
    std::vector<Bytes> ctSent, elsSent;
    std::vector<zvapi_scsi_request> scsiSent;
    std::vector<SD_UINT32> scsiAnswers;   // status of each SCSI command in turn; then 0
    SD_UINT32 privStats = 0;              // status of the private-statistics query
};

// The fake platform, with CT and ELS answered from the script.
class ScriptedFabric : public zvapi_transport {
public:
    ScriptedFabric(std::shared_ptr<zvtest::FakeState> s, std::shared_ptr<Script> script)
        : base_(std::move(s)), script_(std::move(script)) {}
    SD_UINT32 PortCount() override { return base_.PortCount(); }
    SD_UINT32 Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                      size_t* outLen) override {
        if (op == ZVOP_PORT_PROPERTY) {
            DEVICEPORTPROPERTY p{};
            p.PortID = 0x0A0B0C;
            std::memcpy(out.data(), &p, std::min(out.size(), sizeof p));
            *outLen = sizeof p;
            return 0;
        }
        if (op == ZVOP_PRIV_STATS) {
            // Word w holds w + 1.
            for (size_t w = 0; w < out.size() / 4; ++w) {
                const SD_UINT32 v = static_cast<SD_UINT32>(w + 1);
                std::memcpy(out.data() + 4 * w, &v, 4);
            }
            *outLen = out.size();
            return script_->privStats;
        }
        if (op == ZVOP_SCSI) {
            zvapi_scsi_request req{};
            std::memcpy(&req, in.data(), std::min(in.size(), sizeof req));
            const size_t n = script_->scsiSent.size();
            script_->scsiSent.push_back(req);
            std::fill(out.begin(), out.end(), SD_UINT8{0});
            *outLen = std::min(out.size(), sizeof(zvapi_scsi_reply));
            return n < script_->scsiAnswers.size() ? script_->scsiAnswers[n] : 0;
        }
        if (op != ZVOP_CT && op != ZVOP_ELS) return base_.Request(instance, op, in, out, outLen);
        Bytes& answer = op == ZVOP_CT ? script_->ct : script_->els;
        (op == ZVOP_CT ? script_->ctSent : script_->elsSent).emplace_back(in.begin(), in.end());
        const size_t n = std::min(answer.size(), out.size());
        std::copy_n(answer.begin(), n, out.begin());
        *outLen = n;
        return 0;
    }

private:
    zvtest::FakeTransport base_;
    std::shared_ptr<Script> script_;
};

class ScriptedQueries : public ::testing::Test {
protected:
    void SetUp() override {
        auto state = std::make_shared<zvtest::FakeState>();
        state->AddAdapter(0x2261, "SN1");
        script = std::make_shared<Script>();
        zvapi_set_transport_factory([state, s = script] { return std::make_unique<ScriptedFabric>(state, s); });
        ASSERT_EQ(SDOpenDevice(0, &device.DeviceHandle), 0u);
        device.DevicePortProperty.PortID = 0x0A0B0C;
    }
    void TearDown() override {
        SDCloseDevice(device.DeviceHandle);
        zvapi_set_transport_factory({});
    }
    // An accepted CT answer of `size` bytes.
    static Bytes Accepted(size_t size) {
        Bytes b(size, 0);
        b[0] = 1, b[8] = 0x80, b[9] = 0x02;
        return b;
    }

    SDMDevice device{};
    std::shared_ptr<Script> script;
};

TEST_F(ScriptedQueries, ElementListIsReadWithinTheAnswer) {
    // The count claims far more elements than any answer holds.
    script->ct = Accepted(20 + 12);
    script->ct[16] = script->ct[17] = script->ct[18] = script->ct[19] = 0xFF;
    std::memcpy(script->ct.data() + 20, Wwn(0x1000000000000001).data(), 8);
    script->ct[31] = 2;
    std::vector<CoreInterconnectElement> elements;
    ASSERT_EQ(CoreGetInterconnectElements(&device, elements), 0);
    ASSERT_EQ(elements.size(), CT_IE_MAX);
    EXPECT_EQ(std::memcmp(elements[0].Name, Wwn(0x1000000000000001).data(), 8), 0);
    EXPECT_EQ(elements[0].Type, 2);
    // The request: revision 1, fabric configuration server, the list command.
    ASSERT_EQ(script->ctSent.size(), 1u);
    EXPECT_EQ(script->ctSent[0], (Bytes{1, 0, 0, 0, 0xFA, 0x01, 0, 0, 0x01, 0x01, 0, 0, 0, 0, 0, 0}));

    // A rejected list names nothing.
    script->ct[9] = 0x01;
    EXPECT_EQ(CoreGetInterconnectElements(&device, elements), 0);
    EXPECT_TRUE(elements.empty());

    // A domain answer cut short: the domain byte is not in it, so nothing is taken for it.
    script->ct = Accepted(16);
    SD_UINT8 domain = 0x77;
    EXPECT_EQ(CoreGetSwitchDomainID(&device, Wwn(0x2000000000000002).data(), &domain), 0);
    EXPECT_EQ(domain, 0);   // read from the zero-filled answer buffer, never past it
    const Bytes& sent = script->ctSent.back();
    ASSERT_EQ(sent.size(), 24u);
    EXPECT_EQ(Bytes(sent.begin() + 8, sent.begin() + 10), (Bytes{0x01, 0x12}));
    const auto element = Wwn(0x2000000000000002);
    EXPECT_EQ(Bytes(sent.begin() + 16, sent.end()), Bytes(element.begin(), element.end()));
}

TEST_F(ScriptedQueries, LinkServicesKeepWhatCameBack) {
    script->els = {0x02, 0, 0, 0, 1, 2, 3, 4, 5, 6};   // a short read-diagnostic-parameters answer
    std::vector<SD_UINT8> answer;
    SD_UINT32 size = 0;
    ASSERT_EQ(CoreELSendRDP(&device, &answer, &size), 0u);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(answer, script->els);
    const Bytes& rdp = script->elsSent.back();
    zvapi_els_request head{};
    ASSERT_EQ(rdp.size(), sizeof head + RDP_REQUEST_SIZE);
    std::memcpy(&head, rdp.data(), sizeof head);
    EXPECT_EQ(head.Opcode, ELS_CODE_RDP);
    EXPECT_EQ(head.Dest.AddressType, SD_ADDRESS_BY_PORT_ID);
    EXPECT_EQ(Bytes(head.Dest.AddressUsing, head.Dest.AddressUsing + 3), (Bytes{0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(Bytes(rdp.begin() + sizeof head, rdp.end()), (Bytes{0, 0, 0, 12, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0x0A, 0x0B, 0x0C}));

    // A longer answer than the link service has: only its eight bytes are kept.
    script->els.assign(64, 0x5A);
    const LCB_REQUEST lcb{1, 2, 3, 4, 0x1234};
    ASSERT_EQ(CoreELSendLCB(&device, &lcb, &answer, &size), 0u);
    EXPECT_EQ(size, LCB_RESPONSE_SIZE);
    EXPECT_EQ(answer, Bytes(8, 0x5A));
    const Bytes& sent = script->elsSent.back();
    EXPECT_EQ(Bytes(sent.end() - 8, sent.end()), (Bytes{1, 0, 0, 2, 3, 4, 0x12, 0x34}));
    EXPECT_EQ(CoreELSendRDP(nullptr, &answer, &size), CORE_ELS_NO_DEVICE);
}

TEST_F(ScriptedQueries, PciIdentityAndPrivateStatistics) {
    device.DeviceChipProperty.DeviceID = 0x2261;
    device.DeviceChipProperty.PciBusNumber = 5;
    device.DeviceChipProperty.PciSlotNumber = (3 << 3) | 6;
    PCIPROPERTY pci{};
    ASSERT_EQ(CoreGetAdapterPCIProperty(&device, &pci), 0);
    EXPECT_EQ((std::vector<int>{pci.DeviceID, pci.ChipRev, pci.PciBusNumber, pci.PciDeviceNumber, pci.PciFuncNumber,
                                pci.PortNumber}),
              (std::vector<int>{0x2261, 25, 5, 3, 6, 1}));
    device.DeviceChipProperty.PciSlotNumber = (3 << 3) | 1;   // odd functions are second ports
    ASSERT_EQ(CoreGetAdapterPCIProperty(&device, &pci), 0);
    EXPECT_EQ(pci.PortNumber, 2);
    EXPECT_EQ(CoreGetAdapterPCIProperty(&device, nullptr), 0) << "a fresh chip-property query";
    EXPECT_EQ(CoreGetAdapterPCIProperty(nullptr, &pci), -1);

    // Only the firmware's counters are copied; every other word keeps the caller's value.
    FWPRIVATESTATS stats{};
    std::fill(std::begin(stats.Words), std::end(stats.Words), 0xEEEEEEEEu);
    ASSERT_EQ(CoreGetAdapterFwPrivateStatsData(&device, &stats, sizeof stats), 0);
    for (int w : {0, 10, 16, 28, 31, 33, 36, 38, 43, 50, 52, 61}) EXPECT_EQ(stats.Words[w], w + 1u) << w;
    for (int w : {11, 15, 17, 27, 32, 37, 39, 42, 51, 62, 127}) EXPECT_EQ(stats.Words[w], 0xEEEEEEEEu) << w;
    const FWPRIVATESTATS before = stats;
    script->privStats = SDERR_OUT_OF_MEMORY;
    EXPECT_EQ(CoreGetAdapterFwPrivateStatsData(&device, &stats, sizeof stats), -17);
    script->privStats = SDERR_NOT_SUPPORTED;
    EXPECT_EQ(CoreGetAdapterFwPrivateStatsData(&device, &stats, sizeof stats), -1);
    EXPECT_EQ(CoreGetAdapterFwPrivateStatsData(&device, &stats, sizeof stats - 1), -1);
    script->privStats = 0;
    device.DeviceChipProperty.DeviceID = 0x2031;   // chip type 24
    EXPECT_EQ(CoreGetAdapterFwPrivateStatsData(&device, &stats, sizeof stats), -1);
    EXPECT_EQ(std::memcmp(&stats, &before, sizeof stats), 0);
}

TEST_F(ScriptedQueries, BeaconedTargetsAreAskedThreeTimesUntilOneFails) {
    zvtest::TempDir dir;
    OSSSetConfigPath((dir.Path() + "/").c_str());
    CoreInitialize();
    std::ofstream(dir.Path() + "/agent.properties")
        << "node.agent.target.beacon.4.5000000000000a01=1\nnode.agent.target.beacon.4.5000000000000a02=0\n";
    SDMDevice* d = CreateNewDevice();
    *d = SDMDevice{};
    d->DeviceHandle = device.DeviceHandle;
    d->DeviceNumber = 4;
    ASSERT_EQ(AddDeviceToDeviceList(d), 0);
    std::vector<SDMTarget*> targets;
    for (uint64_t wwn : {0x5000000000000A01, 0x5000000000000A02, 0x5000000000000A03}) {
        SDMTarget* t = CreateNewTarget();
        std::memcpy(t->DiscTargetProperty.PortWWN, Wwn(wwn).data(), 8);
        t->lunNumberForInquiry = 7;
        t->BeaconControlFlags = 1;
        ASSERT_EQ(AddTargetToTargetList(d, t), 0);
        targets.push_back(t);
    }

    // Only the first target's beacon is on: three 36-byte INQUIRYs to its LUN 7.
    EXPECT_EQ(CoreHandleTargetBeacon(), 0u);
    ASSERT_EQ(script->scsiSent.size(), 3u);
    for (const zvapi_scsi_request& r : script->scsiSent) {
        EXPECT_EQ(r.Dest.AddressType, SD_ADDRESS_BY_PORT_WWN);
        EXPECT_EQ(std::memcmp(r.Dest.AddressUsing, Wwn(0x5000000000000A01).data(), 8), 0);
        EXPECT_EQ(r.Dest.LunNumber, 7u);
        EXPECT_EQ(Bytes(r.Cdb, r.Cdb + 6), (Bytes{0x12, 0, 0, 0, 36, 0}));
    }
    EXPECT_EQ((std::vector<SD_UINT32>{targets[0]->BeaconControlFlags, targets[1]->BeaconControlFlags,
                                      targets[2]->BeaconControlFlags}),
              (std::vector<SD_UINT32>{1, 0, 0}))
        << "the persisted state replaces the model's";

    // The second INQUIRY fails: no third, and its status is the result.
    script->scsiSent.clear();
    script->scsiAnswers = {0, SDERR_NOT_SUPPORTED};
    EXPECT_EQ(CoreHandleTargetBeacon(), static_cast<SD_UINT32>(SDERR_NOT_SUPPORTED));
    EXPECT_EQ(script->scsiSent.size(), 2u);

    // Without the file no state can be read: nothing is sent.
    std::remove((dir.Path() + "/agent.properties").c_str());
    script->scsiSent.clear();
    EXPECT_EQ(CoreHandleTargetBeacon(), 0u);
    EXPECT_TRUE(script->scsiSent.empty());
    RemoveAllDevicesFromDeviceList();
}

// ---- A simulated fabric -------------------------------------------------------------------
class FabricQueries : public zvtest::DiscoveredHostTest {
protected:
    SDMDevice* Port(const std::vector<zvfix::FaultSpec>& faults = {},
                    std::vector<zvfix::FabricElementSpec> elements = {{0x2000000000000002, 1, 3},
                                                                      {0x1000000000000001, 1, 5},
                                                                      {0x0500000000000005, 1, 3}}) {
        RemoveAllDevicesFromDeviceList();
        zvfix::HostBuilder host;
        zvfix::AdapterSpec& a = host.AddChip25TwoPort();
        a.faults = faults;
        zvfix::PortSpec& p = a.ports[0];
        p.portId = 0x030100;
        p.fabric.elements = std::move(elements);
        p.fabric.fabricPortName = 0x2200000000000022;
        auto devices = Discover(host);
        return devices.empty() ? nullptr : devices[0];
    }
};

TEST_F(FabricQueries, PrincipalAttachedAndAdjacentNames) {
    SDMDevice* d = Port();
    ASSERT_NE(d, nullptr);
    std::array<SD_UINT8, 8> name{};
    // Lowest domain, the earlier of equals in name order.
    ASSERT_EQ(CoreGetPrincipalFabricWWN(d, name), 0);
    EXPECT_EQ(name, Wwn(0x0500000000000005));
    // The last element of the port's own domain (3).
    ASSERT_EQ(CoreGetAttachedSwitchFabricWWN(d, name), 0);
    EXPECT_EQ(name, Wwn(0x2000000000000002));
    EXPECT_EQ(CoreGetDestinationAddressType(d, Wwn(0x1000000000000001).data()), 3);
    EXPECT_EQ(CoreGetDestinationAddressType(d, Wwn(0x1000000000000009).data()), 2);
    ASSERT_EQ(CoreGetAdjacentFabricWWN(d, name), 0);
    EXPECT_EQ(name, Wwn(0x2200000000000022));
    // The name server rejects the port-name question: nothing is taken.
    name.fill(0xEE);
    EXPECT_EQ(CoreGetAdjacentAdapterPortName(d, name), 0);
    EXPECT_EQ(name, (std::array<SD_UINT8, 8>{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    ASSERT_EQ(CoreUpdateFabricWWN(), 0);
    EXPECT_EQ(std::memcmp(d->DevicePortProperty.PrincipalFabricWWN, Wwn(0x0500000000000005).data(), 8), 0);
    EXPECT_EQ(std::memcmp(d->DevicePortProperty.AdjacentFabricWWN, Wwn(0x2200000000000022).data(), 8), 0);
}

TEST_F(FabricQueries, RejectedCommandsFallBackOrCountAsUnknown) {
    // The newer list command rejected: the older one is asked. Then the
    // second element's domain (2, the lowest) is not known: it counts with
    // the first's (7), and the third (4) is principal.
    SDMDevice* d = Port({zvfix::FaultSpec::Fail("ct", 0x2000001C, 1), zvfix::FaultSpec::Fail("ct", 0x2000001C, 1).Skip(3)},
                        {{0x0500000000000005, 1, 7}, {0x1000000000000001, 1, 2}, {0x2000000000000002, 1, 4}});
    ASSERT_NE(d, nullptr);
    std::array<SD_UINT8, 8> name{};
    ASSERT_EQ(CoreGetPrincipalFabricWWN(d, name), 0);
    EXPECT_EQ(name, Wwn(0x2000000000000002));

    std::vector<CoreInterconnectElement> elements;
    d = Port({zvfix::FaultSpec::Fail("ct", 0x2000001C)});   // every CT request rejected
    EXPECT_EQ(CoreGetInterconnectElements(d, elements), -1);   // both list commands rejected
    EXPECT_EQ(CoreGetDestinationAddressType(d, Wwn(0x1000000000000001).data()), 2);
}

TEST_F(FabricQueries, QualityOfServiceRecordsAndTheirFlashCopy) {
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& a = host.AddChip25TwoPort();
    a.layout.push_back({0x300, 0x440000, 0x20000, false});   // the flash reaches the QoS copy
    zvfix::PortSpec& p = a.ports[0];
    p.AddTarget(0x5000000000000A01).AddLun(3);
    p.AddTarget(0x5000000000000A02).luns.clear();
    p.qosEnable = 1;
    p.qos = {{.wwpn = 0x5000000000000A01, .luns = {{0, 7}, {3, 9}}}, {.wwpn = 0x5000000000000B00, .luns = {{1, 4}}}};
    auto devices = Discover(host);
    ASSERT_FALSE(devices.empty());
    SDMDevice* d = devices[0];

    LUN_QOS rec{};
    std::memcpy(rec.WWPN, Wwn(0x5000000000000A01).data(), 8);
    ASSERT_EQ(CoreGetTargetLunQoSData(d, &rec), 0);
    EXPECT_EQ(Bytes(rec.LunQosData, rec.LunQosData + 5), (Bytes{7, 0, 0, 9, 0}));

    // All 256 LUN bytes travel, zero ones too: 254 non-zero, LUNs 0 and 255 zero.
    LUN_QOS many = rec;
    for (size_t i = 0; i < LUN_QOS_LUNS; ++i) many.LunQosData[i] = static_cast<SD_UINT8>(i + 1);
    many.LunQosData[0] = 0;
    ASSERT_EQ(CoreSetTargetLunQoSConfig(d, &many), 0);
    LUN_QOS back{};
    std::memcpy(back.WWPN, many.WWPN, 8);
    ASSERT_EQ(CoreGetTargetLunQoSData(d, &back), 0);
    EXPECT_EQ(Bytes(back.LunQosData, back.LunQosData + 256), Bytes(many.LunQosData, many.LunQosData + 256));
    // The other target's record stays; a WWPN the port does not know gets no record.
    SD_LUN_QOS other{};
    std::memcpy(other.WWPN, Wwn(0x5000000000000B00).data(), 8);
    ASSERT_EQ(SDGetLunQos(d->DeviceHandle, 0, &other), 0u);
    EXPECT_EQ(std::tuple(other.LunQosData[0], other.LunQosData[1], other.LunQosData[2]), std::tuple(0, 4, 0));
    LUN_QOS stranger = many;
    std::memcpy(stranger.WWPN, Wwn(0x5000000000000C00).data(), 8);
    ASSERT_EQ(CoreSetTargetLunQoSConfig(d, &stranger), 0);
    SD_LUN_QOS none{};
    std::memcpy(none.WWPN, stranger.WWPN, 8);
    ASSERT_EQ(SDGetLunQos(d->DeviceHandle, 0, &none), 0u);
    EXPECT_EQ(Bytes(none.WWPN, none.WWPN + 8), Bytes(8, 0));
    // Nor is that answer, made for no WWPN, copied into the caller's record: its LUN bytes stay.
    ASSERT_EQ(CoreGetTargetLunQoSData(d, &stranger), 0);
    EXPECT_EQ(Bytes(stranger.LunQosData, stranger.LunQosData + 256), Bytes(many.LunQosData, many.LunQosData + 256));

    // The flash copy: header, one slot per target (zero for the one without LUNs), a zero word sum.
    ASSERT_EQ(CoreSaveTargetLunQoSConfig(d, 1), 0);
    const Bytes area = zvfix::ReadFlash(hostDir_, 0);
    const size_t at = CoreGetLunQoSFlashOffset(25, 1);
    ASSERT_EQ(at, 0x440000u);
    const size_t length = 16 + 2 * 272;
    EXPECT_EQ(area[at], 1);
    EXPECT_EQ(area[at + 4] | area[at + 5] << 8, static_cast<int>(length));
    EXPECT_EQ(area[at + 8], 2);
    uint16_t sum = 0;
    for (size_t i = 0; i < length; i += 2) sum = static_cast<uint16_t>(sum + (area[at + i] | area[at + i + 1] << 8));
    EXPECT_EQ(sum, 0);
    EXPECT_EQ(std::memcmp(&area[at + 16], Wwn(0x5000000000000A01).data(), 8), 0);
    EXPECT_EQ(Bytes(&area[at + 16 + 16], &area[at + 16 + 16 + 256]), Bytes(many.LunQosData, many.LunQosData + 256));
    EXPECT_EQ(Bytes(area.begin() + at + 16 + 272, area.begin() + at + length), Bytes(272, 0));
}

TEST_F(FabricQueries, QualityOfServiceFailuresAreReported) {
    zvfix::HostBuilder host;
    zvfix::AdapterSpec& a = host.AddChip25TwoPort();
    a.ports[0].qosEnable = 1;
    a.faults = {zvfix::FaultSpec::Fail("qos_get", 5)};
    auto devices = Discover(host);
    ASSERT_FALSE(devices.empty());
    LUN_QOS rec{};
    EXPECT_EQ(CoreGetTargetLunQoSData(devices[0], &rec), -1);
    EXPECT_EQ(CoreSetTargetLunQoSConfig(devices[0], &rec), -1);
    EXPECT_EQ(CoreIsLunQoSEnable(devices[1]), -52);   // the second port has QoS off
}

}  // namespace

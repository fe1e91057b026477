// A small in-memory transport for the library's unit tests: adapters with a
// flash byte array and a layout, scripted answers per operation, and a log of
// the requests the library made.
#pragma once

#include <algorithm>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "mgmt/sd_library.h"
#include "mgmt/transport.h"

namespace zvtest {

struct FakeAdapter {
    SD_UINT16 DeviceId = 0x2261;
    std::string Serial = "SN0001";
    std::vector<SD_UINT8> Flash = std::vector<SD_UINT8>(0x10000, 0xFF);
    std::vector<zvapi_flash_region> Layout;
    std::vector<SD_UINT8> Nvram;          // served as the NVRAM image (cut to the request)
    std::vector<SD_UINT8> Vpd;
    SD_UINT64 FwAttributes = 0x1234;
    SD_ACTIVE_REGIONS Active{1, 1, 1, 1, 1, {}};
};

struct FakePort {
    SD_UINT32 Adapter = 0;
    SD_UINT32 PciFunction = 0;
    SD_UINT32 IsPhysicalFc = 1;
};

struct FakeCall {
    zvapi_op Op;
    std::vector<SD_UINT8> In;
    size_t OutSize;
};

struct FakeState {
    std::vector<FakeAdapter> Adapters;
    std::vector<FakePort> Ports;
    std::map<zvapi_op, std::deque<SD_UINT32>> Script;   // next answers of an operation
    std::vector<FakeCall> Calls;
    std::vector<std::vector<SD_UINT8>> PortDb, SecurePorts, Features;   // raw entries
    std::string LibraryVersion;
    bool LieAboutLength = false;      // answers claim more bytes than the span holds
    std::vector<zvapi_flash_region> RawLayoutAnswer;   // when set, served as is
    size_t RawLayoutBytes = 0;
    SD_INT64 Clock = std::time(nullptr);   // the platform's clock (seconds): stands still unless a test moves it

    int Count(zvapi_op op) const {
        return static_cast<int>(std::count_if(Calls.begin(), Calls.end(), [&](const FakeCall& c) { return c.Op == op; }));
    }

    // An adapter with the usual regions and `ports` FC ports.
    FakeAdapter& AddAdapter(SD_UINT16 deviceId, const std::string& serial, int ports = 1) {
        FakeAdapter a;
        a.DeviceId = deviceId;
        a.Serial = serial;
        a.Layout = {
            {0x01, 0x0000, 0x1000, ZVAPI_REGION_NEEDS_ACTIVATION}, {0x02, 0x1000, 0x1000, 0},
            {0x07, 0x2000, 0x800, 0},   {0x09, 0x2800, 0x800, 0},
            {0x13, 0x3000, 0x400, ZVAPI_REGION_NEEDS_ACTIVATION},  {0x14, 0x3400, 0x200, 0},
            {0x15, 0x3600, 0x200, 0},   {0x9E, 0x3800, 0x400, 0},
            {0x10D, 0x3C00, 0x200, 0},  {0xA4, 0x3E00, 0x200, 0},
            {0x74, 0x4000, 0x200, 0},   {0x0A, 0x4200, 0x200, 0},
            {0xFFFF, 0x4400, 0x100, 0},
            {0x300C7, 0x4500, 0x100, 0},   // a code word with flag bits above the region code
        };
        a.Nvram.assign(512, 0);
        a.Vpd.resize(1024);
        std::iota(a.Vpd.begin(), a.Vpd.end(), SD_UINT8{0});   // byte i holds i mod 256
        Adapters.push_back(a);
        for (int p = 0; p < ports; ++p) {
            Ports.push_back({static_cast<SD_UINT32>(Adapters.size() - 1), static_cast<SD_UINT32>(p), 1});
        }
        return Adapters.back();
    }

    std::vector<SD_UINT8> FlashBytes(SD_UINT32 adapter, SD_UINT32 offset, SD_UINT32 len) const {
        const auto& f = Adapters.at(adapter).Flash;
        return {f.begin() + offset, f.begin() + offset + len};
    }
};

class FakeTransport : public zvapi_transport {
public:
    explicit FakeTransport(std::shared_ptr<FakeState> s) : s_(std::move(s)) {}

    SD_UINT32 PortCount() override { return static_cast<SD_UINT32>(s_->Ports.size()); }

    std::string Describe(const std::string& key) override {
        return key == "library_version" ? s_->LibraryVersion : std::string();
    }
    SD_INT64 Now() override { return s_->Clock; }

    SD_UINT32 Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                      size_t* outLen) override {
        *outLen = 0;
        s_->Calls.push_back({op, {in.begin(), in.end()}, out.size()});
        auto& q = s_->Script[op];
        if (!q.empty()) {
            SD_UINT32 st = q.front();
            q.pop_front();
            if (st != 0) return st;
        }
        if (instance >= s_->Ports.size()) return SDERR_DEVICE_NOT_FOUND;
        const FakePort& port = s_->Ports[instance];
        FakeAdapter& a = s_->Adapters[port.Adapter];
        SD_UINT32 st = Serve(port, a, op, in, out, outLen);
        if (s_->LieAboutLength && *outLen > 0) *outLen = out.size() + 64;
        return st;
    }

private:
    template <class T>
    static SD_UINT32 Put(const T& v, std::span<SD_UINT8> out, size_t* outLen) {
        if (out.size() < sizeof v) return SDERR_BUFFER_TOO_SMALL;
        std::memcpy(out.data(), &v, sizeof v);
        *outLen = sizeof v;
        return 0;
    }
    // All the bytes, or "buffer too small" with the length needed.
    static SD_UINT32 PutAll(std::span<const SD_UINT8> bytes, std::span<SD_UINT8> out, size_t* outLen) {
        *outLen = bytes.size();
        if (bytes.size() > out.size()) return SDERR_BUFFER_TOO_SMALL;
        std::copy(bytes.begin(), bytes.end(), out.begin());
        return 0;
    }
    static SD_UINT32 PutList(const std::vector<std::vector<SD_UINT8>>& list, std::span<SD_UINT8> out, size_t* outLen) {
        std::vector<SD_UINT8> all;
        for (const auto& e : list) all.insert(all.end(), e.begin(), e.end());
        return PutAll(all, out, outLen);
    }
    static SD_UINT32 PutBytes(const std::vector<SD_UINT8>& v, std::span<SD_UINT8> out, size_t* outLen) {
        size_t n = std::min(v.size(), out.size());
        std::memcpy(out.data(), v.data(), n);
        *outLen = n;
        return 0;
    }

    SD_UINT32 Serve(const FakePort& port, FakeAdapter& a, zvapi_op op, std::span<const SD_UINT8> in,
                    std::span<SD_UINT8> out, size_t* outLen) {
        switch (op) {
        case ZVOP_OPEN: {
            zvapi_port_ident id{port.Adapter, port.PciFunction, port.IsPhysicalFc, 0};
            return Put(id, out, outLen);
        }
        case ZVOP_CLOSE:
        case ZVOP_REFRESH_VERSIONS:
        case ZVOP_REGION_ACTIVATE:
        case ZVOP_ONLINE_ACTIVATE:
        case ZVOP_NVRAM_RELOAD:
        case ZVOP_AEN_ENABLE:
        case ZVOP_FLASH_UPDATE_START:
        case ZVOP_FLASH_UPDATE_END:
        case ZVOP_FW_ATTRIBUTES_SEND:
        case ZVOP_AEN_GET:
        case ZVOP_LINK_SPEED:
            return 0;
        case ZVOP_CHIP_PROPERTY: {
            CHIPPROPERTY c{};
            c.VendorID = 0x1077;
            c.DeviceID = a.DeviceId;
            c.PciSlotNumber = static_cast<SD_UINT16>(port.PciFunction);
            return Put(c, out, outLen);
        }
        case ZVOP_NODE_PROPERTY: {
            DEVICENODEPROPERTY n{};
            std::strncpy(n.SerialNumber, a.Serial.c_str(), sizeof n.SerialNumber - 1);
            n.InterfaceType = port.IsPhysicalFc ? SD_INTERFACE_FC : SD_INTERFACE_VPORT;
            return Put(n, out, outLen);
        }
        case ZVOP_FLASH_LAYOUT: {
            const auto& layout = s_->RawLayoutAnswer.empty() ? a.Layout : s_->RawLayoutAnswer;
            const auto* bytes = reinterpret_cast<const SD_UINT8*>(layout.data());
            const SD_UINT32 st = PutAll({bytes, layout.size() * sizeof layout[0]}, out, outLen);
            if (st == 0 && s_->RawLayoutBytes) *outLen = std::min(s_->RawLayoutBytes, out.size());
            return st;
        }
        case ZVOP_FLASH_READ: {
            zvapi_flash_io io{};
            std::memcpy(&io, in.data(), sizeof io);
            if (static_cast<size_t>(io.Offset) + io.Length > a.Flash.size() || io.Length > out.size())
                return SDERR_INVALID_PARAMETER;
            if (io.Length != 0) std::memcpy(out.data(), a.Flash.data() + io.Offset, io.Length);   // an empty region
            *outLen = io.Length;
            return 0;
        }
        case ZVOP_FLASH_WRITE: {
            zvapi_flash_io io{};
            std::memcpy(&io, in.data(), sizeof io);
            if (in.size() != sizeof io + io.Length || static_cast<size_t>(io.Offset) + io.Length > a.Flash.size())
                return SDERR_INVALID_PARAMETER;
            std::memcpy(a.Flash.data() + io.Offset, in.data() + sizeof io, io.Length);
            return 0;
        }
        case ZVOP_ACTIVE_REGIONS:
            return Put(a.Active, out, outLen);
        case ZVOP_FW_ATTRIBUTES:
            return Put(a.FwAttributes, out, outLen);
        case ZVOP_NVRAM_READ:
            return PutBytes(a.Nvram, out, outLen);
        case ZVOP_NVRAM_WRITE:
            a.Nvram.assign(in.begin(), in.end());
            return 0;
        case ZVOP_VPD_READ:
            return PutBytes(a.Vpd, out, outLen);
        case ZVOP_PORT_DATABASE:
            return PutList(s_->PortDb, out, outLen);
        case ZVOP_SECURE_PORTS:
            return PutList(s_->SecurePorts, out, outLen);
        case ZVOP_FEATURES:
            return PutList(s_->Features, out, outLen);
        default:
            return SDERR_NOT_SUPPORTED;
        }
    }

    std::shared_ptr<FakeState> s_;
};

// Makes the next library load use a fake transport over `state`.
inline void InstallFake(const std::shared_ptr<FakeState>& state) {
    zvapi_set_transport_factory([state] { return std::make_unique<FakeTransport>(state); });
}

}  // namespace zvtest

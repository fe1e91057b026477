// The platform's transport with a log of the flash reads and writes the
// library asks of it, in order (busy answers and refusals included), for
// tests that count the tries of a read or what a run reads between writes.
//
//   auto log = zvtest::LogFlashOps();   // before the library loads
//   ... run ...
//   log->Reads(0x124)
//   zvtest::StopLoggingFlashOps();
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "mgmt/sd_library.h"
#include "mgmt/transport.h"

namespace zvtest {

struct FlashOp {
    bool write;
    SD_UINT32 region;
};

struct FlashOpLog {
    std::vector<FlashOp> ops;
    size_t Reads(SD_UINT32 region, size_t from = 0, size_t to = SIZE_MAX) const {
        size_t n = 0;
        for (size_t i = from; i < ops.size() && i < to; ++i) n += !ops[i].write && ops[i].region == region;
        return n;
    }
    // Index of the first write (ops.size() when none).
    size_t FirstWrite() const {
        for (size_t i = 0; i < ops.size(); ++i)
            if (ops[i].write) return i;
        return ops.size();
    }
};

class FlashLoggingTransport : public zvapi_transport {
public:
    FlashLoggingTransport(std::unique_ptr<zvapi_transport> inner, std::shared_ptr<FlashOpLog> log)
        : inner_(std::move(inner)), log_(std::move(log)) {}
    SD_UINT32 PortCount() override { return inner_->PortCount(); }
    SD_UINT32 Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                      size_t* outLen) override {
        Note(op, in);
        return inner_->Request(instance, op, in, out, outLen);
    }
    SD_UINT32 RequestParts(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> head,
                           std::span<const SD_UINT8> body, std::span<SD_UINT8> out, size_t* outLen) override {
        Note(op, head);
        return inner_->RequestParts(instance, op, head, body, out, outLen);
    }
    std::string Describe(const std::string& key) override { return inner_->Describe(key); }
    SD_INT64 Now() override { return inner_->Now(); }

private:
    void Note(zvapi_op op, std::span<const SD_UINT8> in) {
        if ((op != ZVOP_FLASH_READ && op != ZVOP_FLASH_WRITE) || in.size() < sizeof(zvapi_flash_io)) return;
        zvapi_flash_io io{};
        std::memcpy(&io, in.data(), sizeof io);
        log_->ops.push_back({op == ZVOP_FLASH_WRITE, io.Region});
    }
    std::unique_ptr<zvapi_transport> inner_;
    std::shared_ptr<FlashOpLog> log_;
};

// From the next load of the library on, its transport logs into the result.
inline std::shared_ptr<FlashOpLog> LogFlashOps() {
    auto log = std::make_shared<FlashOpLog>();
    zvapi_set_transport_factory(
        [log] { return std::make_unique<FlashLoggingTransport>(zvapi_create_platform_transport(), log); });
    return log;
}
inline void StopLoggingFlashOps() { zvapi_set_transport_factory({}); }

}  // namespace zvtest

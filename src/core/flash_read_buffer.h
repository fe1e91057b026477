// Storage for one flash read that is to fill it whole.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <span>

#include "mgmt/sd_types.h"

// Not cleared first: the read writes every byte, and a fill of zeros before
// it is pure cost (a region is up to a megabyte). Its bytes are therefore
// handed out only once the reader has said the read filled all of them; until
// then Bytes() is empty, so no byte the read left alone is taken for flash.
class FlashReadBuffer {
public:
    // Room for `size` bytes, none of them set yet; false (and nothing held)
    // when the memory cannot be had.
    bool Allocate(std::size_t size) noexcept {
        Release();
        try {
            data_ = std::make_unique_for_overwrite<SD_UINT8[]>(size);
        } catch (const std::bad_alloc&) {
            return false;
        }
        size_ = size;
        return true;
    }
    void Release() noexcept {
        data_.reset();
        size_ = 0;
        filled_ = false;
    }
    // Where the read goes.
    std::span<SD_UINT8> Target() const noexcept { return {data_.get(), size_}; }
    // The read filled Target() whole.
    void MarkFilled() noexcept { filled_ = true; }
    std::span<const SD_UINT8> Bytes() const noexcept { return filled_ ? Target() : std::span<SD_UINT8>(); }

private:
    std::unique_ptr<SD_UINT8[]> data_;
    std::size_t size_ = 0;
    bool filled_ = false;
};

// Reads `region` from its first byte into `buffer`, busy answers retried
// (core/busy_retry.h): 0 or the library's last answer. *pRead (when given) gets the count
// the library read.
SD_UINT32 FlashReadRetrying(int deviceHandle, SD_UINT32 region, std::span<SD_UINT8> buffer,
                            SD_UINT32* pRead = nullptr);

// Reads region `region` of the adapter behind `deviceHandle` into the whole of
// buffer.Target() (busy answers retried) and marks it filled: 0, the library's
// status, or SDERR_DATA_UNDERRUN when the library holds the region smaller
// than the buffer (the bytes past what it read were never read). *pRead (when
// given) gets the count the library read.
SD_UINT32 FlashReadWhole(int deviceHandle, SD_UINT32 region, FlashReadBuffer& buffer, SD_UINT32* pRead = nullptr);

// journal.log of a host dir: one line per flash write, activation and NVRAM
// reload the platform performs, numbered across every process that used the
// host.
#pragma once

#include <span>
#include <string>
#include <sys/types.h>
#include <utility>

#include "mgmt/sd_types.h"

struct zvsim_journal_line {
    const char* op = "write";          // write, nvram_write, activate, online_activate, nvram_reload
    int adapter = 0;
    SD_UINT32 region = 0, offset = 0;
    bool write = false;                // a write: size and hash of `bytes`
    std::span<const SD_UINT8> bytes;   // what was stored
    SD_UINT32 disableReset = 0;
    const char* fault = "none";
};

class zvsim_journal {
public:
    explicit zvsim_journal(std::string hostDir) : path_(std::move(hostDir) + "/journal.log") {}
    ~zvsim_journal();
    zvsim_journal(const zvsim_journal&) = delete;
    zvsim_journal& operator=(const zvsim_journal&) = delete;
    // Appends one line under an exclusive lock (the file kept open), so that
    // two processes never give the same sequence number. Failures to journal are not the
    // caller's failures and are dropped.
    void Append(const zvsim_journal_line& line);

private:
    std::string path_;
    int fd_ = -1;                      // kept open for the instance's life
    off_t knownSize_ = 0;              // bytes of the file already counted
    SD_UINT64 knownLines_ = 0;
};

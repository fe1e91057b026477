// state.json as one transport keeps it: read once, then each change written
// at once into the slot of what changed (one adapter's entry, or the clock),
// in place, so that a change costs the same at any number of adapters. The
// whole file is written again (temporary file, rename) only when it is not
// laid out as this instance last left it: never written yet, damaged, or
// replaced by another process.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "mgmt/sim/sim_boot.h"

class zvsim_state_file {
public:
    zvsim_state_file() = default;
    ~zvsim_state_file();
    zvsim_state_file(const zvsim_state_file&) = delete;
    zvsim_state_file& operator=(const zvsim_state_file&) = delete;

    // Reads the host's state.json. Adapters without a fitting entry boot, and
    // the file is then written whole; otherwise reading never writes.
    zvsim_state Load(const zvsim_host& host);
    // Saves adapter `index`'s entry, or the clock offset, when it differs from
    // what this instance last read or wrote (or the file is no longer that).
    void SaveAdapter(const zvsim_host& host, const zvsim_state& state, size_t index);
    void SaveClock(const zvsim_host& host, const zvsim_state& state);

private:
    struct Identity {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = -1;
        bool operator==(const Identity&) const = default;
    };
    void Save(const zvsim_host& host, const zvsim_state& state, size_t slot, const std::string& text);
    // Whether state.json is still the file this instance last read or wrote.
    bool Unchanged() const;
    void Rewrite(const zvsim_host& host, const zvsim_state& state);
    // The slots of `text` (the state's text) as the last read or written;
    // `isFile` when the file holds exactly that text.
    void Remember(const zvsim_host& host, const zvsim_state& state, const std::string& text, bool isFile);

    std::string path_;
    int fd_ = -1;                      // the file last read or written, for writes in place
    Identity seen_;                    // and what it looked like then
    bool laidOut_ = false;             // its slots line up (writes in place allowed)
    std::vector<SD_UINT64> slotHash_;  // hash of each slot's text as last read or written
};

// The sleeps this test process asks for: while a SleepLog is started, the
// test preload appends each sleep's length in milliseconds to its file.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace zvtest {

class SleepLog {
public:
    SleepLog() = default;
    SleepLog(const SleepLog&) = delete;
    SleepLog& operator=(const SleepLog&) = delete;
    ~SleepLog() { Stop(); }

    // Starts counting afresh into `path`.
    void Start(const std::string& path) {
        path_ = path;
        Clear();
        setenv("ZV_TEST_SLEEP_LOG", path_.c_str(), 1);
    }
    void Stop() {
        if (path_.empty()) return;
        unsetenv("ZV_TEST_SLEEP_LOG");
        Clear();
        path_.clear();
    }
    // Forgets the sleeps so far (e.g. those of discovery).
    void Clear() const { std::remove(path_.c_str()); }
    std::vector<long> Lengths() const {
        std::vector<long> out;
        std::ifstream in(path_);
        for (long ms; in >> ms;) out.push_back(ms);
        return out;
    }

private:
    std::string path_;
};

}  // namespace zvtest

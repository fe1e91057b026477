// Whole-program test harness: runs a copy of the built tarvikolen from a
// temporary installation directory and collects everything a user would see.
//
//   zvtest::InstallDir inst;                       // /tmp/zvinst.XXXXXX with a copy of tarvikolen
//   inst.WriteFile("flash.cfg", "...");            // any file of the installation
//   zvtest::RunOptions o;
//   o.args = {"-i", "ALL"};
//   o.env = {{"ZV_SIM_HOST", hostDir}};
//   zvtest::RunResult r = zvtest::RunProgram(inst, o); // cwd defaults to the installation dir
//   EXPECT_EQ(r.status, 0); r.out / r.err / r.outputFile / r.debugLog / r.sleepsMs
//
// Each test process has a private /tmp and /var/log (see tests/support/isolate.sh.in),
// so the fixed paths of the program are safe to read and clear here.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/hang_limit.h"

namespace zvtest {

// A plain adapter table that marks nothing special; start-up only needs the file
// to exist. Tests that care about supported flags write their own rows.
inline constexpr const char* kDefaultAdapterTable = "# adapter table of the test installation\n";

// A temporary installation directory holding a copy (not a link) of tarvikolen.
// Removed with everything in it when the object goes away.
class InstallDir {
public:
    // withAdapterTable: also write "adapters.properties" (kDefaultAdapterTable),
    // without which every run ends with status 6.
    explicit InstallDir(bool withAdapterTable = true);
    ~InstallDir();
    InstallDir(const InstallDir&) = delete;
    InstallDir& operator=(const InstallDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string Binary() const { return path_ + "/tarvikolen"; }
    // Writes (creates or replaces) a file relative to the installation directory.
    void WriteFile(const std::string& name, const std::string& content) const;
    void RemoveFile(const std::string& name) const;

private:
    std::string path_;
};

struct RunOptions {
    std::vector<std::string> args;
    std::string cwd;                                            // empty: the installation directory
    std::vector<std::pair<std::string, std::string>> env;       // added to (or replacing in) the inherited env
    bool asNobody = false;                                      // run through setpriv as uid/gid 65534
    bool countSleeps = false;                                   // fill RunResult::sleepsMs
    bool keepLogs = false;                                      // do not clear /var/log files before the run
    std::string stdinPath;                                      // opened as stdin (e.g. a pty); empty: stdin closed
};

struct RunResult {
    int status = -1;            // exit status; 128+signal when killed by a signal
    std::string out;            // standard output
    std::string err;            // standard error
    std::string outputFilePath; // /var/log/mctp-upgrade-*.log written by the run ("" when none)
    std::string outputFile;     // its content (all such files, in name order, when several)
    std::string debugLog;       // /var/log/zenbrix.log ("" when absent)
    bool debugLogExists = false;
    std::vector<long> sleepsMs; // one entry per sleep, when countSleeps was set
};

// Runs the installation's copy with stdin closed (or stdinPath), stdout and stderr captured apart.
// Unless keepLogs is set, earlier output files and the debug log are removed first,
// so the result holds only what this run wrote.
RunResult RunProgram(const InstallDir& inst, const RunOptions& options);

// The same in two steps, for tests that act on the running program (signals).
struct Running {
    int pid = -1;
    int outFd = -1, errFd = -1;
    std::string outPath, errPath, sleepPath;
};
Running Start(const InstallDir& inst, const RunOptions& options);
RunResult Wait(Running& running);
// Whether the run has ended (it stays to be reaped by Wait).
bool Ended(const Running& running);
// Waits, in short real pauses, until `ready` holds, the run has ended or
// `seconds` have passed; gives `ready()` at the end. A run that ends before
// it gets there is seen at once, whatever the load of the machine.
bool WaitUntil(const Running& running, const std::function<bool()>& ready, int seconds = kHangSeconds);

// Small file helpers for tests.
std::string ReadFile(const std::string& path);
inline bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }
bool FileExists(const std::string& path);
std::vector<std::string> OutputFiles();   // /var/log/mctp-upgrade-*.log, sorted
void ClearLogs();                         // removes the output files and the debug log

// A fresh temporary directory (mkdtemp under /tmp, 0755), removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace zvtest

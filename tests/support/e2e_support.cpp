// Whole-program test harness (see e2e_support.h).
#include "support/e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace zvtest {
namespace fs = std::filesystem;

namespace {

std::string make_temp_dir(const char* prefix) {
    std::string path = std::string("/tmp/") + prefix + ".XXXXXX";
    if (mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + std::string(strerror(errno)));
    chmod(path.c_str(), 0755);
    return path;
}

int make_temp_file(std::string& path) {
    char templ[] = "/tmp/zvrun.XXXXXX";
    int fd = mkstemp(templ);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    path = templ;
    return fd;
}

std::string read_fd(int fd) {
    std::string out;
    lseek(fd, 0, SEEK_SET);
    char buf[8192];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
}

constexpr const char* kDebugLog = "/var/log/zenbrix.log";

}  // namespace

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> OutputFiles() {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/var/log", ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("mctp-upgrade-", 0) == 0 && name.size() > 4 && name.ends_with(".log"))
            found.push_back(e.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

void ClearLogs() {
    // Only inside the private /var/log of an isolated test process.
    if (std::getenv("ZV_ISOLATED") == nullptr) return;
    for (const auto& f : OutputFiles()) ::unlink(f.c_str());
    ::unlink(kDebugLog);
}

InstallDir::InstallDir(bool withAdapterTable) {
    path_ = make_temp_dir("zvinst");
    fs::copy_file(ZV_TARVIKOLEN_BINARY, Binary(), fs::copy_options::overwrite_existing);
    chmod(Binary().c_str(), 0755);
    if (withAdapterTable) WriteFile("adapters.properties", kDefaultAdapterTable);
}

InstallDir::~InstallDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void InstallDir::WriteFile(const std::string& name, const std::string& content) const {
    const std::string full = path_ + "/" + name;
    fs::create_directories(fs::path(full).parent_path());
    std::ofstream(full, std::ios::binary | std::ios::trunc) << content;
    chmod(full.c_str(), 0644);
}

void InstallDir::RemoveFile(const std::string& name) const { ::unlink((path_ + "/" + name).c_str()); }

TempDir::TempDir() : path_(make_temp_dir("zvtmp")) {}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

Running Start(const InstallDir& inst, const RunOptions& options) {
    if (!options.keepLogs) ClearLogs();

    Running r;
    r.outFd = make_temp_file(r.outPath);
    r.errFd = make_temp_file(r.errPath);
    if (options.countSleeps) {
        ::close(make_temp_file(r.sleepPath));
        chmod(r.sleepPath.c_str(), 0666);  // the run may be another user
    }

    // Environment: inherited (it carries the no-sleep preload), plus the options.
    std::vector<std::string> env;
    auto overridden = [&](const std::string& entry) {
        const std::string key = entry.substr(0, entry.find('='));
        if (key == "ZV_TEST_SLEEP_LOG") return true;
        for (const auto& [k, v] : options.env)
            if (k == key) return true;
        return false;
    };
    for (char** e = environ; *e != nullptr; ++e)
        if (!overridden(*e)) env.emplace_back(*e);
    for (const auto& [k, v] : options.env) env.push_back(k + "=" + v);
    if (options.countSleeps) env.push_back("ZV_TEST_SLEEP_LOG=" + r.sleepPath);

    std::vector<std::string> argv;
    if (options.asNobody) argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    argv.push_back(inst.Binary());
    argv.insert(argv.end(), options.args.begin(), options.args.end());

    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    const std::string cwd = options.cwd.empty() ? inst.Path() : options.cwd;

    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0) _exit(126);
        ::dup2(r.outFd, 1);
        ::dup2(r.errFd, 2);
        ::close(0);
        // O_NOCTTY: a terminal given as stdin does not become the run's controlling one.
        if (!options.stdinPath.empty() && ::open(options.stdinPath.c_str(), O_RDWR | O_NOCTTY) != 0) _exit(125);
        ::close(r.outFd);
        ::close(r.errFd);
        if (options.asNobody) ::execvpe("setpriv", cargv.data(), cenv.data());
        else ::execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    r.pid = pid;
    return r;
}

RunResult Wait(Running& running) {
    int wstatus = 0;
    while (waitpid(running.pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    RunResult r;
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus)) r.status = 128 + WTERMSIG(wstatus);
    r.out = read_fd(running.outFd);
    r.err = read_fd(running.errFd);
    ::close(running.outFd);
    ::close(running.errFd);
    ::unlink(running.outPath.c_str());
    ::unlink(running.errPath.c_str());

    for (const auto& f : OutputFiles()) {
        r.outputFilePath = f;
        r.outputFile += ReadFile(f);
    }
    r.debugLogExists = FileExists(kDebugLog);
    if (r.debugLogExists) r.debugLog = ReadFile(kDebugLog);

    if (!running.sleepPath.empty()) {
        std::istringstream in(ReadFile(running.sleepPath));
        long ms;
        while (in >> ms) r.sleepsMs.push_back(ms);
        ::unlink(running.sleepPath.c_str());
    }
    running.pid = -1;
    return r;
}

bool Ended(const Running& running) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(running.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid != 0;
}

bool WaitUntil(const Running& running, const std::function<bool()>& ready, int seconds) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!ready() && !Ended(running) && std::chrono::steady_clock::now() < limit) {
        ::poll(nullptr, 0, 2);   // a real wait: the test's sleeps are instant
    }
    return ready();
}

RunResult RunProgram(const InstallDir& inst, const RunOptions& options) {
    Running running = Start(inst, options);
    return Wait(running);
}

}  // namespace zvtest

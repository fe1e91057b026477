// Host type from the distribution's release files: whatever they hold, the
// type is one line of at most 127 characters that starts with "Linux - "
// (a release file was read) or the system name, and ends with the hardware
// name unless cut.
//
// Input: one byte saying which files exist (bit 0 "SuSE-release", 1
// "redhat-release", 2 "os-release"), then the three files' contents,
// separated.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/oss_services.h"
#include "fuzz_support.h"

namespace {
const char* const kFiles[] = {"/etc/SuSE-release", "/etc/redhat-release", "/etc/os-release"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::string root = zvfuzz::ScratchDir() + "/root";
    static const bool made = mkdir(root.c_str(), 0700) == 0 && mkdir((root + "/etc").c_str(), 0755) == 0;
    ZVFUZZ_CHECK(made);
    const std::vector<zvfuzz::Bytes> pieces = zvfuzz::Split(data + 1, size - 1, 3);
    for (size_t i = 0; i < 3; ++i) {
        const std::string path = root + kFiles[i];
        if (data[0] & (1u << i)) zvfuzz::WriteFile(path, pieces[i]);
        else unlink(path.c_str());
    }

    const std::string type = OSSBuildHostType(root.c_str(), "Linux", "x86_64");
    ZVFUZZ_CHECK(type.size() <= 127);
    ZVFUZZ_CHECK(type.find_first_of("\r\n") == std::string::npos);
    ZVFUZZ_CHECK(type.rfind("Linux - ", 0) == 0 || type == "Linux x86_64");
    ZVFUZZ_CHECK(type.size() == 127 || type.ends_with(" x86_64"));
    return 0;
}

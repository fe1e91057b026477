// Option-ROM disable answer and the Windows FCoE driver version test.
#include "dispatch/option_rom_commands.h"

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "frontend/adapter_entry_list.h"
#include "frontend/str_util.h"

int disableOptionROMCmdOnHBA(const SDMDevice* pDevice) {
    if (pDevice == nullptr || isAdapterSupported(pDevice, nullptr) == 0) return 19;
    return CheckAdapterFlashUpdateStatus(pDevice, 1);
}

int isWindowsFCoEDriverWithResetDisableSupport(const char* version, int flag) {
    if (version == nullptr) return 0;
    if (striscmp(version, "9.1.9.39") == 0 || striscmp(version, "9.1.9.46") == 0) return 1;
    std::vector<long> numbers;
    try {
        const std::string text(version);
        size_t at = 0;
        while (at < text.size()) {
            const size_t start = text.find_first_not_of(".,  ", at);
            if (start == std::string::npos) break;
            const size_t end = text.find_first_of(".,  ", start);
            numbers.push_back(std::strtol(text.substr(start, end - start).c_str(), nullptr, 10));
            at = end == std::string::npos ? text.size() : end;
        }
    } catch (const std::bad_alloc&) {
        return 115;
    }
    const long base[4] = {9, 1, 9, flag != 0 ? 38 : 45};
    for (size_t i = 0; i < 4; ++i) {
        const long n = i < numbers.size() ? numbers[i] : 0;
        if (n != base[i]) return n > base[i] ? 1 : 0;
    }
    // Equal in the four fields that count: above only with more fields.
    for (size_t i = 4; i < numbers.size(); ++i)
        if (numbers[i] > 0) return 1;
    return 0;
}

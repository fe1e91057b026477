// The link-security configuration file: whatever it holds, reading it gives a
// list, writing that list gives a file that reads back into as many entries,
// and the look-ups stay within the list.
#include <cstdint>
#include <span>
#include <string>

#include "core/edif_config.h"
#include "core/edif_config_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = zvfuzz::ScratchDir() + "/auth-els.conf";
    const std::string out = zvfuzz::ScratchDir() + "/auth-els.out";
    zvfuzz::WriteFile(in, std::span(data, size));

    EDIFCONF* list = nullptr;
    ZVFUZZ_CHECK(CoreEDifConfigCreateListFromFile(&list, in.c_str()) == 1);
    const int entries = configGetConfigListSize(list);
    int position = -1;
    for (int16_t group = 0; group <= 9; ++group) {
        configGetDisabledRemotesGroupIndex(list, "remote_", "wwpn", group, &position);
        configGetRekeyGroupIndex(list, "rekey_", nullptr, group, &position);
        configValidateGroupName(list, "remote_1", group);
    }
    configSearchGroupEntry(list, "rekey_1", "rekey_time", 5, &position);
    CoreEDifConfigDisplay(list);
    if (list != nullptr) {
        ZVFUZZ_CHECK(CoreEDifConfigWriteToFile(list, out.c_str()) == 1);
        EDIFCONF* again = nullptr;
        ZVFUZZ_CHECK(CoreEDifConfigCreateListFromFile(&again, out.c_str()) == 1);
        ZVFUZZ_CHECK(configGetConfigListSize(again) == entries);
        CoreEDifConfigDestroyList(&again);
        // Taking the head out leaves a list that starts at the next entry.
        EDIFCONF* next = list->next;
        EDIFCONF* head = configDelete(&list, nullptr, 0, list->idx);
        ZVFUZZ_CHECK(head != nullptr && list == next);
        configFreeEntry(head);
    }
    CoreEDifConfigDestroyList(&list);
    return 0;
}

// The command line: switches act in the first pass, command words select the
// operation in the second, and ProcessArg runs it after initialisation.
#include "cli/cmdline.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_texts.h"
#include "core/core_log.h"
#include "core/core_quiet.h"
#include "core/input_file.h"
#include "frontend/cli_settings.h"
#include "frontend/file_util.h"
#include "frontend/hba_device_list.h"
#include "frontend/install_dir.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "frontend/wwn_util.h"

namespace {

std::vector<std::string> argumentList;  // the command words between the two passes

int family(uint8_t code) {
    SetAdapterFamilyType(code);
    return 0;
}

int invalid_for_all() {
    scfxPrint("Invalid command line options!");
    return -1;
}

const CliWord kCliWords[] = {
    // Switches, in the order the usage text lists them first.
    {{"-h", "-?", "/h", "/?"}, CliKind::Switch, [] { g_CmdOperation = VORN_OP_USAGE; return VORN_PARSE_USAGE; },
     VORN_OP_USAGE, CliArg::None, [] { ShowUsage(); return 0; }, nullptr, CliHelp::Option,
     {"     -h Display this usage prompt\n", nullptr}},
    {{"-v", "/v", nullptr, nullptr}, CliKind::Switch, [] { g_CmdOperation = VORN_OP_VERSION; return VORN_PARSE_VERSION; },
     VORN_OP_VERSION, CliArg::None, [] { ShowVersion(); return 0; }, nullptr, CliHelp::Option,
     {"     -v Display application version\n", nullptr}},
    {{"-g", "/g", nullptr, nullptr}, CliKind::Command, nullptr, VORN_OP_HOST_INFO, CliArg::None,
     [] { ShowHostInfo(); return DisplayAllHBAs(); }, nullptr, CliHelp::Option,
     {"     -g Display host information\n", nullptr}},
    {{"-s", "/s", nullptr, nullptr}, CliKind::Switch,
     [] { CoreSetQuietMode(1); SetEnableDebugLog(1); return 0; }, VORN_OP_NONE, CliArg::None, nullptr, nullptr,
     CliHelp::Option, {"     -s Suppress all outputs (Silent mode)\n", nullptr}},
    {{"-i", "/i", nullptr, nullptr}, CliKind::Command, nullptr, VORN_OP_FLASH_VERSIONS, CliArg::Adapter,
     DisplayAllAdaptersFlashComponentsVersion, [](SDMDevice* p) { return DisplayAdapterFlashComponentsVersion(p, 0, 0); },
     CliHelp::Option, {"     -i <hba> | <all> Display HBA flash component version\n", nullptr}},
    {{"-pci", "/pci", nullptr, nullptr}, CliKind::Command, nullptr, VORN_OP_PCI_VENDOR, CliArg::Adapter,
     [] { return DisplayAllAdapterPCIVendorInfo(0, 0); }, [](SDMDevice* p) { return DisplayAdapterPCIVendorInfo(p, 0, 0); },
     CliHelp::Option,
     {"     -pci <hba> | <all> Display HBA hardware vendor and device", "          code (SSVID/SSDID)\n"}},

    {{"-debug", "/debug", nullptr, nullptr}, CliKind::Switch,
     [] { CoreSetQuietMode(0); SetEnableDebugLog(0); return 0; }, VORN_OP_NONE, CliArg::None, nullptr, nullptr,
     CliHelp::None, {nullptr, nullptr}},
    {{"-trace", "/trace", nullptr, nullptr}, CliKind::Switch,
     [] { CoreSetQuietMode(0); SetEnableDebugLog(1); SetDebugLogFile("zenbrix.log"); return 0; }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{"--ports", "/ports", nullptr, nullptr}, CliKind::Switch, [] { g_PortUpdateOption = 1; return 0; }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{"--dafe", "/dafe", nullptr, nullptr}, CliKind::Switch, [] { return family(VORN_FAMILY_DAFE); }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{"--kefa", "/kefa", nullptr, nullptr}, CliKind::Switch, [] { return family(VORN_FAMILY_KEFA); }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{"--runa", "/runa", nullptr, nullptr}, CliKind::Switch, [] { return family(VORN_FAMILY_RUNA); }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{"--sivo", "/sivo", nullptr, nullptr}, CliKind::Switch, [] { return family(VORN_FAMILY_SIVO); }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{"--tamo", "/tamo", nullptr, nullptr}, CliKind::Switch, [] { return family(VORN_FAMILY_TAMO); }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{"--wexi", "/wexi", nullptr, nullptr}, CliKind::Switch, [] { return family(VORN_FAMILY_TAMO); }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{"--vobi", "/vobi", "--kamu", "/kamu"}, CliKind::Switch, [] { return family(VORN_FAMILY_KAMU); }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::HbaType, {"        --kamu Updates only vobi/kamu HBAs.", nullptr}},
    {{"--zuka", "/zuka", nullptr, nullptr}, CliKind::Switch, [] { return family(VORN_FAMILY_ZUKA); }, VORN_OP_NONE,
     CliArg::None, nullptr, nullptr, CliHelp::HbaType, {"        --zuka Updates only vuzo/zuka HBAs.", nullptr}},
    {{"--force", "/force", nullptr, nullptr}, CliKind::Switch,
     [] { g_ForceUpdate = 1; g_FlashUpdateMode = 1; return 0; }, VORN_OP_NONE, CliArg::None, nullptr, nullptr,
     CliHelp::None, {nullptr, nullptr}},

    // Command words the usage text does not name.
    {{"-l", "/l", nullptr, nullptr}, CliKind::Command, nullptr, VORN_OP_GENERAL_INFO, CliArg::Adapter,
     DisplayAllHBAInformation, PrintHBAGenInfos, CliHelp::None, {nullptr, nullptr}},
    {{"-mpi", "/mpi", nullptr, nullptr}, CliKind::Command, nullptr, VORN_OP_MPI_STATE, CliArg::Adapter, invalid_for_all,
     GetAdapterManagementPortInterfaceState, CliHelp::None, {nullptr, nullptr}},
    {{"-x", "/x", nullptr, nullptr}, CliKind::Command, nullptr, VORN_OP_EXTRACT, CliArg::Directory,
     [] { return ExtractDirectory(VORNGetInstallationDir(), DirectoryName); }, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{"-b", "/b", nullptr, nullptr}, CliKind::Command, nullptr, VORN_OP_FLASH_FROM_FILE, CliArg::AdapterAndFile,
     [] { return DoFlashUpdateAllAdaptersFromFile(FileName, 1, GetAdapterFamilyType(), GetAdapterPortUpdateOption()); },
     [](SDMDevice* p) {
         return DoFlashUpdateAdapterPortFromFile(p, FileName, 1, GetAdapterFamilyType(), GetAdapterPortUpdateOption(), 1, 1);
     },
     CliHelp::None, {nullptr, nullptr}},

    // Operations without a command word.
    {{nullptr, nullptr, nullptr, nullptr}, CliKind::NoWord, nullptr, VORN_OP_PEP_BC_VERSION, CliArg::None,
     DisplayAllHBAsPEPBCVersion, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{nullptr, nullptr, nullptr, nullptr}, CliKind::NoWord, nullptr, VORN_OP_FLASH_DESCRIPTOR, CliArg::None,
     ModifyAllHBAsFLashDescriptorTable, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{nullptr, nullptr, nullptr, nullptr}, CliKind::NoWord, nullptr, VORN_OP_MCTP_ENABLE, CliArg::None,
     [] { return UpdateAdapterMCTPSupport(1); }, nullptr, CliHelp::None, {nullptr, nullptr}},
    {{nullptr, nullptr, nullptr, nullptr}, CliKind::NoWord, nullptr, VORN_OP_MCTP_DISABLE, CliArg::None,
     [] { return UpdateAdapterMCTPSupport(0); }, nullptr, CliHelp::None, {nullptr, nullptr}},
};

bool matches(const CliWord& w, const char* text) {
    for (const char* form : w.forms)
        if (form != nullptr && striscmp(form, text) == 0) return true;
    return false;
}

const CliWord* find_word(CliKind kind, const char* text) {
    for (const auto& w : kCliWords)
        if (w.kind == kind && matches(w, text)) return &w;
    return nullptr;
}

// The number of command words an operation takes, its own word included.
size_t words_of(CliArg arg) {
    switch (arg) {
        case CliArg::None: return 1;
        case CliArg::Adapter:
        case CliArg::Directory: return 2;
        case CliArg::AdapterAndFile: return 3;
    }
    return 0;
}

int invalid(int level) {
    CoreLogMessage(level, "Invalid command line options!");
    return VORN_PARSE_INVALID;
}

// Copies a file or directory name; a name that would be cut is refused.
bool copy_name(char (&dst)[VORN_NAME_SIZE], const std::string& src) {
    std::memset(dst, 0, sizeof dst);
    if (src.size() >= sizeof dst) return false;
    std::memcpy(dst, src.data(), src.size());
    return true;
}

}  // namespace

std::span<const CliWord> CliWords() { return kCliWords; }

int ParseArg(int argc, char** argv) {
    InitializeParameters();
    int rc = FirstPassParseArg(argc, argv);
    if (rc == VORN_PARSE_OK) rc = SecondPassParseArg();
    CleanUpArgumentList();
    return rc;
}

int FirstPassParseArg(int argc, char** argv) {
    argumentList.clear();
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        char* arg = argv[i];
        if (arg == nullptr || *arg == '\0') continue;
        if (const CliWord* w = find_word(CliKind::Switch, arg)) {
            const int rc = w->onSwitch();
            arg[0] = '\0';  // acted on
            if (rc != 0) return rc;
            continue;
        }
        if (argumentList.size() >= static_cast<size_t>(VORN_MAX_COMMAND_WORDS)) return VORN_PARSE_INVALID;
        try {
            argumentList.emplace_back(arg);
        } catch (const std::bad_alloc&) {
            return VORN_PARSE_NO_MEMORY;
        }
    }
    return VORN_PARSE_OK;
}

int SecondPassParseArg() {
    if (g_CmdOperation == VORN_OP_USAGE) return VORN_PARSE_OK;
    const size_t count = argumentList.size();
    if (count == 0) {
        // The name alone decides: "package.cfg" is never opened or read, so
        // whatever has that name (a directory, a FIFO) selects the disable form.
        char path[VORN_PATH_SIZE];
        const bool disable = VORNJoinPath(path, sizeof path, VORNGetInstallationDir(), "package.cfg") == 0 &&
                             CoreNameExists(path);
        g_CmdOperation = disable ? VORN_OP_MCTP_DISABLE : VORN_OP_MCTP_ENABLE;
        return VORN_PARSE_OK;
    }
    if (count > 3) return invalid(ZV_MSG_DEBUG);

    const CliWord* w = find_word(CliKind::Command, argumentList[0].c_str());
    if (w == nullptr || words_of(w->arg) != count) {
        // Two words whose first is no command pass here; the dispatcher refuses them.
        if (count == 2) {
            g_CmdOperation = VORN_OP_NONE;
            return VORN_PARSE_OK;
        }
        return invalid(ZV_MSG_NONE);
    }
    switch (w->arg) {
        case CliArg::None: break;
        case CliArg::Adapter:
            if (ParseUserInputForAdapter(argumentList[1].c_str()) != 0) return invalid(ZV_MSG_NONE);
            break;
        case CliArg::Directory:
            if (!copy_name(DirectoryName, argumentList[1])) return invalid(ZV_MSG_NONE);
            break;
        case CliArg::AdapterAndFile:
            if (ParseUserInputForAdapter(argumentList[1].c_str()) != 0) return VORN_PARSE_BAD_ADAPTER;
            if (!copy_name(FileName, argumentList[2])) return invalid(ZV_MSG_NONE);
            break;
    }
    g_CmdOperation = w->operation;
    return VORN_PARSE_OK;
}

void CleanUpArgumentList() {
    argumentList.clear();
    argumentList.shrink_to_fit();
}

int ProcessArg() {
    for (const auto& w : kCliWords) {
        if (w.operation == VORN_OP_NONE || w.operation != g_CmdOperation || w.runAll == nullptr) continue;
        const bool oneAdapter = (w.arg == CliArg::Adapter || w.arg == CliArg::AdapterAndFile) &&
                                g_AdapterInputType != VORN_INPUT_ALL;
        if (!oneAdapter) return w.runAll();
        SDMDevice* port = g_AdapterInputType == VORN_INPUT_NUMBER ? FindDeviceInDeviceListByDeviceNumber(hbaNumber)
                                                                  : FindDeviceInDeviceListByDeviceWWPN(hbaWWPN);
        if (port == nullptr) return 0;  // no such port: nothing to show
        return w.runOne(port);
    }
    return invalid_for_all();
}

int ParseUserInputForAdapter(const char* text) {
    if (text == nullptr) return VORN_PARSE_BAD_ADAPTER;
    if (striscmp(text, "ALL") == 0) {
        g_AdapterInputType = VORN_INPUT_ALL;
        return 0;
    }
    const size_t len = std::strlen(text);
    if (len == 23 || len == 16) return CheckAdapterWWN(text);
    return CheckAdapterNumber(text);
}

int CheckAdapterNumber(const char* text) {
    const int value = CheckNumber(text);
    if (value < 0 || value > 128) return VORN_PARSE_BAD_ADAPTER;
    hbaNumber = static_cast<uint32_t>(value);
    g_AdapterInputType = VORN_INPUT_NUMBER;
    return 0;
}

int CheckAdapterWWN(const char* text) {
    uint8_t wwn[8] = {};
    if (WWNatoi(text, wwn) != 0) return VORN_PARSE_BAD_ADAPTER;
    std::memcpy(hbaWWPN, wwn, sizeof wwn);
    VORNLogMessage(VORN_MSG_DEBUG, "WWN=%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", wwn[0], wwn[1], wwn[2], wwn[3], wwn[4],
                   wwn[5], wwn[6], wwn[7]);
    g_AdapterInputType = VORN_INPUT_WWPN;
    return 0;
}

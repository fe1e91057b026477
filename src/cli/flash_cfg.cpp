// Reading flash.cfg, the adapter's own version record and the update policy.
#include "cli/flash_cfg.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "boardcfg/cna_versions.h"
#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/input_file.h"
#include "core/sdm_device.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "mgmt/sdapi.h"

FlashCtrVersion* g_VersionCtrEntryList = nullptr;

namespace {

// Last record of the list, so that appending does not walk it (a long file
// would take quadratic time). Trusted only while it still ends the list.
FlashCtrVersion* g_VersionCtrEntryTail = nullptr;

constexpr const char* kSeparators = "\n\t,";

void copy_text(char* dst, std::size_t size, const std::string& src) {
    const std::size_t n = src.size() < size - 1 ? src.size() : size - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// Fields split at any run of separators; no empty field can exist.
std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t at = line.find_first_not_of(kSeparators);
    while (at != std::string::npos) {
        const std::size_t end = line.find_first_of(kSeparators, at);
        fields.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? end : line.find_first_not_of(kSeparators, end);
    }
    return fields;
}

bool is_skipped(const std::string& line) {
    for (const char c : line) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        return c == ';' || c == '#';
    }
    return true;   // nothing but white space
}

std::string trim_blanks(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Decimal value of one version part as the C library's atoi reads it (leading
// blanks, a sign, digits up to the first non-digit); -1 when it does not fit a byte.
int part_value(const std::string& part) {
    std::size_t i = 0;
    while (i < part.size() && std::isspace(static_cast<unsigned char>(part[i]))) ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == '+' || part[i] == '-')) negative = part[i++] == '-';
    long value = 0;
    for (; i < part.size() && std::isdigit(static_cast<unsigned char>(part[i])); ++i) {
        value = value * 10 + (part[i] - '0');
        if (value > 255) return -1;
    }
    if (negative && value != 0) return -1;
    return static_cast<int>(value);
}

void fill_record(FlashCtrVersion* record, const std::vector<std::string>& fields) {
    std::span<SD_UINT8> versions[] = {{}, {}, {}, record->FBCVer, record->PepBCVer, record->FWAVer,
                                      record->MpiFW, record->PepFW, record->Risc, {}, record->Multiboot};
    for (std::size_t i = 0; i < fields.size() && i < 11; ++i) {
        switch (i) {
            case 0: copy_text(record->SubSysDeviceID, sizeof record->SubSysDeviceID, fields[i]); break;
            case 1: copy_text(record->SubSysVendorID, sizeof record->SubSysVendorID, fields[i]); break;
            case 2: copy_text(record->Model, sizeof record->Model, fields[i]); break;
            case 9: {
                // A name longer than the kept length is never cut (the cut name
                // could open another file): it is kept as far as the field holds,
                // and the update refuses the record (FlashCtrFileNameTooLong).
                const std::string name = trim_blanks(fields[i]);
                if (name.size() > FLASHCTR_FILE_MAX)
                    CoreLogMessage(ZV_MSG_ERROR, "Image file name of %zu characters in flash.cfg (at most %zu)!",
                                   name.size(), FLASHCTR_FILE_MAX);
                copy_text(record->FileName, sizeof record->FileName, name);
                break;
            }
            default: FillVersion(fields[i].c_str(), versions[i]); break;
        }
    }
}

// One whole line (however long) without its newline; false at the end.
bool read_line(std::FILE* f, std::string& line) {
    line.clear();
    char chunk[4096];
    bool any = false;
    while (std::fgets(chunk, sizeof chunk, f) != nullptr) {
        any = true;
        line += chunk;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            return true;
        }
    }
    return any;
}

std::string version_text(const SD_UINT8* v, int parts) {
    char text[32];
    if (parts == 2) std::snprintf(text, sizeof text, "%d.%02d", v[0], v[1]);
    else std::snprintf(text, sizeof text, "%d.%02d.%02d", v[0], v[1], v[2]);
    return text;
}

std::string id_text(SD_UINT16 id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", id);
    return text;
}

std::string policy_text(const SD_UINT8* v) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d%02d%02d", v[0], v[1], v[2]);
    return text;
}

}  // namespace

int FillVersion(const char* text, std::span<SD_UINT8> bytes) {
    if (text == nullptr) return -1;
    std::string version(text);
    if (version.size() > FLASHCTR_VERSION_TEXT_MAX) version.resize(FLASHCTR_VERSION_TEXT_MAX);
    std::vector<SD_UINT8> parsed(bytes.size(), 0);
    std::size_t at = 0;
    for (std::size_t part = 0; part < bytes.size() && part < 3; ++part) {
        const std::size_t dot = version.find('.', at);
        const int value = part_value(version.substr(at, dot == std::string::npos ? std::string::npos : dot - at));
        if (value < 0) {
            // A stored byte would silently differ from what the file says.
            CoreLogMessage(ZV_MSG_ERROR, "FillVersion: Version \"%s\" has a part outside 0 to 255; field ignored!",
                           version.c_str());
            for (SD_UINT8& b : bytes) b = 0;
            return -1;
        }
        parsed[part] = static_cast<SD_UINT8>(value);
        if (dot == std::string::npos) break;
        at = dot + 1;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = parsed[i];
    return 0;
}

FlashCtrVersion* CreateNewEntry() {
    return static_cast<FlashCtrVersion*>(CoreZMalloc(sizeof(FlashCtrVersion)));
}

FlashCtrVersion* InsertNewEntry(FlashCtrVersion* record) {
    if (record == nullptr) return g_VersionCtrEntryList;
    record->next = nullptr;
    if (g_VersionCtrEntryList == nullptr) {
        g_VersionCtrEntryList = record;
    } else {
        // The tail is used only while it still ends the list it was kept for.
        FlashCtrVersion* last = g_VersionCtrEntryTail != nullptr && g_VersionCtrEntryTail->next == nullptr
                                    ? g_VersionCtrEntryTail
                                    : g_VersionCtrEntryList;
        while (last->next != nullptr) last = last->next;
        last->next = record;
    }
    g_VersionCtrEntryTail = record;
    return g_VersionCtrEntryList;
}

bool FlashCtrFileNameTooLong(const FlashCtrVersion* record) {
    return record != nullptr && strnlen(record->FileName, sizeof record->FileName) > FLASHCTR_FILE_MAX;
}

void DeleteFlashCtrVersionList() {
    FlashCtrVersion* record = g_VersionCtrEntryList;
    while (record != nullptr) {
        FlashCtrVersion* next = record->next;
        CoreFree(record);
        record = next;
    }
    g_VersionCtrEntryList = nullptr;
    g_VersionCtrEntryTail = nullptr;
    CoreLogMessage(ZV_MSG_DEBUG, "DeleteFlashCtrVersionList: OK.");
}

void PrintFlashCtrVersionList(const FlashCtrVersion* first) {
    CoreLogMessage(ZV_MSG_DEBUG, "PrintFlashCtrVersionList: Enter...");
    int number = 1;
    for (const FlashCtrVersion* r = first; r != nullptr; r = r->next, ++number) {
        CoreLogMessage(ZV_MSG_DEBUG, "%2d: %s %s %s %s %s %s %s %s %s %s %s", number, r->SubSysDeviceID,
                       r->SubSysVendorID, r->Model, version_text(r->FBCVer, 3).c_str(),
                       version_text(r->PepBCVer, 3).c_str(), version_text(r->FWAVer, 3).c_str(),
                       version_text(r->MpiFW, 3).c_str(), version_text(r->PepFW, 3).c_str(),
                       version_text(r->Risc, 3).c_str(), version_text(r->Multiboot, 3).c_str(), r->FileName);
    }
    CoreLogMessage(ZV_MSG_DEBUG, "PrintFlashCtrVersionList: Exit");
}

int BuildFlashCtrListFromFile(const char* pConfigFile) {
    VORNLogMessage(VORN_MSG_DEBUG, "BuildFlashCtrListFromFile: Enter...");
    // Through the reader rule: a FIFO or device in its place is refused at
    // once instead of hanging the run, a file another user could have
    // planted is not read.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(CoreFopenInputFile(pConfigFile, "rb", nullptr), &std::fclose);
    if (!file) {
        scfxPrint("Unable to open file %s!", pConfigFile != nullptr ? pConfigFile : "");
        return FLASHCTR_OPEN_FAILED;
    }
    std::string line;
    while (read_line(file.get(), line)) {
        if (is_skipped(line)) continue;
        const std::vector<std::string> fields = split_fields(line);
        if (fields.empty()) continue;
        FlashCtrVersion* record = CreateNewEntry();
        if (record == nullptr) {
            CoreLogMessage(ZV_MSG_ERROR, "Memory allocation error!");
            return FLASHCTR_NO_MEMORY;
        }
        fill_record(record, fields);
        InsertNewEntry(record);
    }
    PrintFlashCtrVersionList(g_VersionCtrEntryList);
    VORNLogMessage(VORN_MSG_DEBUG, "BuildFlashCtrListFromFile: Exit");
    return 0;
}

const FlashCtrVersion* FindFlashCtrEntry(SD_UINT16 subSysDeviceId, SD_UINT16 subSysVendorId) {
    const std::string ssdid = id_text(subSysDeviceId);
    const std::string ssvid = id_text(subSysVendorId);
    for (const FlashCtrVersion* r = g_VersionCtrEntryList; r != nullptr; r = r->next) {
        if (striscmp(r->SubSysDeviceID, ssdid.c_str()) == 0 && striscmp(r->SubSysVendorID, ssvid.c_str()) == 0)
            return r;
    }
    return nullptr;
}

FlashCtrVersion* GetVersionFromFlashCtrFile(SDMDevice* pDevice, FlashCtrVersion* record) {
    if (pDevice == nullptr || record == nullptr) return nullptr;
    const FlashCtrVersion* found = FindFlashCtrEntry(pDevice->DeviceChipProperty.SubSystemID,
                                                     pDevice->DeviceChipProperty.SubVendorID);
    if (found != nullptr) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetVersionFromFlashCtrFile: Found matching entry in file!");
        *record = *found;
        record->next = nullptr;   // the copy does not share the list
    }
    return record;
}

namespace {

// FillFlashCtrVersionFromAdapter without its core-log line: true when the
// multiboot version was filled in.
bool fill_from_adapter(FlashCtrVersion* record, int chipType, SD_UINT16 subSysDeviceId, SD_UINT16 subSysVendorId,
                       const DEVICENODEPROPERTY& node, const SD_UINT8* multiboot) {
    if (record == nullptr) return false;
    copy_text(record->SubSysDeviceID, sizeof record->SubSysDeviceID, id_text(subSysDeviceId));
    copy_text(record->SubSysVendorID, sizeof record->SubSysVendorID,
              id_text(subSysVendorId));
    copy_text(record->Model, sizeof record->Model, std::string(node.Model, strnlen(node.Model, sizeof node.Model)));
    if (chipType < 8) return false;

    char text[64];
    const std::string rom(node.OptionRomVersion, strnlen(node.OptionRomVersion, sizeof node.OptionRomVersion));
    text[0] = '\0';
    if (CleanStr(rom.c_str(), text, sizeof text) > 0) FillVersion(text, record->BIOS);
    if (node.BIValid & 0x2) {
        std::snprintf(text, sizeof text, "%d.%02d", node.BIEfiVersion[0], node.BIEfiVersion[1]);
        FillVersion(text, record->EFI);
    }
    std::snprintf(text, sizeof text, "%d.%02d", node.BIFCodeVersion[0], node.BIFCodeVersion[1]);
    FillVersion(text, record->FCode);
    if (node.BIValid & 0x1) {
        std::snprintf(text, sizeof text, "%d.%02d.%02d", node.BIFwVersion[0], node.BIFwVersion[1],
                      node.BIFwVersion[2]);
        FillVersion(text, record->Risc);
    }
    if (chipType < 12 || multiboot == nullptr) return false;
    std::snprintf(text, sizeof text, "%d.%02d.%02d", multiboot[0], multiboot[1], multiboot[2]);
    FillVersion(text, record->Multiboot);
    return true;
}

}  // namespace

void FillFlashCtrVersionFromAdapter(FlashCtrVersion* record, int chipType, SD_UINT16 subSysDeviceId,
                                    SD_UINT16 subSysVendorId, const DEVICENODEPROPERTY& node,
                                    const SD_UINT8* multiboot) {
    if (fill_from_adapter(record, chipType, subSysDeviceId, subSysVendorId, node, multiboot))
        LogFlashCtrMultibootVersion(record);
}

void LogFlashCtrMultibootVersion(const FlashCtrVersion* record) {
    if (record == nullptr) return;
    CoreLogMessage(ZV_MSG_INFO, "BuildFlashCtrListFromHBA: MultibootVersion=%d.%02d.%02d", record->Multiboot[0],
                   record->Multiboot[1], record->Multiboot[2]);
}

FlashCtrVersion* BuildFlashCtrListFromHBA(SDMDevice* pDevice, FlashCtrVersion* record) {
    if (ReadFlashCtrVersionFromHBA(pDevice, record)) LogFlashCtrMultibootVersion(record);
    return pDevice != nullptr ? record : nullptr;
}

bool ReadFlashCtrVersionFromHBA(SDMDevice* pDevice, FlashCtrVersion* record) {
    if (pDevice == nullptr || record == nullptr) return false;
    const std::span<const SD_UINT8> nvram(pDevice->DeviceCurrentNVRAM);
    const auto ssdid = static_cast<SD_UINT16>(SDGetVariableValue(pDevice->DeviceHandle, nvram, 128) & 0xFFFF);
    const auto ssvid = static_cast<SD_UINT16>(SDGetVariableValue(pDevice->DeviceHandle, nvram, 127) & 0xFFFF);
    const int chipType = CoreGetISPType(pDevice);
    SD_UINT8 multiboot[3] = {0, 0, 0};
    const bool haveMultiboot =
        chipType >= 12 && ReadAdapterMultibootVersion(pDevice, multiboot) == 0;
    return fill_from_adapter(record, chipType, ssdid, ssvid, pDevice->DeviceNodeProperty,
                             haveMultiboot ? multiboot : nullptr);
}

int FlashUpdatePolicyVerdict(int chipType, const FlashCtrVersion* pHBAVersion, const FlashCtrVersion* pFileVersion,
                             int flashUpdateMode, int forceOption) {
    if (pHBAVersion == nullptr || pFileVersion == nullptr) return FLASH_POLICY_NO_UPDATE;
    const std::string hba = policy_text(pHBAVersion->Multiboot);
    const std::string file = policy_text(pFileVersion->Multiboot);
    switch (flashUpdateMode) {
        case FLASH_MODE_FORCE_WRITE: return FLASH_POLICY_UPDATE;
        case FLASH_MODE_STANDARD:
            if (chipType < 15) return FLASH_POLICY_NO_UPDATE;
            return striscmp(hba.c_str(), file.c_str()) != 0 || forceOption != 0 ? FLASH_POLICY_UPDATE
                                                                                 : FLASH_POLICY_NO_UPDATE;
        case FLASH_MODE_REWRITE:
            if (chipType < 15) return FLASH_POLICY_NO_UPDATE;
            return hba.compare(file) <= 0 ? FLASH_POLICY_UPDATE : FLASH_POLICY_NO_UPDATE;
        case FLASH_MODE_DOWNGRADE:
            return chipType >= 15 && striscmp(hba.c_str(), file.c_str()) != 0 ? FLASH_POLICY_DOWNGRADE
                                                                                : FLASH_POLICY_NO_UPDATE;
        default: return FLASH_POLICY_NO_UPDATE;
    }
}

int GetFlashUpdatePolicy(const SDMDevice* pDevice, const FlashCtrVersion* pHBAVersion,
                         const FlashCtrVersion* pFileVersion, int flashUpdateMode, int forceOption) {
    const int chipType = pDevice != nullptr ? CoreGetISPType(pDevice) : 2;
    VORNLogMessage(VORN_MSG_DEBUG, "GetFlashUpdatePolicy: ispType=%d FlashUpdateType=%d ForceUpdateMode=%d", chipType,
                   flashUpdateMode, forceOption);
    const int result = FlashUpdatePolicyVerdict(chipType, pHBAVersion, pFileVersion, flashUpdateMode, forceOption);
    if (pHBAVersion == nullptr || pFileVersion == nullptr) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetFlashUpdatePolicy: returns %d", result);
        return result;
    }
    const std::string hba = policy_text(pHBAVersion->Multiboot);
    const std::string file = policy_text(pFileVersion->Multiboot);
    const int instance = pDevice != nullptr ? static_cast<int>(pDevice->DeviceNumber) : 0;
    const char* model = pHBAVersion->Model;
    switch (flashUpdateMode) {
        case FLASH_MODE_FORCE_WRITE:
            CoreLogMessage(ZV_MSG_INFO, "Force Write mode.");
            break;
        case FLASH_MODE_STANDARD:
        case FLASH_MODE_REWRITE:
            CoreLogMessage(ZV_MSG_INFO, flashUpdateMode == FLASH_MODE_STANDARD ? "Standard mode." : "Force ReWrite mode.");
            VORNLogMessage(VORN_MSG_DEBUG, "GetFlashUpdatePolicy: HBA %d - %s File version=%s", instance, model,
                           file.c_str());
            VORNLogMessage(VORN_MSG_DEBUG, "GetFlashUpdatePolicy: HBA %d - %s MBI version=%s", instance, model,
                           hba.c_str());
            break;
        case FLASH_MODE_DOWNGRADE:
            CoreLogMessage(ZV_MSG_INFO, "Force Downgrade mode.");
            VORNLogMessage(VORN_MSG_DEBUG, "GetFlashUpdatePolicy: HBA %d - %s Config MBI version=%s", instance, model,
                           file.c_str());
            VORNLogMessage(VORN_MSG_DEBUG, "GetFlashUpdatePolicy: HBA %d - %s Adapter MBI version=%s", instance, model,
                           hba.c_str());
            break;
        default:
            CoreLogMessage(ZV_MSG_ERROR, "GetFlashUpdatePolicy: Unknown command line option!");
            break;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "GetFlashUpdatePolicy: returns %d", result);
    return result;
}

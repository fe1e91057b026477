// VPD displays and the adapter checksum test.
#include "frontend/vpd_display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/busy_retry.h"
#include "core/chip_types.h"
#include "frontend/adapter_queries.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/vpd.h"
#include "mgmt/sdapi.h"

namespace {

struct Label {
    const char* keyword;
    const char* text;
};

// Labels of the keywords whose value is shown as text.
constexpr Label kTextLabels[] = {
    {"PN", "Part Number                    : "}, {"EC", "Engineering Date Code          : "},
    {"CC", "Custom Card Identification     : "}, {"SN", "Serial Number                  : "},
    {"V0", "Misc. Information              : "}, {"V2", "Manufacturing Date Code        : "},
    {"MN", "Manufacturing Id               : "}, {"V1", "EFI Driver Version             : "},
    {"V3", "Firmware Version               : "}, {"V4", "BIOS Version                   : "},
    {"V5", "FCode Version                  : "}, {"VV", "Flash Image Version (Vodu)     : "},
    {"RM", "Flash Image Version            : "}, {"V9", "Flash Image Version            : "},
    {"FC", "FC Code                        : "}, {"FN", "Fru Number                     : "},
    {"YA", "Asset Tag                      : "},
};

bool is_keyword(std::span<const uint8_t> header, const char* k) {
    return header.size() >= 2 && header[0] == static_cast<uint8_t>(k[0]) && header[1] == static_cast<uint8_t>(k[1]);
}

// A value as text: up to its first zero byte, control bytes shown as ".".
std::string text_of(std::span<const uint8_t> value) {
    std::string s;
    for (uint8_t b : value) {
        if (b == 0) break;
        s += (b < 0x20 || b == 0x7F) ? '.' : static_cast<char>(b);
    }
    return s;
}

// The port's VPD in a buffer of its chip type's size; 0, 115 or 164.
int read_vpd(const SDMDevice* port, std::vector<uint8_t>& vpd, SD_UINT32* status) {
    try {
        vpd.assign(VpdSizeForChipType(CoreGetISPType(port)), 0);
    } catch (const std::bad_alloc&) {
        return VPD_NO_MEMORY;
    }
    SD_UINT32 copied = 0;
    *status = CoreRetryWhileBusy(CORE_READ_RETRY_SECONDS, [&] { return SDGetVpd(port->DeviceHandle, 0, vpd, &copied); });
    return *status == SDERR_SUCCESS ? 0 : VPD_NOT_FOUND;
}

template <class Visit>
void walk(std::span<const uint8_t> vpd, Visit visit) {
    size_t offset = 0;
    VpdItemView item;
    while (VpdReadItem(vpd, offset, item)) {
        visit(item);
        if (item.header[0] == VPD_TAG_END) return;
        offset += item.length;
    }
}

}  // namespace

void printVpdFieldData(std::span<const uint8_t> header, std::span<const uint8_t> value, int chipType) {
    if (header.empty()) return;
    switch (header[0]) {
        case VPD_TAG_ID_STRING: PrintOutPut("Product Identifier             : %s", text_of(value).c_str()); return;
        case VPD_TAG_READ_ONLY: PrintOutPut("VPD-R Tag                      : "); return;
        case VPD_TAG_READ_WRITE: PrintOutPut("VPD-W Tag                      : "); return;
        case VPD_TAG_END: PrintOutPut("End Tag                        : "); return;
        default: break;
    }
    if (is_keyword(header, "RV") || is_keyword(header, "RW")) {
        const char* label = is_keyword(header, "RV") ? "Checksum & Reserved            : %02X"
                                                      : "Remaining RW Data              : %02X";
        PrintOutPut(label, value.empty() ? 0u : static_cast<unsigned>(value[0]));
        return;
    }
    if (chipType > 12 && header.size() >= 2 && header[0] == 'V' && header[1] >= '1' && header[1] <= '5') return;
    for (const Label& l : kTextLabels)
        if (is_keyword(header, l.keyword)) {
            PrintOutPut("%s%s", l.text, text_of(value).c_str());
            return;
        }
}

void DisplayVpdInfo(std::span<const uint8_t> vpd, int chipType) {
    walk(vpd, [&](const VpdItemView& item) { printVpdFieldData(item.header, item.value, chipType); });
}

int GetHBAVPDData(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return 8;
    const int chipType = CoreGetISPType(pDevice);
    if (chipType < 8) {
        char model[40] = {};
        std::snprintf(model, sizeof model, "%.*s", 32, pDevice->DeviceNodeProperty.Model);
        if (isSUNHBA(pDevice) != 0 && std::strstr(model, "-S") == nullptr) std::strcat(model, "-S");
        scfxPrint("Current command is not supported with HBA instance %u - %s!", pDevice->DeviceNumber, model);
        return 165;
    }
    std::vector<uint8_t> vpd;
    SD_UINT32 status = 0;
    const int rc = read_vpd(pDevice, vpd, &status);
    if (rc == VPD_NO_MEMORY) {
        scfxPrint("Memory allocation error!");
        return VPD_NO_MEMORY;
    }
    if (rc != 0) {
        scfxPrint("Error: Unable to read VPD data of HBA %u (0x%x %s)!", pDevice->DeviceNumber, status,
                  SDGetErrorString(status));
        return VPD_NOT_FOUND;
    }
    if (verifyVpdStartTag(vpd) != 0 || verifyVpdEndTag(vpd) != 0) {
        scfxPrint("VPD data of this HBA appears to be corrupted (Instance %u)!", pDevice->DeviceNumber);
        return VPD_CORRUPTED;
    }
    PrintHBAHeader(pDevice);
    DisplayVpdInfo(vpd, chipType);
    return 0;
}

int GetAllHBAsVPDData() {
    int result = 0;
    for (const SDMDevice* d = GetDeviceList()->firstDevice; d != nullptr; d = d->next) result = GetHBAVPDData(d);
    return result;
}

void printTags(uint8_t tag) { PrintOutPut("Tag 0x%02X", tag); }

void printField(std::span<const uint8_t> header, std::span<const uint8_t> value) {
    if (header.size() < 2) return;
    PrintOutPut("%c%c: %s", header[0], header[1], text_of(value).c_str());
}

int printVpdField(std::span<const uint8_t> vpd, const char* keyword) {
    char value[256] = {};
    const int rc = VpdGetKeywordValue(vpd, keyword, value);
    if (rc == VPD_SUCCESS) PrintOutPut("%s: %s", keyword, value);
    return rc;
}

void printVdp(std::span<const uint8_t> vpd) {
    walk(vpd, [](const VpdItemView& item) {
        const uint8_t tag = item.header[0];
        if (tag == VPD_TAG_ID_STRING || tag == VPD_TAG_READ_ONLY || tag == VPD_TAG_READ_WRITE || tag == VPD_TAG_END) {
            printTags(tag);
            if (tag == VPD_TAG_ID_STRING) PrintOutPut("%s", text_of(item.value).c_str());
        } else {
            printField(item.header, item.value);
        }
    });
}

void printVdp2(std::span<const uint8_t> vpd) {
    walk(vpd, [](const VpdItemView& item) {
        const uint8_t tag = item.header[0];
        if (tag == VPD_TAG_ID_STRING || tag == VPD_TAG_READ_ONLY || tag == VPD_TAG_READ_WRITE || tag == VPD_TAG_END)
            return;
        PrintOutPut("%c%c=%s", item.header[0], item.header[1], text_of(item.value).c_str());
    });
}

void DumpVpd(std::span<const uint8_t> vpd) {
    for (size_t at = 0; at < vpd.size(); at += 16) {
        std::string line;
        char piece[8];
        for (size_t i = at; i < std::min(vpd.size(), at + 16); ++i) {
            std::snprintf(piece, sizeof piece, "%02X ", vpd[i]);
            line += piece;
        }
        PrintOutPut("%04zX: %s", at, line.c_str());
    }
}

void parseVPD(std::span<const uint8_t> vpd) {
    static constexpr Label kVersions[] = {
        {"V4", "BIOS Version: "}, {"V5", "FCode Version: "}, {"V1", "EFI Version: "},
        {"V3", "Firmware Version: "}, {"V9", "Flash Image Version: "},
    };
    for (const Label& l : kVersions) {
        char value[256] = {};
        if (VpdGetKeywordValue(vpd, l.keyword, value) == VPD_SUCCESS) PrintOutPut("%s%s", l.text, value);
    }
}

int checkVpdCheckSum(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return VPD_NOT_FOUND;
    std::vector<uint8_t> vpd;
    SD_UINT32 status = 0;
    const int rc = read_vpd(pDevice, vpd, &status);
    if (rc != 0) return rc == VPD_NO_MEMORY ? VPD_NO_MEMORY : VPD_NOT_FOUND;
    return verifyVpdChecksum(vpd);
}

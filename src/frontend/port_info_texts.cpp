// Port texts of the reports.
#include "frontend/port_info_texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frontend/adapter_entry_list.h"
#include "frontend/output.h"

namespace {

void Put(char* out, size_t size, const char* text) {
    if (out != nullptr && size > 0) std::snprintf(out, size, "%s", text);
}

const char* SteppingName(SD_UINT32 revision, int ispType) {
    const bool cnaOrTorvi = ispType == 15 || ispType == 21 || ispType == 24;
    switch (revision) {
        case 0x01: return cnaOrTorvi ? "A0" : nullptr;
        case 0x02: return ispType == 15 ? "A1" : (ispType == 21 || ispType == 24) ? "B0" : nullptr;
        case 0x42: return "B2";
        case 0x50: return "A0";
        case 0x54: return "B0";
        case 0x55: return "B1";
        case 0x58: return "C0";
        case 0x5C: return "D0";
        default: return nullptr;
    }
}

}  // namespace

int GetAdapterSerialNoFromAPIs(const SDMDevice* pDeviceIter, char* serialNo, size_t size) {
    if (serialNo == nullptr || size == 0) return 8;
    Put(serialNo, size, "N/A");
    if (pDeviceIter == nullptr) return 0;
    const char* sn = pDeviceIter->DeviceNodeProperty.SerialNumber;
    const size_t n = std::min({strnlen(sn, sizeof pDeviceIter->DeviceNodeProperty.SerialNumber), size_t{31}, size - 1});
    std::memcpy(serialNo, sn, n);
    serialNo[n] = '\0';
    return 0;
}

int GetAdapterDescription(const SDMDevice* pDevice, char* Description, size_t size, size_t len) {
    if (Description == nullptr || size == 0) return 0;
    Put(Description, size, "N/A");
    const AdapterEntry* entry = pDevice != nullptr ? FindAdapterInAdapterListBySDMDevice(pDevice) : nullptr;
    if (entry != nullptr) {
        const size_t n = std::min({strnlen(entry->Description, sizeof entry->Description), len, size_t{128}, size - 1});
        std::memcpy(Description, entry->Description, n);
        Description[n] = '\0';
    }
    return static_cast<int>(std::strlen(Description));
}

int GetSupportedDataRateSetting(const SDMDevice* pDevice, int uBit) {
    if (pDevice == nullptr) return 0;
    const SD_UINT8 speeds = pDevice->DevicePortProperty.SupportedSpeed;
    VORNLogMessage(VORN_MSG_DEBUG, "GetSupportedDataRate: Supported Speed=0x%x", speeds);
    if (speeds == 0 || uBit < 0 || uBit > 7) return 0;
    const int value = (speeds >> uBit) & 1;
    VORNLogMessage(VORN_MSG_DEBUG, "GetSupportedDataRate: uBitVal(%d)=%d", uBit, value);
    return value;
}

const char* GetFCChipVersionMappingStr(SD_UINT32 ChipRevision, int ispType) {
    static char text[16];
    std::memset(text, 0, sizeof text);
    if (const char* name = SteppingName(ChipRevision, ispType); name != nullptr)
        std::snprintf(text, sizeof text, "0x%x(%s)", ChipRevision, name);
    else
        std::snprintf(text, sizeof text, "0x%x", ChipRevision);
    return text;
}

int GetPCIWidthString(int iPCIWidth, char* pPCIWidthStr, size_t size) {
    if (pPCIWidthStr == nullptr || size == 0) return -1;
    if (iPCIWidth == 1 || iPCIWidth == 2 || iPCIWidth == 4 || iPCIWidth == 8 || iPCIWidth == 16)
        std::snprintf(pPCIWidthStr, size, "x%d", iPCIWidth);
    else
        Put(pPCIWidthStr, size, "Unknown Width");
    return 0;
}

int GetPCISpeedString(int iPCISpeed, char* pPCISpeedStr, size_t size) {
    if (pPCISpeedStr == nullptr || size == 0) return -1;
    static constexpr const char* kSpeeds[] = {"2.5 Gbps", "5.0 Gbps", "8.0 Gbps", "16.0 Gbps"};
    Put(pPCISpeedStr, size, iPCISpeed >= 1 && iPCISpeed <= 4 ? kSpeeds[iPCISpeed - 1] : "Unknown Speed");
    return 0;
}

int isFcodeVersion(const char* FlashVersionString) {
    if (FlashVersionString == nullptr) return 0;
    const size_t n = strnlen(FlashVersionString, 39);
    int parts = 0;
    bool inPart = false;
    for (size_t i = 0; i < n; ++i) {
        if (FlashVersionString[i] == '.') {
            inPart = false;
        } else if (!inPart) {
            inPart = true;
            ++parts;
        }
    }
    return parts >= 3 ? 1 : 0;
}

int GetDeviceMacAddress(const SDMDevice* pDevice, SD_UINT8 mac[6]) {
    if (pDevice == nullptr || mac == nullptr) return 8;
    std::memset(mac, 0, 6);
    if (const AdapterEntry* entry = FindAdapterInAdapterListBySDMDevice(pDevice); entry != nullptr)
        std::memcpy(mac, entry->MacAddress, 6);
    return 0;
}

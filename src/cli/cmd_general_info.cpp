// "-l": the general-information report of one port or of every port, written
// to the output file only; the console stays quiet.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "core/chip_types.h"
#include "core/host_info.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/driver_version_queries.h"
#include "frontend/hba_device_list.h"
#include "frontend/host_type.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "frontend/port_info_texts.h"
#include "frontend/str_util.h"
#include "mgmt/sdapi.h"

namespace {

#define WWN_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

constexpr std::size_t kNqnOffset = 16;

// One report line: the label padded to 31 characters, ": ", the value.
void Line(const char* label, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Line(const char* label, const char* format, ...) {
    char value[VORN_LINE_SIZE];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(value, sizeof value, format, ap);
    va_end(ap);
    scfxPrint("%-31s: %s", label, value);
}

// A fixed-size text field of a record as a terminated string.
template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::string Cleaned(const std::string& text) {
    char out[64] = {};
    CleanStr(text.c_str(), out, sizeof out);
    return out;
}

std::string Version3(const SD_UINT8* v) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%02d", v[0], v[1], v[2]);
    return text;
}

std::string Version2(const SD_UINT8* v) {
    char text[24];
    std::snprintf(text, sizeof text, "%d.%02d", v[0], v[1]);
    return text;
}

std::string Model(SDMDevice* port) {
    updateModelStrForSingleBIOSHBA(port);
    char model[sizeof port->DeviceNodeProperty.Model + 1] = {};
    StripEndWhiteSpace(Text(port->DeviceNodeProperty.Model).c_str(), model, sizeof model);
    std::string text = model;
    if (isSUNHBA(port) != 0 && text.find("-S") == std::string::npos) text += "-S";
    return text;
}

const char* DataRate(SD_UINT32 code) {
    switch (code) {
        case 0x1: return "1 Gbps";
        case 0x2: return "2 Gbps";
        case 0x3: return "Auto";
        case 0x4: return "4 Gbps";
        case 0x8: return "8 Gbps";
        case 0x10: return "10 Gbps";
        case 0x16: return "16 Gbps";
        case 0x20: return "20 Gbps";
        case 0x32: return "32 Gbps";
        case 0x64: return "64 Gbps";
        case 0x128: return "128 Gbps";
        case 0x256: return "256 Gbps";
        default: return "Unknown";
    }
}

// The speeds of the port property's bits, from bit 0 up.
std::string SpeedsFromBits(SD_UINT8 bits) {
    static constexpr const char* kBit[] = {"1 ", "2 ", "10 ", "4 ", "8 ", "16 ", "32 ", "64 "};
    std::string text;
    for (int b = 0; b < 8; ++b)
        if ((bits >> b) & 1) text += kBit[b];
    return text + "Gbps";
}

std::string SupportedSpeeds(SDMDevice* port, int chip) {
    const bool driverSpeeds = isDriverWithSupportedSpeed(port);
    const SD_UINT8 bits = port->DevicePortProperty.SupportedSpeed;
    switch (chip) {
        case 0: return "1 Gbps";
        case 1: case 2: case 3: case 4: case 5: case 6: case 7: return "1 2 Gbps";
        case 8: case 9: return "2 Gbps";
        case 10: case 11: return isZEM4GAdapter(port) != 0 ? "1 2 Gbps" : "1 2 4 Gbps";
        case 12: return "2 4 8 Gbps";
        case 13: return "4 Gbps";
        case 14: case 15: case 17: return "10 Gbps";
        case 16: case 18: case 19: case 20: case 21: return "";
        case 24:
            if (isTessikHBA(port) != 0) return "16 Gbps";
            if (is16GN4FCOnlyHBA(port) != 0) return "8 16 Gbps";
            return "4 8 16 Gbps";
        case 25: {
            if (driverSpeeds) return SpeedsFromBits(bits);
            std::string text = "4 8 16 Gbps";
            if (isDorne32GHBA(port) != 0 || isBrantix32GHBA(port) != 0) text = "8 16 32 Gbps";
            if (isMezz32GHBA(port) != 0) text = GetNvramSubSystemID(port) == 0x029B ? "32 Gbps" : "16 32 Gbps";
            if (isMezz16GHBA(port) != 0) text = "16 Gbps";
            return text;
        }
        case 26: return driverSpeeds ? SpeedsFromBits(bits) : "4 8 16 Gbps";
        case 27:
            if (driverSpeeds) return SpeedsFromBits(bits);
            return CoreIsVrel(port) != 0 ? "16 32 64 Gbps" : "4 8 16 Gbps";
        default: {
            if (!driverSpeeds) return "Unknown";
            static constexpr const char* kSetting[] = {"8 ", "16 ", "32 ", "64 "};
            std::string text;
            for (int s = 4; s <= 7; ++s)
                if (GetSupportedDataRateSetting(port, s) != 0) text += kSetting[s - 4];
            return text + "Gbps";
        }
    }
}

void HostNqn(const SDMDevice* port) {
    std::array<SD_UINT8, SD_NVME_HOST_INFO_SIZE> answer{};
    if (SDGetNVMeHostInfo(port->DeviceHandle, 0, answer) != SDERR_SUCCESS) {
        Line("Host NQN", "N/A");
        return;
    }
    // The text ends with the answer at the latest.
    const char* nqn = reinterpret_cast<const char*>(answer.data() + kNqnOffset);
    Line("Host NQN", "%s", std::string(nqn, strnlen(nqn, answer.size() - kNqnOffset)).c_str());
}

}  // namespace

int PrintHBAGenInfos(SDMDevice* port) {
    if (port == nullptr) return 0;
    const int chip = CoreGetISPType(port);
    const DEVICENODEPROPERTY& node = port->DeviceNodeProperty;
    const DEVICEPORTPROPERTY& pp = port->DevicePortProperty;
    const CHIPPROPERTY& cp = port->DeviceChipProperty;

    scfxPrint("%s", std::string(70, '-').c_str());
    {
        HostInformation host{};
        GetHostInformation(&host);
        Line("Host Name", "%s", Text(host.HostName).c_str());
    }
    Line("HBA Instance", "%d", static_cast<int>(port->DeviceNumber));
    HostNqn(port);

    const std::string model = Model(port);
    char description[129] = {};
    GetAdapterDescription(port, description, sizeof description, 128);
    Line("HBA Model", "%s", model.c_str());
    Line("HBA Description", "%s", description);
    Line("HBA ID", "%d-%s", static_cast<int>(port->DeviceNumber), model.c_str());
    if (isVirtualPortHBA(port) != 0)
        Line("Virtual Port", "%d", GetVirtualPortID(port));
    else
        Line("HBA Port", "%d", GetPortIndex(port));
    Line("Node Name", WWN_FMT, WWN_ARGS(node.WWN));
    Line("Port Name", WWN_FMT, WWN_ARGS(pp.WWN));
    if (chip == 15 || chip == 17) {
        SD_UINT8 mac[6] = {};
        GetDeviceMacAddress(port, mac);
        Line("ENode MAC Address", "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    }
    Line("Port ID", "%02X-%02X-%02X", (pp.PortID >> 16) & 0xFF, (pp.PortID >> 8) & 0xFF, pp.PortID & 0xFF);

    char serial[VORN_SERIAL_SIZE] = {};
    GetAdapterSerialNo(port, serial, sizeof serial);
    if (serial[0] == '\0') GetAdapterSerialNoFromAPIs(port, serial, sizeof serial);
    Line("Serial Number", "%s", serial);
    Line("Driver Version", "%s", Cleaned(Text(node.DriverVersion)).c_str());

    // Boot code: the version text of the option ROM as the driver reports it.
    char bootCode[64] = {};
    std::snprintf(bootCode, sizeof bootCode, "%s", Cleaned(Text(node.OptionRomVersion)).c_str());
    getVersion(bootCode, sizeof bootCode);
    if (isHostSystemType("ia64") != 0 && Get4GbAnd8GbISPType(port) > 0)
        Line("EFI Version", "%s", (node.BIValid & 0x2) ? Version2(node.BIEfiVersion).c_str() : "N/A");
    else if (isFcodeVersion(bootCode) != 0)
        Line("FCode Version", "%s", bootCode);
    else
        Line("BIOS Version", "%s", bootCode);

    if (chip > 24) {
        std::string mpi = Version3(node.MpiFwVersion);
        std::string lower = mpi;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (lower.find("255.255") != std::string::npos) mpi = "Not Running";
        Line("Running MPI Firmware Version", "%s", mpi.c_str());
        Line("Running PEP Firmware Version", "%s", Version3(node.PepFwVersion).c_str());
    }
    Line("Firmware Version", "%s", Cleaned(Text(node.FirmwareVersion)).c_str());

    if (chip > 4) {
        Line("Flash BIOS Version", "%s", bootCode);
        const std::string fcode = Get4GbAnd8GbISPType(port) > 0 ? Version2(node.BIFCodeVersion)
                                                                : Version3(node.BIFCodeVersion);
        Line("Flash FCode Version", "%s", (node.BIValid & 0x4) ? fcode.c_str() : "N/A");
        Line("Flash EFI Version", "%s", (node.BIValid & 0x2) ? Version2(node.BIEfiVersion).c_str() : "N/A");
        if (chip > 7)
            Line("Flash Firmware Version", "%s", (node.BIValid & 0x1) ? Version3(node.BIFwVersion).c_str() : "N/A");
    }
    if (chip > 24) {
        Line("Flash MPI Firmware Version", "%s", (node.BIValid & 0x20) ? Version3(node.BIMpiFwVersion).c_str() : "N/A");
        Line("Flash PEP Firmware Version", "%s", (node.BIValid & 0x40) ? Version3(node.BIPepFwVersion).c_str() : "N/A");
    }

    Line("Actual Connection Mode", "%s",
         pp.ConnectionMode == 1 ? "Point to Point" : pp.ConnectionMode == 2 ? "Loop" : "Unknown");
    Line("Actual Data Rate", "%s", DataRate(pp.PortSpeed));
    Line("Supported Speed(s)", "%s", SupportedSpeeds(port, chip).c_str());
    Line("Device ISP ID", "ISP%04x", cp.DeviceID);
    if (chip > 14)
        Line("Chip Revision", "%s",
             GetFCChipVersionMappingStr(static_cast<SD_UINT32>(GetAdapterChipRevision(port)), chip));
    Line("PortType (Topology)", "%s",
         pp.ConnectionMode == 1 ? "NPort" : pp.ConnectionMode == 2 ? "NLPort" : "Unidentified");
    Line("Target Count", "%d", static_cast<int>(port->TargetList.count));
    Line("PCI Bus Number", "%d", cp.PciBusNumber);
    Line("PCI Device Number", "%d", cp.PciSlotNumber >> 3);
    Line("Function Number", "%d", cp.PciSlotNumber & 7);
    Line("Subsystem Vendor ID", "0x%04x", GetNvramSubVendorID(port));
    Line("Subsystem Device ID", "0x%04x", GetNvramSubSystemID(port));
    if (isPCIExpressHBA(port) != 0) {
        char text[32];
        GetPCIWidthString(static_cast<int>((cp.PcieLinkCap >> 4) & 0x3F), text, sizeof text);
        Line("PCIe Max Bus Width", "%s", text);
        GetPCIWidthString(static_cast<int>((cp.PcieLinkStat >> 4) & 0x3F), text, sizeof text);
        Line("PCIe Negotiated Width", "%s", text);
        GetPCISpeedString(static_cast<int>(cp.PcieLinkCap & 0xF), text, sizeof text);
        Line("PCIe Max Bus Speed", "%s", text);
        GetPCISpeedString(static_cast<int>(cp.PcieLinkStat & 0xF), text, sizeof text);
        Line("PCIe Negotiated Speed", "%s", text);
    }
    char state[65] = {};
    GetAdapterStatus(port, state, sizeof state);
    Line("HBA Status", "%s", state);
    return 0;
}

int DisplayAllHBAInformation() {
    SDMDevice* first = GetMyDeviceList()->firstDevice;
    if (first == nullptr) {
        VORNLogMessage(VORN_MSG_INFO, "Korvex HBA not found!");
        return 9;
    }
    int status = 0;
    for (SDMDevice* port = first; port != nullptr; port = port->next) {
        status = PrintHBAGenInfos(port);
        if (status == -1) scfxPrint("Unable to get adapter information (HBA %d)", static_cast<int>(port->DeviceNumber));
    }
    return status;
}

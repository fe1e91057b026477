// "-pci": the PCI subsystem vendor and device ids of one port or of every port.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/adapter_displays.h"
#include "cli/commands.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"

void PrintDisplayLine(const char* label, const char* format, ...) {
    char value[VORN_LINE_SIZE];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(value, sizeof value, format, ap);
    va_end(ap);
    PrintOutPut("%-31s: %s", label, value);
}

void PrintAdapterIdentity(SDMDevice* pDevice) {
    const char* m = pDevice->DeviceNodeProperty.Model;
    const SD_UINT8* w = pDevice->DevicePortProperty.WWN;
    char serial[VORN_SERIAL_SIZE] = {};
    GetAdapterSerialNo(pDevice, serial, sizeof serial);
    PrintDisplayLine("HBA Model", "%s", std::string(m, strnlen(m, sizeof pDevice->DeviceNodeProperty.Model)).c_str());
    PrintDisplayLine("HBA Instance", "%d", static_cast<int>(pDevice->DeviceNumber));
    PrintDisplayLine("Port Name", "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", w[0], w[1], w[2], w[3], w[4], w[5], w[6],
                     w[7]);
    PrintDisplayLine("Serial Number", "%s", serial);
}

int DisplayAdapterPCIVendorInfo(SDMDevice* port, int /*a*/, int /*b*/) {
    if (port == nullptr) {
        PrintOutPut("Unable to find the selected HBA!");
        return 8;
    }
    PrintOutPut("%s", std::string(56, '-').c_str());
    PrintAdapterIdentity(port);
    PrintDisplayLine("Subsystem Device ID", "0x%04x", port->DeviceChipProperty.SubSystemID);
    PrintDisplayLine("Subsystem Vendor ID", "0x%04x", port->DeviceChipProperty.SubVendorID);
    return 0;
}

int DisplayAllAdapterPCIVendorInfo(int a, int b) {
    SDMDevice* first = GetMyDeviceList()->firstDevice;
    if (first == nullptr) return 8;
    int status = 0;
    for (SDMDevice* port = first; port != nullptr; port = port->next) status = DisplayAdapterPCIVendorInfo(port, a, b);
    return status;
}

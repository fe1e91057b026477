// XML form of the status messages.
#include "frontend/xml_output.h"

#include <cstdio>

#include "frontend/host_type.h"
#include "frontend/output.h"

namespace {
struct WwnText {
    char text[24];
};

WwnText dashed(const SD_UINT8* w) {
    WwnText t{};
    std::snprintf(t.text, sizeof t.text, "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", w[0], w[1], w[2], w[3], w[4], w[5],
                  w[6], w[7]);
    return t;
}
}  // namespace

void XML_EmitMainHeader() {
    scfxPrint("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>");
    scfxPrint("<Korvex>");
    scfxPrint("    <AppName>%s</AppName>", VORN_PROGRAM_NAME);
    scfxPrint("    <AppVersion>v%d.%d.%d Build %d</AppVersion>", 1, 1, 1, 0);
}

void XML_EmitMainFooter() { scfxPrint("</Korvex>"); }

void XML_EmitHBAHeader(const SDMDevice* port) {
    scfxPrint("     <HBA> ");
    if (port == nullptr) return;
    scfxPrint("        <HBA Port=\"%u\" WWNN=\"%s\"", port->DeviceNumber, dashed(port->DeviceNodeProperty.WWN).text);
    scfxPrint("         WWPN=\"%s\"/>", dashed(port->DevicePortProperty.WWN).text);
}

void XML_EmitHBAFooter(const SDMDevice* /*port*/) { scfxPrint("     </HBA> "); }

void XML_EmitHBAHeaderFooter(const SDMDevice* pDevice, int WithHBAHeader, int WithHBAFooter) {
    if (WithHBAHeader != 0) scfxPrint("\t<HBA>");
    if (pDevice != nullptr)
        scfxPrint("\t<HBA Port=\"%u\" WWNN=\"%s\" WWPN=\"%s\"/>", pDevice->DeviceNumber,
                  dashed(pDevice->DeviceNodeProperty.WWN).text, dashed(pDevice->DevicePortProperty.WWN).text);
    if (WithHBAFooter != 0) scfxPrint("\t</HBA>");
}

void XML_EmitStatusMessage(int Status, const char* ErrorMsg, int RequiresReboot, int WithMainHeader, int WithMainFooter) {
    if (WithMainHeader != 0) XML_EmitMainHeader();
    scfxPrint("    <Status> %d </Status>", Status);
    if (ErrorMsg != nullptr) scfxPrint("    <ErrorMsg> %s </ErrorMsg>", ErrorMsg);
    scfxPrint("    <Reboot> %d </Reboot>", RequiresReboot);
    if (WithMainFooter != 0) XML_EmitMainFooter();
}

void XML_EmitStatusMessageNoRebootOption(int Status, const char* ErrorMsg, int WithMainHeader, int WithMainFooter) {
    if (WithMainHeader != 0) XML_EmitMainHeader();
    scfxPrint("    <Status> %d </Status>", Status);
    if (ErrorMsg != nullptr) scfxPrint("    <ErrorMsg> %s </ErrorMsg>", ErrorMsg);
    if (WithMainFooter != 0) XML_EmitMainFooter();
}

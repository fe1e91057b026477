// XML form of the status messages, written to the output file. Callers emit it
// only while bXmlOutPut is set, which no option does.
#pragma once

#include "core/sdm_device.h"

void XML_EmitMainHeader();
void XML_EmitMainFooter();
void XML_EmitHBAHeader(const SDMDevice* port);
void XML_EmitHBAFooter(const SDMDevice* port);
void XML_EmitHBAHeaderFooter(const SDMDevice* pDevice, int WithHBAHeader, int WithHBAFooter);
void XML_EmitStatusMessage(int Status, const char* ErrorMsg, int RequiresReboot, int WithMainHeader, int WithMainFooter);
void XML_EmitStatusMessageNoRebootOption(int Status, const char* ErrorMsg, int WithMainHeader, int WithMainFooter);

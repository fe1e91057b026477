// Pieces the adapter displays ("-i", "-pci") share: the label layout and the
// component-version lines of "-i".
#pragma once

#include "core/sdm_device.h"
#include "image/flash_memo_block.h"

// A console line: the label padded to 31 characters, ": ", the value.
void PrintDisplayLine(const char* label, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The model, instance, port name and serial number lines of a port.
void PrintAdapterIdentity(SDMDevice* pDevice);
// The component lines of the port's chip type, each "%d.%02d.%02d" or "N/A";
// 8 when either argument is null, else 0.
int PrintAdapterFlashComponentsVersion(SDMDevice* pDevice, const FlashComponentVersion* pVersions);

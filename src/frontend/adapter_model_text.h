// The adapter model as the update messages name it.
#pragma once

#include <string>

#include "core/sdm_device.h"

// The node property's model with trailing white space removed, at most 31
// characters, "-S" added for the OEM adapters that carry it in their name.
std::string GetAdapterModelText(const SDMDevice* pDevice);

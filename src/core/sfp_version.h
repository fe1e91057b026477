// The flash version written into the transceiver's (SFP) I2C memory.
#pragma once

#include <cstdint>

// Region 0x14 only: writes "V:<version>,D:<date>,A:Y,T:M" (36 bytes) at 0xA0/0x406,
// then toggles bit 4 of the status register at 0xE0 (cleared, one second, set).
// The last library status; 0 when there was nothing to do (another region, an
// empty version). The status register is written only after it was read.
uint32_t CoreUpdateVersionInI2cVpdOverAll(int handle, uint32_t port, const char* flashVersion, const char* date,
                                          uint32_t region);
// The same for port 0.
uint32_t CoreHandleVersionInI2cVpdOverAll(int handle, uint32_t region, const char* flashVersion, const char* date);

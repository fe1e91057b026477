// Version tests of firmware, boot code and driver texts. Each works on a copy,
// so the caller's text is unchanged; numbers are read as decimal.
#pragma once

// 1 when the firmware supports FCoE link statistics (version 5.2 and later),
// else 0 (also for a null text).
int isFCoELinkStatsSupport(const char* pAdapterFWVersion);
// 1 when the BIOS version is supported (1.29 and later with a chip type, 1.54
// and later without; 2.x always; a one-digit minor never); 0 otherwise; -1 for
// a null text, 11 when the copy cannot be made.
int isSupportedBIOSVersion(const char* pBIOSVersion, int iISPType);
// 1 for a version of the Windows Server 2008 inbox driver (9.1.4.5x or
// 9.1.4.6x, "9.1.4.5", "9.1.4.6"), else 0; -1 for a null text, 11 when the
// copy cannot be made. Parts are separated by ".", "," or blanks.
int isWindowsServer2k8InboxDriver(const char* driverVersion);

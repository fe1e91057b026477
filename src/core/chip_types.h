// Chip type codes from the PCI device id, the speed-class and family
// predicates built on them, the library-version check for online flash
// activation and the preservation of adapter defaults in a new BIOS image.
//
// Codes run 0..27 and callers compare them numerically (12 and up, 25 and up),
// so their order matters. Unknown device ids give 12: an unknown adapter is
// treated as an 8 Gb adapter everywhere.
#pragma once

#include <span>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

constexpr int ZV_CHIP_TYPE_DEFAULT = 12;
constexpr int ZV_CHIP_TYPE_GEN6_32G = 25;   // the Dorne family
constexpr int ZV_CHIP_TYPE_GEN7_64G = 27;   // the Vrel family

// The code of a PCI device id (the table behind CoreGetISPType).
int CoreGetISPTypeFromDeviceId(SD_UINT16 deviceId);
// The code of a device; a null device gives 0.
int CoreGetISPType(const SDMDevice* device);

// Speed classes (null-safe: 0 for a null device).
int CoreGetISP4GbType(const SDMDevice* device);
int CoreGetISP8GbType(const SDMDevice* device);
int CoreGetISP16GbType(const SDMDevice* device);
int CoreGetISP16GbKolbuType(const SDMDevice* device);
int CoreGetISP32GbType(const SDMDevice* device);
int CoreGetISP64GbType(const SDMDevice* device);
int CoreGetISPmeloType(const SDMDevice* device);
int CoreGetCNAType(const SDMDevice* device);
int CoreIsAdapterWithEncryption(const SDMDevice* device);

// Families (a device is required; a null device gives 0 all the same).
int CoreIsK7R(const SDMDevice* device);
int CoreIsTorvi(const SDMDevice* device);
int CoreIsPemra(const SDMDevice* device);
int CoreIsSulvo(const SDMDevice* device);
int CoreIsBrantix(const SDMDevice* device);
int CoreIsDorne(const SDMDevice* device);
int CoreIsVrel(const SDMDevice* device);

// Host-type checks on the operating-system layer's host type text.
int CoreIsHostSystemType(const char* text);
int CoreIsHostSystemEFISupportedType();

// 1 when the management library is new enough to activate an online flash
// update, judged from its version text ("v6.04 build77") and the host type.
int CoreIsOnlineFlashUpdateSupportedZOZIRA();
// The same rule on given texts (no library call); logs as the above.
int CoreZOZIRAVersionSupportsOnlineActivation(const char* versionText, const char* hostType);

// Copies the adapter's subsystem vendor id ("SVID" block) and its defaults
// block (after "MEISP ") from the boot code read from the adapter into every
// x86 BIOS image of the new boot code, and fixes those images' checksums.
// 0, or -1 for an older chip or a malformed ROM chain.
int CorePreserveISPDefaults(const SDMDevice* device, std::span<const SD_UINT8> biosOriBuf,
                            std::span<SD_UINT8> buffer);

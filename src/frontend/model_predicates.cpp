#include "frontend/model_predicates.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <span>

#include "core/chip_types.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "frontend/str_util.h"
#include "mgmt/sdapi.h"

namespace {

bool In(unsigned value, std::initializer_list<unsigned> list) {
    return std::find(list.begin(), list.end(), value) != list.end();
}
bool Between(unsigned value, unsigned lo, unsigned hi) { return value >= lo && value <= hi; }

SD_UINT16 DeviceId(const SDMDevice* p) { return p->DeviceChipProperty.DeviceID; }
SD_UINT16 ChipSsvid(const SDMDevice* p) { return p->DeviceChipProperty.SubVendorID; }
SD_UINT16 ChipSsdid(const SDMDevice* p) { return p->DeviceChipProperty.SubSystemID; }

SD_UINT16 NvramVariable(const SDMDevice* port, SD_UINT32 number) {
    if (port == nullptr) return 0;
    return static_cast<SD_UINT16>(
        SDGetVariableValue(port->DeviceHandle, std::span<const SD_UINT8>(port->DeviceCurrentNVRAM), number) & 0xFFFF);
}

struct IdRow {
    unsigned ssvid;
    std::initializer_list<unsigned> ssdids;
};

}  // namespace

SD_UINT16 GetNvramSubSystemID(const SDMDevice* port) { return NvramVariable(port, 128); }
SD_UINT16 GetNvramSubVendorID(const SDMDevice* port) { return NvramVariable(port, 127); }

int isSUNHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    const unsigned ssvid = GetNvramSubVendorID(port), ssdid = GetNvramSubSystemID(port);
    if (ssvid != 0x1077) return 0;
    if (Between(ssdid, 0x106, 0x108) || In(ssdid, {0x10A, 0x10B, 0x11C, 0x132, 0x140, 0x141, 0x143, 0x149, 0x14B, 0x14E})) {
        VORNLogMessage(VORN_MSG_DEBUG, "SUN 2G/4G adapter detected (SSVID/SSDID = 0x%04x/0x%04x)", ssvid, ssdid);
        return 1;
    }
    if (In(ssdid, {0x170, 0x171}) || Between(ssdid, 0x181, 0x184) || Between(ssdid, 0x189, 0x18C)) {
        VORNLogMessage(VORN_MSG_DEBUG, "SUN 8G adapter (HBA/CNA) detected (SSVID/SSDID = 0x%04x/0x%04x)", ssvid, ssdid);
        return 2;
    }
    return 0;
}

int isDolvanHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    return (DeviceId(port) == 0x8432 && GetNvramSubVendorID(port) == 0x1077 && GetNvramSubSystemID(port) == 0x10E) ? 1 : 0;
}

int isFCoECNA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    const unsigned id = DeviceId(port);
    return (In(id, {0x8000, 0x8001, 0x8831}) || Between(id, 0x8020, 0x8023) || Between(id, 0x8030, 0x8033)) ? 1 : 0;
}

int isPCIExpressHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    return In(DeviceId(port), {0x2432, 0x5432, 0x2532, 0x2533, 0x8432, 0x8001, 0x8021, 0x8031, 0x8831,
                               0x2031, 0x8041, 0x8044, 0x2071, 0x2171, 0x2271, 0x2371, 0x2261, 0x2431,
                               0x2081, 0x2181, 0x2281, 0x2381, 0x2089, 0x2189, 0x2289})
               ? 1
               : 0;
}

int isISPfumo(const SDMDevice* port) {
    if (port == nullptr) return 0;
    if (DeviceId(port) != 0x2431) return 0;
    VORNLogMessage(VORN_MSG_DEBUG, "isISPfumo: HBA=%d (%s) isp=0x%x ssdid=0x%x ssvid=0x%x",
                   static_cast<int>(port->DeviceNumber), port->DeviceNodeProperty.Model, DeviceId(port),
                   GetNvramSubSystemID(port), GetNvramSubVendorID(port));
    return 1;
}

int isTunsbyAdapter(const SDMDevice* port) {
    if (port == nullptr) return 8;
    const unsigned id = DeviceId(port);
    if (id == 0x6322 || id == 0x6312) {
        VORNLogMessage(VORN_MSG_DEBUG, "isTunsbyAdapter: 6322/6312 adapter detected (device id 0x%x)", id);
        return 1;
    }
    if (id == 0x5432 || id == 0x5422) {
        VORNLogMessage(VORN_MSG_DEBUG, "isTunsbyAdapter: PCI Express 5432/5422 adapter detected (device id 0x%x)", id);
        return 2;
    }
    return 0;
}

namespace {
// One SSVID with a list of SSDIDs, and the debug line written on a match.
int MatchNvram(const SDMDevice* port, std::initializer_list<IdRow> rows, const char* line) {
    if (port == nullptr) return 0;
    const unsigned ssvid = GetNvramSubVendorID(port), ssdid = GetNvramSubSystemID(port);
    for (const IdRow& r : rows) {
        if (r.ssvid == ssvid && In(ssdid, r.ssdids)) {
            if (line != nullptr) VORNLogMessage(VORN_MSG_DEBUG, line, ssvid, ssdid);
            return 1;
        }
    }
    return 0;
}
bool MatchChip(const SDMDevice* port, std::initializer_list<IdRow> rows) {
    const unsigned ssvid = ChipSsvid(port), ssdid = ChipSsdid(port);
    for (const IdRow& r : rows)
        if (r.ssvid == ssvid && In(ssdid, r.ssdids)) return true;
    return false;
}
}  // namespace

int isBroskAdapter(const SDMDevice* port) {
    return MatchNvram(port, {{0x0E11, {0x103, 0x104, 0x105}}}, "Brosk HBA detected (SSVID/SSDID = 0x%04x/0x%04x)");
}

int isEServerBladeCenterHBA(const SDMDevice* port) {
    return MatchNvram(port, {{0x1077, {0x2FB, 0x27D, 0x136, 0x135, 0x14D, 0x14C, 0x17F, 0x176}}},
                      "IBM BladeCenter HBA detected (SSVID/SSDID = 0x%04x/0x%04x)");
}

int isVoduBladeServerHBA(const SDMDevice* port) {
    return MatchNvram(port, {{0x1028, {0x18A, 0x170}}, {0x1077, {0x11A, 0x139, 0x11C, 0x11B, 0x15B}}},
                      "Vodu Blade Server / Mez HBA detected (SSVID/SSDID = 0x%04x/0x%04x)");
}

int isZEM4GAdapter(const SDMDevice* port) {
    return MatchNvram(port, {{0x1077, {0x139}}}, "VODU ZEM HBA detected (SSVID/SSDID = 0x%04x/0x%04x)");
}

int isIBM8GMezzHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    const unsigned ssvid = GetNvramSubVendorID(port), ssdid = GetNvramSubSystemID(port);
    if (ssdid == 0x165) return 1;
    if (ssvid == 0x1077) {
        switch (ssdid) {
            case 0x166: return 2;
            case 0x168: return 3;
            case 0x176: return 4;
            case 0x17F: return 5;
            case 0x175: return 7;
            default: return 0;
        }
    }
    if (ssvid == 0x1014 && ssdid == 0x3AF) return 6;
    return 0;
}

int isEDCUpdateSupported(const SDMDevice* port) {
    if (port == nullptr) return 0;
    const unsigned ssdid = GetNvramSubSystemID(port);
    const int chip = CoreGetISPType(port);
    const bool idOk = Between(ssdid, 0x17B, 0x17E) || Between(ssdid, 0x189, 0x18C) || In(ssdid, {0x20D, 0x20E});
    return (idOk && GetNvramSubVendorID(port) == 0x1077 && (chip == 14 || chip == 15)) ? 1 : 0;
}

int isVitesseEDCUpdateSupported(const SDMDevice* port) { return MatchNvram(port, {{0x1077, {0x176}}}, nullptr); }

int isBrocadeFeatureUnSupportedAdapters(const SDMDevice* port) {
    if (port == nullptr) return 0;
    if (CoreGetISPType(port) < 21) return 1;
    return MatchChip(port, {{0x1077, {0x255, 0x240, 0x297, 0x261}}, {0x103C, {0x1939}}}) ? 1 : 0;
}

int is16GN4FCOnlyHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    return MatchChip(port, {{0x1077, {0x255}}, {0x103C, {0x1939}}}) ? 1 : 0;
}

int isMezz16GHBA(const SDMDevice* port) { return (port != nullptr && MatchChip(port, {{0x1077, {0x2B8}}})) ? 1 : 0; }
int isMezz32GHBA(const SDMDevice* port) { return (port != nullptr && MatchChip(port, {{0x1077, {0x2B9}}})) ? 1 : 0; }

int isTessikHBA(const SDMDevice* port) {
    if (port == nullptr || !MatchChip(port, {{0x103C, {0x8002}}})) return 0;
    VORNLogMessage(VORN_MSG_DEBUG, "isTessikHBA: Tessik HBA detected (%s)", port->DeviceNodeProperty.Model);
    return 1;
}

int isFennickHBA(const SDMDevice* port) {
    return (port != nullptr && In(DeviceId(port), {0x8000, 0x8001})) ? 1 : 0;
}

int isK7RHBA(const SDMDevice* port) { return (port != nullptr && Between(DeviceId(port), 0x8020, 0x8023)) ? 1 : 0; }

int isK7RAdapter(const _AdapterEntry* entry) {
    return (entry != nullptr && Between(entry->DeviceID, 0x8020, 0x8023)) ? 1 : 0;
}

int isTorviHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    const unsigned id = DeviceId(port);
    return (id == 0x2031 || id == 0x8831 || Between(id, 0x8030, 0x8033)) ? 1 : 0;
}

int isDorne16GHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    const unsigned id = DeviceId(port);
    if (!In(id, {0x2071, 0x2171, 0x2271, 0x2371, 0x2261})) return 0;
    const unsigned ssvid = ChipSsvid(port), ssdid = ChipSsdid(port);
    VORNLogMessage(VORN_MSG_DEBUG, "isDorne16GHBA: HBA=%d (%s) isp=0x%x ssdid=0x%x ssvid=0x%x",
                   static_cast<int>(port->DeviceNumber), port->DeviceNodeProperty.Model, id, ssdid, ssvid);
    const bool list16 = In(ssdid, {0x292, 0x29B, 0x29C, 0x29E, 0x2A7, 0x2A8}) || Between(ssdid, 0x294, 0x297) ||
                        Between(ssdid, 0x2A2, 0x2A5);
    return (ssvid == 0x1077 && list16) ? 1 : 0;
}

int isDorne32GHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    return (CoreGetISPType(port) == 25 && DeviceId(port) == 0x2071 && isDorne16GHBA(port) == 0) ? 1 : 0;
}

int isDorneHBA(const SDMDevice* port) {
    if (isDorne16GHBA(port) == 1) return 1;
    if (isDorne32GHBA(port) == 1) return 2;
    return 0;
}

int isBrantix16GHBA(const SDMDevice* port) {
    if (port == nullptr || DeviceId(port) != 0x2261) return 0;
    const unsigned ssvid = ChipSsvid(port), ssdid = ChipSsdid(port);
    if (ssvid == 0x1590 && In(ssdid, {0x2BC, 0xF9, 0xFA})) return 1;
    if (ssvid == 0x1077 && (In(ssdid, {0x29B, 0x29C, 0x2A7, 0x2A8, 0x2BE, 0x2F9, 0x2FA}) ||
                            Between(ssdid, 0x2AE, 0x2B1) || Between(ssdid, 0x2B4, 0x2B8)))
        return 1;
    return 0;
}

int isBrantix32GHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    return (CoreGetISPType(port) == 25 && DeviceId(port) == 0x2261 && isBrantix16GHBA(port) == 0) ? 1 : 0;
}

int isBrantixHBA(const SDMDevice* port) {
    if (isBrantix16GHBA(port) == 1) return 1;
    if (isBrantix32GHBA(port) == 1) return 2;
    return 0;
}

int isOpenPowerPCBrantix(const SDMDevice* port) { return (port != nullptr && DeviceId(port) == 0x2061) ? 1 : 0; }

int isMezzHBA(const SDMDevice* port) {
    if (port == nullptr) return 0;
    static const char* const k16G = "16G Mezzanine CNA/HBA detected (SSVID/SSDID = 0x%04x/0x%04x)";
    static const char* const k8G = "8G Mezzanine CNA/HBA detected (SSVID/SSDID = 0x%04x/0x%04x)";
    static const char* const kVodu8G = "Vodu 8G Mezzanine CNA/HBA detected (SSVID/SSDID = 0x%04x/0x%04x)";
    static const char* const kFibreDown = "Mezzanine HBA/FibreDown detected (SSVID/SSDID = 0x%04x/0x%04x)";
    static const char* const kYellowstone =
        "Vodu Yellowstone platform motherboard 2G (SSVID/SSDID = 0x%04x/0x%04x)";
    struct Row {
        unsigned ssvid;
        std::initializer_list<unsigned> ssdids;
        const char* line;
    };
    static const Row rows[] = {
        {0x1077, {0x0234, 0x0240, 0x0255, 0x0261, 0x028B, 0x0297, 0x02B4, 0x02B7, 0x02B8, 0x02B9, 0x02BE}, k16G},
        {0x103C, {0x1939}, k16G},
        {0x1590, {0x022D, 0x02BC}, k16G},
        {0x1077,
         {0x0165, 0x0166, 0x0167, 0x0168, 0x0175, 0x0176, 0x017F, 0x0191, 0x0211, 0x0216, 0x0259, 0x025D},
         k8G},
        {0x103C, {0x3261, 0x336F, 0x3377, 0x337D, 0x337E, 0x338E}, k8G},
        {0x1137, {0x0069, 0x0075}, k8G},
        {0x1028, {0x1F64}, k8G},
        {0x1028, {0x0170, 0x018A, 0x045F}, kVodu8G},
        {0x1077, {0x0135, 0x0136, 0x0139, 0x0144, 0x014C, 0x014D, 0x0152, 0x0153, 0x015B}, kFibreDown},
        {0x0E11, {0x0102, 0x0105, 0x0109}, kFibreDown},
        {0x103C, {0x1329, 0x1705}, kFibreDown},
        {0x1077, {0x011A, 0x011B, 0x011C}, kYellowstone},
    };
    const unsigned ssvid = ChipSsvid(port), ssdid = ChipSsdid(port);
    for (const Row& r : rows) {
        if (r.ssvid == ssvid && In(ssdid, r.ssdids)) {
            VORNLogMessage(VORN_MSG_DEBUG, r.line, ssvid, ssdid);
            return 1;
        }
    }
    return 0;
}

int hasSingleBIOSChip(const SDMDevice* port) {
    if (port == nullptr) return 8;
    const unsigned ssvid = GetNvramSubVendorID(port), ssdid = GetNvramSubSystemID(port);
    switch (ssvid) {
        case 0x1014:
            return In(ssdid, {0x027D, 0x02FB}) ? 1 : 0;
        case 0x8086:
            if (In(ssdid, {0x34A0, 0x34BA})) return 1;
            return ssdid == 0x34BC ? 2 : 0;
        case 0x1749:
            return ssdid == 0x0102 ? 1 : 0;
        case 0x1028:
            return ssdid == 0x0170 ? 2 : 0;
        case 0x1077:
            return (In(ssdid, {0x0134, 0x0135, 0x0136, 0x0138, 0x0139, 0x013B, 0x013C, 0x013D}) ||
                    Between(ssdid, 0x0140, 0x0148))
                       ? 3
                       : 0;
        case 0x103C:
            return In(ssdid, {0x12D7, 0x1705, 0x7041}) ? 3 : 0;
        case 0x0E11:
            return ssdid == 0x0109 ? 3 : 0;
        default:
            return 0;
    }
}

int isSingleBIOSChipOEM(const SDMDevice* port) {
    if (port == nullptr) return 8;
    const unsigned ssvid = GetNvramSubVendorID(port), ssdid = GetNvramSubSystemID(port);
    const bool match = (ssvid == 0x1014 && In(ssdid, {0x27D, 0x2FB})) || (ssvid == 0x1734 && ssdid == 0x1051) ||
                       (ssvid == 0x8086 && ssdid == 0x34BA) || (ssvid == 0x1749 && ssdid == 0x102) ||
                       (ssvid == 0x1028 && In(ssdid, {0x170, 0x18A}));
    return match ? 12 : 0;
}

int isCNAWithLROptionEnable(const SDMDevice* port) {
    if (port == nullptr || CoreGetISPType(port) != 15) return 0;
    const unsigned ssvid = GetNvramSubVendorID(port), ssdid = GetNvramSubSystemID(port);
    if (ssvid == 0x1077 && In(ssdid, {0x0177, 0x0178, 0x0179, 0x017F, 0x0181, 0x0183, 0x0191})) {
        VORNLogMessage(VORN_MSG_DEBUG, "IBM BladeCenter HBA detected (SSVID/SSDID = 0x%04x/0x%04x)", ssvid, ssdid);
        return 1;
    }
    if ((ssvid == 0x1014 && ssdid == 0x03AF) || (ssvid == 0x1137 && ssdid == 0x0069)) return 1;
    // The long-range option series carries this number in its model name.
    char model[sizeof port->DeviceNodeProperty.Model + 1]{};
    std::memcpy(model, port->DeviceNodeProperty.Model, sizeof port->DeviceNodeProperty.Model);
    return std::strstr(model, "852") != nullptr ? 1 : 0;
}

int Get4GbAnd8GbISPType(const SDMDevice* port) {
    if (port == nullptr || DeviceId(port) != 0x8432) return 0;
    return isIBM8GMezzHBA(port);
}

int GetAdapterType(const SDMDevice* port, char* text, size_t size) {
    if (port == nullptr || text == nullptr || size == 0) return 0;
    if (GetNvramSubVendorID(port) == 0x1028 && GetNvramSubSystemID(port) == 0x170)
        std::snprintf(text, size, "%s", "8432M");
    else
        std::snprintf(text, size, "%x", DeviceId(port));
    return static_cast<int>(std::strlen(text));
}

int GetQoSEnableState(const SDMDevice* /*port*/) { return 0; }
int GetQoSLockState(const SDMDevice* /*port*/) { return 0; }

int updateModelStrForSingleBIOSHBA(SDMDevice* port) {
    if (port == nullptr) return 0;
    const unsigned ssdid = GetNvramSubSystemID(port);
    if (!In(ssdid, {0x2FB, 0x27D, 0x34BA, 0x1051})) return 0;
    if (ssdid == 0x27D) {
        char* model = port->DeviceNodeProperty.Model;
        std::snprintf(model, sizeof port->DeviceNodeProperty.Model, "%s", "FCEC-piva");
    }
    return 1;
}

int UpdateHBAVersionForOEM(SDMDevice* port) {
    if (port == nullptr) return 8;
    const CHIPPROPERTY& chip = port->DeviceChipProperty;
    if (GetNvramSubVendorID(port) != 0x1028 || GetNvramSubSystemID(port) != 0x170 || (chip.PciSlotNumber & 7) != 0)
        return 0;
    for (SDMDevice* other = GetMyDeviceList()->firstDevice; other != nullptr; other = other->next) {
        const CHIPPROPERTY& oc = other->DeviceChipProperty;
        if (other == port || oc.PciBusNumber != chip.PciBusNumber || (oc.PciSlotNumber >> 3) != (chip.PciSlotNumber >> 3) ||
            (oc.PciSlotNumber & 7) != 1)
            continue;
        const SD_UINT8* w = port->DevicePortProperty.WWN;
        VORNLogMessage(VORN_MSG_DEBUG,
                       "Updating BIOS version on HBA (port %d %s wwpn %02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X...",
                       static_cast<int>(port->DeviceNumber), port->DeviceNodeProperty.Model, w[0], w[1], w[2], w[3],
                       w[4], w[5], w[6], w[7]);
        char src[sizeof other->DeviceNodeProperty.OptionRomVersion + 1]{};
        std::memcpy(src, other->DeviceNodeProperty.OptionRomVersion, sizeof other->DeviceNodeProperty.OptionRomVersion);
        char cleaned[sizeof port->DeviceNodeProperty.OptionRomVersion]{};
        CleanStr(src, cleaned, sizeof cleaned);
        std::memcpy(port->DeviceNodeProperty.OptionRomVersion, cleaned, sizeof cleaned);
        std::memcpy(port->DeviceNodeProperty.BIFwVersion, other->DeviceNodeProperty.BIFwVersion,
                    sizeof port->DeviceNodeProperty.BIFwVersion);
        break;
    }
    return 0;
}

#include "mgmt/sim/sim_live.h"

#include <array>
#include <cstdio>
#include <span>

#include "mgmt/sim/sim_flash.h"

namespace {

// BIValid bits the flash decides.
constexpr SD_UINT32 kValidFirmware = 0x01, kValidEfi = 0x02, kValidFcode = 0x04, kValidMpi = 0x20, kValidPep = 0x40;
constexpr int kMaxRomImages = 16;

SD_UINT32 Be32(std::span<const SD_UINT8> b, size_t at) {
    return static_cast<SD_UINT32>(b[at]) << 24 | static_cast<SD_UINT32>(b[at + 1]) << 16 |
           static_cast<SD_UINT32>(b[at + 2]) << 8 | b[at + 3];
}

SD_UINT16 Le16(std::span<const SD_UINT8> b, size_t at) { return static_cast<SD_UINT16>(b[at] | b[at + 1] << 8); }

// Bytes `at` .. `at + out.size()` of a region; false when the region is
// missing or too small for them.
bool ReadIn(const zvsim_adapter& a, SD_UINT32 code, SD_UINT32 at, std::span<SD_UINT8> out) {
    const zvsim_region* r = code == 0 ? nullptr : a.Region(code);
    if (r == nullptr || static_cast<SD_UINT64>(at) + out.size() > r->size) {
        return false;
    }
    return zvsim_flash_read(a, r->offset + at, out) == 0;
}

// The start of a component's region; false when it is not there (missing,
// too small, or erased at its first word).
bool ReadComponent(const zvsim_adapter& a, SD_UINT32 code, std::span<SD_UINT8> out) {
    if (!ReadIn(a, code, 0, out)) {
        return false;
    }
    return !(out[0] == 0xFF && out[1] == 0xFF && out[2] == 0xFF && out[3] == 0xFF);
}

// A firmware header; an older adapter's firmware region may begin with the
// multiboot version block ("ZMBV") instead, which is no header.
bool ReadFirmware(const zvsim_adapter& a, SD_UINT8 set, std::span<SD_UINT8> out) {
    return ReadComponent(a, zvsim_firmware_region(a, set), out) &&
           !(out[0] == 'Z' && out[1] == 'M' && out[2] == 'B' && out[3] == 'V');
}

// Major, minor, subminor: the low bytes of the big-endian words at 16, 20, 24.
std::array<SD_UINT16, 4> WordVersion(std::span<const SD_UINT8> b) {
    return {static_cast<SD_UINT16>(Be32(b, 16) & 0xFF), static_cast<SD_UINT16>(Be32(b, 20) & 0xFF),
            static_cast<SD_UINT16>(Be32(b, 24) & 0xFF), 0};
}

struct RomVersions {
    bool chain = false;
    bool bios = false, efi = false, fcode = false;
    std::array<SD_UINT8, 2> biosVer{}, efiVer{}, fcodeVer{};   // major, minor
};

// Walks the PCI expansion-ROM chain at the start of a boot-code region.
RomVersions WalkRom(const zvsim_adapter& a, SD_UINT32 code) {
    RomVersions v;
    SD_UINT32 at = 0;
    for (int i = 0; i < kMaxRomImages; ++i) {
        std::array<SD_UINT8, 0x1A> header{};
        std::array<SD_UINT8, 0x18> pcir{};
        if (!ReadIn(a, code, at, header) || header[0] != 0x55 || header[1] != 0xAA) {
            break;
        }
        const SD_UINT32 data = at + Le16(header, 0x18);
        if (!ReadIn(a, code, data, pcir) || pcir[0] != 'P' || pcir[1] != 'C' || pcir[2] != 'I' || pcir[3] != 'R') {
            break;
        }
        v.chain = true;
        const std::array<SD_UINT8, 2> version{pcir[0x13], pcir[0x12]};
        switch (pcir[0x14]) {
            case 0:
                if (!v.bios) {
                    v.bios = true;
                    v.biosVer = version;
                }
                break;
            case 1:
                if (!v.fcode) {
                    v.fcode = true;
                    v.fcodeVer = version;
                }
                break;
            case 3:
                if (!v.efi) {
                    v.efi = true;
                    v.efiVer = version;
                }
                break;
            default:
                break;
        }
        const SD_UINT32 length = static_cast<SD_UINT32>(Le16(pcir, 0x10)) * 512;
        if ((pcir[0x15] & 0x80) != 0 || length == 0) {
            break;
        }
        at += length;
    }
    return v;
}

template <class T>
void Pin(T& field, const std::optional<T>& given) {
    if (given) {
        field = *given;
    }
}

}  // namespace

SD_UINT32 zvsim_firmware_region(const zvsim_adapter& a, SD_UINT8 set) {
    switch (a.chipType) {
        case 25:
        case 27:
            return set == 2 ? 0x02 : 0x01;
        case 17:
            return a.chipRevision == 0x54 ? 0x74 : 0x97;
        case 26:
            return 0x97;
        default:
            return 0x01;
    }
}

SD_UINT32 zvsim_mpi_region(const zvsim_adapter& a, SD_UINT8 set) {
    if (a.chipType == 27) {
        return set == 2 ? 0xF0 : 0xD3;
    }
    return a.chipType == 25 ? 0xD3 : 0;
}

SD_UINT32 zvsim_pep_region(const zvsim_adapter& a, SD_UINT8 set) {
    if (a.chipType == 27) {
        return set == 2 ? 0xF1 : 0xD1;
    }
    return a.chipType == 25 ? 0xD1 : 0;
}

SD_UINT32 zvsim_boot_code_region(const zvsim_adapter& a, SD_UINT8 set) {
    return (a.chipType == 25 || a.chipType == 27) && set == 2 ? 0x09 : 0x07;
}

void zvsim_load_running_firmware(const zvsim_adapter& a, SD_UINT8 set, zvsim_live& live) {
    const zvsim_live defaults;
    live.fwAttributes = defaults.fwAttributes;
    live.firmwareVersion = defaults.firmwareVersion;
    live.mpi = defaults.mpi;
    live.pep = defaults.pep;
    std::array<SD_UINT8, 80> b{};
    // Firmware header: revision words at 16, 20, 24; attribute at 28,
    // attributeEx at 36 (big-endian).
    if (ReadFirmware(a, set, std::span(b).first(40))) {
        const std::array<SD_UINT16, 4> v = WordVersion(b);
        char text[32];
        std::snprintf(text, sizeof text, "%u.%02u.%02u", v[0], v[1], v[2]);
        live.firmwareVersion = text;
        live.fwAttributes = static_cast<SD_UINT64>(Be32(b, 36)) << 32 | Be32(b, 28);
    }
    if (ReadComponent(a, zvsim_mpi_region(a, set), std::span(b).first(28))) {
        live.mpi = WordVersion(b);
    }
    if (ReadComponent(a, zvsim_pep_region(a, set), b)) {
        live.pep = {b[79], b[78], b[77], b[76]};
    }
    Pin(live.fwAttributes, a.live.fwAttributes);
    Pin(live.firmwareVersion, a.live.firmwareVersion);
    Pin(live.mpi, a.live.mpi);
    Pin(live.pep, a.live.pep);
}

void zvsim_load_flash_versions(const zvsim_adapter& a, SD_UINT8 set, zvsim_live& live) {
    const zvsim_live defaults;
    live.optionRomVersion = defaults.optionRomVersion;
    live.biValid = defaults.biValid;
    live.biFw = defaults.biFw;
    live.biEfi = defaults.biEfi;
    live.biFcode = defaults.biFcode;
    live.biMpi = defaults.biMpi;
    live.biPep = defaults.biPep;
    std::array<SD_UINT8, 80> b{};
    if (ReadFirmware(a, set, std::span(b).first(40))) {
        live.biFw = WordVersion(b);
        live.biValid |= kValidFirmware;
    }
    if (ReadComponent(a, zvsim_mpi_region(a, set), std::span(b).first(28))) {
        live.biMpi = WordVersion(b);
        live.biValid |= kValidMpi;
    }
    if (ReadComponent(a, zvsim_pep_region(a, set), b)) {
        live.biPep = {b[79], b[78], b[77], b[76]};
        live.biValid |= kValidPep;
    }
    const RomVersions rom = WalkRom(a, zvsim_boot_code_region(a, set));
    if (rom.chain) {
        live.biValid &= ~(kValidEfi | kValidFcode);
        if (rom.bios) {
            char text[32];
            std::snprintf(text, sizeof text, "%u.%02u", rom.biosVer[0], rom.biosVer[1]);
            live.optionRomVersion = text;
        }
        if (rom.efi) {
            live.biEfi = {rom.efiVer[0], rom.efiVer[1], 0, 0};
            live.biValid |= kValidEfi;
        }
        if (rom.fcode) {
            live.biFcode = {rom.fcodeVer[0], rom.fcodeVer[1], 0, 0};
            live.biValid |= kValidFcode;
        }
    }
    Pin(live.optionRomVersion, a.live.optionRomVersion);
    Pin(live.biValid, a.live.biValid);
    Pin(live.biFw, a.live.biFw);
    Pin(live.biEfi, a.live.biEfi);
    Pin(live.biFcode, a.live.biFcode);
    Pin(live.biMpi, a.live.biMpi);
    Pin(live.biPep, a.live.biPep);
}

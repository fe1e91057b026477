// Chip type codes, family predicates, the online-activation version check and
// the preservation of adapter defaults in BIOS images.
#include "core/chip_types.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/core_log.h"
#include "core/oss_services.h"
#include "mgmt/sdapi.h"

namespace {
struct ChipRow {
    SD_UINT16 id;
    int code;
};

// Every id not listed gives the default code; the 8 Gb ids give it on purpose.
constexpr std::array<ChipRow, 51> kChipTable{{
    {0x2100, 0},  {0x2200, 1},  {0x2300, 2},  {0x2310, 3},  {0x2312, 4},  {0x2322, 5},  {0x6312, 6},
    {0x6322, 7},  {0x5422, 8},  {0x5432, 9},  {0x2422, 10}, {0x2432, 11}, {0x2532, 12}, {0x2533, 12},
    {0x8432, 13}, {0x8000, 14}, {0x8001, 15}, {0x8020, 16}, {0x8021, 17}, {0x8022, 18}, {0x8023, 19},
    {0x8030, 20}, {0x8031, 21}, {0x8831, 21}, {0x8032, 22}, {0x8033, 23}, {0x2031, 24}, {0x2831, 24},
    {0x2061, 25}, {0x2071, 25}, {0x2171, 25}, {0x2261, 25}, {0x2271, 25}, {0x2371, 25}, {0x2871, 25},
    {0x2971, 25}, {0x2A61, 25}, {0x2B61, 25}, {0x8041, 26}, {0x8044, 26}, {0x2081, 27}, {0x2089, 27},
    {0x2181, 27}, {0x2189, 27}, {0x2281, 27}, {0x2289, 27}, {0x2381, 27}, {0x2389, 27}, {0x2881, 27},
    {0x2981, 27}, {0x2989, 27},
}};

SD_UINT16 device_id(const SDMDevice* d) { return d->DeviceChipProperty.DeviceID; }

bool id_in(const SDMDevice* d, std::initializer_list<SD_UINT16> ids) {
    if (d == nullptr) return false;
    for (SD_UINT16 id : ids)
        if (device_id(d) == id) return true;
    return false;
}

// Reads leading decimal digits, saturating instead of wrapping.
unsigned long read_decimal(const std::string& text) {
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        const unsigned long digit = static_cast<unsigned long>(c - '0');
        if (value > (~0UL - digit) / 10) return ~0UL;
        value = value * 10 + digit;
    }
    return value;
}

SD_UINT16 le16(std::span<const SD_UINT8> b, size_t at) {
    return static_cast<SD_UINT16>(b[at] | (b[at + 1] << 8));
}

// First position p in [from, last] with "MEISP " at p, or npos; last = size-7
// keeps the search where the marker and one byte after it fit.
size_t find_marker(std::span<const SD_UINT8> b, size_t from) {
    static constexpr char kMarker[] = "MEISP ";
    // The marker counts only with at least one byte after it.
    if (b.size() < 7 || from > b.size() - 7) return std::string::npos;
    // Its first letter is rare in a boot code and memchr skips the rest a
    // vector at a time, far faster than memmem's general search.
    const SD_UINT8* const end = b.data() + b.size() - 6;   // one past the last start
    for (const SD_UINT8* p = b.data() + from; p < end; ++p) {
        p = static_cast<const SD_UINT8*>(std::memchr(p, kMarker[0], static_cast<size_t>(end - p)));
        if (p == nullptr) break;
        if (std::memcmp(p, kMarker, 6) == 0) return static_cast<size_t>(p - b.data());
    }
    return std::string::npos;
}

// Option-ROM checksum: the last byte makes the 8-bit sum of the image zero,
// not counting the byte just before it.
void fix_checksum(std::span<SD_UINT8> image) {
    SD_UINT8 sum = 0;
    for (size_t i = 0; i + 2 < image.size(); ++i) sum = static_cast<SD_UINT8>(sum + image[i]);
    image[image.size() - 1] = static_cast<SD_UINT8>(0x100 - sum);
}

}  // namespace

int CoreGetISPTypeFromDeviceId(SD_UINT16 deviceId) {
    for (const ChipRow& row : kChipTable)
        if (row.id == deviceId) return row.code;
    return ZV_CHIP_TYPE_DEFAULT;
}

int CoreGetISPType(const SDMDevice* device) {
    if (device == nullptr) return 0;
    return CoreGetISPTypeFromDeviceId(device_id(device));
}

int CoreGetISP4GbType(const SDMDevice* device) {
    if (id_in(device, {0x2422, 0x2432})) return 1;
    if (id_in(device, {0x5422, 0x5432})) return 2;
    return 0;
}
int CoreGetISP8GbType(const SDMDevice* device) { return id_in(device, {0x2532, 0x2533}) ? 1 : 0; }
int CoreGetISP16GbType(const SDMDevice* device) { return id_in(device, {0x2031, 0x2831}) ? 1 : 0; }

int CoreGetISP16GbKolbuType(const SDMDevice* device) {
    if (!id_in(device, {0x2031})) return 0;
    const std::span<const SD_UINT8> nvram(device->DeviceCurrentNVRAM);
    const SD_UINT32 ssdid = SDGetVariableValue(device->DeviceHandle, nvram, 128) & 0xFFFF;
    const SD_UINT32 ssvid = SDGetVariableValue(device->DeviceHandle, nvram, 127) & 0xFFFF;
    return (ssdid == 0x0240 && ssvid == 0x1077) ? 1 : 0;
}

int CoreGetISP32GbType(const SDMDevice* device) { return id_in(device, {0x2261, 0x2071}) ? 1 : 0; }
int CoreGetISP64GbType(const SDMDevice* device) {
    return id_in(device, {0x2081, 0x2089, 0x2181, 0x2189, 0x2281, 0x2289, 0x2381, 0x2389, 0x2881}) ? 1 : 0;
}

int CoreGetISPmeloType(const SDMDevice* device) {
    if (device == nullptr) return 0;
    switch (device_id(device)) {
        case 0x8000: return 1;
        case 0x8001: return 2;
        case 0x8020: return 3;
        case 0x8021: return 4;
        case 0x8022: return 5;
        case 0x8023: return 6;
        case 0x8030: return 7;
        case 0x8031:
        case 0x8831: return 8;
        case 0x8032: return 9;
        case 0x8033: return 10;
        default: return 0;
    }
}

int CoreGetCNAType(const SDMDevice* device) {
    if (id_in(device, {0x8432, 0x8001, 0x8021, 0x8031, 0x8831, 0x8044})) return 1;
    if (id_in(device, {0x2432}) && device->DeviceChipProperty.SubVendorID == 0x1137) return 1;
    return 0;
}

int CoreIsAdapterWithEncryption(const SDMDevice* device) {
    if (device == nullptr) return 0;
    const SD_UINT16 ssvid = device->DeviceChipProperty.SubVendorID;
    const SD_UINT16 ssdid = device->DeviceChipProperty.SubSystemID;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreIsAdapterWithEncryption: SSVID/SSDID=0x%04x/0x%04x DeviceISP=0x%04x", ssvid,
                   ssdid, device_id(device));
    if (ssvid != 0x1077) return 0;
    const bool listed = (ssdid >= 0x02E8 && ssdid <= 0x02ED) || ssdid == 0x02EF || ssdid == 0x02F1 ||
                        ssdid == 0x06C5 || ssdid == 0x06C6;
    return listed ? 1 : 0;
}

int CoreIsK7R(const SDMDevice* device) { return id_in(device, {0x8021}) ? 1 : 0; }
int CoreIsTorvi(const SDMDevice* device) { return id_in(device, {0x2031, 0x2831, 0x8031, 0x8831}) ? 1 : 0; }
int CoreIsPemra(const SDMDevice* device) { return id_in(device, {0x8041, 0x8044}) ? 1 : 0; }
int CoreIsSulvo(const SDMDevice* device) { return CoreIsPemra(device); }
int CoreIsBrantix(const SDMDevice* device) { return id_in(device, {0x2061, 0x2261, 0x2A61, 0x2B61}) ? 1 : 0; }
int CoreIsDorne(const SDMDevice* device) {
    if (id_in(device, {0x2071, 0x2171, 0x2271, 0x2371, 0x2871, 0x2971})) return 1;
    return CoreIsBrantix(device);
}
int CoreIsVrel(const SDMDevice* device) {
    return (device != nullptr && CoreGetISPType(device) == ZV_CHIP_TYPE_GEN7_64G) ? 1 : 0;
}

// ---- Host type ----------------------------------------------------------------------------

int CoreIsHostSystemType(const char* text) {
    const char* host = OSSGetHostSystemType();
    return (text != nullptr && host != nullptr && std::strstr(host, text) != nullptr) ? 1 : 0;
}

int CoreIsHostSystemEFISupportedType() {
    return (CoreIsHostSystemType("IA64") || CoreIsHostSystemType("ia64") || CoreIsHostSystemType("Mac OS X i386"))
               ? 1
               : 0;
}

// ---- Online activation: is the library new enough? ------------------------------------

int CoreZOZIRAVersionSupportsOnlineActivation(const char* versionText, const char* hostType) {
    const std::string text = versionText != nullptr ? versionText : "";
    // First word of the text, split at its first '.'.
    const size_t start = text.find_first_not_of(" \t\r\n\f\v");
    const std::string word =
        start == std::string::npos ? std::string() : text.substr(start, text.find_first_of(" \t\r\n\f\v", start) - start);
    const size_t dot = word.find('.');
    std::string major = word.substr(0, dot);
    const std::string minor = dot == std::string::npos ? std::string() : word.substr(dot + 1);
    if (!major.empty()) major.erase(0, 1);  // the leading letter ("v")
    const unsigned long vMajor = read_decimal(major);
    const unsigned long vMinor = read_decimal(minor);

    const bool vmkernel = hostType != nullptr && std::strstr(hostType, "VMkernel") != nullptr;
    const bool supported = vmkernel ? (vMajor > 1 || (vMajor == 1 && vMinor > 2))
                                    : (vMajor > 6 || (vMajor == 6 && vMinor > 3));
    if (supported)
        CoreLogMessage(ZV_MSG_DEBUG, "SecuredFlashUpdateEndProcess: SDOnlineActivateFlashUpdate ZOZIRA supported!\n");
    else
        CoreLogMessage(ZV_MSG_DEBUG,
                       "SecuredFlashUpdateEndProcess: SDOnlineActivateFlashUpdate ZOZIRA not supported! versionMajor = "
                       "%d versionMinor = %d  versionBuild = %d \n",
                       static_cast<int>(vMajor), static_cast<int>(vMinor), 0);
    return supported ? 1 : 0;
}

int CoreIsOnlineFlashUpdateSupportedZOZIRA() {
    std::array<char, 128> version{};
    const SD_UINT32 number = SDGetVersion(std::span<char>(version.data(), version.size() - 1));
    if (version[0] == '\0') {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreIsOnlineFlashUpdateSupportedZOZIRA: SDGetVersion failed status = %lx\n",
                       static_cast<unsigned long>(number));
        return 0;
    }
    return CoreZOZIRAVersionSupportsOnlineActivation(version.data(), OSSGetHostSystemType());
}

// ---- Adapter defaults in a new BIOS image ----------------------------------------------

int CorePreserveISPDefaults(const SDMDevice* device, std::span<const SD_UINT8> biosOriBuf,
                            std::span<SD_UINT8> buffer) {
    if (CoreGetISPType(device) < ZV_CHIP_TYPE_DEFAULT) return -1;
    const size_t size = buffer.size();
    const size_t adapterMarker = find_marker(biosOriBuf, 0);
    const bool adapterHasSvid = biosOriBuf.size() >= 34 && std::memcmp(biosOriBuf.data() + 28, "SVID", 4) == 0;

    // The chain is walked as it was handed over before any byte changes: a
    // copied block must not redirect the walk (a PCI data structure or the
    // next image's header may lie under it). A broken chain changes nothing.
    struct BiosImage {
        size_t off, length;
    };
    std::vector<BiosImage> images;
    size_t off = 0;
    for (bool first = true;; first = false) {
        // The image header and the PCI data structure it points to must lie in the buffer.
        if (off > size || size - off < 0x1A) {
            CoreLogMessage(ZV_MSG_ERROR, "Image header at offset %zu lies outside the boot code.\n", off);
            return -1;
        }
        const size_t pcir = off + le16(buffer, off + 0x18);
        if (pcir > size || size - pcir < 0x16) {
            CoreLogMessage(ZV_MSG_ERROR, "PCI data structure at offset %zu lies outside the boot code.\n", pcir);
            return -1;
        }
        if (buffer[pcir + 0x14] == 0) {
            const size_t length = static_cast<size_t>(buffer[off + 2]) * 512;
            CoreLogMessage(ZV_MSG_DEBUG, first ? "initial BIOS Image size is %d.\n" : "next BIOS Image size is %d.\n",
                           static_cast<int>(length));
            if (length == 0 || length > size - off) {
                CoreLogMessage(ZV_MSG_ERROR,
                               first ? "Skipping initial image with length %d.\n" : "Skipping next image with length %d.\n",
                               static_cast<int>(length));
                return -1;
            }
            images.push_back({off, length});
        }
        if ((buffer[pcir + 0x15] & 0x80) != 0) break;
        const size_t next = static_cast<size_t>(le16(buffer, pcir + 0x10)) * 512;
        if (next == 0) {
            CoreLogMessage(ZV_MSG_ERROR, "Image at offset %zu has length 0 and is not the last one.\n", off);
            return -1;
        }
        // A BIOS image that the next image starts inside would have its
        // checksum broken by that image's own patch.
        if (!images.empty() && images.back().off == off && next < images.back().length) {
            CoreLogMessage(ZV_MSG_ERROR, "Image at offset %zu overlaps the next image.\n", off);
            return -1;
        }
        off += next;
    }

    for (const BiosImage& bios : images) {
        const std::span<SD_UINT8> image = buffer.subspan(bios.off, bios.length);
        bool changed = false;
        if (adapterHasSvid && bios.length >= 34 && std::memcmp(image.data() + 28, "SVID", 4) == 0) {
            for (size_t i = 32; i < 34; ++i)
                if (image[i] != biosOriBuf[i]) {
                    image[i] = biosOriBuf[i];
                    changed = true;
                }
        }
        const size_t newMarker = find_marker(buffer, bios.off);
        if (adapterMarker != std::string::npos && newMarker != std::string::npos) {
            const size_t from = adapterMarker + 2;  // the "ISP " part
            const size_t to = newMarker + 2;
            // A defaults block cut short by the end of either buffer is not copied; nor is
            // one that does not lie inside this image (a later image's marker, or a block
            // running past the image's end): only this image's checksum is fixed here.
            if (to + 512 > bios.off + bios.length) {
                CoreLogMessage(ZV_MSG_WARNING, "Defaults block at offset %zu lies outside this image; not copied.\n",
                               to);
            } else if (biosOriBuf.size() - from >= 512 && size - to >= 512) {
                if (std::memcmp(buffer.data() + to, biosOriBuf.data() + from, 512) != 0) {
                    std::memmove(buffer.data() + to, biosOriBuf.data() + from, 512);
                    changed = true;
                }
            } else {
                CoreLogMessage(ZV_MSG_WARNING, "Defaults block after the marker is cut short; not copied.\n");
            }
        }
        if (changed) fix_checksum(image);
    }
    return 0;
}

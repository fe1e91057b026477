// Reading and rewriting the flash memo block.
#include "image/flash_memo_block.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "core/active_regions.h"
#include "core/chip_types.h"
#include "core/core_log.h"
#include "frontend/checksum.h"
#include "frontend/output.h"
#include "image/region_io.h"

namespace {

constexpr char kSignature[4] = {'F', 'M', 'B', 'S'};
constexpr char kToolId[4] = {'T', 'R', 'M', 'B'};

SD_UINT32 GetLE32(std::span<const SD_UINT8> b, std::size_t off) {
    return SD_UINT32{b[off]} | SD_UINT32{b[off + 1]} << 8 | SD_UINT32{b[off + 2]} << 16 |
           SD_UINT32{b[off + 3]} << 24;
}

void PutLE32(std::span<SD_UINT8> b, std::size_t off, SD_UINT32 v) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<SD_UINT8>(v >> (8 * i));
}

SBigVersion DecodeVersion(std::span<const SD_UINT8> b, std::size_t off) {
    return SBigVersion{b[off], b[off + 1], b[off + 2], b[off + 3]};
}

void EncodeVersion(std::span<SD_UINT8> b, std::size_t off, const SBigVersion& v) {
    b[off] = v.major;
    b[off + 1] = v.minor;
    b[off + 2] = v.sub;
    b[off + 3] = v.build;
}

void LogBlock(const SFlashMemoBlock& m) {
    VORNLogMessage(VORN_MSG_DEBUG,
                   "FlashMemoBlock: length=%u version=%u checksum=0x%08x ffv=%d.%02d.%02d.%02d mbi=%02d.%02d.%02d.%02d "
                   "built=%.8s tool=%.4s updated=%04d-%02d-%02d %02d:%02d:%02d",
                   m.length, m.version, m.checksum, m.ffv_ver.major, m.ffv_ver.minor, m.ffv_ver.sub,
                   m.ffv_ver.build, m.mbi_ver.major, m.mbi_ver.minor, m.mbi_ver.sub, m.mbi_ver.build, m.bld_time,
                   m.tool_id, m.upd_time.year, m.upd_time.month, m.upd_time.day, m.upd_time.hour,
                   m.upd_time.minute, m.upd_time.second);
}

}  // namespace

bool FlashMemoBlockDecode(std::span<const SD_UINT8> b, SFlashMemoBlock* p) {
    if (p == nullptr || b.size() < FLASH_MEMO_BLOCK_SIZE) return false;
    SFlashMemoBlock m{};
    std::memcpy(m.signature, b.data(), 4);
    m.length = GetLE32(b, 4);
    m.version = GetLE32(b, 8);
    m.checksum = GetLE32(b, 12);
    m.ffv_ver = DecodeVersion(b, 16);
    m.mbi_ver = DecodeVersion(b, 20);
    std::memcpy(m.bld_time, b.data() + 24, 8);
    std::memcpy(m.tool_id, b.data() + 32, 4);
    m.upd_time.year = static_cast<SD_UINT16>(b[36] | b[37] << 8);
    m.upd_time.month = b[38];
    m.upd_time.day = b[39];
    m.upd_time.hour = b[40];
    m.upd_time.minute = b[41];
    m.upd_time.second = b[42];
    m.upd_time.reserved = b[43];
    m.tool_version = DecodeVersion(b, 44);
    *p = m;
    return true;
}

bool FlashMemoBlockEncode(const SFlashMemoBlock& m, std::span<SD_UINT8> b) {
    if (b.size() < FLASH_MEMO_BLOCK_SIZE) return false;
    std::memcpy(b.data(), m.signature, 4);
    PutLE32(b, 4, m.length);
    PutLE32(b, 8, m.version);
    PutLE32(b, 12, m.checksum);
    EncodeVersion(b, 16, m.ffv_ver);
    EncodeVersion(b, 20, m.mbi_ver);
    std::memcpy(b.data() + 24, m.bld_time, 8);
    std::memcpy(b.data() + 32, m.tool_id, 4);
    b[36] = static_cast<SD_UINT8>(m.upd_time.year);
    b[37] = static_cast<SD_UINT8>(m.upd_time.year >> 8);
    b[38] = m.upd_time.month;
    b[39] = m.upd_time.day;
    b[40] = m.upd_time.hour;
    b[41] = m.upd_time.minute;
    b[42] = m.upd_time.second;
    b[43] = m.upd_time.reserved;
    EncodeVersion(b, 44, m.tool_version);
    return true;
}

int VerifyChecksum32Bit(std::span<const SD_UINT8> pBuffer, SD_UINT32 len) {
    if (pBuffer.empty()) return 40;
    if (len == 0 || std::size_t{len} * 4 > pBuffer.size()) return 29;
    SD_UINT32 sum = 0;
    for (SD_UINT32 i = 0; i < len; ++i) sum += GetLE32(pBuffer, std::size_t{i} * 4);
    return sum == 0 ? 0 : 25;
}

int isCorrectFlashMemoBlockSignature(std::span<const SD_UINT8> pBuffer) {
    if (pBuffer.size() < sizeof kSignature || std::memcmp(pBuffer.data(), kSignature, sizeof kSignature) != 0) {
        return 0;
    }
    // The checksum is only reported: a block with the signature counts as valid.
    if (pBuffer.size() >= FLASH_MEMO_BLOCK_SIZE) {
        const int st = VerifyChecksum32Bit(pBuffer.first(FLASH_MEMO_BLOCK_SIZE), FLASH_MEMO_BLOCK_WORDS);
        VORNLogMessage(VORN_MSG_DEBUG, "isCorrectFlashMemoBlockSignature: Checksum %s",
                       st == 0 ? "OK" : "mismatch");
    }
    return 1;
}

SD_UINT32 GetFlashMemoBlockReadRegion(SDMDevice* pDevice) {
    const int chip = CoreGetISPType(pDevice);
    if (chip < 24) return 0;
    if (chip == 24) return FLASH_MEMO_REGION_CHIP24;
    if (chip == 27) {
        SD_ACTIVE_REGIONS regions{};
        if (CoreGetActiveRegions(pDevice, &regions) == 0 && regions.ActiveGlobalRegions != 1) {
            return FLASH_MEMO_REGION_ALT;
        }
    }
    return FLASH_MEMO_REGION;
}

SD_UINT32 GetFlashMemoBlockWriteRegion(const SDMDevice* pDevice) {
    return CoreGetISPType(pDevice) == 24 ? FLASH_MEMO_REGION_CHIP24 : FLASH_MEMO_REGION;
}

int GetAdapterFlashMemoBlock(SDMDevice* pDevice, SFlashMemoBlock* pFlashRecord) {
    if (pDevice == nullptr) return FLASH_MEMO_NO_DEVICE;
    if (pFlashRecord == nullptr) return FLASH_MEMO_NULL_RECORD;
    return GetFlashMemoBlockOfRegion(pDevice, GetFlashMemoBlockReadRegion(pDevice), pFlashRecord);
}

SD_UINT32 GetFlashMemoBlockNextBootRegion(SDMDevice* pDevice) {
    if (pDevice == nullptr || CoreGetISPType(pDevice) != 27) return 0;
    SD_ACTIVE_REGIONS running{};
    ACTIVE_REGIONS next{};
    if (CoreGetActiveRegions(pDevice, &running) != 0 || CoreGetAdapterFlashActiveRegions(pDevice, &next) != 0) return 0;
    if (next.ActiveGlobalRegions == running.ActiveGlobalRegions) return 0;
    return GetFlashMemoBlockRegionOfSet(next.ActiveGlobalRegions);
}

int GetFlashMemoBlockOfRegion(SDMDevice* pDevice, SD_UINT32 region, SFlashMemoBlock* pFlashRecord) {
    if (pDevice == nullptr) return FLASH_MEMO_NO_DEVICE;
    if (pFlashRecord == nullptr) return FLASH_MEMO_NULL_RECORD;
    if (region == 0) return FLASH_MEMO_UNSUPPORTED_CHIP;

    SD_UINT32 size = 0;
    const SD_UINT32 st = GetOptionROMRegionSize(pDevice, region, &size);
    if (st != 0) return static_cast<int>(st);
    // A region that cannot hold a block holds none: the caller's record is
    // not to be taken for the adapter's.
    if (size < FLASH_MEMO_BLOCK_SIZE) return FLASH_MEMO_NO_SIGNATURE;

    std::vector<SD_UINT8> buffer;
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return FLASH_MEMO_NULL_RECORD;
    }
    SD_UINT32 got = 0;
    if (GetOptionROMRegionData(pDevice, buffer, region, &got) != 0) return FLASH_MEMO_READ_FAILED;
    if (got < FLASH_MEMO_BLOCK_SIZE || isCorrectFlashMemoBlockSignature(buffer) == 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "GetAdapterFlashMemoBlock: No memo block in region 0x%x of HBA %d", region,
                       pDevice->DeviceNumber);
        return FLASH_MEMO_NO_SIGNATURE;
    }
    FlashMemoBlockDecode(buffer, pFlashRecord);
    LogBlock(*pFlashRecord);
    return FLASH_MEMO_SUCCESS;
}

int UpdateFlashMemoBlockData(SDMDevice* pDevice, std::span<SD_UINT8> pBuffer, const MultibootVersions* pVersion) {
    if (pDevice == nullptr) return -1;
    if (pBuffer.size() < FLASH_MEMO_BLOCK_SIZE) return FLASH_MEMO_NULL_RECORD;

    std::vector<SD_UINT8> copy;
    try {
        copy.assign(pBuffer.begin(), pBuffer.end());
    } catch (const std::bad_alloc&) {
        VORNLogMessage(VORN_MSG_DEBUG, "UpdateFlashMemoBlockData: Out of memory");
        return -1;
    }
    SFlashMemoBlock m{};
    if (std::memcmp(copy.data(), kSignature, sizeof kSignature) == 0) {
        FlashMemoBlockDecode(copy, &m);
        LogBlock(m);
    } else {
        // No block yet: the region starts erased with a fresh header.
        std::fill(copy.begin(), copy.end(), SD_UINT8{0xFF});
        FlashMemoBlockDecode(copy, &m);
        std::memcpy(m.signature, kSignature, sizeof kSignature);
        m.length = FLASH_MEMO_BLOCK_WORDS;
        m.version = FLASH_MEMO_BLOCK_VERSION;
    }
    if (pVersion != nullptr) {
        m.mbi_ver.major = pVersion->NewMultibootVersionMajor;
        m.mbi_ver.minor = pVersion->NewMultibootVersionMinor;
        m.mbi_ver.sub = pVersion->NewMultibootVersionSubMinor;
        m.ffv_ver.major = pVersion->NewFFVersionMajor;
        m.ffv_ver.minor = pVersion->NewFFVersionMinor;
        m.ffv_ver.sub = pVersion->NewFFVrsionSubBuild;
        m.ffv_ver.build = pVersion->NewFFVrsionBuild;
        char date[16];
        std::snprintf(date, sizeof date, "%04d%02d%02d", pVersion->ImageBuildYear % 10000,
                      pVersion->ImageBuildMonth % 100, pVersion->ImageBuildDay % 100);
        std::memcpy(m.bld_time, date, sizeof m.bld_time);
    }
    std::memcpy(m.tool_id, kToolId, sizeof kToolId);
    m.tool_version = SBigVersion{1, 1, 1, 0};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr) {
        m.upd_time.year = static_cast<SD_UINT16>(local.tm_year + 1900);
        m.upd_time.month = static_cast<SD_UINT8>(local.tm_mon + 1);
        m.upd_time.day = static_cast<SD_UINT8>(local.tm_mday);
        m.upd_time.hour = static_cast<SD_UINT8>(local.tm_hour);
        m.upd_time.minute = static_cast<SD_UINT8>(local.tm_min);
        m.upd_time.second = static_cast<SD_UINT8>(local.tm_sec);
    }
    m.checksum = 0;
    FlashMemoBlockEncode(m, copy);
    ComputeChecksum32(std::span<SD_UINT8>(copy).first(FLASH_MEMO_BLOCK_SIZE), 12, 1);
    std::copy(copy.begin(), copy.end(), pBuffer.begin());
    return 0;
}

namespace {

// Writes the whole region and reads it back: a write that answers success but
// stored other bytes would leave a block whose versions nobody can read.
// `pAnswer` (may be null) gets the library's answer to a write that failed.
// The adapter is reset after the write unless `disableReset`.
bool WriteAndReadBack(SDMDevice* pDevice, SD_UINT32 region, std::span<SD_UINT8> buffer, SD_UINT16 disableReset,
                      SD_UINT32* pAnswer = nullptr) {
    const SD_UINT32 size = static_cast<SD_UINT32>(buffer.size());
    const SD_UINT32 st = AppUpdateOptionRomEx3(pDevice, buffer, region, size, &disableReset);
    if (st != SDERR_SUCCESS && st != SDERR_FLASHED_NOT_ACTIVATED) {
        if (pAnswer != nullptr) *pAnswer = st;
        return false;
    }
    std::vector<SD_UINT8> stored;
    try {
        stored.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    SD_UINT32 got = 0;
    return GetOptionROMRegionData(pDevice, stored, region, &got) == 0 && got == size &&
           std::equal(stored.begin(), stored.end(), buffer.begin());
}

// Reads the region (or takes it as `found` holds it), rewrites its block and
// writes the whole region back, with the progress item on the output file.
int WriteFlashMemoBlockRegion(SDMDevice* pDevice, SD_UINT32 region, const MultibootVersions* pVersion,
                              std::span<const SD_UINT8> found = {}, SD_UINT32* pAnswer = nullptr) {
    if (pAnswer != nullptr) *pAnswer = 0;
    scfxDiagnosticsPrint("Updating Adapter Flash Memo Block... ");
    auto fail = [] {
        scfxPrint("Failed");
        return FLASH_MEMO_WRITE_FAILED;
    };
    SD_UINT32 size = 0;
    if (GetOptionROMRegionSize(pDevice, region, &size) != 0 || size < FLASH_MEMO_BLOCK_SIZE) return fail();
    std::vector<SD_UINT8> buffer;
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return fail();
    }
    if (!found.empty()) {
        if (found.size() != size) return fail();
        std::copy(found.begin(), found.end(), buffer.begin());
    } else if (SD_UINT32 got = 0; GetOptionROMRegionData(pDevice, buffer, region, &got) != 0 || got != size) {
        return fail();
    }
    if (UpdateFlashMemoBlockData(pDevice, buffer, pVersion) != 0) return fail();
    if (!WriteAndReadBack(pDevice, region, buffer, 0, pAnswer)) return fail();
    scfxPrint("Success");
    return 0;
}

}  // namespace

int UpdateFlashMemoBlockRegion(SDMDevice* pDevice, const MultibootVersions* pVersion) {
    if (pDevice == nullptr) return FLASH_MEMO_NO_DEVICE;
    return WriteFlashMemoBlockRegion(pDevice, GetFlashMemoBlockWriteRegion(pDevice), pVersion);
}

bool FlashMemoBlockClearVersion(std::span<SD_UINT8> region) {
    SFlashMemoBlock m{};
    if (!FlashMemoBlockDecode(region, &m) || std::memcmp(m.signature, kSignature, sizeof kSignature) != 0 ||
        (m.mbi_ver.major == 0 && m.mbi_ver.minor == 0 && m.mbi_ver.sub == 0)) {
        return false;
    }
    m.mbi_ver.major = m.mbi_ver.minor = m.mbi_ver.sub = 0;
    m.checksum = 0;
    FlashMemoBlockEncode(m, region);
    ComputeChecksum32(region.first(FLASH_MEMO_BLOCK_SIZE), 12, 1);
    return true;
}

int ClearFlashMemoBlockVersion(SDMDevice* pDevice, std::vector<SD_UINT8>* pFound, SD_UINT32* pAnswer) {
    if (pDevice == nullptr || pFound == nullptr) return FLASH_MEMO_NO_DEVICE;
    pFound->clear();
    if (pAnswer != nullptr) *pAnswer = 0;
    const SD_UINT32 region = GetFlashMemoBlockWriteRegion(pDevice);
    auto fail = [&](const char* what) {
        VORNLogMessage(VORN_MSG_ERROR, "ClearFlashMemoBlockVersion: Region 0x%x of HBA %d %s", region,
                       pDevice->DeviceNumber, what);
        scfxDiagnosticsPrint("Updating Adapter Flash Memo Block... ");
        scfxPrint("Failed");
        return FLASH_MEMO_WRITE_FAILED;
    };
    // A region the layout lacks, or too small to hold a block, names no
    // version; one that is there but cannot be read may name any (below).
    SDMOptRomLayoutCopy layout;
    SD_UINT32 size = 0;
    const SD_UINT32 laidOut = GetOptionRomRegionLayout(pDevice, &layout, region, &size);
    if (laidOut == REGIO_BUFFER_FAILED) return fail("has no buffer");
    if (laidOut != 0 || size < FLASH_MEMO_BLOCK_SIZE) return 0;
    std::vector<SD_UINT8> found, cleared;
    try {
        found.assign(size, 0);
        cleared.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return fail("has no buffer");
    }
    // Unread, the block may name any version: the update writes nothing.
    if (SD_UINT32 got = 0; GetOptionROMRegionData(pDevice, found, region, &got) != 0 || got != size)
        return fail("cannot be read");
    std::copy(found.begin(), found.end(), cleared.begin());
    if (!FlashMemoBlockClearVersion(cleared)) return 0;
    // No reset here: the update's own writes follow.
    if (!WriteAndReadBack(pDevice, region, cleared, 1, pAnswer)) return fail("not written");
    VORNLogMessage(VORN_MSG_DEBUG, "ClearFlashMemoBlockVersion: Region 0x%x names no version until the update ends",
                   region);
    *pFound = std::move(found);
    return 0;
}

int UpdateFlashMemoBlockRegionFrom(SDMDevice* pDevice, std::span<const SD_UINT8> found,
                                   const MultibootVersions* pVersion) {
    if (pDevice == nullptr) return FLASH_MEMO_NO_DEVICE;
    return WriteFlashMemoBlockRegion(pDevice, GetFlashMemoBlockWriteRegion(pDevice), pVersion, found);
}

SD_UINT32 GetFlashMemoBlockRegionOfSet(SD_UINT32 iRegionSet) {
    if (iRegionSet == 1) return FLASH_MEMO_REGION;
    if (iRegionSet == 2) return FLASH_MEMO_REGION_ALT;
    return 0;
}

int UpdateVrelFlashMemoBlockRegion(SDMDevice* pDevice, const FlashComponentVersion* pFlashImageComponents,
                                   SD_UINT32 iRegionSet, std::span<const SD_UINT8> found, SD_UINT32* pAnswer) {
    if (pAnswer != nullptr) *pAnswer = 0;
    if (pDevice == nullptr || CoreGetISPType(pDevice) < 25) return FLASH_MEMO_NO_DEVICE;
    const SD_UINT32 region = GetFlashMemoBlockRegionOfSet(iRegionSet);
    if (region == 0) {
        VORNLogMessage(VORN_MSG_ERROR, "UpdateVrelFlashMemoBlockRegion: No image set %u on HBA %d", iRegionSet,
                       pDevice->DeviceNumber);
        return FLASH_MEMO_NO_DEVICE;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "UpdateVrelFlashMemoBlockRegion: Set %u, region 0x%x", iRegionSet, region);
    if (pFlashImageComponents == nullptr) return WriteFlashMemoBlockRegion(pDevice, region, nullptr, found, pAnswer);

    const FlashComponentVersion& c = *pFlashImageComponents;
    MultibootVersions v{};
    v.NewMultibootVersionMajor = c.ImageMajorVersion;
    v.NewMultibootVersionMinor = c.ImageMinorVersion;
    v.NewMultibootVersionSubMinor = c.ImageSubMinorVersion;
    v.NewFFVersionMajor = c.FFVMajorVersion;
    v.NewFFVersionMinor = c.FFVMinorVersion;
    v.NewFFVrsionSubBuild = c.FFVSubMinorVersion;
    v.NewFFVrsionBuild = c.FFVBuildVersion;
    v.ImageBuildYear = c.ImageBuildYear;
    v.ImageBuildMonth = c.ImageBuildMonth;
    v.ImageBuildDay = c.ImageBuildDay;
    return WriteFlashMemoBlockRegion(pDevice, region, &v, found, pAnswer);
}

void GetAbbreviationNameOfMonth(int IdxMonth, std::span<char> pAbbrNameOfMonth) {
    static constexpr const char* kMonths[] = {"Jan.", "Feb.", "Mar.",  "Apr.", "May",  "June",
                                              "July", "Aug.", "Sept.", "Oct.", "Nov.", "Dec."};
    if (pAbbrNameOfMonth.empty()) return;
    const char* name = IdxMonth >= 1 && IdxMonth <= 12 ? kMonths[IdxMonth - 1] : "";
    std::snprintf(pAbbrNameOfMonth.data(), pAbbrNameOfMonth.size(), "%s", name);
}

// Host description, FC board-configuration preservation, PLDM package
// recognition, lockdown state and driver-attribute tests.
#include "core/host_info.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <strings.h>

#include "core/chip_types.h"
#include "core/core_log.h"
#include "core/image_status.h"
#include "core/oss_services.h"
#include "mgmt/fo_api.h"
#include "mgmt/sdapi.h"

namespace {

template <size_t N>
void CopyText(char (&field)[N], const char* text, size_t limit = N) {
    std::memset(field, 0, N);
    if (text == nullptr) return;
    const size_t n = strnlen(text, std::min(limit, N - 1));
    std::memcpy(field, text, n);
}

SD_UINT32 GetLE32(std::span<const SD_UINT8> b, size_t off) {
    return SD_UINT32{b[off]} | SD_UINT32{b[off + 1]} << 8 | SD_UINT32{b[off + 2]} << 16 | SD_UINT32{b[off + 3]} << 24;
}

SD_UINT16 GetLE16(std::span<const SD_UINT8> b, size_t off) {
    return static_cast<SD_UINT16>(b[off] | b[off + 1] << 8);
}

void PutLE16(std::span<SD_UINT8> b, size_t off, SD_UINT16 v) {
    b[off] = static_cast<SD_UINT8>(v);
    b[off + 1] = static_cast<SD_UINT8>(v >> 8);
}

// The driver's feature word, where the driver property record carries one.
template <typename T>
SD_UINT32 DriverAttributes(const T& property) {
    if constexpr (requires { property.Attributes; }) {
        return static_cast<SD_UINT32>(property.Attributes);
    } else {
        return 0;
    }
}

int DriverAttributeBit(const SDMDevice* device, int bit) {
    if (device == nullptr) return 0;
    return (DriverAttributes(device->DeviceDriverProperty) >> bit) & 1U;
}

constexpr std::string_view kPldmIdentifier = "F018878CCB7D49439800A02F059ACA02";
constexpr size_t kPldmIdLength = 16;
constexpr size_t kPldmOffRevision = 16;
constexpr size_t kPldmOffHeaderSize = 17;
constexpr size_t kPldmOffDate = 19;
constexpr size_t kPldmDateLength = 13;
constexpr size_t kPldmOffBitmapLength = 32;
constexpr size_t kPldmOffVersionType = 34;
constexpr size_t kPldmOffVersionLength = 35;

// The identifier as hex text, or empty when the buffer is too short to hold it.
std::string PldmIdentifierText(std::span<const SD_UINT8> buffer) {
    if (buffer.size() < kPldmIdLength) return {};
    std::string text;
    char pair[3];
    for (size_t i = 0; i < kPldmIdLength; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", buffer[i]);
        text += pair;
    }
    return text;
}

bool IsPldmIdentifier(const std::string& text) {
    return text.size() == kPldmIdentifier.size() && strncasecmp(text.c_str(), kPldmIdentifier.data(), text.size()) == 0;
}

// A package must hold its header: the fixed part and as much as the header size
// says; a header size below the fixed part cannot be a header (skipping it would
// hand header bytes to the image code).
bool HeaderFits(std::span<const SD_UINT8> buffer, SD_UINT16 headerSize) {
    return buffer.size() >= PLDM_HEADER_FIXED_SIZE && headerSize >= PLDM_HEADER_FIXED_SIZE &&
           headerSize <= buffer.size();
}

}  // namespace

HostInformationPtr CreateNewHostInformation() {
    HostInformationPtr record(new (std::nothrow) HostInformation());
    return record;
}

int DeleteHostInformation(HostInformationPtr& record) {
    if (!record) return -1;
    record.reset();
    return 0;
}

int GetHostInformation(HostInformation* record) {
    if (record == nullptr) return -1;
    CopyText(record->HostName, OSSGetHostName());
    CopyText(record->HostType, OSSGetHostSystemType());
    CopyText(record->HostVersion, OSSGetHostSystemVersion());
    CopyText(record->AgentVersion, OSSGetAgentVersion());

    SDGetVersion(record->ZozIraVersion);
    record->ZozIraVersion[sizeof record->ZozIraVersion - 1] = '\0';

    const SDMDeviceList* list = GetDeviceList();
    const SDMDevice* first = list != nullptr ? list->firstDevice : nullptr;
    if (first != nullptr) {
        SD_UINT32 capability = 0;
        ISDFoGetFoCapability(first->DeviceHandle, &capability);
        record->FoApiCapabilities = capability;
        ISDFoGetApiVersion(record->FoApiVersion);
        record->FoApiVersion[sizeof record->FoApiVersion - 1] = '\0';
        FODRIVERVERSION driverVersion{};
        ISDFoGetFoDriverVersion(first->DeviceHandle, &driverVersion);
        CopyText(record->FoDriverVersion, driverVersion.Version, sizeof driverVersion.Version);
    } else {
        std::array<char, 255> work{};
        ISDFoGetApiVersion(work);
        work.back() = '\0';
        CopyText(record->FoApiVersion, work.data());
    }
    record->bViewVyPortName = 1;
    return 0;
}

int CorePreserveFCBrdCfgBuffers(int chipType, SD_UINT16 subVendorId, SD_UINT16 subSystemId,
                                std::span<const SD_UINT8> adapterBuffer, std::span<SD_UINT8> fileBuffer) {
    CoreLogMessage(ZV_MSG_DEBUG, "CorePreserveFCBrdCfgData: Enter...");
    auto done = [](int result) {
        CoreLogMessage(ZV_MSG_DEBUG, "CorePreserveFCBrdCfgData: return %d", result);
        return result;
    };
    if (chipType < 25) {
        CoreLogMessage(ZV_MSG_DEBUG, "CorePreserveFCBrdCfgData: Unsupported operation");
        return done(-1);
    }
    // Every carried field and the header must lie inside both buffers.
    if (adapterBuffer.size() < FC_BRDCFG_MIN_SIZE || fileBuffer.size() < FC_BRDCFG_MIN_SIZE) {
        CoreLogMessage(ZV_MSG_DEBUG, "CorePreserveFCBrdCfgData: Buffer too short (adapter %zu, file %zu)!",
                       adapterBuffer.size(), fileBuffer.size());
        return done(-1);
    }
    const std::span<const SD_UINT8> file(fileBuffer);
    CoreLogMessage(ZV_MSG_DEBUG, "CorePreserveFCBrdCfgData: Adapter signature=0x%08x version=%d.%d.%d.%d length=%u",
                   GetLE32(adapterBuffer, FC_BRDCFG_OFF_SIGNATURE), adapterBuffer[7], adapterBuffer[6],
                   adapterBuffer[5], adapterBuffer[4], GetLE32(adapterBuffer, FC_BRDCFG_OFF_LENGTH));
    CoreLogMessage(ZV_MSG_DEBUG,
                   "CorePreserveFCBrdCfgData: File signature=0x%08x version=%d.%d.%d.%d length=%u checksum=0x%08x",
                   GetLE32(file, FC_BRDCFG_OFF_SIGNATURE), file[7], file[6], file[5], file[4],
                   GetLE32(file, FC_BRDCFG_OFF_LENGTH), GetLE32(file, FC_BRDCFG_OFF_CHECKSUM));
    if (GetLE32(file, FC_BRDCFG_OFF_SIGNATURE) != FC_BRDCFG_SIGNATURE) {
        CoreLogMessage(ZV_MSG_DEBUG, "CorePreserveFCBrdCfgData: Signature not match!");
        return done(-1);
    }
    // The checksum covers the length field's words: they must hold the header and fit the buffer.
    const uint64_t covered = uint64_t{GetLE32(file, FC_BRDCFG_OFF_LENGTH)} * 4;
    if (covered < FC_BRDCFG_OFF_CHECKSUM + 4 || covered > fileBuffer.size()) {
        CoreLogMessage(ZV_MSG_DEBUG, "CorePreserveFCBrdCfgData: Data length %llu beyond the buffer (%zu)!",
                       static_cast<unsigned long long>(covered), fileBuffer.size());
        return done(-1);
    }

    fileBuffer[FC_BRDCFG_OFF_SFP_POLL_TIME] = adapterBuffer[FC_BRDCFG_OFF_SFP_POLL_TIME];
    fileBuffer[FC_BRDCFG_OFF_SFP_POLL_ENABLE] = static_cast<SD_UINT8>(
        (fileBuffer[FC_BRDCFG_OFF_SFP_POLL_ENABLE] & ~0x01) | (adapterBuffer[FC_BRDCFG_OFF_SFP_POLL_ENABLE] & 0x01));
    for (size_t port = 0; port < 4; ++port) {
        fileBuffer[FC_BRDCFG_OFF_BBCR[port]] = adapterBuffer[FC_BRDCFG_OFF_BBCR[port]];
        const size_t fec = FC_BRDCFG_OFF_FEC[port];
        fileBuffer[fec] = static_cast<SD_UINT8>((fileBuffer[fec] & ~0x02) | (adapterBuffer[fec] & 0x02));
    }

    PutLE16(fileBuffer, FC_BRDCFG_OFF_SSVID, subVendorId);
    PutLE16(fileBuffer, FC_BRDCFG_OFF_SSDID, subSystemId);
    const auto size = static_cast<SD_UINT32>(covered);
    CoreCalculateChecksum32(fileBuffer, size, FC_BRDCFG_OFF_CHECKSUM);
    const int result = CoreValidateChecksum32(fileBuffer, size);
    if (result == 0) {
        CoreLogMessage(ZV_MSG_DEBUG, "CorePreserveFCBrdCfgData: Checksum OK (%d).", result);
    } else {
        CoreLogMessage(ZV_MSG_DEBUG, "CorePreserveFCBrdCfgData: Checksum error (%d)!", result);
    }
    return done(result);
}

int CorePreserveFCBrdCfgData(const SDMDevice* device, std::span<const SD_UINT8> adapterBuffer,
                             std::span<SD_UINT8> fileBuffer) {
    if (device == nullptr) return -1;
    return CorePreserveFCBrdCfgBuffers(CoreGetISPType(device), device->DeviceChipProperty.SubVendorID,
                                       device->DeviceChipProperty.SubSystemID, adapterBuffer, fileBuffer);
}

SD_UINT32 CoreGetPLDMFwImageHeaderSize(std::span<const SD_UINT8> buffer) {
    const std::string id = PldmIdentifierText(buffer);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetPLDMFwImageHeaderSize: PackageHeaderIdentifier=%s", id.c_str());
    SD_UINT32 size = 0;
    if (IsPldmIdentifier(id) && buffer.size() >= kPldmOffHeaderSize + 2) {
        const SD_UINT16 headerSize = GetLE16(buffer, kPldmOffHeaderSize);
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetPLDMFwImageHeaderSize: PackageHeaderSize=0x%x (%d)", headerSize,
                       headerSize);
        if (HeaderFits(buffer, headerSize)) size = headerSize;
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetPLDMFwImageHeaderSize: Return %u", size);
    return size;
}

int CoreIsPLDMFwImage(std::span<const SD_UINT8> buffer) {
    const std::string id = PldmIdentifierText(buffer);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: PackageHeaderIdentifier=%s", id.c_str());
    int result = 0;
    if (IsPldmIdentifier(id) && buffer.size() >= PLDM_HEADER_FIXED_SIZE) {
        const SD_UINT16 headerSize = GetLE16(buffer, kPldmOffHeaderSize);
        CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: PackageHeaderFormatRevision=0x%x", buffer[kPldmOffRevision]);
        CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: PackageHeaderFormatRevision=0x%x", buffer[kPldmOffRevision]);
        CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: PackageHeaderSize=0x%x (%d)", headerSize, headerSize);
        for (size_t i = 0; i < kPldmDateLength; ++i) {
            CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: PackageReleaseDateTime: %02X", buffer[kPldmOffDate + i]);
        }
        CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: ComponentBitmapBitLength=0x%x",
                       GetLE16(buffer, kPldmOffBitmapLength));
        CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: PackageVersionStringType=0x%x", buffer[kPldmOffVersionType]);
        const size_t versionLength = buffer[kPldmOffVersionLength];
        CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: PackageVersionStringLength=0x%zx", versionLength);
        // The version string is shown cut to 15 characters and never read past the buffer.
        const size_t shown = std::min({versionLength, size_t{15}, buffer.size() - PLDM_HEADER_FIXED_SIZE});
        std::string version(reinterpret_cast<const char*>(buffer.data()) + PLDM_HEADER_FIXED_SIZE, shown);
        version = version.c_str();
        CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: PackageVersionStringVersion: %s", version.c_str());
        result = HeaderFits(buffer, headerSize) ? 1 : 0;
    }
    CoreLogMessage(ZV_MSG_DEBUG, "CoreIsPLDMFwImage: return %d", result);
    return result;
}

int CoreGetAdapterLockDownState(const SDMDevice* device, PSYSTEM_LOCKDOWN_INFO record) {
    if (record == nullptr) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterLockDownState: Invalid parameter");
        return -1;
    }
    if (device == nullptr) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterLockDownState: Adapter not found (Invalid handle)!");
        return -1;
    }
    if (CoreIsDriverWithLockdownSupport(device) == 0) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterLockDownState: Driver not support lockdown feature!");
        return -56;
    }
    const SD_UINT32 status = SDGetAdapterLockdownState(device->DeviceHandle, 0, record);
    if (status != SDERR_SUCCESS && status != SDERR_LOCKDOWN) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterLockDownState: Firmware not support lockdown feature!");
        return -55;
    }
    if (record->ISPFwLockdown == 0) {
        CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterLockDownState: Risc/Mpi Fw not support lockdown feature!");
        return -55;
    }
    const SD_UINT32 support = record->MPIFwLockdown.LockdownSupport;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterLockDownState: LockdownSupport=0x%x", support);
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterLockDownState: Config Disable=%s", (support & 0x1) ? "on" : "off");
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterLockDownState: FW Update Disable=%s", (support & 0x2) ? "on" : "off");
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetAdapterLockDownState: MPI Disable=%s", (support & 0x4) ? "on" : "off");
    return 0;
}

int CoreIsDriverWithSanCongMgmtSupport(const SDMDevice* device) { return DriverAttributeBit(device, 23); }
int CoreIsDriverWithLockdownSupport(const SDMDevice* device) { return DriverAttributeBit(device, 25); }
int CoreIsDriverWithSanCongMgmtV2Support(const SDMDevice* device) { return DriverAttributeBit(device, 26); }
int CoreIsDriverWithSanCongMgmtProfileSupport(const SDMDevice* device) { return DriverAttributeBit(device, 28); }

SD_UINT8 CoreGetSanCongMgmtFabricConnectionMode(const SDMDevice* device) {
    if (device == nullptr) return 0;
    DEVICEPORTPROPERTY port{};
    if (SDGetHbaDevicePortProperty(device->DeviceHandle, 0, &port) != SDERR_SUCCESS) return 0;
    CoreLogMessage(ZV_MSG_DEBUG, "CoreGetSanCongMgmtFabricConnectionMode: SCM Fabric Connection Mode=0x%x",
                   port.ScmFabricConnectionFlags);
    return port.ScmFabricConnectionFlags;
}

// Node, port, chip, driver and target properties; port database, secure
// ports, NVMe host record, virtual ports, OS device names and lockdown.
#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "mgmt/sd_library.h"
#include "mgmt/sdapi.h"

namespace {

template <class T>
SD_UINT32 simple_record(int Device, zvapi_op op, std::span<const SD_UINT8> in, T* pOut) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (pOut == nullptr) return SDERR_INVALID_PARAMETER;
    return zvapi_request_record(*call.port, op, in, pOut);
}

// A list answer into the entry area of a caller's record whose count field
// (at offset 0) says how many entries it holds, bounded by the span. The
// count field receives the entries returned, or those needed with 0x20000072.
template <class Entry>
SD_UINT32 counted_list(int Device, zvapi_op op, std::span<SD_UINT8> buffer, size_t entriesOffset) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (buffer.size() < entriesOffset) return SDERR_INVALID_PARAMETER;
    SD_UINT32 room = 0;
    std::memcpy(&room, buffer.data(), sizeof room);
    size_t fits = std::min<size_t>(room, (buffer.size() - entriesOffset) / sizeof(Entry));
    std::span<SD_UINT8> area = buffer.subspan(entriesOffset, fits * sizeof(Entry));
    size_t got = 0;
    SD_UINT32 st = zvapi_request(*call.port, op, {}, area, &got);
    SD_UINT32 count;
    if (st == SDERR_BUFFER_TOO_SMALL) {
        count = static_cast<SD_UINT32>((got + sizeof(Entry) - 1) / sizeof(Entry));
        if (count <= fits) count = static_cast<SD_UINT32>(fits + 1);   // never invite the same call again
    } else if (st == SDERR_SUCCESS) {
        count = static_cast<SD_UINT32>(got / sizeof(Entry));
    } else {
        return st;
    }
    std::memcpy(buffer.data(), &count, sizeof count);
    return st;
}

}  // namespace

SD_UINT32 SDGetHbaDeviceNodeProperty(int Device, PDEVICENODEPROPERTY pNode) {
    return simple_record(Device, ZVOP_NODE_PROPERTY, {}, pNode);
}

SD_UINT32 SDGetHbaDevicePortProperty(int Device, SD_UINT32 HbaDevPortNum, PDEVICEPORTPROPERTY pPort) {
    (void)HbaDevPortNum;
    return simple_record(Device, ZVOP_PORT_PROPERTY, {}, pPort);
}

SD_UINT32 SDGetHbaDeviceChipProperty(int Device, PCHIPPROPERTY pChip) {
    return simple_record(Device, ZVOP_CHIP_PROPERTY, {}, pChip);
}

SD_UINT32 SDGetHbaDeviceDriverProperty(int Device, PDRIVERPROPERTY pDriver) {
    return simple_record(Device, ZVOP_DRIVER_PROPERTY, {}, pDriver);
}

SD_UINT32 SDGetDiscTargetProperty(int Device, SD_UINT32 HbaDevPortNum, SD_UINT32 TargetIndex, SD_UINT32 Flags,
                                  PDISCTARGETPROPERTY pProperty) {
    (void)HbaDevPortNum;
    (void)Flags;
    return simple_record(Device, ZVOP_DISC_TARGET, zvapi_bytes(TargetIndex), pProperty);
}

SD_UINT32 SDGetBeaconControl(int Device, SD_UINT32* pFlags) {
    return simple_record(Device, ZVOP_BEACON, {}, pFlags);
}

SD_UINT32 SDGetStatistics(int Device, SD_UINT32 HbaDevPortNum, PSTATISTICS pStatistics) {
    (void)HbaDevPortNum;
    return simple_record(Device, ZVOP_STATISTICS, {}, pStatistics);
}

SD_UINT32 SDVportGetinfo(int Device, SD_UINT32 VpId, PVPORT_INFO pInfo) {
    return simple_record(Device, ZVOP_VPORT_INFO, zvapi_bytes(VpId), pInfo);
}

SD_UINT32 SDGetAdapterLockdownState(int Device, SD_UINT32 HbaDevPortNum, PSYSTEM_LOCKDOWN_INFO pSystemLockdownInfo) {
    (void)HbaDevPortNum;
    return simple_record(Device, ZVOP_LOCKDOWN, {}, pSystemLockdownInfo);
}

SD_UINT32 SDGetPortDatabase(int Device, SD_UINT32 TypeMode, std::span<SD_UINT8> buffer) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    constexpr size_t kEntries = offsetof(DEVICEINFO, EntryList);
    if (buffer.size() < kEntries) return SDERR_INVALID_PARAMETER;
    size_t fits = (buffer.size() - kEntries) / sizeof(DEVICEINFOENTRY);
    size_t got = 0;
    SD_UINT32 st = zvapi_request(*call.port, ZVOP_PORT_DATABASE, zvapi_bytes(TypeMode),
                                 buffer.subspan(kEntries, fits * sizeof(DEVICEINFOENTRY)), &got);
    SD_UINT32 total, returned;
    if (st == SDERR_BUFFER_TOO_SMALL) {
        total = static_cast<SD_UINT32>((got + sizeof(DEVICEINFOENTRY) - 1) / sizeof(DEVICEINFOENTRY));
        if (total <= fits) total = static_cast<SD_UINT32>(fits + 1);
        returned = 0;
    } else if (st == SDERR_SUCCESS) {
        total = returned = static_cast<SD_UINT32>(got / sizeof(DEVICEINFOENTRY));
    } else {
        return st;
    }
    std::memcpy(buffer.data() + offsetof(DEVICEINFO, TotalDevices), &total, sizeof total);
    std::memcpy(buffer.data() + offsetof(DEVICEINFO, ReturnListEntryCount), &returned, sizeof returned);
    return st;
}

SD_UINT32 SDGetSecurePortInfo(int Device, std::span<SD_UINT8> buffer) {
    return counted_list<SECUREPORTENTRY>(Device, ZVOP_SECURE_PORTS, buffer, offsetof(SECUREPORTINFO, Entries));
}

SD_UINT32 SDGetHbaSupportedFeatureList(int Device, std::span<SD_UINT8> buffer) {
    return counted_list<FEATURE_GET_ENTRY>(Device, ZVOP_FEATURES, buffer, offsetof(FEATURE_GET_LIST, Entries));
}

SD_UINT32 SDGetNVMeHostInfo(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer) {
    (void)HbaDevPortNum;
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    std::array<SD_UINT8, SD_NVME_HOST_INFO_SIZE> record{};
    size_t got = 0;
    SD_UINT32 st = zvapi_request(*call.port, ZVOP_NVME_HOST_INFO, {}, record, &got);
    if (st != SDERR_SUCCESS) return st;
    std::copy_n(record.begin(), std::min(got, buffer.size()), buffer.begin());
    return SDERR_SUCCESS;
}

SD_UINT32 zva_get_os_device_name_by_handle(int Device, SD_UINT32 TargetId, SD_UINT32 LunId, std::span<char> devname) {
    auto call = zvapi_enter(Device);
    if (call.port == nullptr) return SDERR_INVALID_HANDLE;
    if (devname.empty()) return SDERR_INVALID_PARAMETER;
    SD_UINT32 in[2] = {TargetId, LunId};
    std::array<SD_UINT8, 257> text{};   // at most 256 characters
    size_t got = 0;
    SD_UINT32 st = zvapi_request(*call.port, ZVOP_OS_DEVICE_NAME, zvapi_bytes(in), std::span(text).first(256), &got);
    if (st != SDERR_SUCCESS) return st;
    std::string name(reinterpret_cast<const char*>(text.data()), strnlen(reinterpret_cast<const char*>(text.data()), got));
    zvapi_copy_text(devname, name);
    return SDERR_SUCCESS;
}

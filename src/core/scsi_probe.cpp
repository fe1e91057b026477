// SCSI probing of targets and LUNs during discovery.
#include "core/scsi_probe.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "core/core_log.h"
#include "core/oss_services.h"
#include "mgmt/sdapi.h"
#include "mgmt/sd_shared_db.h"

namespace {
constexpr SD_UINT16 kMaxProbeLun = 4095;
constexpr int kTurTries = 10;
constexpr int kReportLunsTries = 3;
constexpr int kCapacityTries = 3;

SD_UINT32 be32(const SD_UINT8* p) {
    return (SD_UINT32{p[0]} << 24) | (SD_UINT32{p[1]} << 16) | (SD_UINT32{p[2]} << 8) | SD_UINT32{p[3]};
}
SD_UINT64 be64(const SD_UINT8* p) { return (SD_UINT64{be32(p)} << 32) | be32(p + 4); }

DESTINATIONADDRESS destination(const SDMTarget* target, SD_UINT16 lun) {
    DESTINATIONADDRESS d{};
    d.AddressType = SD_ADDRESS_BY_PORT_WWN;
    std::memcpy(d.AddressUsing, target->DiscTargetProperty.PortWWN, 8);
    d.LunNumber = lun;
    return d;
}

struct Answer {
    SD_UINT32 status;
    ScsiSense sense;
};

Answer test_unit_ready(SDMDevice* device, SDMTarget* target, SD_UINT16 lun) {
    DESTINATIONADDRESS d = destination(target, lun);
    const std::array<SD_UINT8, 6> cdb{};
    std::array<SD_UINT8, SCSI_SENSE_LEN> sense{};
    const SD_UINT32 status = SDSendScsiPassThruFC(device->DeviceHandle, &d, cdb, {}, {}, sense);
    return {status, ScsiDecodeSense(sense)};
}

// 64-byte VPD page `page` of one LUN; the library status.
Answer inquiry_vpd(SDMDevice* device, SDMTarget* target, SD_UINT16 lun, SD_UINT8 page,
                   std::span<SD_UINT8, 64> data) {
    DESTINATIONADDRESS d = destination(target, lun);
    const std::array<SD_UINT8, 6> cdb{0x12, 0x01, page, 0x00, 0x40, 0x00};
    std::array<SD_UINT8, SCSI_SENSE_LEN> sense{};
    std::memset(data.data(), 0, data.size());
    const SD_UINT32 status = SDSendScsiPassThruFC(device->DeviceHandle, &d, cdb, {}, data, sense);
    return {status, ScsiDecodeSense(sense)};
}

bool capacity_taken(SD_UINT32 status) {
    return status == SDERR_SUCCESS || status == SDERR_DATA_OVERRUN || status == SDERR_DATA_UNDERRUN;
}

// READ CAPACITY (10) or (16) with the unit-attention retries.
SD_UINT32 read_capacity(SDMDevice* device, SDMTarget* target, SD_UINT16 lun, bool large,
                        std::span<SD_UINT8> data) {
    DESTINATIONADDRESS d = destination(target, lun);
    SD_UINT32 status = SDERR_UNKNOWN;
    for (int attempt = 1; attempt <= kCapacityTries; ++attempt) {
        std::array<SD_UINT8, SCSI_SENSE_LEN> sense{};
        std::memset(data.data(), 0, data.size());
        status = large ? SDSendScsiReadCapacityLargeCmdFC(device->DeviceHandle, &d, data, sense)
                       : SDSendScsiReadCapacityCmdFC(device->DeviceHandle, &d, data, sense);
        if (status != SDERR_SCSI_CHECK_CONDITION || ScsiDecodeSense(sense).key != 6 || zvapi_waits_interrupted()) break;
        if (attempt < kCapacityTries) OSSSleep(1);
    }
    return status;
}
}  // namespace

// ---- Answer decoding ------------------------------------------------------------------

ScsiSense ScsiDecodeSense(std::span<const SD_UINT8> sense) {
    ScsiSense s;
    auto at = [&](size_t i) -> SD_UINT8 { return i < sense.size() ? sense[i] : 0; };
    const SD_UINT8 code = at(0) & 0x7F;
    if (code == 0x72 || code == 0x73) {
        s.key = at(1) & 0x0F;
        s.asc = at(2);
        s.ascq = at(3);
    } else {
        s.key = at(2) & 0x0F;
        s.asc = at(12);
        s.ascq = at(13);
    }
    return s;
}

TurAction ScsiTargetTurAction(SD_UINT32 status, const ScsiSense& s) {
    if (status == SDERR_SUCCESS || status == SDERR_SCSI_RESERVATION_CONFLICT) return TurAction::Ready;
    if (status == SDERR_BUSY) return TurAction::RetrySleep;
    if (status != SDERR_SCSI_CHECK_CONDITION) return TurAction::NotReady;
    if (s.key == 6) return TurAction::RetrySleep;
    if (s.key == 2 && s.asc == 0x04) return TurAction::Ready;
    if (s.key == 2 && (s.asc == 0x20 || s.asc == 0x68)) return TurAction::NextLun;
    if (s.key == 5 && (s.asc == 0x04 || (s.asc == 0x25 && s.ascq == 0) || (s.asc == 0x20 && s.ascq == 0)))
        return TurAction::Ready;
    if (s.key == 0 && s.asc == 0 && s.ascq == 0) return TurAction::Ready;
    if (s.asc == 0x3A) return TurAction::Ready;
    return TurAction::NotReady;
}

TurAction ScsiLunTurAction(SD_UINT32 status, const ScsiSense& s) {
    if (status == SDERR_SUCCESS || status == SDERR_SCSI_RESERVATION_CONFLICT) return TurAction::Ready;
    if (status == SDERR_BUSY) return TurAction::RetrySleep;
    if (status != SDERR_SCSI_CHECK_CONDITION) return TurAction::NotReady;
    if (s.key == 6) return TurAction::RetryNow;
    if ((s.key == 2 || s.key == 5) && s.asc == 0x04) return TurAction::Passive;
    if (s.asc == 0x3A) return TurAction::Ready;
    return TurAction::NotReady;
}

std::optional<ScsiCapacity> ScsiParseReadCapacity10(std::span<const SD_UINT8> data) {
    if (data.size() < 8) return std::nullopt;
    return ScsiCapacity{be32(data.data()), be32(data.data() + 4)};
}

std::optional<ScsiCapacity> ScsiParseReadCapacity16(std::span<const SD_UINT8> data) {
    if (data.size() < 12) return std::nullopt;
    return ScsiCapacity{be64(data.data()), be32(data.data() + 8)};
}

std::vector<SD_UINT16> ScsiParseReportLuns(std::span<const SD_UINT8> data, size_t limit) {
    std::vector<SD_UINT16> luns;
    if (data.size() < 8) return luns;
    const size_t listed = be32(data.data()) / 8;
    const size_t fit = (data.size() - 8) / 8;
    const size_t n = std::min({listed, fit, limit});
    luns.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const SD_UINT8* e = data.data() + 8 + 8 * i;
        luns.push_back(static_cast<SD_UINT16>(((e[0] << 8) | e[1]) & 0xBFFF));
    }
    return luns;
}

std::optional<std::vector<SD_UINT8>> ScsiParseDeviceIdPage(std::span<const SD_UINT8> data, size_t offset) {
    if (data.size() < 2 || data[1] != 0x83) return std::nullopt;
    if (offset == 0 || offset > data.size()) return std::nullopt;
    size_t len = data[offset - 1];
    if (len > 32) len = 32;
    if (len > data.size() - offset) return std::nullopt;
    return std::vector<SD_UINT8>(data.begin() + static_cast<std::ptrdiff_t>(offset),
                                 data.begin() + static_cast<std::ptrdiff_t>(offset + len));
}

const char* GetSCSIPeripheralType(SD_UINT32 type) {
    switch (type) {
        case 0x00: return "Direct Access";
        case 0x01: return "Sequential Access";
        case 0x02: return "Printer";
        case 0x03: return "Processor";
        case 0x04: return "Write-Once";
        case 0x05: return "CDROM";
        case 0x06: return "Scanner";
        case 0x07: return "Optical Memory";
        case 0x08: return "Medium Changer";
        case 0x09: return "Communications";
        case 0x0C: return "Array Controller";
        case 0x0D: return "Enclosure";
        case 0x0E: return "S. Direct Access";
        case 0x0F: return "Optical Card";
        case 0x11: return "Object Based";
        default: return "**Unknown**";
    }
}

SD_UINT32 CoreCalcLunSize(SD_UINT64 blockCount, SD_UINT32 blockSize) {
    if (blockSize == 0) return 0;
    // Bytes first, then MiB: dividing the block size first loses every block
    // size between 64 KiB and 1 MiB, and a size that does not divide 1 MiB.
    const unsigned __int128 mib = (static_cast<unsigned __int128>(blockCount) * blockSize) >> 20;
    return mib > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<SD_UINT32>(mib);
}

// ---- Probing ---------------------------------------------------------------------------

SD_UINT32 SDSendScsiReadCapacityLargeCmdFC(int handle, PDESTINATIONADDRESS destination, std::span<SD_UINT8> buffer,
                                           std::span<SD_UINT8> sense) {
    CoreLogMessage(ZV_MSG_DEBUG, "SDSendScsiReadCapacityLargeCmdFC: Enter...");
    std::array<SD_UINT8, 16> cdb{};
    cdb[0] = 0x9E;
    cdb[1] = 0x10;
    const auto length = static_cast<SD_UINT32>(buffer.size());
    cdb[10] = static_cast<SD_UINT8>(length >> 24);
    cdb[11] = static_cast<SD_UINT8>(length >> 16);
    cdb[12] = static_cast<SD_UINT8>(length >> 8);
    cdb[13] = static_cast<SD_UINT8>(length);
    const SD_UINT32 status = SDSendScsiPassThruFC(handle, destination, cdb, {}, buffer, sense);
    CoreLogMessage(ZV_MSG_DEBUG, "SDSendScsiReadCapacityLargeCmdFC: return %d", static_cast<int>(status));
    return status;
}

SD_UINT32 ScsiInquiryTarget(SDMDevice* device, SDMTarget* target, SD_UINT16 lun,
                            std::span<SD_UINT8, SCSI_INQUIRY_LEN> data) {
    DESTINATIONADDRESS d = destination(target, lun);
    std::array<SD_UINT8, SCSI_SENSE_LEN> sense{};
    std::memset(data.data(), 0, data.size());
    return SDSendScsiInquiryCmdFC(device->DeviceHandle, &d, data, sense);
}

int CheckTargetReady(SDMDevice* device, SDMTarget* target) {
    if (device == nullptr || target == nullptr) return -1;
    SD_UINT16 lun = 0;
    int counter = 0;
    Answer a{};
    for (;;) {
        a = test_unit_ready(device, target, lun);
        const TurAction action = ScsiTargetTurAction(a.status, a.sense);
        if (action == TurAction::Ready || action == TurAction::Passive) return 0;
        if (action == TurAction::NotReady) break;
        if (action == TurAction::NextLun) {
            // A LUN that keeps refusing the command: try the next LUN number.
            if (++counter >= kTurTries) {
                counter = 0;
                if (lun >= kMaxProbeLun) break;
                ++lun;
            }
            continue;
        }
        if (++counter > kTurTries - 1 || zvapi_waits_interrupted()) break;
        OSSSleep(1);
    }
    if (a.status == SDERR_SCSI_CHECK_CONDITION)
        CoreLogMessage(ZV_MSG_INFO,
                       "CheckTargetReady: SCSI check (retries exhausted) - Sense key:  0x%x, asc:  0x%x, ascq:  0x%x",
                       a.sense.key, a.sense.asc, a.sense.ascq);
    else
        CoreLogMessage(ZV_MSG_INFO, "CheckTargetReady: Target failed Test Unit Ready (0x%x) (%s)", a.status,
                       SDGetErrorString(a.status));
    return -1;
}

int CheckLunReady(SDMDevice* device, SDMTarget* target, SD_UINT16 lun, SD_INT32* onPassivePath) {
    SD_INT32 ignored = 0;
    SD_INT32* passive = onPassivePath != nullptr ? onPassivePath : &ignored;
    *passive = 0;
    if (device == nullptr || target == nullptr) return -1;
    Answer a{};
    for (int tries = 1;; ++tries) {
        a = test_unit_ready(device, target, lun);
        const TurAction action = ScsiLunTurAction(a.status, a.sense);
        if (action == TurAction::Ready) return 0;
        if (action == TurAction::Passive) {
            *passive = 1;
            return 0;
        }
        if (action == TurAction::NotReady || tries >= kTurTries || zvapi_waits_interrupted()) break;
        if (action == TurAction::RetrySleep) OSSSleep(1);
    }
    if (a.status == SDERR_SCSI_CHECK_CONDITION) {
        CoreLogMessage(ZV_MSG_INFO,
                       "CheckLunReady: SCSI check (retries exhausted) - Sense key:  0x%x, asc:  0x%x, ascq:  0x%x",
                       a.sense.key, a.sense.asc, a.sense.ascq);
        CoreLogMessage(ZV_MSG_INFO,
                       "CheckLunReady: will NOT add LUN %u to target (CheckLunReady failed, SCSI check-condition)...",
                       static_cast<unsigned>(lun));
    } else {
        CoreLogMessage(ZV_MSG_INFO, "CheckLunReady: Lun %u failed Test Unit Ready (0x%x) (%s)",
                       static_cast<unsigned>(lun), a.status, SDGetErrorString(a.status));
        CoreLogMessage(ZV_MSG_INFO,
                       "CheckLunReady: will NOT add LUN %u to target (CheckLunReady failed, non-SCSI check-condition)...",
                       static_cast<unsigned>(lun));
    }
    return -1;
}

int UpdateTargetWithOEMParameters(SDMDevice* device, SDMTarget* target) {
    (void)device;
    if (target == nullptr) return 0;
    target->TargetWWULNOffset = 8;
    target->TargetAbilityFlags |= SDM_TGT_ASK_WWULN;
    // This array answers the identification page badly: do not ask it.
    if (std::strncmp(target->TargetVendorID, "VODU", 4) == 0 && std::strncmp(target->TargetProductID, "PV660", 5) == 0)
        target->TargetAbilityFlags &= ~SDM_TGT_ASK_WWULN;
    return 0;
}

int RetrieveWWULunNumberForLun(SDMDevice* device, SDMTarget* target, SDMLun* lun) {
    if (device == nullptr || target == nullptr || lun == nullptr) return 0;
    if ((target->TargetAbilityFlags & SDM_TGT_ASK_WWULN) == 0) return 0;
    std::array<SD_UINT8, 64> page{};
    const Answer a = inquiry_vpd(device, target, lun->LunID, 0x83, page);
    if (a.status == SDERR_SCSI_CHECK_CONDITION && a.sense.key == 5 && a.sense.asc == 0x24 && a.sense.ascq == 0) {
        target->TargetAbilityFlags &= ~SDM_TGT_ASK_WWULN;
        CoreLogMessage(ZV_MSG_DEBUG, "Lun (%d) does not support WWULN via inquiry", static_cast<int>(lun->LunID));
        return 0;
    }
    if (a.status != SDERR_SUCCESS) return 0;
    if (auto id = ScsiParseDeviceIdPage(page, target->TargetWWULNOffset)) {
        std::memset(lun->WWULN, 0, sizeof lun->WWULN);
        std::memcpy(lun->WWULN, id->data(), id->size());
        lun->LunWWULNSize = static_cast<SD_UINT8>(id->size());
    }
    return 0;
}

int RetrieveSerialNumberForTarget(SDMDevice* device, SDMTarget* target, SDMLun* lun) {
    if (device == nullptr || target == nullptr || lun == nullptr) return 0;
    std::array<SD_UINT8, 64> page{};
    const Answer a = inquiry_vpd(device, target, lun->LunID, 0x80, page);
    target->TargetSerialOffset = 4;
    if (a.status != SDERR_SUCCESS || page[1] != 0x80) return 0;
    // The 60 bytes after the page header fit the 64-byte answer; the size is
    // the page's own, bounded by the field.
    constexpr size_t kKept = 64 - 4;
    std::memset(target->SerialNumber, 0, sizeof target->SerialNumber);
    std::memcpy(target->SerialNumber, page.data() + 4, kKept);
    target->SerialSize = std::min<SD_UINT32>(page[3], sizeof target->SerialNumber);
    return 0;
}

int GetSingleTargetsOSMapping(SDMDevice* device, SDMTarget* target, SD_UINT16 lun, std::span<char> name) {
    if (device == nullptr || target == nullptr || name.empty()) return -1;
    std::memset(name.data(), 0, name.size());
    const SD_UINT32 status =
        zva_get_os_device_name_by_handle(device->DeviceHandle, target->DiscTargetProperty.TargetID, lun, name);
    name[name.size() - 1] = '\0';
    if (std::strlen(name.data()) < 8) return -1;
    return static_cast<int>(status);
}

int RetrieveLunsForTarget(SDMDevice* device, SDMTarget* target) {
    if (device == nullptr || target == nullptr) return -1;
    RemoveAllLunsFromLunList(target);
    target->lunNumberForInquiry = 0;

    SD_UINT32 limit = device->DeviceDriverProperty.LunsPerTarget;
    if (limit == 0) {
        limit = SCSI_DEFAULT_LUN_LIMIT;
        CoreLogMessage(ZV_MSG_DEBUG, "RetrieveLunsForTarget: driver reports no LUN limit, using %u",
                       static_cast<unsigned>(limit));
    }
    if (limit > SCSI_MAX_LUN_LIMIT) limit = SCSI_MAX_LUN_LIMIT;

    std::vector<SD_UINT8> list;
    try {
        list.assign(8 * static_cast<size_t>(limit) + 8, 0);
    } catch (const std::bad_alloc&) {
        CoreLogMessage(ZV_MSG_ERROR, "RetrieveLunsForTarget: Unable to allocate memory for Lun list");
        return -1;
    }

    DESTINATIONADDRESS d = destination(target, 0);
    SD_UINT32 status = SDERR_UNKNOWN;
    for (int attempt = 1; attempt <= kReportLunsTries; ++attempt) {
        std::array<SD_UINT8, SCSI_SENSE_LEN> sense{};
        std::fill(list.begin(), list.end(), 0);
        status = SDSendScsiReportLunsCmdFC(device->DeviceHandle, &d, list, sense);
        const bool retry =
            status == SDERR_BUSY || (status == SDERR_SCSI_CHECK_CONDITION && ScsiDecodeSense(sense).key == 6);
        if (!retry || zvapi_waits_interrupted()) break;
        if (attempt < kReportLunsTries) OSSSleep(1);
    }
    if (status != SDERR_SUCCESS && status != SDERR_NOT_FROM_DEVICE) return -1;

    std::array<SD_UINT8, SCSI_INQUIRY_LEN> inquiry{};
    if (ScsiInquiryTarget(device, target, 0, inquiry) == SDERR_SUCCESS && inquiry[0] < 64)
        target->TargetType = inquiry[0] & 0x1F;
    else
        target->TargetType = SDM_TARGET_TYPE_UNKNOWN;

    int result = 0;
    bool useLargeCapacity = false;
    bool firstLun = true;
    for (const SD_UINT16 lunId : ScsiParseReportLuns(list, limit)) {
        SD_INT32 passive = 0;
        if (CheckLunReady(device, target, lunId, &passive) != 0) continue;
        if (ScsiInquiryTarget(device, target, lunId, inquiry) != SDERR_SUCCESS || inquiry[0] >= 64) continue;
        target->TargetType = inquiry[0] & 0x1F;

        SD_UINT64 lastLba = SDM_VALUE_UNKNOWN;
        SD_UINT32 blockLength = SDM_VALUE_UNKNOWN;
        if (inquiry[0] == 0) {
            std::array<SD_UINT8, 32> data{};
            SD_UINT32 cap = SDERR_SUCCESS;
            std::optional<ScsiCapacity> c;
            if (!useLargeCapacity) {
                cap = read_capacity(device, target, lunId, false, std::span<SD_UINT8>(data.data(), 16));
                if (capacity_taken(cap)) {
                    c = ScsiParseReadCapacity10(std::span<const SD_UINT8>(data.data(), 16));
                    // Too large for READ CAPACITY (10): this target's disks need (16) from now on.
                    if (c && c->lastLba == 0xFFFFFFFF) useLargeCapacity = true;
                }
            }
            if (useLargeCapacity) {
                cap = read_capacity(device, target, lunId, true, data);
                if (capacity_taken(cap)) c = ScsiParseReadCapacity16(data);
            }
            if (capacity_taken(cap) && c) {
                lastLba = c->lastLba;
                blockLength = c->blockLength;
                CoreLogMessage(ZV_MSG_DEBUG, "RetrieveLunsForTarget: Lun %u size %u MB", static_cast<unsigned>(lunId),
                               static_cast<unsigned>(CoreCalcLunSize(lastLba + 1, blockLength)));
            } else if (cap != SDERR_SCSI_CHECK_CONDITION && cap != SDERR_SCSI_RESERVATION_CONFLICT) {
                continue;
            }
        } else {
            CoreLogMessage(ZV_MSG_DEBUG, "RetrieveLunsForTarget: Lun %u is a %s device", static_cast<unsigned>(lunId),
                           GetSCSIPeripheralType(inquiry[0] & 0x1F));
        }

        SDMLun* lun = CreateNewLun();
        if (lun == nullptr) {
            result = -1;
            continue;
        }
        lun->LunID = lunId;
        std::memcpy(lun->LunInquiryHeader, inquiry.data(), 8);
        std::memcpy(lun->LunVendorID, inquiry.data() + 8, 8);
        std::memcpy(lun->LunProductID, inquiry.data() + 16, 16);
        std::memcpy(lun->LunRevision, inquiry.data() + 32, 4);
        lun->LunMaxLogicalBlockAddress = lastLba;
        lun->LunBytesPerBlock = blockLength;
        lun->LunOSSDeviceNumber = SDM_VALUE_UNKNOWN;
        lun->LunOSSRaidType = SDM_VALUE_UNKNOWN;
        lun->LunOSSNumberOfPartitions = SDM_VALUE_UNKNOWN;
        lun->LunOnPassivePath = passive;
        RetrieveWWULunNumberForLun(device, target, lun);
        if (firstLun) {
            RetrieveSerialNumberForTarget(device, target, lun);
            firstLun = false;
        }
        if (GetSingleTargetsOSMapping(device, target, lunId, lun->LunOSSDeviceName) != 0)
            std::memset(lun->LunOSSDeviceName, 0, sizeof lun->LunOSSDeviceName);
        if (AddLunToLunList(target, lun) != 0) DeleteLun(lun);
    }
    return result;
}

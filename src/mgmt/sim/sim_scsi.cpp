// SCSI answers of the simulated targets: TEST UNIT READY, REPORT LUNS,
// INQUIRY (standard and VPD pages 0x00, 0x80, 0x83), READ CAPACITY (10) and
// (16), with scripted answer sequences in front of them.
#include <algorithm>
#include <cstring>

#include "mgmt/sim/sim_transport.h"

namespace {

constexpr SD_UINT8 kGood = 0x00, kCheck = 0x02, kBusy = 0x08, kConflict = 0x18;

struct ScsiResult {
    SD_UINT32 status = SDERR_SUCCESS;
    SD_UINT8 scsiStatus = kGood;
    SD_UINT8 senseKey = 0, asc = 0, ascq = 0;
    std::vector<SD_UINT8> data;
};

ScsiResult CheckResult(SD_UINT8 key, SD_UINT8 asc, SD_UINT8 ascq) {
    ScsiResult r;
    r.status = SDERR_SCSI_CHECK_CONDITION;
    r.scsiStatus = kCheck;
    r.senseKey = key;
    r.asc = asc;
    r.ascq = ascq;
    return r;
}

void PutBe(std::vector<SD_UINT8>& v, SD_UINT64 x, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        v.push_back(static_cast<SD_UINT8>(x >> (8 * i)));
    }
}

void PutPadded(std::vector<SD_UINT8>& v, const std::string& s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        v.push_back(i < s.size() ? static_cast<SD_UINT8>(s[i]) : ' ');
    }
}

SD_UINT64 WwnOf(const SD_UINT8 (&b)[8]) {
    SD_UINT64 v = 0;
    for (SD_UINT8 x : b) {
        v = v << 8 | x;
    }
    return v;
}

const zvsim_target* FindTarget(const zvsim_port& p, const DESTINATIONADDRESS& d, size_t& index) {
    for (size_t i = 0; i < p.targets.size(); ++i) {
        const zvsim_target& t = p.targets[i];
        bool hit = false;
        switch (d.AddressType) {
            case SD_ADDRESS_BY_NODE_WWN:
                hit = t.nodeWwn == WwnOf(d.AddressUsing);
                break;
            case SD_ADDRESS_BY_PORT_WWN:
                hit = t.portWwn == WwnOf(d.AddressUsing);
                break;
            case SD_ADDRESS_BY_PORT_ID:
                hit = t.portId == (static_cast<SD_UINT32>(d.AddressUsing[0]) << 16 |
                                   static_cast<SD_UINT32>(d.AddressUsing[1]) << 8 | d.AddressUsing[2]);
                break;
            default:
                break;
        }
        if (hit) {
            index = i;
            return &t;
        }
    }
    return nullptr;
}

// The answer of a well-behaved target.
ScsiResult Normal(const zvsim_target& t, SD_UINT16 lunNo, std::span<const SD_UINT8> cdb) {
    const zvsim_lun* lun = nullptr;
    for (const zvsim_lun& l : t.luns) {
        if (l.lun == lunNo) {
            lun = &l;
            break;
        }
    }
    ScsiResult r;
    const SD_UINT8 opcode = cdb[0];
    switch (opcode) {
        case 0x00:  // TEST UNIT READY
            return lun != nullptr ? r : CheckResult(5, 0x25, 0);
        case 0xA0: {  // REPORT LUNS
            PutBe(r.data, t.luns.size() * 8, 4);
            PutBe(r.data, 0, 4);
            for (const zvsim_lun& l : t.luns) {
                // Peripheral addressing below 256, flat space addressing above.
                if (l.lun < 256) {
                    r.data.push_back(0);
                    r.data.push_back(static_cast<SD_UINT8>(l.lun));
                } else {
                    r.data.push_back(static_cast<SD_UINT8>(0x40 | ((l.lun >> 8) & 0x3F)));
                    r.data.push_back(static_cast<SD_UINT8>(l.lun));
                }
                PutBe(r.data, 0, 6);
            }
            return r;
        }
        case 0x12: {  // INQUIRY
            const bool evpd = cdb.size() > 1 && (cdb[1] & 1) != 0;
            if (!evpd) {
                const zvsim_lun fallback{};
                const zvsim_lun& l = lun != nullptr ? *lun : fallback;
                r.data.push_back(lun != nullptr ? l.peripheral : 0x7F);
                r.data.push_back(0);
                r.data.push_back(6);     // version
                r.data.push_back(0x02);  // response data format
                r.data.push_back(31);    // additional length
                r.data.push_back(0);
                r.data.push_back(0);
                r.data.push_back(0x02);
                PutPadded(r.data, lun != nullptr ? l.vendor : "", 8);
                PutPadded(r.data, lun != nullptr ? l.product : "", 16);
                PutPadded(r.data, lun != nullptr ? l.revision : "", 4);
                return r;
            }
            if (lun == nullptr) {
                return CheckResult(5, 0x25, 0);
            }
            const SD_UINT8 page = cdb.size() > 2 ? cdb[2] : 0;
            r.data.push_back(lun->peripheral);
            r.data.push_back(page);
            if (page == 0x00) {
                r.data.push_back(0);
                r.data.push_back(lun->vpd83 ? 3 : 2);
                r.data.push_back(0x00);
                r.data.push_back(0x80);
                if (lun->vpd83) {
                    r.data.push_back(0x83);
                }
                return r;
            }
            if (page == 0x80) {
                r.data.push_back(0);
                r.data.push_back(static_cast<SD_UINT8>(lun->serial.size()));
                r.data.insert(r.data.end(), lun->serial.begin(), lun->serial.end());
                return r;
            }
            if (page == 0x83 && lun->vpd83) {
                PutBe(r.data, lun->deviceId.size(), 2);
                r.data.insert(r.data.end(), lun->deviceId.begin(), lun->deviceId.end());
                return r;
            }
            return CheckResult(5, 0x24, 0);
        }
        case 0x25:  // READ CAPACITY (10)
            if (lun == nullptr) {
                return CheckResult(5, 0x25, 0);
            }
            PutBe(r.data, std::min<SD_UINT64>(lun->lastLba, 0xFFFFFFFF), 4);
            PutBe(r.data, lun->blockLength, 4);
            return r;
        case 0x9E:  // SERVICE ACTION IN (16)
            if (cdb.size() < 2 || (cdb[1] & 0x1F) != 0x10) {
                return CheckResult(5, 0x24, 0);
            }
            if (lun == nullptr) {
                return CheckResult(5, 0x25, 0);
            }
            PutBe(r.data, lun->lastLba, 8);
            PutBe(r.data, lun->blockLength, 4);
            r.data.resize(32, 0);
            return r;
        default:
            return CheckResult(5, 0x20, 0);  // invalid command operation code
    }
}

size_t AllocationLength(std::span<const SD_UINT8> cdb) {
    auto be = [&](size_t at, size_t n) {
        size_t v = 0;
        for (size_t i = 0; i < n && at + i < cdb.size(); ++i) {
            v = v << 8 | cdb[at + i];
        }
        return v;
    };
    switch (cdb[0]) {
        case 0x12:
            return be(3, 2);
        case 0xA0:
            return be(6, 4);
        case 0x9E:
            return be(10, 4);
        case 0x25:
            return 8;
        default:
            return 0;
    }
}

}  // namespace

SD_UINT32 zvsim_transport::Scsi(zvsim_port& p, PortRuntime& rt, std::span<const SD_UINT8> in,
                                std::span<SD_UINT8> out, size_t& outLen) {
    zvapi_scsi_request req{};
    if (in.size() < sizeof req) {
        return SDERR_INVALID_PARAMETER;
    }
    std::memcpy(&req, in.data(), sizeof req);
    if (req.CdbLength == 0 || req.CdbLength > sizeof req.Cdb) {
        return SDERR_INVALID_PARAMETER;
    }
    if (out.size() < sizeof(zvapi_scsi_reply)) {
        outLen = sizeof(zvapi_scsi_reply);
        return SDERR_BUFFER_TOO_SMALL;
    }
    const std::span<const SD_UINT8> cdb(req.Cdb, req.CdbLength);
    size_t targetIndex = 0;
    const zvsim_target* t = FindTarget(p, req.Dest, targetIndex);
    zvapi_scsi_reply reply{};
    if (t == nullptr) {
        std::memcpy(out.data(), &reply, sizeof reply);
        outLen = sizeof reply;
        return SDERR_DEVICE_NOT_FOUND;
    }
    const SD_UINT16 lunNo = req.Dest.LunNumber;

    ScsiResult result;
    bool scripted = false;
    std::vector<size_t>& pos = rt.scriptPos[targetIndex];
    pos.resize(t->scripts.size(), 0);
    for (size_t i = 0; i < t->scripts.size(); ++i) {
        const zvsim_scsi_script& s = t->scripts[i];
        if ((s.lun >= 0 && s.lun != lunNo) || (s.opcode >= 0 && s.opcode != cdb[0]) || pos[i] >= s.answers.size()) {
            continue;
        }
        const zvsim_scsi_answer& a = s.answers[pos[i]++];
        scripted = true;
        switch (a.kind) {
            case zvsim_scsi_answer::Good:
                result = Normal(*t, lunNo, cdb);
                break;
            case zvsim_scsi_answer::Busy:
                result.status = SDERR_BUSY;
                result.scsiStatus = kBusy;
                break;
            case zvsim_scsi_answer::Check:
                result = CheckResult(a.senseKey, a.asc, a.ascq);
                break;
            case zvsim_scsi_answer::Conflict:
                result.status = SDERR_SCSI_RESERVATION_CONFLICT;
                result.scsiStatus = kConflict;
                break;
            case zvsim_scsi_answer::Status:
                if (a.withData) {
                    result = Normal(*t, lunNo, cdb);
                }
                result.status = a.status;
                break;
        }
        break;
    }
    if (!scripted) {
        result = Normal(*t, lunNo, cdb);
    }

    const size_t room = out.size() - sizeof reply;
    const size_t n = std::min({result.data.size(), AllocationLength(cdb), static_cast<size_t>(req.DataInLength), room});
    reply.DataLength = static_cast<SD_UINT32>(n);
    reply.ScsiStatus = result.scsiStatus;
    if (result.scsiStatus == kCheck) {
        // Fixed-format sense data.
        reply.Sense[0] = 0x70;
        reply.Sense[2] = result.senseKey;
        reply.Sense[7] = 10;
        reply.Sense[12] = result.asc;
        reply.Sense[13] = result.ascq;
        reply.SenseLength = 18;
    }
    std::memcpy(out.data(), &reply, sizeof reply);
    if (n > 0) {
        std::memcpy(out.data() + sizeof reply, result.data.data(), n);
    }
    outLen = sizeof reply + n;
    return result.status;
}

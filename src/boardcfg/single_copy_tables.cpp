// Single-copy tables: the copies kept around each write written back when a
// run finds one, the base a table update may start from, and the guarded write.
#include "boardcfg/single_copy_tables.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "boardcfg/config_table.h"
#include "boardcfg/table_region_io.h"
#include "frontend/adapter_entry_list.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"
#include "image/fc_vpd_update.h"

namespace {

const char* ModelOf(const SDMDevice* device) { return device->DeviceNodeProperty.Model; }
int InstanceOf(const SDMDevice* device) { return static_cast<int>(device->DeviceNumber); }

void SayDamaged(const SDMDevice* device, const SingleCopyTable& table) {
    scfxPrint("HBA %s (instance %d): The %s (region 0x%X) on the adapter is damaged and no intact copy of it is kept "
              "in %s; nothing was written to the adapter!",
              ModelOf(device), InstanceOf(device), table.name, table.region, TBLCOPY_DIR);
}

// Whether the patches cover every byte of [begin, end).
bool Covers(const BoardTemplate& tpl, std::size_t begin, std::size_t end) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (const auto& p : tpl.patches) spans.emplace_back(p.offset, std::size_t{p.offset} + p.bytes.size());
    std::sort(spans.begin(), spans.end());
    std::size_t reached = begin;
    for (const auto& [from, to] : spans) {
        if (from > reached) break;
        reached = std::max(reached, to);
    }
    return reached >= end;
}

bool IsSound(const SingleCopyTable& table, std::span<const SD_UINT8> bytes) {
    return table.sound != nullptr ? table.sound(bytes) : CfgTableIsValid(bytes, table.signature);
}

// A copy kept of one table, read and checked, and the name of its file.
struct KeptCopy {
    const SingleCopyTable* table = nullptr;
    TableCopyOwner name;
    std::vector<SD_UINT8> bytes;
};

// "A and B", "A, B and C".
std::string ListOfPaths(std::span<const TableCopyOwner* const> names, SD_UINT32 region) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += i + 1 == names.size() ? " and " : ", ";
        list += TableCopyPath(*names[i], region);
    }
    return list;
}

// The copy of one table kept for the adapter known by `owners`, when there
// is one: `names` are those of its names that something has. False when it
// cannot be used (said).
bool LoadKeptCopy(SDMDevice* device, std::span<const TableCopyOwner> owners,
                  std::span<const TableCopyOwner* const> names, const SingleCopyTable& table, KeptCopy* out) {
    FlashReadBuffer now;
    const SD_UINT32 read = ReadConfigTableRegion(device, table.region, &now);
    std::string why;
    TableCopyStatus st = TableCopyStatus::Refused;
    if (read != 0) {
        why = "the region cannot be read (error " + std::to_string(read) + ")";
    } else if (names.size() > 1) {
        // The header holds no order: neither may be written over a later table.
        why = "the copies " + ListOfPaths(names, table.region) + (names.size() == 2 ? " are both" : " are all") +
              " kept under this adapter's names, and nothing tells which of them is the later";
    } else if (!names.empty()) {
        const TableCopyOwner& name = *names.front();
        st = LoadTableCopy(name, owners, table.region, now.Bytes().size(), &out->bytes, &why);
        if (st == TableCopyStatus::Ok && !IsSound(table, out->bytes)) {
            st = TableCopyStatus::NotIntact;
            why = "the copy " + TableCopyPath(name, table.region) + " is not intact";
        }
        out->name = name;
    }
    if (st == TableCopyStatus::Ok) {
        out->table = &table;
        return true;
    }
    if (st == TableCopyStatus::Missing) return true;   // gone since it was seen
    scfxPrint("HBA %s (instance %d): No table copy is used: %s.", ModelOf(device), InstanceOf(device), why.c_str());
    if (read == 0 && IsSound(table, now.Bytes())) {
        scfxPrint("HBA %s (instance %d): An earlier write of the %s (region 0x%X) may not have finished and no intact "
                  "copy of it is kept in %s; nothing was written to the adapter!",
                  ModelOf(device), InstanceOf(device), table.name, table.region, TBLCOPY_DIR);
    } else {
        SayDamaged(device, table);
    }
    return false;
}

}  // namespace

TableCopyOwner SingleCopyTableOwner(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return {};
    char serial[VORN_SERIAL_SIZE] = {};
    GetAdapterSerialNo(pDevice, serial, sizeof serial);
    const TableCopyOwner owner = TableCopyOwnerOf(serial, std::span<const SD_UINT8, 8>(pDevice->DevicePortProperty.WWN));
    if (owner.kind != TableCopyOwnerKind::Wwpn) return owner;
    // Named by a WWPN: the adapter's first port's, whichever of its ports the
    // update is at (each port with --ports), so that all of them find the one copy.
    const SDMDevice* first = GetFirstPortOnThisHBA(pDevice);
    return TableCopyOwnerOf(serial, std::span<const SD_UINT8, 8>(first->DevicePortProperty.WWN));
}

std::vector<TableCopyOwner> SingleCopyTableOwners(SDMDevice* pDevice) {
    std::vector<TableCopyOwner> owners;
    if (pDevice == nullptr) return owners;
    const TableCopyOwner owner = SingleCopyTableOwner(pDevice);
    if (owner.kind != TableCopyOwnerKind::None) owners.push_back(owner);
    const std::span<const SD_UINT8, 8> wwpn(GetFirstPortOnThisHBA(pDevice)->DevicePortProperty.WWN);
    if (owner.kind == TableCopyOwnerKind::Serial) {
        // Kept while the serial number could not be read.
        if (TableCopyOwner byWwpn = TableCopyOwnerOf(nullptr, wwpn); byWwpn.kind == TableCopyOwnerKind::Wwpn) {
            owners.push_back(std::move(byWwpn));
        }
        return owners;
    }
    // Kept while the serial number could be read: the VPD it was read from
    // is still on the adapter's flash when only its running copy is torn.
    for (const std::string& serial : FcVpdSerialNumbers(pDevice)) {
        TableCopyOwner bySerial = TableCopyOwnerOf(serial.c_str(), wwpn);
        const bool known = std::any_of(owners.begin(), owners.end(), [&](const TableCopyOwner& o) {
            return o.kind == bySerial.kind && o.id == bySerial.id;
        });
        if (bySerial.kind == TableCopyOwnerKind::Serial && !known) owners.push_back(std::move(bySerial));
    }
    return owners;
}

int RollBackSingleCopyTables(SDMDevice* pDevice, std::span<const SingleCopyTable> tables, SD_UINT32* failedRegion) {
    if (failedRegion != nullptr) *failedRegion = 0;
    if (pDevice == nullptr) return -1;
    const auto failed = [failedRegion](SD_UINT32 region) {
        if (failedRegion != nullptr && *failedRegion == 0) *failedRegion = region;
    };
    const std::vector<TableCopyOwner> owners = SingleCopyTableOwners(pDevice);
    std::vector<KeptCopy> kept;
    bool usable = true;
    for (const SingleCopyTable& table : tables) {
        // Under every name the adapter has had: its serial number may have
        // become readable, or unreadable, since the copy was kept.
        std::vector<const TableCopyOwner*> names;
        for (const TableCopyOwner& owner : owners) {
            if (TableCopyPresent(owner, table.region)) names.push_back(&owner);
        }
        if (names.empty()) continue;
        KeptCopy copy;
        if (!LoadKeptCopy(pDevice, owners, names, table, &copy)) {
            usable = false;
            failed(table.region);
        } else if (copy.table != nullptr) {
            kept.push_back(std::move(copy));
        }
    }
    if (!usable) return -1;
    for (const KeptCopy& copy : kept) {
        const SingleCopyTable& table = *copy.table;
        const std::string path = TableCopyPath(copy.name, table.region);
        scfxPrint("HBA %s (instance %d): An earlier write of the %s (region 0x%X) may not have finished; the %s is "
                  "written back from the copy %s.",
                  ModelOf(pDevice), InstanceOf(pDevice), table.name, table.region, table.kind, path.c_str());
        // Read back whole before the copy goes: a cut here leaves it for the next run.
        if (const long st = WriteConfigTableRegion(pDevice, table.region, copy.bytes); st != 0) {
            scfxPrint("HBA %s (instance %d): The %s (region 0x%X) could not be written back (error %ld); the copy %s is "
                      "kept for the next run!",
                      ModelOf(pDevice), InstanceOf(pDevice), table.name, table.region, st, path.c_str());
            failed(table.region);
            return -1;
        }
        RemoveTableCopy(copy.name, table.region);
    }
    return 0;
}

bool BoardTemplateNamesWholeTable(const BoardTemplate& tpl, std::span<const SD_UINT8> region, const char* signature) {
    std::vector<SD_UINT8> table(region.begin(), region.end());
    if (!ApplyBoardTemplate(tpl, table)) return false;
    const SD_UINT32 length = CfgTableCoveredSize(table);
    if (length == 0 || !Covers(tpl, 0, length)) return false;
    if (std::strcmp(signature, CFGTBL_SIG_FC_BRDCFG) != 0) return true;
    if (table.size() <= CFGTBL_FC_SERDES_OFFSET) return false;
    const SD_UINT32 serdes = CfgTableCoveredSize(std::span<const SD_UINT8>(table).subspan(CFGTBL_FC_SERDES_OFFSET));
    return serdes != 0 && Covers(tpl, CFGTBL_FC_SERDES_OFFSET, CFGTBL_FC_SERDES_OFFSET + serdes);
}

int CheckSingleCopyTableBase(const SDMDevice* pDevice, const SingleCopyTable& table,
                             std::span<const SD_UINT8> adapter, const BoardTemplate* tpl) {
    if (pDevice == nullptr) return -1;
    if (CfgTableIsValid(adapter, table.signature)) return 0;
    VORNLogMessage(VORN_MSG_DEBUG, "CheckSingleCopyTableBase: Region 0x%x of HBA %d is damaged", table.region,
                   pDevice->DeviceNumber);
    // A template that names every byte is the repair: nothing of the torn bytes is kept.
    if (tpl != nullptr && BoardTemplateNamesWholeTable(*tpl, adapter, table.signature)) return 0;
    SayDamaged(pDevice, table);
    return -1;
}

int CheckSingleCopyTable(SDMDevice* pDevice, const SingleCopyTable& table, const char* templatePath) {
    if (pDevice == nullptr) return -1;
    // Only looked at: read into storage that is not cleared first.
    FlashReadBuffer read;
    if (const SD_UINT32 st = ReadConfigTableRegion(pDevice, table.region, &read); st != 0) {
        scfxPrint("HBA %s (instance %d): The %s (region 0x%X) cannot be read (error %u); nothing was written to the "
                  "adapter!",
                  ModelOf(pDevice), InstanceOf(pDevice), table.name, table.region, st);
        return -1;
    }
    const std::span<const SD_UINT8> adapter = read.Bytes();
    if (CfgTableIsValid(adapter, table.signature)) return 0;
    BoardTemplate tpl;
    const bool haveTemplate = templatePath != nullptr &&
                              LoadBoardTemplateFile(templatePath, table.signature, BRDTPL_MAX_TABLE_SIZE, &tpl) == 0;
    return CheckSingleCopyTableBase(pDevice, table, adapter, haveTemplate ? &tpl : nullptr);
}

long WriteKeepingCopy(SDMDevice* pDevice, SD_UINT32 region, std::span<const SD_UINT8> before,
                      const std::function<long()>& write, const char* what) {
    if (pDevice == nullptr) return -1;
    const TableCopyOwner owner = SingleCopyTableOwner(pDevice);
    std::string why;
    if (SaveTableCopy(owner, region, before, &why) != 0) {
        scfxPrint("HBA %s (instance %d): The copy of region 0x%X cannot be kept: %s; %s was not written!",
                  ModelOf(pDevice), InstanceOf(pDevice), region, why.c_str(), what);
        return -1;
    }
    const long st = write();
    // Read back whole: the copy has done its work. Otherwise it stays for the next run.
    if (st == 0) RemoveTableCopy(owner, region);
    return st;
}

long WriteSingleCopyTable(SDMDevice* pDevice, SD_UINT32 region, std::span<const SD_UINT8> before,
                          std::span<const SD_UINT8> table) {
    if (pDevice == nullptr) return -1;
    if (before.empty()) return WriteConfigTableRegion(pDevice, region, table);
    return WriteKeepingCopy(
        pDevice, region, before, [&] { return WriteConfigTableRegion(pDevice, region, table); }, "the table");
}

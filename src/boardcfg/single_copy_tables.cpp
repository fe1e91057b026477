// Torn single-copy tables rebuilt from the copy kept on the host, and the
// copy kept around each write of such a table.
#include "boardcfg/single_copy_tables.h"

#include "boardcfg/config_table.h"
#include "boardcfg/table_copies.h"
#include "boardcfg/table_region_io.h"
#include "frontend/hba_device_list.h"
#include "frontend/output.h"

namespace {

std::string SerialOf(const SDMDevice* device) {
    char serial[VORN_SERIAL_SIZE] = {};
    GetAdapterSerialNo(device, serial, sizeof serial);
    return serial;
}

const char* ModelOf(const SDMDevice* device) { return device->DeviceNodeProperty.Model; }

// The adapter's table is damaged: the intact copy, or the lines that say why
// there is none. 0 or -1.
int DamagedTable(const SDMDevice* device, SD_UINT32 region, const char* signature, const char* tableName,
                 std::size_t size, SingleCopyTableBase* base) {
    const std::string serial = SerialOf(device);
    std::vector<SD_UINT8> copy;
    std::string why;
    TableCopyStatus st = LoadTableCopy(serial.c_str(), region, size, &copy, &why);
    if (st == TableCopyStatus::Ok && !CfgTableIsValid(copy, signature)) {
        st = TableCopyStatus::NotIntact;
        why = "the copy " + std::string(TBLCOPY_DIR) + "/" + TableCopyFileName(serial.c_str(), region) +
              " is not intact";
    }
    if (st == TableCopyStatus::Ok) {
        if (base != nullptr) {
            base->bytes = std::move(copy);
            base->restored = true;
            base->copyPath = std::string(TBLCOPY_DIR) + "/" + TableCopyFileName(serial.c_str(), region);
        }
        return 0;
    }
    const int instance = static_cast<int>(device->DeviceNumber);
    if (!why.empty()) scfxPrint("HBA %s (instance %d): No table copy is used: %s.", ModelOf(device), instance, why.c_str());
    scfxPrint("HBA %s (instance %d): The %s (region 0x%X) on the adapter is damaged and no intact copy of it is kept "
              "in %s; nothing was written to the adapter!",
              ModelOf(device), instance, tableName, region, TBLCOPY_DIR);
    return -1;
}

}  // namespace

int ResolveSingleCopyTable(SDMDevice* pDevice, SD_UINT32 region, const char* signature, const char* tableName,
                           std::vector<SD_UINT8> adapter, SingleCopyTableBase* base) {
    if (pDevice == nullptr || base == nullptr) return -1;
    *base = SingleCopyTableBase{};
    if (CfgTableIsValid(adapter, signature)) {
        // Sound on the adapter: a copy an earlier run left behind (cut after
        // its write, before the copy went) is of no more use.
        RemoveTableCopy(SerialOf(pDevice).c_str(), region);
        base->bytes = std::move(adapter);
        return 0;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "ResolveSingleCopyTable: Region 0x%x of HBA %d is damaged", region,
                   pDevice->DeviceNumber);
    return DamagedTable(pDevice, region, signature, tableName, adapter.size(), base);
}

int CheckSingleCopyTable(SDMDevice* pDevice, SD_UINT32 region, const char* signature, const char* tableName) {
    if (pDevice == nullptr) return -1;
    // Only looked at: read into storage that is not cleared first.
    FlashReadBuffer read;
    if (const SD_UINT32 st = ReadConfigTableRegion(pDevice, region, &read); st != 0) {
        scfxPrint("HBA %s (instance %d): The %s (region 0x%X) cannot be read (error %u); nothing was written to the "
                  "adapter!",
                  ModelOf(pDevice), static_cast<int>(pDevice->DeviceNumber), tableName, region, st);
        return -1;
    }
    const std::span<const SD_UINT8> adapter = read.Bytes();
    if (CfgTableIsValid(adapter, signature)) return 0;
    return DamagedTable(pDevice, region, signature, tableName, adapter.size(), nullptr);
}

long WriteSingleCopyTable(SDMDevice* pDevice, SD_UINT32 region, std::span<const SD_UINT8> before,
                          std::span<const SD_UINT8> table) {
    if (pDevice == nullptr) return -1;
    const std::string serial = SerialOf(pDevice);
    std::string why;
    if (SaveTableCopy(serial.c_str(), region, before, &why) != 0) {
        scfxPrint("HBA %s (instance %d): The copy of region 0x%X cannot be kept: %s; the table was not written!",
                  ModelOf(pDevice), static_cast<int>(pDevice->DeviceNumber), region, why.c_str());
        return -1;
    }
    const long st = WriteConfigTableRegion(pDevice, region, table);
    // Read back whole: the copy has done its work. Otherwise it stays for the next run.
    if (st == 0) RemoveTableCopy(serial.c_str(), region);
    return st;
}

void ReportSingleCopyTableRestored(const SDMDevice* pDevice, SD_UINT32 region, const char* tableName,
                                   const std::string& copyPath) {
    if (pDevice == nullptr) return;
    scfxPrint("HBA %s (instance %d): The %s (region 0x%X) is damaged; it is rebuilt from the copy %s.",
              ModelOf(pDevice), static_cast<int>(pDevice->DeviceNumber), tableName, region, copyPath.c_str());
}

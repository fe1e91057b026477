// Configuration tables the adapter keeps once (chip type 25: the preload
// table 0x13 and the FC board configuration 0xBA). A write cut short leaves
// such a table torn with nothing on the adapter to rebuild it from, so the
// update starts from the copy kept on the host (boardcfg/table_copies.h) when
// the adapter's table is damaged, keeps a copy before every write, and drops
// it once the table is read back whole.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// What a table update starts from.
struct SingleCopyTableBase {
    std::vector<SD_UINT8> bytes;   // the adapter's table, or the kept copy when the adapter's is damaged
    bool restored = false;         // `bytes` are the kept copy
    std::string copyPath;          // the copy's file when restored
};

// The table to start from: the adapter's own (`adapter`, the whole region)
// when it holds a sound table of `signature` (a copy left from an earlier run
// is then removed), else the intact copy kept on the host. -1 when the table
// is damaged and no intact copy is kept: the line naming the region and
// saying that nothing was written is said (`tableName` e.g. "FWA preload table").
int ResolveSingleCopyTable(SDMDevice* pDevice, SD_UINT32 region, const char* signature, const char* tableName,
                           std::vector<SD_UINT8> adapter, SingleCopyTableBase* base);

// Whether the region of the adapter holds a damaged table with no intact copy
// kept on the host (said as ResolveSingleCopyTable says it). Nothing is
// written or removed. -1 for such a table, or when the region cannot be read;
// 0 otherwise.
int CheckSingleCopyTable(SDMDevice* pDevice, SD_UINT32 region, const char* signature, const char* tableName);

// Keeps `before` (the table as the update found it, or as restored) on the
// host, writes `table` to the region without a reset and reads it back, then
// removes the copy. 0; the write's or read-back's status (the copy stays);
// or -1 when the copy cannot be kept (said; nothing written).
long WriteSingleCopyTable(SDMDevice* pDevice, SD_UINT32 region, std::span<const SD_UINT8> before,
                          std::span<const SD_UINT8> table);

// "HBA <model> (instance <n>): The <table> (region 0x13) is damaged; it is
// rebuilt from the copy <path>."
void ReportSingleCopyTableRestored(const SDMDevice* pDevice, SD_UINT32 region, const char* tableName,
                                   const std::string& copyPath);

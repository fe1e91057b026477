// Configuration tables the adapter keeps once (chip type 25: the preload
// table 0x13 and the FC board configuration 0xBA; a converged adapter's VPDs
// are kept the same way, boardcfg/vpd_copies.h). A write cut short leaves
// such a table torn with nothing on the adapter to rebuild it from, so every
// write is guarded as a rollback journal guards a page: the table as it was
// is kept on the host (boardcfg/table_copies.h) before the write and dropped
// once the table reads back whole; a copy still kept means its write may not
// have finished, and it is written back before anything reads the table.
#pragma once

#include <functional>
#include <span>
#include <vector>

#include "boardcfg/board_template.h"
#include "boardcfg/table_copies.h"
#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// A table the adapter keeps once.
struct SingleCopyTable {
    SD_UINT32 region = 0;
    const char* signature = "";
    const char* name = "";        // as the lines about the adapter's flash name it, e.g. "FWA preload table"
    // Whether the region's bytes are whole; none: a configuration table of `signature`.
    bool (*sound)(std::span<const SD_UINT8>) = nullptr;
    const char* kind = "table";   // what the lines call it: "the table is written back ..."
};

// Whose copies the port's are: its adapter's serial number, or when that is
// unknown the WWPN of the adapter's first port in the device list. A copy
// is kept by this name.
TableCopyOwner SingleCopyTableOwner(const SDMDevice* pDevice);

// Every name the adapter's copies may have been kept by, since its serial
// number may have become readable, or unreadable, after a copy was kept:
// SingleCopyTableOwner first, then the WWPN of its first port when that is
// a serial number, or, when it is the WWPN, each serial number that a sound
// FC VPD copy on the adapter's flash holds (a torn running VPD is rebuilt
// from it). Nothing is written.
std::vector<TableCopyOwner> SingleCopyTableOwners(SDMDevice* pDevice);

// Writes back every copy kept of these tables of the adapter, looked for
// under each of its names (SingleCopyTableOwners); the header of a copy
// decides whether it is this adapter's (it names one of them). All are read
// and checked first: a copy that cannot be used (refused, not intact, kept
// for another adapter, not a sound table, or kept under two of the
// adapter's names, when nothing tells which is the later) is said with the
// region and nothing is written (-1, the first such table's region in
// *failedRegion when given). Then each is written to its region, read back
// and only then its file removed; a write that fails is said and keeps its
// copy, and those after it, for the next run (-1, that table's region).
// 0 when nothing was kept or every copy went back.
int RollBackSingleCopyTables(SDMDevice* pDevice, std::span<const SingleCopyTable> tables,
                             SD_UINT32* failedRegion = nullptr);

// Whether the template names every byte of the table it makes over `region`
// (the region's bytes): the table's length and, for the FC board
// configuration, its SerDes table too. Such a template needs no copy.
bool BoardTemplateNamesWholeTable(const BoardTemplate& tpl, std::span<const SD_UINT8> region, const char* signature);

// Whether the region's bytes (`adapter`) can be the base of the table's
// update: a sound table, or a damaged one that `tpl` (null: none) names
// whole, which repairs it. Otherwise -1 and "HBA <model> (instance <n>): The
// FWA preload table (region 0x13) on the adapter is damaged and no intact
// copy of it is kept in /var/lib/tarvikolen; nothing was written to the
// adapter!" is said.
int CheckSingleCopyTableBase(const SDMDevice* pDevice, const SingleCopyTable& table,
                             std::span<const SD_UINT8> adapter, const BoardTemplate* tpl);

// The same for the table as the region holds it now, the template read from
// `templatePath` (null: none) only when the table is damaged. Nothing is
// written. -1 also when the region cannot be read (said).
int CheckSingleCopyTable(SDMDevice* pDevice, const SingleCopyTable& table, const char* templatePath);

// Keeps `before` (the region's bytes as the update found them) on the host,
// then runs `write` (0 once the region reads back as it wrote it), then
// removes the copy; after a failed write it stays for the next run. 0; the
// write's status; or -1 when the copy cannot be kept (said with `what`, e.g.
// "the table"; nothing written).
long WriteKeepingCopy(SDMDevice* pDevice, SD_UINT32 region, std::span<const SD_UINT8> before,
                      const std::function<long()>& write, const char* what);

// Keeps `before` (the table as the update found it) on the host, writes
// `table` to the region without a reset and reads it back, then removes the
// copy. An empty `before` keeps no copy: a damaged table that its template
// repairs whole. 0; the write's or read-back's status (the copy stays); or
// -1 when the copy cannot be kept (said; nothing written).
long WriteSingleCopyTable(SDMDevice* pDevice, SD_UINT32 region, std::span<const SD_UINT8> before,
                          std::span<const SD_UINT8> table);

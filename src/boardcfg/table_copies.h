// Copies of an adapter's single-copy configuration tables kept on the host
// while they are rewritten. A power cut in the middle of such a write leaves
// a torn table and nothing on the adapter to rebuild it from; the copy taken
// before the write still holds every byte the template does not name.
//
// One file per adapter serial number and region in TBLCOPY_DIR (made 0700,
// root's own, writable by no one else; it outlives a reboot, unlike /tmp or
// /run). A copy is written and synced, with its directory, before the flash
// write and removed once the read-back matches, or when a later run finds the
// table intact. Format: docs/board-templates.md ("Copies kept while a table is
// rewritten").
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "mgmt/sd_types.h"

constexpr const char* TBLCOPY_DIR = "/var/lib/tarvikolen";
// Header: "TKTC", format 1, region, data length, FNV-1a 64 of the data (all little-endian).
constexpr std::size_t TBLCOPY_HEADER_SIZE = 24;
constexpr SD_UINT32 TBLCOPY_FORMAT = 1;
// Largest table a copy holds (the configuration tables' regions are 64 KiB).
constexpr std::size_t TBLCOPY_MAX_DATA = 0x100000;

enum class TableCopyStatus {
    Ok,
    Missing,      // no copy (or no directory yet)
    NotIntact,    // a file that is not a whole copy of this region
    Refused,      // the directory or the file is one root cannot trust, or cannot be used
};

// The copy's file name for an adapter serial number and a region, e.g.
// "ZV00010000-0x13.copy"; bytes other than letters, digits, '-' and '_' are
// written as "%XX". Empty for an unknown ("N/A") or empty serial number.
std::string TableCopyFileName(const char* serial, SD_UINT32 region);

// The file's bytes for a region's data (header and data).
std::vector<SD_UINT8> EncodeTableCopy(SD_UINT32 region, std::span<const SD_UINT8> data);
// The data of a copy file's bytes when they are a whole copy of `region` of
// `size` bytes; false otherwise.
bool DecodeTableCopy(std::span<const SD_UINT8> file, SD_UINT32 region, std::size_t size, std::vector<SD_UINT8>* data);

// Writes the copy (a fresh file renamed over the old one) and syncs it and
// the directory, which is made when missing. 0, or -1 with the reason in *why
// (e.g. "the directory /var/lib/tarvikolen is refused: group or other users may write it").
int SaveTableCopy(const char* serial, SD_UINT32 region, std::span<const SD_UINT8> data, std::string* why);
// Reads the copy of `region` (`size` bytes) through the program's reader rule.
// Anything but Ok and Missing comes with the reason in *why.
TableCopyStatus LoadTableCopy(const char* serial, SD_UINT32 region, std::size_t size, std::vector<SD_UINT8>* data,
                              std::string* why);
// Removes the copy when there is one (nothing when the directory is refused).
void RemoveTableCopy(const char* serial, SD_UINT32 region);

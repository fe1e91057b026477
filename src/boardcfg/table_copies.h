// Copies of an adapter's single-copy configuration tables kept on the host
// while they are rewritten. A power cut in the middle of such a write leaves
// a torn table and nothing on the adapter to rebuild it from; the copy taken
// before the write still holds every byte the template does not name.
//
// One file per adapter and region in TBLCOPY_DIR (made 0700, root's own,
// writable by no one else; it outlives a reboot, unlike /tmp or /run). A copy
// is written and synced, with its directory, before the flash write and
// removed once the read-back matches. One that is still there means its write
// may not have finished: the next run writes it back before anything else
// touches the adapter's tables. Format: docs/board-templates.md ("Copies kept
// while a table is rewritten").
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "mgmt/sd_types.h"

constexpr const char* TBLCOPY_DIR = "/var/lib/tarvikolen";
// Header: "TKTC", format, region, data length, FNV-1a 64 (all little-endian);
// from format 2 on the adapter it belongs to follows (kind, length, 64 bytes).
constexpr std::size_t TBLCOPY_HEADER_SIZE = 96;
constexpr std::size_t TBLCOPY_V1_HEADER_SIZE = 24;
constexpr SD_UINT32 TBLCOPY_FORMAT = 2;
constexpr std::size_t TBLCOPY_OWNER_SIZE = 64;
// Largest table a copy holds (the configuration tables' regions are 64 KiB).
constexpr std::size_t TBLCOPY_MAX_DATA = 0x100000;

// The adapter a copy belongs to: its serial number, or, when that is unknown,
// its first port's WWPN ("10:00:00:90:FA:00:00:01"), which every adapter has.
enum class TableCopyOwnerKind : SD_UINT32 { None = 0, Serial = 1, Wwpn = 2 };
struct TableCopyOwner {
    TableCopyOwnerKind kind = TableCopyOwnerKind::None;
    std::string id;
};

// The owner for an adapter serial number (empty or "N/A...": unknown) and
// the WWPN of its first port (all zero: unknown). None when neither is known.
TableCopyOwner TableCopyOwnerOf(const char* serial, std::span<const SD_UINT8, 8> firstPortWwpn);

enum class TableCopyStatus {
    Ok,
    Missing,      // no copy (or no directory yet)
    NotIntact,    // a file that is not a whole copy of this region
    Refused,      // the directory or the file is one root cannot trust, or cannot be used
};

// The copy's file name for an owner and a region, e.g. "ZV00010000-0x13.copy"
// (bytes of a serial number other than letters, digits, '-' and '_' written
// as "%XX") or "10:00:00:90:FA:00:00:01-0x13.copy" (a name no serial number
// gives). Empty for no owner or an id longer than the header holds.
std::string TableCopyFileName(const TableCopyOwner& owner, SD_UINT32 region);
// TBLCOPY_DIR and the file name.
std::string TableCopyPath(const TableCopyOwner& owner, SD_UINT32 region);

// The file's bytes for a region's data (header and data).
std::vector<SD_UINT8> EncodeTableCopy(const TableCopyOwner& owner, SD_UINT32 region, std::span<const SD_UINT8> data);
enum class TableCopyDecode { Ok, NotIntact, OtherOwner };
// Ok with the data when the bytes are a whole copy of `region` of `size`
// bytes that names one of `adapter` (everything the adapter is known by:
// its serial number, its first port's WWPN), exactly, kind and name;
// OtherOwner for a whole copy that names another adapter. `name` is the
// owner the file is named by: a format-1 copy names no adapter, its file
// name, kept by serial number, was its only key, and it is taken only at a
// serial-number name.
TableCopyDecode DecodeTableCopy(std::span<const SD_UINT8> file, const TableCopyOwner& name,
                                std::span<const TableCopyOwner> adapter, SD_UINT32 region, std::size_t size,
                                std::vector<SD_UINT8>* data);
// The same for a copy named by `owner` and taken only for `owner`.
TableCopyDecode DecodeTableCopy(std::span<const SD_UINT8> file, const TableCopyOwner& owner, SD_UINT32 region,
                                std::size_t size, std::vector<SD_UINT8>* data);

// Writes the copy (a fresh file renamed over the old one) and syncs it and
// the directory, which is made when missing. 0, or -1 with the reason in *why
// (e.g. "the directory /var/lib/tarvikolen is refused: group or other users may write it").
int SaveTableCopy(const TableCopyOwner& owner, SD_UINT32 region, std::span<const SD_UINT8> data, std::string* why);
// Whether anything has the copy's name (nothing is opened or read): a copy
// that may need writing back, usable or not.
bool TableCopyPresent(const TableCopyOwner& owner, SD_UINT32 region);
// Reads the copy of `region` (`size` bytes) named by `name` through the
// program's reader rule; it is used only when it names one of `adapter`
// (DecodeTableCopy). Anything but Ok and Missing comes with the reason in *why.
TableCopyStatus LoadTableCopy(const TableCopyOwner& name, std::span<const TableCopyOwner> adapter, SD_UINT32 region,
                              std::size_t size, std::vector<SD_UINT8>* data, std::string* why);
// Removes the copy when there is one (nothing when the directory is refused).
void RemoveTableCopy(const TableCopyOwner& owner, SD_UINT32 region);

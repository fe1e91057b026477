// What the engines do with single entries of an image layout table: the chip
// revision rule of an entry, the copy of one component out of the image, and
// the time stamp written into the table of an image combined for an adapter.
#pragma once

#include <ctime>
#include <span>

#include "image/ilt_records.h"

// Reasons an entry does not fit the adapter's chip revision.
constexpr int ILT_CHIPREV_WRONG_REGION = -3;     // also a null entry
constexpr int ILT_CHIPREV_NO_ADAPTER_REV = -12;
constexpr int ILT_CHIPREV_CONVERGED_FW = -13;
constexpr int ILT_CHIPREV_RESET_SEQUENCE = -15;
constexpr int ILT_CHIPREV_MINIDUMP = -16;

// Statuses of the component copy.
constexpr int ILT_COPY_NO_ENTRY = -1;
constexpr int ILT_COPY_OUT_OF_BOUNDS = -2;       // component past the image or larger than the destination

// The flash-time-stamp writer ids this program puts into a table.
constexpr SD_UINT8 ILT_STAMP_SOURCE = 0;
constexpr SD_UINT8 ILT_STAMP_ORIGINATOR = 4;

// 0 when the entry may be written to an adapter of this chip revision, else
// one of the negative reasons above.
int ValidateImageChipRevision(const ILT_Region_t* region, SD_UINT16 adapterChipRev);

// Copies the entry's component from the image to the start of `dest`: 0,
// -1 for a null entry, -2 (nothing copied) when the component reaches past
// the image or does not fit `dest`.
int GetSpecificImageComponentInBuffer(std::span<SD_UINT8> dest, std::span<const SD_UINT8> image,
                                      const ILT_Region_t* region);

// Clears the table's checksum in `ilt`, copies tableLength bytes of it to the
// start of `dest` and stamps the copy's time-stamp entry with the local time,
// source 0 and originator 4; both tables then carry checksum 0. Returns 1, or
// 0 with nothing changed when the table cannot be stamped safely: no table,
// no entries, a tableLength short of the time-stamp entry, or one that
// reaches past `ilt` or `dest`.
int UdpateTimeStamp(std::span<SD_UINT8> dest, std::span<SD_UINT8> ilt);
// The same with a given local time; null means the time is unavailable (the
// table is copied and its checksum cleared, the stamp is left as it was).
int UdpateTimeStampAt(std::span<SD_UINT8> dest, std::span<SD_UINT8> ilt, const std::tm* local);

// Writes the table's time stamp to the debug log: 0, or -1 when it cannot be read.
int GetImageTimeStamp(std::span<const SD_UINT8> ilt);

// The adapter table (adapters.properties): which adapter models, by PCI subsystem
// ids, the utility may flash. The file comes plain or Blowfish-enciphered; both
// readers give the same list, always headed by one empty row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

struct AdapterSubSystemIDList {
    char AdapterID[20]{};     // subsystem device id as written, e.g. 0x0240
    char VendorID[20]{};      // subsystem vendor id as written, e.g. 0x1077
    char ISP[10]{};
    char Desc[128]{};
    char Supported[10]{};     // holds "TRUE" for a supported model
    char SupportedVI[10]{};
    char SupportedEP[10]{};
    uint8_t Reserved[48]{};
    std::unique_ptr<AdapterSubSystemIDList> next;

    AdapterSubSystemIDList() = default;
    AdapterSubSystemIDList(const AdapterSubSystemIDList&) = delete;
    AdapterSubSystemIDList& operator=(const AdapterSubSystemIDList&) = delete;
    // Releases the rows behind it one by one, so a long list cannot exhaust the stack.
    ~AdapterSubSystemIDList();
};

using SubSystemIDListPtr = std::unique_ptr<AdapterSubSystemIDList>;

// Key of the enciphered table.
inline constexpr std::string_view kAdapterPropertiesKey = "Brisko42PinWith:cardtable.settings";
inline constexpr const char* kAdapterPropertiesFileName = "adapters.properties";

SubSystemIDListPtr CreateNewSubSystemID();
// Appends a row made of the texts (cut to the field sizes; a null SupportedVI or
// SupportedEP gives "FALSE", another null text gives an empty field); the new row.
AdapterSubSystemIDList* AddSubSystemToSubSystemList(SubSystemIDListPtr& list, const char* AdapterID,
                                                    const char* VendorID, const char* ISP, const char* Desc,
                                                    const char* Supported, const char* SupportedVI,
                                                    const char* SupportedEP);
// First row whose ids are exactly "0x%04X" of the numbers (case matters); null when none.
const AdapterSubSystemIDList* FindSubSystemInSubSystemList(const AdapterSubSystemIDList* list,
                                                           uint32_t subsystemDeviceId,
                                                           uint32_t subsystemVendorId);
void PrintSubSystemIDList(const AdapterSubSystemIDList* list);
// Rows, the empty first row included.
int CountSubSystemID(const AdapterSubSystemIDList* list);
void DeleteSubSystemIDList(SubSystemIDListPtr& list);
// 1 when the row's supported field contains "TRUE".
int IsSubSystemRowSupported(const AdapterSubSystemIDList* row);

// Both readers read a regular file only, and in a directory that group or others
// may write only a file that root owns and only root can write (core/input_file.h).
// Plain form; null when the file cannot be opened or read.
SubSystemIDListPtr BuildSubSystemListFromFile(const std::string& path);
// Enciphered form (whole file, ECB); null when the file cannot be read, is empty or
// its first line is not a row.
SubSystemIDListPtr BuildSubSystemListFromEncryptedFile(const std::string& path, std::span<const uint8_t> key);
SubSystemIDListPtr BuildSubSystemListFromEncryptedFile(const std::string& path, std::string_view key);
// The enciphered form with the table's key, else the plain form; null when neither reads.
SubSystemIDListPtr LoadAdapterSubSystemList(const std::string& path);

// Fills one row from one line of text (up to its first zero byte); 1 on success, 0 otherwise.
int PopulateSubSystemData(AdapterSubSystemIDList& row, std::span<const char> line);

// The last min(length, n) characters of the text.
std::string RightTrim(std::string_view text, size_t n);

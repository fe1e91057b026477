// Readers of the adapter table in its plain and enciphered forms.
#include "core/adapter_ssid_list.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/blowfish.h"
#include "core/core_log.h"
#include "core/input_file.h"

namespace {

constexpr size_t kLineBuffer = 2048;   // a longer line continues as further lines
constexpr size_t kCommaWindow = 255;
constexpr size_t kFieldCount = 7;

struct FileCloser {
    void operator()(std::FILE* f) const noexcept {
        if (f != nullptr) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

template <size_t N>
void CopyField(char (&field)[N], std::string_view text) {
    const size_t n = std::min(text.size(), N - 1);
    if (n > 0) std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

std::string_view OrEmpty(const char* text) { return text != nullptr ? std::string_view(text) : std::string_view(); }

// The text of a line ends at its first zero byte, as in a C string.
std::string_view LineText(std::span<const char> line) {
    const auto end = std::find(line.begin(), line.end(), '\0');
    return {line.data(), static_cast<size_t>(end - line.begin())};
}

// Splits at commas only; runs of commas make no empty fields. Up to seven fields.
size_t SplitFields(std::string_view text, std::array<std::string_view, kFieldCount>& fields) {
    size_t count = 0;
    size_t pos = 0;
    while (count < kFieldCount) {
        pos = text.find_first_not_of(',', pos);
        if (pos == std::string_view::npos) break;
        size_t end = text.find(',', pos);
        if (end == std::string_view::npos) end = text.size();
        fields[count++] = text.substr(pos, end - pos);
        pos = end;
    }
    return count;
}

void FillRow(AdapterSubSystemIDList& row, const std::array<std::string_view, kFieldCount>& f, size_t count) {
    CopyField(row.AdapterID, f[0]);
    CopyField(row.VendorID, f[1]);
    CopyField(row.ISP, f[2]);
    CopyField(row.Desc, f[3]);
    CopyField(row.Supported, f[4]);
    CopyField(row.SupportedVI, count > 5 ? f[5] : std::string_view("FALSE"));
    CopyField(row.SupportedEP, count > 6 ? f[6] : std::string_view("FALSE"));
}

// Deciphered text that is not a table row (a plain file read with the key, or the
// wrong key) shows control bytes; such a line must not count as a row.
bool HasControlBytes(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t' && u != '\r' && u != '\n') || u == 0x7F;
    });
}

// Cuts the text into lines as a 2048-byte line reader does: through the newline, or
// 2047 bytes when no newline comes first.
template <typename Fn>
void ForEachLine(std::string_view data, Fn&& fn) {
    size_t pos = 0;
    while (pos < data.size()) {
        const size_t limit = std::min(data.size() - pos, kLineBuffer - 1);
        const size_t nl = data.substr(pos, limit).find('\n');
        const size_t len = nl == std::string_view::npos ? limit : nl + 1;
        if (!fn(data.substr(pos, len))) return;
        pos += len;
    }
}

// Appends behind a known last row, so building a long list stays linear.
AdapterSubSystemIDList* AppendRow(SubSystemIDListPtr& head, AdapterSubSystemIDList*& tail,
                                  SubSystemIDListPtr row) {
    AdapterSubSystemIDList* added = row.get();
    if (!head) {
        head = std::move(row);
    } else {
        if (tail == nullptr) {
            tail = head.get();
            while (tail->next) tail = tail->next.get();
        }
        tail->next = std::move(row);
    }
    tail = added;
    return added;
}

// Whole file in memory, read in 256-byte pieces so that a read error is seen.
bool ReadAll(std::FILE* f, std::string& data) {
    std::array<char, 256> piece{};
    for (;;) {
        const size_t got = std::fread(piece.data(), 1, piece.size(), f);
        data.append(piece.data(), got);
        if (got < piece.size()) return std::ferror(f) == 0;
    }
}

}  // namespace

AdapterSubSystemIDList::~AdapterSubSystemIDList() {
    std::unique_ptr<AdapterSubSystemIDList> rest = std::move(next);
    while (rest) rest = std::move(rest->next);
}

SubSystemIDListPtr CreateNewSubSystemID() {
    return SubSystemIDListPtr(new (std::nothrow) AdapterSubSystemIDList());
}

AdapterSubSystemIDList* AddSubSystemToSubSystemList(SubSystemIDListPtr& list, const char* AdapterID,
                                                    const char* VendorID, const char* ISP, const char* Desc,
                                                    const char* Supported, const char* SupportedVI,
                                                    const char* SupportedEP) {
    SubSystemIDListPtr row = CreateNewSubSystemID();
    if (!row) return nullptr;
    CopyField(row->AdapterID, OrEmpty(AdapterID));
    CopyField(row->VendorID, OrEmpty(VendorID));
    CopyField(row->ISP, OrEmpty(ISP));
    CopyField(row->Desc, OrEmpty(Desc));
    CopyField(row->Supported, OrEmpty(Supported));
    CopyField(row->SupportedVI, SupportedVI != nullptr ? std::string_view(SupportedVI) : "FALSE");
    CopyField(row->SupportedEP, SupportedEP != nullptr ? std::string_view(SupportedEP) : "FALSE");
    AdapterSubSystemIDList* tail = nullptr;
    return AppendRow(list, tail, std::move(row));
}

const AdapterSubSystemIDList* FindSubSystemInSubSystemList(const AdapterSubSystemIDList* list,
                                                           uint32_t subsystemDeviceId,
                                                           uint32_t subsystemVendorId) {
    char ssdid[16];
    char ssvid[16];
    std::snprintf(ssdid, sizeof ssdid, "0x%04X", subsystemDeviceId);
    std::snprintf(ssvid, sizeof ssvid, "0x%04X", subsystemVendorId);
    for (const AdapterSubSystemIDList* row = list; row != nullptr; row = row->next.get()) {
        if (std::strcmp(row->AdapterID, ssdid) == 0 && std::strcmp(row->VendorID, ssvid) == 0) {
            CoreLogMessage(ZV_MSG_DEBUG, "FindSubSystemInSubSystemList: Found SSVID: %s SSDID %s.", row->VendorID,
                           row->AdapterID);
            return row;
        }
    }
    return nullptr;
}

void PrintSubSystemIDList(const AdapterSubSystemIDList* list) {
    int index = 0;
    for (const AdapterSubSystemIDList* row = list; row != nullptr; row = row->next.get(), ++index) {
        CoreLogMessage(ZV_MSG_DEBUG, "\nEntry %d: %s %s %s %s %s %s", index, row->AdapterID, row->VendorID, row->ISP,
                       row->Desc, row->Supported, row->SupportedVI);
    }
}

int CountSubSystemID(const AdapterSubSystemIDList* list) {
    int count = 0;
    for (const AdapterSubSystemIDList* row = list; row != nullptr; row = row->next.get()) ++count;
    return count;
}

void DeleteSubSystemIDList(SubSystemIDListPtr& list) { list.reset(); }

int IsSubSystemRowSupported(const AdapterSubSystemIDList* row) {
    return row != nullptr && std::strstr(row->Supported, "TRUE") != nullptr ? 1 : 0;
}

int PopulateSubSystemData(AdapterSubSystemIDList& row, std::span<const char> line) {
    const std::string_view text = LineText(line);
    std::array<std::string_view, kFieldCount> fields{};
    const size_t count = SplitFields(text, fields);
    if (count < 5 || HasControlBytes(text)) {
        CoreLogMessage(ZV_MSG_DEBUG, "PopulateSubSystemData: Failed to build adapter subsystem entry!");
        return 0;
    }
    FillRow(row, fields, count);
    return 1;
}

SubSystemIDListPtr BuildSubSystemListFromFile(const std::string& path) {
    // A table that another user could have planted is treated as absent.
    FilePtr f(CoreFopenInputFile(path.c_str(), "r", nullptr));
    if (!f) {
        CoreLogMessage(ZV_MSG_DEBUG, "BuildSubSystemListFromFile: Cannot open the adapter properties file %s !",
                       path.c_str());
        return nullptr;
    }
    std::string data;
    try {
        if (!ReadAll(f.get(), data)) {
            CoreLogMessage(ZV_MSG_ERROR, "BuildSubSystemListFromFile: Failed to read the %s file!", path.c_str());
            return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    f.reset();

    SubSystemIDListPtr list = CreateNewSubSystemID();
    if (!list) return nullptr;
    AdapterSubSystemIDList* tail = list.get();
    int lineNumber = 0;
    ForEachLine(data, [&](std::string_view chunk) {
        ++lineNumber;
        if (chunk.front() == '\n') return true;
        const std::string_view text = LineText(chunk);
        size_t commas = 0;
        for (size_t i = 0; i < text.size() && i < kCommaWindow && text[i] != '\n'; ++i) {
            if (text[i] == ',') ++commas;
        }
        if (commas <= 3) return true;
        std::array<std::string_view, kFieldCount> fields{};
        const size_t count = SplitFields(text, fields);
        if (count < 5) {
            CoreLogMessage(ZV_MSG_DEBUG,
                           "BuildSubSystemListFromFile: Failed to build adapter subsystem list from file %s line %d!",
                           path.c_str(), lineNumber);
            return true;
        }
        SubSystemIDListPtr row = CreateNewSubSystemID();
        if (!row) return true;
        FillRow(*row, fields, count);
        AppendRow(list, tail, std::move(row));
        return true;
    });
    return list;
}

SubSystemIDListPtr BuildSubSystemListFromEncryptedFile(const std::string& path, std::span<const uint8_t> key) {
    FilePtr f(CoreFopenInputFile(path.c_str(), "rb", nullptr));
    if (!f) {
        CoreLogMessage(ZV_MSG_DEBUG,
                       "BuildSubSystemListFromEncryptedFile: Cannot open the adapter properties file %s !",
                       path.c_str());
        return nullptr;
    }
    long length = -1;
    if (std::fseek(f.get(), 0, SEEK_END) == 0) length = std::ftell(f.get());
    if (length < 0) {
        CoreLogMessage(ZV_MSG_DEBUG, "BuildSubSystemListFromEncryptedFile: Unable to seek end of file %s !",
                       path.c_str());
        return nullptr;
    }
    std::rewind(f.get());
    // The block count is a size_t: the whole file is deciphered however large it is.
    const size_t size = (static_cast<size_t>(length) + BLOWFISH_BLOCK_SIZE - 1) / BLOWFISH_BLOCK_SIZE *
                        BLOWFISH_BLOCK_SIZE;
    std::vector<uint8_t> cipher;
    std::vector<uint8_t> plain;
    try {
        if (size == 0) throw std::bad_alloc();
        cipher.assign(size, 0);
        plain.assign(size, 0);
    } catch (const std::exception&) {   // bad_alloc, or a length no vector can hold
        CoreLogMessage(ZV_MSG_DEBUG, "BuildSubSystemListFromEncryptedFile: Unable to allocate %zu for encrypted buffer!",
                       size);
        return nullptr;
    }
    const size_t got = std::fread(cipher.data(), 1, static_cast<size_t>(length), f.get());
    if (got != static_cast<size_t>(length) || std::ferror(f.get()) != 0) {
        CoreLogMessage(ZV_MSG_ERROR, "BuildSubSystemListFromEncryptedFile: Failed to read the %s file!", path.c_str());
        return nullptr;
    }
    f.reset();

    BLOWFISH_CTX ctx;
    if (BlowfishInit(ctx, key) != 0 || BlowfishDecryptBuffer(ctx, plain, cipher) != size) return nullptr;

    SubSystemIDListPtr list = CreateNewSubSystemID();
    if (!list) return nullptr;
    AdapterSubSystemIDList* tail = list.get();
    bool anyRow = false;
    bool failed = false;
    const std::string_view text(reinterpret_cast<const char*>(plain.data()), plain.size());
    ForEachLine(text, [&](std::string_view chunk) {
        SubSystemIDListPtr row = CreateNewSubSystemID();
        if (!row) {
            failed = !anyRow;
            return false;
        }
        if (PopulateSubSystemData(*row, std::span<const char>(chunk.data(), chunk.size())) == 0) {
            CoreLogMessage(ZV_MSG_DEBUG, "BuildSubSystemListFromEncryptedFile: Error encountered when reading buffer!");
            // Noise before the first row means this is no enciphered table (a
            // plain file, another key): nothing is taken, the plain reader
            // gets its turn. A line of clean text that is no row (a header)
            // is passed over like a bad line later on, so that the table
            // behind it is not lost.
            if (!anyRow && HasControlBytes(LineText(std::span<const char>(chunk.data(), chunk.size())))) {
                failed = true;
                return false;
            }
            return true;
        }
        AppendRow(list, tail, std::move(row));
        anyRow = true;
        return true;
    });
    if (failed) return nullptr;
    return list;
}

SubSystemIDListPtr BuildSubSystemListFromEncryptedFile(const std::string& path, std::string_view key) {
    return BuildSubSystemListFromEncryptedFile(
        path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(key.data()), key.size()));
}

SubSystemIDListPtr LoadAdapterSubSystemList(const std::string& path) {
    SubSystemIDListPtr list = BuildSubSystemListFromEncryptedFile(path, kAdapterPropertiesKey);
    if (!list) list = BuildSubSystemListFromFile(path);
    return list;
}

std::string RightTrim(std::string_view text, size_t n) {
    const size_t take = std::min(text.size(), n);
    return std::string(text.substr(text.size() - take));
}

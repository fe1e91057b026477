// The adapter table (adapters.properties), plain and enciphered: every row's
// fields stay terminated inside their arrays, the list keeps its empty first
// row and never holds more rows than the text has lines.
//
// Input: one byte choosing the form, then the file's text.
//   0  the text as a plain file
//   1  the text enciphered with the table's key, through the enciphered reader
//   2  the bytes as they are, through the reader that tries both forms
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/adapter_ssid_list.h"
#include "core/blowfish.h"
#include "fuzz_support.h"

namespace {

template <size_t N>
bool Terminated(const char (&field)[N]) {
    return strnlen(field, N) < N;
}

void CheckRow(const AdapterSubSystemIDList& r) {
    ZVFUZZ_CHECK(Terminated(r.AdapterID) && Terminated(r.VendorID) && Terminated(r.ISP) && Terminated(r.Desc) &&
                 Terminated(r.Supported) && Terminated(r.SupportedVI) && Terminated(r.SupportedEP));
}

void CheckList(const SubSystemIDListPtr& list, size_t maxRows) {
    if (!list) return;
    ZVFUZZ_CHECK(list->AdapterID[0] == '\0');
    size_t rows = 0;
    for (const AdapterSubSystemIDList* r = list.get(); r != nullptr; r = r->next.get(), ++rows) CheckRow(*r);
    ZVFUZZ_CHECK(rows <= maxRows + 1);
    ZVFUZZ_CHECK(CountSubSystemID(list.get()) == static_cast<int>(rows));
}

size_t Lines(std::span<const uint8_t> text) {
    size_t n = 1;
    for (uint8_t c : text) n += c == '\n';
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::string path = zvfuzz::ScratchDir() + "/adapters.properties";
    const std::vector<uint8_t> text(data + 1, data + size);
    switch (data[0] % 3) {
        case 0: {
            zvfuzz::WriteFile(path, text);
            const SubSystemIDListPtr list = BuildSubSystemListFromFile(path);
            ZVFUZZ_CHECK(list != nullptr);   // a readable file always gives a list
            CheckList(list, Lines(text));
            break;
        }
        case 1: {
            std::vector<uint8_t> cipher(text);
            cipher.resize((cipher.size() + 7) / 8 * 8, 0);
            BLOWFISH_CTX ctx;
            ZVFUZZ_CHECK(BlowfishInit(ctx, kAdapterPropertiesKey) == 0);
            ZVFUZZ_CHECK(BlowfishEncryptBuffer(ctx, cipher, cipher) == cipher.size());
            zvfuzz::WriteFile(path, cipher);
            CheckList(BuildSubSystemListFromEncryptedFile(path, kAdapterPropertiesKey), text.size());
            break;
        }
        default:
            zvfuzz::WriteFile(path, text);
            CheckList(LoadAdapterSubSystemList(path), text.size() + 16);
            break;
    }
    // Each line on its own, in a buffer of exactly its length (no terminator).
    size_t from = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n') continue;
        const std::vector<char> line(text.begin() + static_cast<long>(from), text.begin() + static_cast<long>(i));
        AdapterSubSystemIDList row;
        const int rc = PopulateSubSystemData(row, line);
        ZVFUZZ_CHECK(rc == 0 || rc == 1);
        CheckRow(row);
        from = i + 1;
    }
    return 0;
}

// Whole-file Blowfish in ECB mode, zero-padded to the block size, through
// OpenSSL: an implementation independent of the program's own cipher, for
// making enciphered adapter tables. Only the test programs that link OpenSSL
// may include it.
#pragma once

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <string>
#include <string_view>

namespace zvtest {

inline std::string EncipherWithOpenSsl(std::string plain, std::string_view key) {
    plain.resize((plain.size() + 7) / 8 * 8, '\0');
    BF_KEY bfKey;
    BF_set_key(&bfKey, static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
    std::string out(plain.size(), '\0');
    for (size_t i = 0; i < plain.size(); i += 8) {
        BF_ecb_encrypt(reinterpret_cast<const unsigned char*>(plain.data() + i),
                       reinterpret_cast<unsigned char*>(out.data() + i), &bfKey, BF_ENCRYPT);
    }
    return out;
}

}  // namespace zvtest

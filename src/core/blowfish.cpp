// Blowfish through libgcrypt: the cipher itself is the library's, this file only
// adapts it to the block, buffer and hex-text shapes the program uses.
#include "core/blowfish.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>

namespace {

// Key of the hex-text helpers.
constexpr std::array<uint8_t, 7> g_aEncryptionKey = {0x5a, 0x91, 0xc3, 0x07, 0x7e, 0x4b, 0x28};

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Another component of the process may have set the library up already.
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) != 0) return;
        gcry_check_version(GCRYPT_VERSION);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t GetBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// ECB over `len` bytes (a whole number of blocks) from in to out.
bool Run(BLOWFISH_CTX& ctx, bool encrypt, uint8_t* out, const uint8_t* in, size_t len) {
    if (!ctx.handle || len == 0) return false;
    gcry_error_t err;
    if (out == in) {
        err = encrypt ? gcry_cipher_encrypt(ctx.handle.get(), out, len, nullptr, 0)
                      : gcry_cipher_decrypt(ctx.handle.get(), out, len, nullptr, 0);
    } else {
        err = encrypt ? gcry_cipher_encrypt(ctx.handle.get(), out, len, in, len)
                      : gcry_cipher_decrypt(ctx.handle.get(), out, len, in, len);
    }
    return err == 0;
}

void RunHalves(BLOWFISH_CTX& ctx, bool encrypt, uint32_t* left, uint32_t* right) {
    if (left == nullptr || right == nullptr) return;
    std::array<uint8_t, BLOWFISH_BLOCK_SIZE> block{};
    PutBE32(block.data(), *left);
    PutBE32(block.data() + 4, *right);
    if (!Run(ctx, encrypt, block.data(), block.data(), block.size())) return;
    *left = GetBE32(block.data());
    *right = GetBE32(block.data() + 4);
}

int RunBlock(BLOWFISH_CTX& ctx, bool encrypt, std::span<uint8_t> out, size_t outOffset,
             std::span<const uint8_t> in, size_t inOffset) {
    if (outOffset > out.size() || out.size() - outOffset < BLOWFISH_BLOCK_SIZE) return -1;
    if (inOffset > in.size() || in.size() - inOffset < BLOWFISH_BLOCK_SIZE) return -1;
    // A copy keeps overlapping source and destination blocks correct.
    std::array<uint8_t, BLOWFISH_BLOCK_SIZE> block{};
    std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(inOffset), block.size(), block.begin());
    if (!Run(ctx, encrypt, block.data(), block.data(), block.size())) return -1;
    std::copy(block.begin(), block.end(), out.begin() + static_cast<std::ptrdiff_t>(outOffset));
    return 0;
}

size_t RunBuffer(BLOWFISH_CTX& ctx, bool encrypt, std::span<uint8_t> out, std::span<const uint8_t> in) {
    const size_t len = std::min(out.size(), in.size()) / BLOWFISH_BLOCK_SIZE * BLOWFISH_BLOCK_SIZE;
    if (len == 0) return 0;
    const uint8_t* src = in.data();
    std::vector<uint8_t> staged;
    if (src != out.data()) {
        const bool overlap = src < out.data() + len && out.data() < src + len;
        if (overlap) {
            staged.assign(src, src + len);
            src = staged.data();
        }
    }
    if (src == out.data()) return Run(ctx, encrypt, out.data(), out.data(), len) ? len : 0;
    return Run(ctx, encrypt, out.data(), src, len) ? len : 0;
}

}  // namespace

void BlowfishHandleCloser::operator()(gcry_cipher_handle* handle) const noexcept {
    if (handle != nullptr) gcry_cipher_close(handle);
}

int BlowfishInit(BLOWFISH_CTX& ctx, std::span<const uint8_t> key) {
    ctx.handle.reset();
    if (key.empty() || key.size() > BLOWFISH_MAX_KEY_LENGTH) return -1;
    InitLibrary();
    gcry_cipher_hd_t hd = nullptr;
    if (gcry_cipher_open(&hd, GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_ECB, 0) != 0) return -1;
    ctx.handle.reset(hd);
    gcry_error_t err = gcry_cipher_setkey(hd, key.data(), key.size());
    // A weak key is still set and still the standard cipher; only other errors fail.
    if (err != 0 && gcry_err_code(err) != GPG_ERR_WEAK_KEY) {
        ctx.handle.reset();
        return -1;
    }
    return 0;
}

int BlowfishInit(BLOWFISH_CTX& ctx, std::string_view key) {
    return BlowfishInit(ctx, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(key.data()), key.size()));
}

void BlowfishEncrypt(BLOWFISH_CTX& ctx, uint32_t* left, uint32_t* right) { RunHalves(ctx, true, left, right); }
void BlowfishDecrypt(BLOWFISH_CTX& ctx, uint32_t* left, uint32_t* right) { RunHalves(ctx, false, left, right); }

int BlowfishEncryptBlock(BLOWFISH_CTX& ctx, std::span<uint8_t> out, size_t outOffset,
                         std::span<const uint8_t> in, size_t inOffset) {
    return RunBlock(ctx, true, out, outOffset, in, inOffset);
}

int BlowfishDecryptBlock(BLOWFISH_CTX& ctx, std::span<uint8_t> out, size_t outOffset,
                         std::span<const uint8_t> in, size_t inOffset) {
    return RunBlock(ctx, false, out, outOffset, in, inOffset);
}

size_t BlowfishEncryptBuffer(BLOWFISH_CTX& ctx, std::span<uint8_t> out, std::span<const uint8_t> in) {
    return RunBuffer(ctx, true, out, in);
}

size_t BlowfishDecryptBuffer(BLOWFISH_CTX& ctx, std::span<uint8_t> out, std::span<const uint8_t> in) {
    return RunBuffer(ctx, false, out, in);
}

std::string ConvertByteArrayToEncodedString(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::vector<uint8_t> ConvertEncodedStringToByteArray(std::string_view hexText) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::vector<uint8_t> bytes;
    bytes.reserve(hexText.size() / 2);
    for (size_t i = 0; i + 1 < hexText.size(); i += 2) {
        const int hi = digit(hexText[i]);
        const int lo = digit(hexText[i + 1]);
        if (hi < 0 || lo < 0) break;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return bytes;
}

int CoreEncryptHexBuffer(std::string& outHex, std::string_view text) {
    outHex.clear();
    const size_t padded = (text.size() + BLOWFISH_BLOCK_SIZE - 1) / BLOWFISH_BLOCK_SIZE * BLOWFISH_BLOCK_SIZE;
    std::vector<uint8_t> work(padded, 0);
    std::copy(text.begin(), text.end(), work.begin());
    BLOWFISH_CTX ctx;
    if (BlowfishInit(ctx, g_aEncryptionKey) != 0) return -1;
    if (padded != 0 && BlowfishEncryptBuffer(ctx, work, work) != padded) return -1;
    outHex = ConvertByteArrayToEncodedString(work);
    return 0;
}

int CoreDecryptHexBuffer(std::span<uint8_t> out, std::string_view hexText) {
    std::vector<uint8_t> bytes = ConvertEncodedStringToByteArray(hexText);
    BLOWFISH_CTX ctx;
    if (BlowfishInit(ctx, g_aEncryptionKey) != 0) return -1;
    BlowfishDecryptBuffer(ctx, out, bytes);
    return 0;
}

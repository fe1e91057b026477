// Blowfish (64-bit block, ECB) over libgcrypt, and the hex-text helpers built on it.
//
// Bytes map to the two 32-bit halves of a block big-endian: the first four bytes
// form the left half, the first byte being the most significant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct gcry_cipher_handle;

struct BlowfishHandleCloser {
    void operator()(gcry_cipher_handle* handle) const noexcept;
};

// The key schedule lives inside the library's cipher handle.
struct BLOWFISH_CTX {
    std::unique_ptr<gcry_cipher_handle, BlowfishHandleCloser> handle;
};

constexpr size_t BLOWFISH_BLOCK_SIZE = 8;
constexpr size_t BLOWFISH_MAX_KEY_LENGTH = 72;

// Sets up the key schedule; 0, or -1 for an empty or over-long key or a library failure.
int BlowfishInit(BLOWFISH_CTX& ctx, std::span<const uint8_t> key);
int BlowfishInit(BLOWFISH_CTX& ctx, std::string_view key);

// One block given as its two halves; nothing happens on an uninitialised context.
void BlowfishEncrypt(BLOWFISH_CTX& ctx, uint32_t* left, uint32_t* right);
void BlowfishDecrypt(BLOWFISH_CTX& ctx, uint32_t* left, uint32_t* right);

// One 8-byte block from in[inOffset] to out[outOffset]; 0, or -1 when a block does
// not fit at its offset or the context is not initialised.
int BlowfishEncryptBlock(BLOWFISH_CTX& ctx, std::span<uint8_t> out, size_t outOffset,
                         std::span<const uint8_t> in, size_t inOffset);
int BlowfishDecryptBlock(BLOWFISH_CTX& ctx, std::span<uint8_t> out, size_t outOffset,
                         std::span<const uint8_t> in, size_t inOffset);

// ECB over the whole blocks of the shorter of the two buffers (a trailing partial
// block is left untouched); the bytes processed, 0 when under one block or on failure.
// `out` may be `in` itself.
size_t BlowfishEncryptBuffer(BLOWFISH_CTX& ctx, std::span<uint8_t> out, std::span<const uint8_t> in);
size_t BlowfishDecryptBuffer(BLOWFISH_CTX& ctx, std::span<uint8_t> out, std::span<const uint8_t> in);

// Two upper-case hex digits per byte.
std::string ConvertByteArrayToEncodedString(std::span<const uint8_t> bytes);
// One byte per two hex digits, as far as the text holds whole digit pairs.
std::vector<uint8_t> ConvertEncodedStringToByteArray(std::string_view hexText);

// Pads the text with zero bytes to whole blocks, enciphers it with the layer's
// 7-byte key and gives the hex text of the padded length; 0, or -1 on failure.
int CoreEncryptHexBuffer(std::string& outHex, std::string_view text);
// Turns the hex text back into bytes and deciphers its whole blocks into `out`
// (as much as `out` holds); 0, or -1 on failure.
int CoreDecryptHexBuffer(std::span<uint8_t> out, std::string_view hexText);

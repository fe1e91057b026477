// Helpers shared by the libFuzzer targets: splitting one input into the pieces
// a target needs, checks that stop the run, a private scratch directory and
// sleeps that return at once while an input runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zvfuzz {

using Bytes = std::vector<uint8_t>;

// Pieces of one input are separated by these four bytes (the seed writer in
// tests/fixtures/tools/zvfuzz-seeds.cpp joins them the same way).
inline constexpr uint8_t kSeparator[4] = {0xFA, 'Z', 'V', 0xFB};

// The input cut at every separator, each piece an exact-size copy of its own
// so that a read past a piece's end is caught; at least `atLeast` pieces (the
// missing ones empty).
std::vector<Bytes> Split(const uint8_t* data, size_t size, size_t atLeast = 1);

// Reports the broken invariant and aborts, so libFuzzer keeps the input.
[[noreturn]] void Fail(const char* what, const char* file, int line);
#define ZVFUZZ_CHECK(cond) ((cond) ? (void)0 : ::zvfuzz::Fail(#cond, __FILE__, __LINE__))

// True inside the private mount and IPC namespace that scripts/fuzz.sh runs the
// targets in. Targets that touch the product's fixed paths ("/tmp", "/var/log",
// the library log) or its semaphores do nothing outside it.
bool Isolated();

// A directory of this process under $TMPDIR (or /tmp), made on first use.
const std::string& ScratchDir();

// Writes the bytes as the whole file (created or truncated); aborts on failure.
void WriteFile(const std::string& path, std::span<const uint8_t> bytes);
void WriteFile(const std::string& path, std::string_view text);

// While one lives, sleep, usleep and nanosleep of this thread return at once:
// the product waits for busy adapters, the fuzzer must not.
class InstantSleeps {
public:
    InstantSleeps();
    ~InstantSleeps();
    InstantSleeps(const InstantSleeps&) = delete;
    InstantSleeps& operator=(const InstantSleeps&) = delete;

private:
    bool before_;
};

}  // namespace zvfuzz

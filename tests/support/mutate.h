// Seeded damage for parser tests: start from a valid input, break it the way
// a bad flash, a half-written file or a hostile edit would, and check that the
// reader stays inside its buffers. The seed is fixed, so a failure replays.
//
//   zvtest::Mutator m(7);
//   for (int i = 0; i < 500; ++i) {
//       std::string text = m.Text(valid);        // bytes and whole lines
//       std::vector<uint8_t> img = m.Bytes(rom);  // bytes only
//   }
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zvtest {

class Mutator {
public:
    explicit Mutator(uint32_t seed) : rng_(seed) {}

    size_t Below(size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
    bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }

    // One to three byte-level damages.
    template <class Buf>
    Buf Bytes(Buf b) {
        for (size_t n = 1 + Below(3); n > 0; --n) DamageBytes(b);
        return b;
    }

    // One to three damages, each byte-level or line-level.
    std::string Text(std::string t) {
        for (size_t n = 1 + Below(3); n > 0; --n) {
            if (Chance(40)) DamageBytes(t);
            else DamageLines(t);
        }
        return t;
    }

private:
    template <class Buf>
    void DamageBytes(Buf& b) {
        using T = typename Buf::value_type;
        static constexpr std::array<uint8_t, 4> kSpecial = {0x00, 0xFF, 0x7F, 0x80};
        // Words that make a length or offset field point nowhere sensible.
        const std::array<uint32_t, 7> words = {0,          0xFFFF,     0xFFFFFFFF, 0x7FFFFFFF,
                                               0x80000000, static_cast<uint32_t>(b.size()),
                                               static_cast<uint32_t>(b.size() + 1)};
        if (b.empty()) {
            b.push_back(static_cast<T>(kSpecial[Below(4)]));
            return;
        }
        const size_t at = Below(b.size());
        const auto pos = [&](size_t i) { return b.begin() + static_cast<long>(i); };
        switch (Below(7)) {
            case 0: b[at] = static_cast<T>(static_cast<uint8_t>(b[at]) ^ (1u << Below(8))); break;
            case 1: b[at] = static_cast<T>(kSpecial[Below(4)]); break;
            case 2: b.resize(at); break;
            case 3: b.insert(pos(at), 1 + Below(8), static_cast<T>(Below(256))); break;
            case 4: b.erase(pos(at), pos(at + Below(b.size() - at) + 1)); break;
            case 5: {   // a piece of up to 64 bytes copied elsewhere
                const Buf chunk(pos(at), pos(at + Below(std::min<size_t>(64, b.size() - at)) + 1));
                b.insert(pos(Below(b.size())), chunk.begin(), chunk.end());
                break;
            }
            default: {
                const uint32_t w = words[Below(words.size())];
                const size_t width = Chance(50) ? 2 : 4;
                const size_t start = at / width * width;
                for (size_t i = 0; i < width && start + i < b.size(); ++i) b[start + i] = static_cast<T>(w >> (8 * i));
            }
        }
    }

    void DamageLines(std::string& t) {
        std::vector<std::string> lines;
        for (size_t at = 0; at <= t.size();) {
            const size_t nl = t.find('\n', at);
            lines.push_back(t.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
            if (nl == std::string::npos) break;
            at = nl + 1;
        }
        static const std::array<const char*, 7> kNumbers = {"99999999999999999999", "4294967296", "-1", "0x",
                                                            "256", "-2147483649", "0xFFFFFFFFFFFF"};
        static const std::array<char, 9> kPunct = {',', '=', ':', '.', '#', ';', '\r', '\0', '\t'};
        const size_t i = Below(lines.size());
        std::string& line = lines[i];
        switch (Below(6)) {
            case 0: lines.erase(lines.begin() + static_cast<long>(i)); break;
            case 1: lines.insert(lines.begin() + static_cast<long>(i), line); break;
            case 2: std::swap(line, lines[Below(lines.size())]); break;
            case 3: {
                // A number (or the place of one) becomes a huge or negative one.
                const size_t from = std::min(line.find_first_of("0123456789", Below(line.size() + 1)), line.size());
                const size_t end = std::min(line.find_first_not_of("0123456789xXabcdefABCDEF", from), line.size());
                line.replace(from, end - from, kNumbers[Below(kNumbers.size())]);
                break;
            }
            case 4: line.insert(Below(line.size() + 1), std::string(1000 + Below(9000), "A,9=. "[Below(6)])); break;
            default: line.insert(Below(line.size() + 1), 1, kPunct[Below(kPunct.size())]); break;
        }
        t.clear();
        for (size_t k = 0; k < lines.size(); ++k) t += lines[k] + (k + 1 < lines.size() ? "\n" : "");
    }

    std::mt19937 rng_;
};

}  // namespace zvtest

// World-wide names and port ids as texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// 16 hex digits, or 23 characters "xx-xx-...-xx"; 0, or -1 with a core debug line.
int WWNatoi(const char* text, std::span<uint8_t, 8> bytes);
// Three-byte port id written "xx-xx-xx"; 0 or -1.
int PortIDatoi(const char* text, std::span<uint8_t, 3> bytes);
// Hex byte pairs (separated by "-" when the text holds one) into consecutive bytes;
// the number of bytes written, or -1 on a bad digit or when they would not fit.
int FillDataPattern(const char* text, std::span<uint8_t> bytes);
// 16 (or 6) lower-case hex digits; the text length, or -1.
int GetStringWWN(const uint8_t* wwn, char* text, size_t size);
int GetStringPortID(const uint8_t* id, char* text, size_t size);
// 0 for all-zero, all-0xFF or all-"0" names, else 1.
int IsWwpnValid(const uint8_t* wwpn);
// Copies the characters when the text has exactly `length` of them; -1 for null
// or a destination too small, else 0.
int StringToArray(const char* text, size_t length, std::span<uint8_t> bytes);

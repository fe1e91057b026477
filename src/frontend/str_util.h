// Text helpers of the front end, shared with the image subsystems.
// Every writer takes its destination's size and always leaves it terminated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// 0 when both texts are non-empty, of equal length and equal regardless of case; else -1.
int striscmp(const char* a, const char* b);
// Case-insensitive (caseSensitive == 0: both cut to 255 characters) or plain search.
const char* strnistr(const char* haystack, const char* needle, int caseSensitive);
char* strtolower(char* text);
char* strtolwr(char* text);
int CheckFileExtension(const char* a, const char* b);
// Copies the text after the last "." into ext (size bytes); null and ext empty when there is none.
char* GetFileExtension(const char* path, char* ext, size_t size);

// Cleaning: each skips one leading white-space character, then keeps the listed classes.
int CleanStr(const char* src, char* dst, size_t size);            // letters, digits, space, punct; length
int CleanStr2(const char* src, char* dst, size_t size);           // same classes; 0 or -1
int CleanStr3(const char* src, char* dst, size_t size);           // digits and "."
int CleanDeviceStr(const char* src, char* dst, size_t size);      // letters, digits, ".-/()", space
int StripEndWhiteSpace(const char* src, char* dst, size_t size);  // drops every blank and control char

// In-place trimming of blanks and tabs.
char* RTrim(char* text);
char* LTrim(char* text);
char* Trim(char* text);

// Substrings; an empty result stands for "none".
std::string left(const char* text, size_t n);
std::string right(const char* text, size_t n);
std::string mid(const char* text, size_t start, size_t n);

// Numbers. CheckNumber refuses a value that does not fit instead of wrapping.
int CheckNumber(const char* text);
int CheckLunID(const char* text);
int CheckHexNumber(const char* text);
long long hexToDec(const char* text);
char* int2hex(unsigned int value, char* buffer, size_t size);
int getVersion(char* text, size_t size);
int findbit(unsigned int value, int bit, int wide);
float PercentageToSpeed(int percent, int speed);
int ConvertPortSpeedToDecimal(int code);

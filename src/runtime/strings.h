// Byte-string services: every text of the program (line, name, value) is a
// std::string used as a sequence of 8-bit bytes, with no code page and no locale.
// Positions count from 1, as in the definition language; a blank is any byte
// from 0 to 32; only the letters a to z and A to Z have a letter case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zubra32 {

// Longest environment value, variable name and argument the program hands on.
constexpr std::size_t MaxShortString = 255;

// True for the bytes 0 to 32: NUL, the control characters, TAB, CR, LF, space.
constexpr bool IsBlank(char byte) { return static_cast<unsigned char>(byte) <= 32; }

// a to z become A to Z; every other byte, accented letters included, stays.
constexpr char UpperCaseByte(char byte) { return (byte >= 'a' && byte <= 'z') ? static_cast<char>(byte - 32) : byte; }

std::string UpperCase(std::string_view text);
void UpperCaseInPlace(std::string& text);

// Blanks removed from both ends (Trim) or from the end only (TrimRight).
std::string Trim(std::string_view text);
std::string TrimRight(std::string_view text);

// The same without a copy: the part of the text that Trim or TrimRight keeps,
// or the string itself trimmed in place.
std::string_view TrimmedView(std::string_view text);
std::string_view TrimmedRightView(std::string_view text);
void TrimInPlace(std::string& text);

// Decimal digits, a minus sign for negative values, nothing else.
std::string IntToStr(std::int64_t value);

// The text cut after its first `length` bytes.
std::string_view CutAfter(std::string_view text, std::size_t length);

// The text up to (not including) its first NUL byte: how a file name reaches the OS.
std::string_view CutAtNul(std::string_view text);

// 1-based position of the first exact occurrence of `needle` in `haystack`;
// 0 when there is none or either string is empty.
std::size_t Pos(std::string_view needle, std::string_view haystack);

// `count` bytes from 1-based `start` on; a start below 1 counts as 1.
std::string Copy(std::string_view text, std::int64_t start, std::int64_t count);

// Removes `count` bytes from 1-based `start` on; out-of-range starts change nothing.
void Delete(std::string& text, std::int64_t start, std::int64_t count);

// Inserts `insertion` so that its first byte lands at 1-based `start`,
// clamped to the front and to the end.
void Insert(std::string_view insertion, std::string& text, std::int64_t start);

// True when the two texts are equal with a to z and A to Z taken as the same.
bool EqualIgnoringCase(std::string_view left, std::string_view right);

// The value of an environment variable: names matched with ASCII letters
// case-insensitive, the first entry in the environment's order wins, the value
// cut after 255 bytes; empty when no entry matches.
std::string GetEnv(std::string_view name);

// True when the name (cut at its first NUL) is an existing file and not a
// directory; a name with * or ? is a pattern whose first match decides.
bool FileExists(std::string_view name);

}  // namespace zubra32

// Byte-string services: every text of the program (line, name, value) is a
// std::string used as a sequence of 8-bit bytes, with no code page and no
// locale. A blank is any byte from 0 to 32; only the letters a to z and A to Z
// have a letter case.
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

// The part of the text left when blanks are removed from both ends, or from
// the end only, or the string itself trimmed at both ends in place.
std::string_view TrimmedView(std::string_view text);
std::string_view TrimmedRightView(std::string_view text);
void TrimInPlace(std::string& text);

// Decimal digits, a minus sign for negative values, nothing else.
std::string IntToStr(std::int64_t value);

// The text cut after its first `length` bytes.
std::string_view CutAfter(std::string_view text, std::size_t length);

// The text up to (not including) its first NUL byte: how a file name reaches the OS.
std::string_view CutAtNul(std::string_view text);

// True when the two texts are equal with a to z and A to Z taken as the same.
bool EqualIgnoringCase(std::string_view left, std::string_view right);

}  // namespace zubra32

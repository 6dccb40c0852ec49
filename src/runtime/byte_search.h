// Searching texts for a fixed byte string whose letters a to z match in
// either case, without upper-casing the texts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zubra32 {

// How often each byte value occurs in a sample of the texts to be searched.
using ByteCounts = std::array<std::uint32_t, 256>;

// Adds each byte of the text to the counts.
void CountBytes(std::string_view text, ByteCounts& counts);

// Finds one fixed byte string, the needle, in text after text, as if both
// were upper-cased: a letter of the needle matches itself in either case,
// every other byte only itself.
//
// The idea is the packed pair of the fastest literal searchers: two bytes of
// the needle, the two the counts show to be the least common (a letter counts
// with both its cases), are tested at 16 candidate positions at once, each
// against both letter cases in one compare (a letter OR 0x20 is its lower
// case, and only its two cases give that); only where both bytes fit is the
// whole needle compared. The counts steer the speed alone: every result is
// that of a plain search.
class FoldedSearch {
 public:
  FoldedSearch(std::string_view needle, const ByteCounts& counts);

  // 0-based position of the first occurrence of the needle in the text;
  // npos when there is none. The empty needle occurs nowhere.
  std::size_t FindIn(std::string_view text) const;

  std::size_t Size() const { return folded_.size(); }

  static constexpr std::size_t npos = std::string_view::npos;

 private:
  bool MatchesAt(const char* at) const;

  std::string folded_;  // the needle, letters in lower case
  std::string masks_;   // per needle byte: 0x20 for a letter, 0 otherwise
  std::size_t first_ = 0, second_ = 0;  // positions of the two rare bytes
};

}  // namespace zubra32

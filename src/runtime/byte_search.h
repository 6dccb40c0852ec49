// Searching one text after another for the same fixed byte string.
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

// Finds one fixed byte string, the needle, in text after text. Built once, it
// picks the needle byte that the counts show to be the least common, finds that
// byte with memchr and compares the whole needle around each hit only, so a
// text that lacks the byte costs one memchr pass. The counts steer the speed
// alone: every result is the same whatever they hold.
class FixedSearch {
 public:
  FixedSearch(std::string_view needle, const ByteCounts& counts);

  // 0-based position of the first occurrence of the needle in the text;
  // npos when there is none. The empty needle occurs nowhere.
  std::size_t FindIn(std::string_view text) const;

  static constexpr std::size_t npos = std::string_view::npos;

 private:
  std::string needle_;
  std::size_t anchor_ = 0;  // position in the needle of the byte that memchr looks for
};

}  // namespace zubra32

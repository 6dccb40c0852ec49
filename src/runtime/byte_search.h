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

// The pairs of adjacent bytes that occur in a text, folded into 256 bits: a
// text can hold a needle only if its set holds all of the needle's pairs. A
// text longer than PairSetLimit gets every bit, as its set would be nearly full.
struct PairSet {
  std::array<std::uint64_t, 4> Bits{};

  bool Covers(const PairSet& other) const {
    // One test of the pairs of `other` that this set lacks, without a branch per word.
    std::uint64_t missing = (other.Bits[0] & ~Bits[0]) | (other.Bits[1] & ~Bits[1]) | (other.Bits[2] & ~Bits[2]) |
                            (other.Bits[3] & ~Bits[3]);
    return missing == 0;
  }
};
constexpr std::size_t PairSetLimit = 256;
PairSet PairsOf(std::string_view text);

// Finds one fixed byte string, the needle, in text after text. Built once, it
// finds the needle byte that the counts show to be the least common with
// memchr and compares the whole needle around each hit only. The counts steer
// the speed alone: every result is that of a plain search.
class FixedSearch {
 public:
  FixedSearch(std::string_view needle, const ByteCounts& counts);

  // 0-based position of the first occurrence of the needle in the text;
  // npos when there is none. The empty needle occurs nowhere.
  std::size_t FindIn(std::string_view text) const;

  // False when a text whose PairsOf is `pairs` cannot hold the needle.
  bool MayBeIn(const PairSet& pairs) const { return pairs.Covers(pairs_); }

  static constexpr std::size_t npos = std::string_view::npos;

 private:
  std::string needle_;
  PairSet pairs_;
  std::size_t anchor_ = 0;  // position in the needle of the byte that memchr looks for
};

}  // namespace zubra32

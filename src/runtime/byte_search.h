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

// The pairs of adjacent bytes that occur in a text, letters taken in lower
// case, folded into 256 bits: a text can hold a needle only if its set holds
// all of the needle's pairs. A text longer than PairSetLimit gets every bit,
// as its set would be nearly full.
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
PairSet FoldedPairsOf(std::string_view text);

// Finds one fixed byte string, the needle, in text after text, as if both
// were upper-cased: a letter of the needle matches itself in either case,
// every other byte only itself.
//
// The idea is the packed pair of the fastest literal searchers: two bytes of
// the needle, the two the counts show to be the least common (a letter counts
// with both its cases), are tested at 16 candidate positions at once, each
// against both letter cases in one compare (a letter OR 0x20 is its lower
// case, and only its two cases give that); only where both bytes fit is the
// whole needle compared. Where the processor has them, 32-byte vectors test
// 64 positions a step (chosen when the program runs); SSE2 tests 16; plain
// code the rest. The text is searched as one run, however many lines it holds. The counts steer the speed alone: every
// result is that of a plain search.
class FoldedSearch {
 public:
  FoldedSearch(std::string_view needle, const ByteCounts& counts);

  // 0-based position of the first occurrence of the needle in the text;
  // npos when there is none. The empty needle occurs nowhere.
  std::size_t FindIn(std::string_view text) const;

  std::size_t Size() const { return Folded.size(); }

  // The needle's own pairs (every one of them, however long the needle).
  const PairSet& Pairs() const { return NeedlePairs; }

  static constexpr std::size_t npos = std::string_view::npos;

 private:
  bool MatchesAt(const char* at) const;
  std::size_t FindWide(const char* begin, std::size_t starts, std::size_t& start) const;

  std::string Folded;                 // the needle, letters in lower case
  std::string Masks;                  // per needle byte: 0x20 for a letter, 0 otherwise
  std::size_t First = 0, Second = 0;  // positions of the two rare bytes
  PairSet NeedlePairs;
};

}  // namespace zubra32

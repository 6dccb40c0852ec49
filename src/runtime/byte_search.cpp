#include "runtime/byte_search.h"

#include <cstring>

namespace zubra32 {

void CountBytes(std::string_view text, ByteCounts& counts) {
  for (char byte : text) ++counts[static_cast<unsigned char>(byte)];
}

namespace {

void AddPair(PairSet& set, char first, char second) {
  // The multiplier is odd, so the pairs with the same second byte spread over all 256 bits.
  unsigned bit = (static_cast<unsigned char>(first) * 41u + static_cast<unsigned char>(second)) & 255u;
  set.Bits[bit >> 6] |= std::uint64_t{1} << (bit & 63u);
}

}  // namespace

PairSet PairsOf(std::string_view text) {
  PairSet set;
  if (text.size() > PairSetLimit) {
    set.Bits.fill(~std::uint64_t{0});
    return set;
  }
  for (std::size_t i = 1; i < text.size(); ++i) AddPair(set, text[i - 1], text[i]);
  return set;
}

FixedSearch::FixedSearch(std::string_view needle, const ByteCounts& counts) : needle_(needle) {
  // Only the needle's own pairs: a needle longer than PairSetLimit must not get every bit.
  for (std::size_t i = 1; i < needle_.size(); ++i) AddPair(pairs_, needle_[i - 1], needle_[i]);
  for (std::size_t i = 1; i < needle_.size(); ++i) {
    if (counts[static_cast<unsigned char>(needle_[i])] < counts[static_cast<unsigned char>(needle_[anchor_])]) anchor_ = i;
  }
}

std::size_t FixedSearch::FindIn(std::string_view text) const {
  const std::size_t length = needle_.size();
  if (length == 0 || text.size() < length) return npos;
  const char anchorByte = needle_[anchor_];
  const char* const begin = text.data();
  // The anchor byte of a whole occurrence stands between these two, inclusive.
  const char* hit = begin + anchor_;
  const char* const last = begin + (text.size() - length) + anchor_;
  // Candidates come in ascending order, so the first whole match is the leftmost.
  while (hit <= last) {
    hit = static_cast<const char*>(std::memchr(hit, anchorByte, static_cast<std::size_t>(last - hit) + 1));
    if (hit == nullptr) return npos;
    const char* start = hit - anchor_;
    if (std::memcmp(start, needle_.data(), length) == 0) return static_cast<std::size_t>(start - begin);
    ++hit;
  }
  return npos;
}

}  // namespace zubra32

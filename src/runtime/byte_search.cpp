#include "runtime/byte_search.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define ZUBRA32_AVX2_SEARCH 1
#endif

namespace zubra32 {

void CountBytes(std::string_view text, ByteCounts& counts) {
  for (char byte : text) ++counts[static_cast<unsigned char>(byte)];
}

namespace {

bool IsLetter(unsigned char byte) {
  unsigned char lower = byte | 0x20u;
  return lower >= 'a' && lower <= 'z';
}

unsigned char Folded(char byte) {
  auto value = static_cast<unsigned char>(byte);
  return IsLetter(value) ? value | 0x20u : value;
}

void AddPair(PairSet& set, unsigned char first, unsigned char second) {
  // The multiplier is odd, so the pairs with the same second byte spread over all 256 bits.
  unsigned bit = (first * 41u + second) & 255u;
  set.Bits[bit >> 6] |= std::uint64_t{1} << (bit & 63u);
}

}  // namespace

PairSet FoldedPairsOf(std::string_view text) {
  PairSet set;
  if (text.size() > PairSetLimit) {
    set.Bits.fill(~std::uint64_t{0});
    return set;
  }
  for (std::size_t i = 1; i < text.size(); ++i) AddPair(set, Folded(text[i - 1]), Folded(text[i]));
  return set;
}

FoldedSearch::FoldedSearch(std::string_view needle, const ByteCounts& counts)
    : Folded(needle.size(), '\0'), Masks(needle.size(), '\0') {
  auto weight = [&](std::size_t at) -> std::uint64_t {
    auto byte = static_cast<unsigned char>(needle[at]);
    if (!IsLetter(byte)) return counts[byte];
    return std::uint64_t{counts[byte | 0x20u]} + counts[byte & ~0x20u];
  };
  for (std::size_t i = 0; i < needle.size(); ++i) {
    auto byte = static_cast<unsigned char>(needle[i]);
    Masks[i] = static_cast<char>(IsLetter(byte) ? 0x20 : 0);
    Folded[i] = static_cast<char>(byte | static_cast<unsigned char>(Masks[i]));
  }
  for (std::size_t i = 1; i < needle.size(); ++i) {
    AddPair(NeedlePairs, static_cast<unsigned char>(Folded[i - 1]), static_cast<unsigned char>(Folded[i]));
  }
  if (needle.size() < 2) return;
  // The rarest byte, then the rarest other byte value (another position at least).
  for (std::size_t i = 1; i < needle.size(); ++i) {
    if (weight(i) < weight(First)) First = i;
  }
  // A second byte of another value than the first rules out more candidates.
  auto differs = [&](std::size_t at) { return Folded[at] != Folded[First]; };
  Second = First == 0 ? 1 : 0;
  for (std::size_t i = 0; i < needle.size(); ++i) {
    if (i == First || i == Second) continue;
    if (differs(i) != differs(Second) ? differs(i) : weight(i) < weight(Second)) Second = i;
  }
}

bool FoldedSearch::MatchesAt(const char* at) const {
  const std::size_t length = Folded.size();
  const char* folded = Folded.data();
  const char* masks = Masks.data();
  // Blocks of 16 without an early exit, which the compiler turns into vector code.
  std::size_t i = 0;
  for (; i + 16 <= length; i += 16) {
    unsigned char differ = 0;
    for (std::size_t k = 0; k < 16; ++k)
      differ |= static_cast<unsigned char>((at[i + k] | masks[i + k]) ^ folded[i + k]);
    if (differ != 0) return false;
  }
  for (; i < length; ++i) {
    if ((at[i] | masks[i]) != folded[i]) return false;
  }
  return true;
}

#if defined(ZUBRA32_AVX2_SEARCH)
namespace {

// The processor has 32-byte vectors (asked once).
bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}

}  // namespace

// The candidate test of FindIn on 64 positions a step, in two 32-byte
// blocks; gives the first whole match, or npos with `start` at the first
// position it has not tested.
__attribute__((target("avx2"))) std::size_t FoldedSearch::FindWide(const char* begin, std::size_t starts,
                                                                   std::size_t& start) const {
  const __m256i firstWanted = _mm256_set1_epi8(Folded[First]), firstFold = _mm256_set1_epi8(Masks[First]);
  const __m256i secondWanted = _mm256_set1_epi8(Folded[Second]), secondFold = _mm256_set1_epi8(Masks[Second]);
  for (; start + 64 <= starts; start += 64) {
    const char* at = begin + start;
    __m256i firstLow = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + First));
    __m256i secondLow = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + Second));
    __m256i firstHigh = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32 + First));
    __m256i secondHigh = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32 + Second));
    __m256i low = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(firstLow, firstFold), firstWanted),
                                   _mm256_cmpeq_epi8(_mm256_or_si256(secondLow, secondFold), secondWanted));
    __m256i high = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(firstHigh, firstFold), firstWanted),
                                    _mm256_cmpeq_epi8(_mm256_or_si256(secondHigh, secondFold), secondWanted));
    __m256i any = _mm256_or_si256(low, high);
    if (_mm256_testz_si256(any, any)) continue;
    std::uint64_t bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
                         (std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32);
    // Candidates come in ascending order, so the first whole match is the leftmost.
    while (bits != 0) {
      std::size_t at = start + static_cast<std::size_t>(__builtin_ctzll(bits));
      if (MatchesAt(begin + at)) return at;
      bits &= bits - 1;
    }
  }
  return npos;
}
#endif

std::size_t FoldedSearch::FindIn(std::string_view text) const {
  const std::size_t length = Folded.size();
  if (length == 0 || text.size() < length) return npos;
  const char* const begin = text.data();
  const std::size_t starts = text.size() - length + 1;  // candidate positions 0 .. starts - 1
  const char firstByte = Folded[First], firstMask = Masks[First];
  const char secondByte = Folded[Second], secondMask = Masks[Second];
  std::size_t start = 0;
#if defined(ZUBRA32_AVX2_SEARCH)
  if (starts >= 64 && HasAvx2()) {
    if (std::size_t found = FindWide(begin, starts, start); found != npos) return found;
  }
#endif
#if defined(__SSE2__)
  // 16 candidates a step: the two rare bytes of each, both tested at once.
  const __m128i firstWanted = _mm_set1_epi8(firstByte), firstFold = _mm_set1_epi8(firstMask);
  const __m128i secondWanted = _mm_set1_epi8(secondByte), secondFold = _mm_set1_epi8(secondMask);
  // Tests the 16 candidates from `at` on, less those `tested` marks as done.
  auto testBlock = [&](std::size_t at, unsigned tested) {
    __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + at + First));
    __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + at + Second));
    __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(first, firstFold), firstWanted),
                                 _mm_cmpeq_epi8(_mm_or_si128(second, secondFold), secondWanted));
    auto candidates = static_cast<unsigned>(_mm_movemask_epi8(both)) & ~tested;
    while (candidates != 0) {
      std::size_t found = at + static_cast<std::size_t>(__builtin_ctz(candidates));
      if (MatchesAt(begin + found)) return found;
      candidates &= candidates - 1;
    }
    return npos;
  };
  for (; start + 16 <= starts; start += 16) {
    if (std::size_t found = testBlock(start, 0); found != npos) return found;
  }
  // The last positions as one more block, overlapping the ones tested: those drop out of the mask.
  if (start < starts && starts >= 16) return testBlock(starts - 16, (1u << (start - (starts - 16))) - 1u);
#endif
  for (; start < starts; ++start) {
    if ((begin[start + First] | firstMask) == firstByte && (begin[start + Second] | secondMask) == secondByte &&
        MatchesAt(begin + start)) {
      return start;
    }
  }
  return npos;
}

}  // namespace zubra32

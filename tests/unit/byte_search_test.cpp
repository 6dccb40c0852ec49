#include "runtime/byte_search.h"

#include <gtest/gtest.h>

#include <random>

using namespace std::string_literals;

namespace zubra32 {
namespace {

// Texts over a few bytes, so that needles occur often and partly.
std::string RandomText(std::mt19937& random, std::size_t maxLength) {
  static const std::string alphabet = "abAB \0\xff\r"s;
  std::string text(std::uniform_int_distribution<std::size_t>(0, maxLength)(random), ' ');
  for (char& byte : text) byte = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
  return text;
}

TEST(FixedSearchTest, FindsTheFirstOccurrenceWhateverTheCountsSay) {
  ByteCounts even{};
  ByteCounts skewed{};
  skewed.fill(1000);
  skewed[static_cast<unsigned char>('b')] = 0;  // every search then starts from a 'b' in its needle
  const std::pair<std::string, std::string> rows[] = {
      {"abc", "xxabcabc"}, {"abc", "ab"}, {"a", "bbba"}, {"bb", "abbb"}, {"", "abc"}, {"abc", ""},
      {"aab", "aaab"}, {"b\0b"s, "bb\0b"s}, {"xyz", "xyzxyz"}, {"abab", "abaabab"},
  };
  for (const auto& [needle, text] : rows) {
    const std::size_t expected = needle.empty() ? std::string::npos : text.find(needle);
    EXPECT_EQ(FixedSearch(needle, even).FindIn(text), expected) << needle << " in " << text;
    EXPECT_EQ(FixedSearch(needle, skewed).FindIn(text), expected) << needle << " in " << text;
  }

  std::mt19937 random(5);
  for (int round = 0; round < 3000; ++round) {
    const std::string needle = RandomText(random, 4) + "a";
    const std::string text = RandomText(random, round % 10 == 0 ? 600 : 40);
    ByteCounts counts{};
    CountBytes(RandomText(random, 20), counts);
    EXPECT_EQ(FixedSearch(needle, counts).FindIn(text), text.find(needle))
        << testing::PrintToString(needle) << " in " << testing::PrintToString(text);
  }
}

TEST(FixedSearchTest, APairSetRulesOutOnlyTextsThatCannotHoldTheNeedle) {
  ByteCounts counts{};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    const std::string needle = RandomText(random, 6) + "b";
    // Around the limit, where a text's set becomes all bits.
    const std::string text = RandomText(random, round % 3 == 0 ? PairSetLimit + 8 : 30);
    const FixedSearch search(needle, counts);
    if (text.find(needle) != std::string::npos) {
      EXPECT_TRUE(search.MayBeIn(PairsOf(text))) << testing::PrintToString(needle) << " in " << testing::PrintToString(text);
    }
  }
  // Texts too long for a useful set rule nothing out, however long the needle.
  const std::string longNeedle(PairSetLimit + 10, 'q');
  EXPECT_TRUE(FixedSearch(longNeedle, counts).MayBeIn(PairsOf(std::string(PairSetLimit + 1, 'z'))));
  // A short text without the needle's pairs is ruled out.
  EXPECT_FALSE(FixedSearch("QZ", counts).MayBeIn(PairsOf("ZQ ZQ")));
}

}  // namespace
}  // namespace zubra32

#include "runtime/byte_search.h"

#include <gtest/gtest.h>

#include <random>

#include "runtime/strings.h"

using namespace std::string_literals;

namespace zubra32 {
namespace {

// Texts over a few bytes, so that needles occur often and partly; '@' and
// '`', '[' and '{', 0xC1 and 0xE1 differ as the two cases of a letter do, but
// are no letters.
std::string RandomText(std::mt19937& random, std::size_t maxLength) {
  static const std::string alphabet = "abAB \0\xff\r@`[{\xC1\xE1"s;
  std::string text(std::uniform_int_distribution<std::size_t>(0, maxLength)(random), ' ');
  for (char& byte : text) byte = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
  return text;
}

// The plain search on upper-cased copies, which the folded search must agree with.
std::size_t ModelFind(const std::string& needle, const std::string& text) {
  if (needle.empty()) return FoldedSearch::npos;
  return UpperCase(text).find(UpperCase(needle));
}

TEST(FoldedSearchTest, FindsTheFirstOccurrenceInEitherLetterCase) {
  struct Row {
    std::string Needle, Text;
    std::size_t Expected;
  } rows[] = {
      {"path", "SET PATH=x", 4},
      {"PATH", "set path=x", 4},
      {"@", "`@", 1},
      {"`", "@", FoldedSearch::npos},
      {"[", "{", FoldedSearch::npos},
      {"\xE1", "\xC1\xE1", 1},
      {"", "abc", FoldedSearch::npos},
      {"abc", "ab", FoldedSearch::npos},
      // Past the 16-candidate blocks: a match in the tail and one at the very end.
      {"zq", std::string(40, 'x') + "ZQ", 40},
      {"zq", std::string(17, 'x') + "zQ" + std::string(3, 'x'), 17},
      {std::string(40, 'a'), std::string(39, 'a') + "b" + std::string(40, 'A'), 40},
  };
  ByteCounts counts{};
  for (const Row& row : rows) EXPECT_EQ(FoldedSearch(row.Needle, counts).FindIn(row.Text), row.Expected) << row.Needle;
}

TEST(FoldedSearchTest, AgreesWithAPlainSearchWhateverTheCountsSay) {
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    const std::string needle = RandomText(random, round % 10 == 0 ? 40 : 4);
    const std::string text = RandomText(random, round % 3 == 0 ? 300 : 40);
    ByteCounts counts{};
    CountBytes(RandomText(random, 20), counts);
    EXPECT_EQ(FoldedSearch(needle, counts).FindIn(text), ModelFind(needle, text))
        << testing::PrintToString(needle) << " in " << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace zubra32

#include "runtime/strings.h"
#include "runtime/environment.h"
#include "runtime/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>

#include "unit_test_support.h"

using namespace std::string_literals;

namespace zubra32 {
namespace {

TEST(UpperCaseTest, OnlyAsciiLowerCaseLettersChangeAndTheLengthStays) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  const std::string upper = UpperCase(all);
  ASSERT_EQ(upper.size(), all.size());
  for (int byte = 0; byte < 256; ++byte) {
    const int expected = (byte >= 'a' && byte <= 'z') ? byte - 32 : byte;
    EXPECT_EQ(static_cast<unsigned char>(upper[static_cast<std::size_t>(byte)]), expected) << "byte " << byte;
  }
  // Every letter at every place of a 16-byte block, and tails of every length from 0 to 15.
  for (std::size_t shift = 1; shift <= 16; ++shift) {
    const std::string shifted = UpperCase(std::string(shift, 'a') + all);
    EXPECT_EQ(shifted, std::string(shift, 'A') + upper) << "shifted by " << shift;
  }
  EXPECT_EQ(UpperCase("[debug]"), "[DEBUG]");
  EXPECT_EQ(UpperCase(""), "");
}

struct TrimRow {
  std::string Text, Trimmed, RightTrimmed;
};

TEST(TrimTest, BlanksAreTheBytesUpTo32AndGoOnlyAtTheEnds) {
  const TrimRow rows[] = {
      {"\t x y\r", "x y", "\t x y"},
      {"", "", ""},
      {"\0\0\0"s, "", ""},
      {"\x01\x1f \n\r\t", "", ""},
      {"\0a\0b\0"s, "a\0b"s, "\0a\0b"s},
      {"\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0"},
      {" \x7f\xff ", "\x7f\xff", " \x7f\xff"},
      {"!", "!", "!"},
  };
  for (const TrimRow& row : rows) {
    EXPECT_EQ(TrimmedView(row.Text), row.Trimmed) << testing::PrintToString(row.Text);
    EXPECT_EQ(TrimmedRightView(row.Text), row.RightTrimmed) << testing::PrintToString(row.Text);
    // The copy-free forms keep exactly the same bytes.
    EXPECT_EQ(TrimmedView(row.Text), row.Trimmed) << testing::PrintToString(row.Text);
    EXPECT_EQ(TrimmedRightView(row.Text), row.RightTrimmed) << testing::PrintToString(row.Text);
    std::string inPlace = row.Text;
    TrimInPlace(inPlace);
    EXPECT_EQ(inPlace, row.Trimmed) << testing::PrintToString(row.Text);
  }
}

TEST(IntToStrTest, DecimalDigitsWithAMinusSignOnly) {
  const std::pair<std::int32_t, std::string> rows[] = {
      {0, "0"}, {7, "7"}, {2500, "2500"}, {-1, "-1"}, {INT32_MIN, "-2147483648"}, {INT32_MAX, "2147483647"},
  };
  for (const auto& [value, text] : rows) EXPECT_EQ(IntToStr(value), text);
}

struct EnvRow {
  std::vector<std::string> Environment;
  std::string Name, Expected;
};

TEST(GetEnvTest, NamesMatchWholeWithAsciiCaseFoldedAndTheFirstEntryWins) {
  const EnvRow rows[] = {
      {{"Path=/bin"}, "path", "/bin"},
      {{"Path=/bin"}, "PAT", ""},
      {{"PATH_EXTRA=1", "PATH=2"}, "path", "2"},
      {{"Path=first", "PATH=second"}, "PATH", "first"},
      {{"PATH=second", "Path=first"}, "path", "second"},
      {{"A=b=c"}, "a", "b=c"},
      {{"EMPTY="}, "empty", ""},
      {{"X=1"}, "Y", ""},
      {{"X=1"}, "X=1", ""},
      {{}, "PATH", ""},
      {{"=C:=x", "A=1"}, "", "C:=x"},
      {{"[=1", "@=2"}, "{", ""},
      {{"@=2"}, "`", ""},
      {{"\xE9T\xE9=1"}, "\xC9T\xC9", ""},
      {{"\xE9t\xE9=1"}, "\xE9T\xE9", "1"},
      {{"LONG=" + std::string(300, 'v')}, "long", std::string(255, 'v')},
      {{"EXACT=" + std::string(255, 'w')}, "EXACT", std::string(255, 'w')},
  };
  for (const EnvRow& row : rows) {
    test::ScopedEnvironment environment(row.Environment);
    EXPECT_EQ(GetEnv(row.Name), row.Expected) << "name " << row.Name;
  }
}

TEST(FileExistsTest, OnlyAFileCountsAndThePatternsFirstMatchDecides) {
  test::ScratchDir dir;
  for (const char* name : {"sub", "m_a", "n_b"}) ASSERT_EQ(mkdir(dir.Path(name).c_str(), 0755), 0);
  for (const char* name : {"file.txt", ".hidden", "m_b", "n_a"}) test::WriteFileBytes(dir.Path(name), "x");

  const std::pair<std::string, bool> rows[] = {
      {dir.Path("file.txt"), true},
      {dir.Path(".hidden"), true},
      {dir.Path("sub"), false},
      {dir.Path("missing"), false},
      {"", false},
      {dir.Path("fil*"), true},
      {dir.Path("file.tx?"), true},
      {dir.Path("q*"), false},
      {dir.Path("m_*"), false},  // m_a, a directory, sorts first
      {dir.Path("n_*"), true},   // n_a, a file, sorts first
      {dir.Path("file.txt") + "\0junk"s, true},
      {dir.Path("sub") + "\0/../file.txt"s, false},
  };
  for (const auto& [name, exists] : rows) EXPECT_EQ(FileExists(name), exists) << testing::PrintToString(name);
}

}  // namespace
}  // namespace zubra32

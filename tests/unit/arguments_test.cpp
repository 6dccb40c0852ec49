#include "runtime/arguments.h"

#include <gtest/gtest.h>

#include "runtime/platform.h"
#include "runtime/text_file.h"

using namespace std::string_literals;

namespace zubra32 {
namespace {

using Arguments = std::vector<std::string>;

TEST(SplitCommandLineTest, QuotesGroupBlanksAndAreDropped) {
  EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\zubra32.exe" "C:\My Files\defs.txt")"),
            (Arguments{R"(C:\Program Files\zubra32.exe)", R"(C:\My Files\defs.txt)"}));
  // A quoted stretch may stand anywhere in an argument and joins what touches it.
  EXPECT_EQ(SplitCommandLine(R"(z C:\"My Files"\defs.txt a"b"c "x"y)"),
            (Arguments{"z", R"(C:\My Files\defs.txt)", "abc", "xy"}));
  EXPECT_EQ(SplitCommandLine("z \"\t\x01\"x"), (Arguments{"z", "\t\x01x"}));
}

TEST(SplitCommandLineTest, RunsOfControlBytesAndBlanksSeparate) {
  EXPECT_EQ(SplitCommandLine("z\tdefs.txt\x01\x1f  \r\nmore "), (Arguments{"z", "defs.txt", "more"}));
  // Bytes above 32 are ordinary, 127 and the upper half included.
  EXPECT_EQ(SplitCommandLine("z \x7f\xa0x\xff"), (Arguments{"z", "\x7f\xa0x\xff"}));
  EXPECT_EQ(SplitCommandLine(""), Arguments{});
  EXPECT_EQ(SplitCommandLine(" \t "), Arguments{});
  // The line ends at its first NUL byte, as a C string does.
  EXPECT_EQ(SplitCommandLine("z a\0b"s), (Arguments{"z", "a"}));
}

TEST(SplitCommandLineTest, AnEmptyQuotedArgumentIsNoArgument) {
  EXPECT_EQ(SplitCommandLine(R"(z "" defs.txt)"), (Arguments{"z", "defs.txt"}));
  EXPECT_EQ(SplitCommandLine(R"(z """" "" defs.txt "")"), (Arguments{"z", "defs.txt"}));
  // The pair is skipped only at the start of an argument; what follows it at once is the argument.
  EXPECT_EQ(SplitCommandLine(R"(z ""defs.txt a"")"), (Arguments{"z", "defs.txt", "a"}));
  // Three quotes: the pair goes, the third opens a stretch to the end of the line.
  EXPECT_EQ(SplitCommandLine(R"(z """a b)"), (Arguments{"z", "a b"}));
}

TEST(SplitCommandLineTest, AnOpenQuoteRunsToTheEndOfTheLine) {
  EXPECT_EQ(SplitCommandLine(R"(z "C:\My Files\defs.txt)"), (Arguments{"z", R"(C:\My Files\defs.txt)"}));
  EXPECT_EQ(SplitCommandLine(R"(z a"b c)"), (Arguments{"z", "ab c"}));
  // A lone quote at the end holds nothing and adds no argument.
  EXPECT_EQ(SplitCommandLine(R"(z a ")"), (Arguments{"z", "a"}));
}

TEST(SplitCommandLineTest, NoByteEscapesAQuote) {
  EXPECT_EQ(SplitCommandLine(R"(z a\"b c" d)"), (Arguments{"z", R"(a\b c)", "d"}));
  EXPECT_EQ(SplitCommandLine(R"(z C:\dir\ x)"), (Arguments{"z", R"(C:\dir\)", "x"}));
}

TEST(ParamStrTest, CountsAfterTheProgramGivesEmptyPastTheEndAndCutsAt255) {
  std::string longArgument(300, 'x');
  char program[] = "zubra32", first[] = "defs.txt";
  char* argv[] = {program, first, longArgument.data()};
  platform::Initialize(3, argv);
  EXPECT_EQ(ParamCount(), 2);
  EXPECT_EQ(ParamStr(1), "defs.txt");
  EXPECT_EQ(ParamStr(2), std::string(255, 'x'));
  EXPECT_EQ(ParamStr(3), "");
  EXPECT_EQ(ParamStr(5), "");
  EXPECT_EQ(ParamStr(-1), "");
}

}  // namespace
}  // namespace zubra32

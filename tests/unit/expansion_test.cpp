#include <gtest/gtest.h>

#include "deflang/expansion.h"
#include "unit_test_support.h"

namespace zubra32 {
namespace {

TEST(FindDelimiterPairTest, TheCloseStartsAtLeastOneByteAfterTheOpeningEnds) {
  constexpr std::size_t None = std::string_view::npos;
  const std::tuple<std::string, std::size_t, std::size_t> rows[] = {
      {"", None, None}, {"abc", None, None},  {"~%", 0, None},    {"~%~%", 0, None},
      {"~%X~%", 0, 3},  {"~%~%X~%", 0, 5},    {"ab~%c~%d", 2, 5}, {"~%%~%", 0, 3},
      {"~%~~%", 0, 3},  {"~%A~%~%B~%", 0, 3}, {"x~%~%", 1, None}, {"~%AB", 0, None},
  };
  for (const auto& [line, open, close] : rows) {
    const DelimiterPair pair = FindDelimiterPair(line, VariableDelimiter);
    EXPECT_EQ(pair.Open, open) << line;
    EXPECT_EQ(pair.Close, close) << line;
  }
}

struct ExpandRow {
  std::string Name;
  std::vector<std::string> Environment;
  std::string Line, Expected;
};

// Expands the line in a run with exactly the given environment; gives the
// console output of debug mode.
std::string Expand(const ExpandRow& row, bool debug = false) {
  test::ScopedEnvironment environment(row.Environment);
  Reporting run = test::ConsoleReporting();
  run.DebugMode = debug;
  std::string line = row.Line;
  test::CapturedOutput console;
  ExpandVariables(line, run);
  EXPECT_EQ(line, row.Expected) << row.Name;
  return console.Finish();
}

TEST(ExpandVariablesTest, ReferencesAreReplacedLeftmostFirstAndTheLineSearchedAgain) {
  const std::string longName(300, 'N');
  const ExpandRow rows[] = {
      {"no delimiter", {"A=1"}, "plain A", "plain A"},
      {"case-insensitive name", {"USERNAME=bob"}, "end=rem by ~%username~%", "end=rem by bob"},
      {"name holds a delimiter", {"~%X=v"}, "~%~%X~%", "v"},
      {"two adjacent delimiters", {"=bad"}, "a~%~%", "a~%~%"},
      {"single delimiter", {"A=1"}, "~%A", "~%A"},
      {"two references", {"A=1", "B=2"}, "~%A~%-~%B~%", "1-2"},
      {"value holds a reference", {"A=<~%B~%>", "B=x"}, "~%A~%", "<x>"},
      {"value holds one delimiter", {"A=~%B", "B TAIL=z"}, "~%A~% tail~%!", "z!"},
      {"delimiter left over", {"A=~%"}, "~%A~%x", "~%x"},
      {"missing variable vanishes", {"A=1"}, "a~%NOPE~%b", "ab"},
      {"name with blanks", {"MY VAR=ok"}, "[~%my var~%]", "[ok]"},
      {"blanks of a value stay", {"A= v "}, "~%A~%", " v "},
      {"long name cut to 255", {std::string(255, 'N') + "=hit"}, "~%" + longName + "~%", "hit"},
      {"long value cut to 255", {"A=" + std::string(300, 'v')}, "~%A~%", std::string(255, 'v')},
      {"self reference stops after 1000", {"SELF=x~%SELF~%"}, "~%SELF~%", std::string(1000, 'x') + "~%SELF~%"},
      {"value completes a delimiter before it", {"A=%B~%", "B=x"}, "~~%A~%", "x"},
      {"value completes a delimiter mid-line", {"A=%B~%", "B=y"}, "x~~%A~%", "xy"},
      {"growing at the end stops after 1000",
       {"G=ab~%G~%"},
       "<~%G~%>",
       [] {
         std::string expected = "<";
         for (int i = 0; i < 1000; ++i) expected += "ab";
         return expected + "~%G~%>";
       }()},
  };
  for (const ExpandRow& row : rows) EXPECT_EQ(Expand(row), "") << row.Name;
}

TEST(ExpandVariablesTest, DebugModeTracesEachReplacementWithTheWholeName) {
  const std::string longName(300, 'N');
  EXPECT_EQ(Expand({"two", {"A=1", "B=2"}, "~%A~%~%B~%", "12"}, true),
            "Env var: A replaced by 1\r\nEnv var: B replaced by 2\r\n");
  EXPECT_EQ(Expand({"missing", {}, "x~%NOPE~%", "x"}, true), "Env var: NOPE replaced by \r\n");
  EXPECT_EQ(Expand({"long", {std::string(255, 'N') + "=hit"}, "~%" + longName + "~%", "hit"}, true),
            "Env var: " + longName + " replaced by hit\r\n");
  EXPECT_EQ(Expand({"none", {"A=1"}, "~%A", "~%A"}, true), "");

  std::string selfTraces;
  for (int i = 0; i < 1000; ++i) selfTraces += "Env var: SELF replaced by ~%SELF~%\r\n";
  EXPECT_EQ(Expand({"self", {"SELF=~%SELF~%"}, "~%SELF~%", "~%SELF~%"}, true), selfTraces);
}

}  // namespace
}  // namespace zubra32

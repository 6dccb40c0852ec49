#include <gtest/gtest.h>

#include <random>

#include "runtime/strings.h"
#include "unit_test_support.h"
#include "workfile/edit_operations.h"
#include "workfile/workfile.h"

namespace zubra32 {
namespace {

// The operation an operator character selects; ' ' for none: the text is changed.
ReplaceOperation Op(char character) {
  return OperationOfCharacter(character).value_or(ReplaceOperation::ChangeText);
}

// The replace family as stated, one plain search per line: the model that
// the scan, with its upper-cased copies, byte counts and pair sets kept in
// step through long runs of directives, must agree with.
void ModelScan(std::vector<std::string>& lines, std::string_view left, char op, std::string_view right) {
  const std::string upperLeft = UpperCase(left);
  const std::string upperRight = UpperCase(right);
  for (std::string& line : lines) {
    std::size_t found = UpperCase(line).find(upperLeft);
    if (upperLeft.empty() || found == std::string::npos) continue;
    if (op == '@' || op == '!') line = right;
    if (op == '+') line.append(right);
    if (op == ' ') line.replace(found, left.size(), right);
    if (op == '-' && !right.empty()) {
      std::size_t at = UpperCase(line).find(upperRight);
      if (at != std::string::npos) line.erase(at, right.size());
    }
  }
}

TEST(ReplaceScanTest, LongRunsOfDirectivesSeeEveryEarlierEdit) {
  std::mt19937 random(11);
  auto pick = [&](std::string_view choices) {
    return choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(random)];
  };
  auto text = [&](std::size_t maxLength) {
    std::string result(std::uniform_int_distribution<std::size_t>(0, maxLength)(random), ' ');
    for (char& byte : result) byte = pick("abAB x");
    return result;
  };
  for (int round = 0; round < 40; ++round) {
    Reporting run = test::ConsoleReporting();
    WorkBuffer work;
    work.WorkfileName = "work.txt";
    for (int i = 0; i < 30; ++i) work.BodyLines.push_back(text(round % 4 == 0 ? 300 : 12));
    std::vector<std::string> model = work.BodyLines;
    // Far more directives than it takes for the pair sets to come into use.
    for (int directive = 0; directive < 60; ++directive) {
      const std::string left = text(2) + pick("ab");
      const std::string right = text(3);
      const char op = pick(" @-+!");
      ReplaceScan(run, work, left, Op(op), right);
      ModelScan(model, left, op, right);
      ASSERT_EQ(work.BodyLines, model) << "round " << round << ", directive " << directive;
    }
    EXPECT_EQ(work.BodyUpper.size(), work.BodyLines.size());
  }
}

// Enough scans of a body that finds nothing for the pair sets to be in use.
void WarmUp(Reporting& run, WorkBuffer& work) {
  for (int i = 0; i < 20; ++i) ReplaceScan(run, work, "QQ", Op('+'), "never");
}

struct NewPairRow {
  const char* name;
  std::string line;
  std::string left;
  char op;
  std::string right;
};

// Each change below brings the pair "AB" into a line that had none: a later
// search for it must not pass the line over on its pairs from before.
TEST(ReplaceScanTest, AChangeThatBringsNewPairsIsSeenByLaterSearches) {
  const NewPairRow rows[] = {
      {"removing a text joins its neighbours", "aXb", "x", '-', "X"},
      {"changing a text joins its neighbours", "a-b", "-", ' ', ""},
      {"appending", "a", "a", '+', "b"},
      {"replacing the line", "zz", "zz", '@', "ab"},
      {"forced replacement", "zz", "zz", '!', "ab"},
  };
  for (const NewPairRow& row : rows) {
    Reporting run = test::ConsoleReporting();
    WorkBuffer work;
    work.WorkfileName = "work.txt";
    work.BodyLines = {row.line, "cd"};
    WarmUp(run, work);
    ReplaceScan(run, work, row.left, Op(row.op), row.right);
    ASSERT_EQ(work.BodyLines[0].size(), 2u) << row.name;
    ReplaceScan(run, work, "ab", Op('+'), "!");
    EXPECT_EQ(work.BodyLines, (std::vector<std::string>{"ab!", "cd"})) << row.name;
  }
}

// A new load of as many lines as the last one starts with no pair sets of the last one's lines.
TEST(ReplaceScanTest, ANewLoadDoesNotSearchWithThePairsOfTheLast) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.Path("first.txt"), "aa\r\nbb\r\n");
  test::WriteFileBytes(dir.Path("second.txt"), "ab\r\nba\r\n");
  Reporting run = test::ConsoleReporting();
  WorkBuffer work;
  work.WorkfileName = dir.Path("first.txt");
  LoadWorkfile(run, work);
  WarmUp(run, work);
  work.WorkfileName = dir.Path("second.txt");
  LoadWorkfile(run, work);
  ReplaceScan(run, work, "AB", Op('+'), "!");
  ReplaceScan(run, work, "BA", Op('+'), "?");
  EXPECT_EQ(work.BodyLines, (std::vector<std::string>{"ab!", "ba?"}));
}

TEST(ReplaceScanTest, ALoadedWorkfileIsSearchedLikeOneFilledByHand) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.Path("w.txt"), "Path=C:\\DOS\r\n@echo off\r\nnetx /ps\r\n  rem x  \r\n");
  Reporting run = test::ConsoleReporting();
  WorkBuffer work;
  work.WorkfileName = dir.Path("w.txt");
  LoadWorkfile(run, work);
  ASSERT_EQ(work.BodyLines, (std::vector<std::string>{"Path=C:\\DOS", "netx /ps", "  rem x"}));
  for (int i = 0; i < 10; ++i) ReplaceScan(run, work, "dos", Op('+'), ";x");
  ReplaceScan(run, work, "NETX /", Op(' '), "vlm /");
  ReplaceScan(run, work, "REM X", Op('@'), "done");
  EXPECT_EQ(work.BodyLines,
            (std::vector<std::string>{"Path=C:\\DOS;x;x;x;x;x;x;x;x;x;x", "vlm /ps", "done"}));
  EXPECT_EQ(work.HeadLines, (std::vector<std::string>{"@Echo Off"}));
}

}  // namespace
}  // namespace zubra32

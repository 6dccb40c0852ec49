#include <gtest/gtest.h>

#include <random>

#include "runtime/platform.h"
#include "runtime/strings.h"
#include "unit_test_support.h"
#include "workfile/edit_operations.h"
#include "workfile/workfile.h"

namespace zubra32 {
namespace {

// The operation an operator character selects; ' ' for none: the text is changed.
ReplaceOperation Op(char character) { return OperationOfCharacter(character).value_or(ReplaceOperation::ChangeText); }

// The replace family as stated, one plain search per upper-cased line: the
// model that the body's whole-block search, with lines edited in place and
// lines stored apart, must agree with.
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

// Loads the bytes as a new Workfile of `dir`, let go again at once (the
// buffer keeps its lines).
void LoadBytes(Reporting& run, WorkBuffer& work, const test::ScratchDir& dir, const std::string& bytes) {
  test::WriteFileBytes(dir.Path("w.txt"), bytes);
  FileWriteBack write;
  work.Current.Take(dir.Path("w.txt"));
  LoadWorkfile(run, work, write);
  work.Current.File().Release();
}

TEST(ReplaceScanTest, LongRunsOfDirectivesSeeEveryEarlierEdit) {
  std::mt19937 random(11);
  auto pick = [&](std::string_view choices) {
    return choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(random)];
  };
  auto text = [&](std::size_t maxLength) {
    std::string result(std::uniform_int_distribution<std::size_t>(0, maxLength)(random), ' ');
    for (char& byte : result) byte = pick("abAB x\n");
    return result;
  };
  test::ScratchDir dir;
  for (int round = 0; round < 60; ++round) {
    Reporting run = test::ConsoleReporting();
    WorkBuffer work;
    // Loaded lines live in the block, lines filled by hand apart: both kinds, and mixed by the edits.
    if (round % 3 == 0) {
      work.Current.Take("work.txt");
      for (int i = 0; i < 30; ++i) work.BodyLines.Append(text(round % 4 == 0 ? 300 : 12));
    } else {
      LoadBytes(run, work, dir, text(round % 4 == 0 ? 9000 : 400));
    }
    std::vector<std::string> model = work.BodyLines.Lines();
    for (int directive = 0; directive < 60; ++directive) {
      // A left side may hold a line end (through a variable): it never matches across lines.
      const std::string left = text(2) + pick("ab");
      const std::string right = text(3);
      const char op = pick(" @-+!");
      ReplaceScan(run, work, left, Op(op), right);
      ModelScan(model, left, op, right);
      ASSERT_EQ(work.BodyLines.Lines(), model) << "round " << round << ", directive " << directive;
    }
  }
}

struct LeftoverRow {
  const char* Name;
  std::string Bytes;
  std::vector<std::string> Directives;  // left side, operator, right side: three entries each
  std::vector<std::string> After;
};

// What lies in the block besides the lines (trimmed blanks, dropped CRs, the
// echo-off line, what an edit cut off or moved away) is never found.
TEST(ReplaceScanTest, BytesOfTheBlockOutsideTheLinesAreNeverFound) {
  const LeftoverRow rows[] = {
      {"trimmed blanks", "ab  \r\ncd\r\n", {"b  ", "+", "!", "b  \r\nc", "+", "!"}, {"ab", "cd"}},
      {"a needle across a line end", "xa\nby\n", {"a\nb", "+", "!"}, {"xa", "by"}},
      {"the echo-off line", "@echo off\r\nx\r\n", {"echo", "+", "!"}, {"x"}},
      {"a shortened line", "abcd\r\nz\r\n", {"abcd", "-", "cd", "cd", "+", "!"}, {"ab", "z"}},
      {"a line replaced by a longer one",
       "abcd\r\nz\r\n",
       {"ab", "@", "longer line", "cd", "+", "!"},
       {"longer line", "z"}},
      {"a CR inside a line", "ab\rcd\r\n", {"ab", "+", "!", "\rcd", "+", "?"}, {"abcd!"}},
      {"a Ctrl-Z and what follows",
       "ab\r\n\x1a"
       "cd\r\n",
       {"cd", "+", "!"},
       {"ab"}},
  };
  test::ScratchDir dir;
  for (const LeftoverRow& row : rows) {
    Reporting run = test::ConsoleReporting();
    WorkBuffer work;
    LoadBytes(run, work, dir, row.Bytes);
    for (std::size_t d = 0; d + 2 < row.Directives.size(); d += 3) {
      ReplaceScan(run, work, row.Directives[d], Op(row.Directives[d + 1][0]), row.Directives[d + 2]);
    }
    EXPECT_EQ(work.BodyLines.Lines(), row.After) << row.Name;
  }
}

// The first occurrence in each line, also where a line holds several and the
// one before it none that fits.
TEST(ReplaceScanTest, ChangesTheFirstOccurrenceOfEachLineInTheBlock) {
  test::ScratchDir dir;
  Reporting run = test::ConsoleReporting();
  WorkBuffer work;
  LoadBytes(run, work, dir, "xAB ab\r\nAb\r\nnone\r\nxxab\r\n");
  ReplaceScan(run, work, "ab", Op(' '), "[]");
  EXPECT_EQ(work.BodyLines.Lines(), (std::vector<std::string>{"x[] ab", "[]", "none", "xx[]"}));
  ReplaceScan(run, work, "[] AB", Op('+'), "!");
  EXPECT_EQ(work.BodyLines.Lines(), (std::vector<std::string>{"x[] ab!", "[]", "none", "xx[]"}));
}

// Enough searches of a body that finds nothing for its pair sets to be in use.
void WarmUp(Reporting& run, WorkBuffer& work) {
  for (int i = 0; i < 20; ++i) ReplaceScan(run, work, "QQ", Op('+'), "never");
}

struct NewPairRow {
  const char* Name;
  std::string Line;
  std::string Left;
  char Op;
  std::string Right;
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
  test::ScratchDir dir;
  for (const NewPairRow& row : rows) {
    Reporting run = test::ConsoleReporting();
    WorkBuffer work;
    LoadBytes(run, work, dir, row.Line + "\r\ncd\r\n");
    WarmUp(run, work);
    ReplaceScan(run, work, row.Left, Op(row.Op), row.Right);
    ASSERT_EQ(work.BodyLines.Line(0).size(), 2u) << row.Name;
    ReplaceScan(run, work, "ab", Op('+'), "!");
    EXPECT_EQ(work.BodyLines.Lines(), (std::vector<std::string>{"ab!", "cd"})) << row.Name;
  }
}

// A new load of as many lines as the last one starts with no pair sets of the last one's lines.
TEST(ReplaceScanTest, ANewLoadDoesNotSearchWithThePairsOfTheLast) {
  test::ScratchDir dir;
  Reporting run = test::ConsoleReporting();
  WorkBuffer work;
  LoadBytes(run, work, dir, "aa\r\nbb\r\n");
  WarmUp(run, work);
  LoadBytes(run, work, dir, "ab\r\nba\r\n");
  ReplaceScan(run, work, "AB", Op('+'), "!");
  ReplaceScan(run, work, "BA", Op('+'), "?");
  EXPECT_EQ(work.BodyLines.Lines(), (std::vector<std::string>{"ab!", "ba?"}));
}

TEST(ReplaceScanTest, ALoadedWorkfileIsSearchedLikeOneFilledByHand) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.Path("w.txt"), "Path=C:\\DOS\r\n@echo off\r\nnetx /ps\r\n  rem x  \r\n");
  Reporting run = test::ConsoleReporting();
  WorkBuffer work;
  FileWriteBack write;
  work.Current.Take(dir.Path("w.txt"));
  LoadWorkfile(run, work, write);
  ASSERT_EQ(work.BodyLines.Lines(), (std::vector<std::string>{"Path=C:\\DOS", "netx /ps", "  rem x"}));
  for (int i = 0; i < 10; ++i) ReplaceScan(run, work, "dos", Op('+'), ";x");
  ReplaceScan(run, work, "NETX /", Op(' '), "vlm /");
  ReplaceScan(run, work, "REM X", Op('@'), "done");
  EXPECT_EQ(work.BodyLines.Lines(), (std::vector<std::string>{"Path=C:\\DOS;x;x;x;x;x;x;x;x;x;x", "vlm /ps", "done"}));
  EXPECT_EQ(work.HeadLines, (std::vector<std::string>{"@Echo Off"}));
}

}  // namespace
}  // namespace zubra32

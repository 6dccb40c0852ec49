#include <gtest/gtest.h>

#include "deflang/directive.h"
#include "runtime/strings.h"
#include "unit_test_support.h"
#include "workfile/edit_operations.h"

namespace zubra32 {
namespace {

using Lines = std::vector<std::string>;

WorkBuffer MakeWork(const Lines& body, const Lines& head = {}, const Lines& tail = {}) {
  WorkBuffer work;
  work.Current.Take("work.txt");
  work.HeadLines = head;
  work.TailLines = tail;
  for (const std::string& line : body) work.BodyLines.Append(line);
  return work;
}

// Applies the directive lines in order, as the read loop does; gives the console output.
std::string Apply(Reporting& run, WorkBuffer& work, const Lines& directives) {
  test::CapturedOutput console;
  for (const std::string& line : directives) {
    ApplyDirective(run, work, ClassifyDirective(line));
  }
  return console.Finish();
}

struct EditRow {
  std::string Directive;
  Lines Before, After, Head, Tail;
  bool Modified;
};

TEST(EditOperationsTest, EachOperationOnTheBody) {
  const EditRow rows[] = {
      // ChangeText: first occurrence only, case kept outside the match, inserted text not searched again.
      {"netx /=vlm /", {"netx / netx /", "other"}, {"vlm / netx /", "other"}, {}, {}, true},
      {"path=P", {"Set Path=x"}, {"Set P=x"}, {}, {}, true},
      {"a=aa", {"xa", "b"}, {"xaa", "b"}, {}, {}, true},
      {"abc=", {"xABCx"}, {"xx"}, {}, {}, true},
      {"abc=abc", {"abc"}, {"abc"}, {}, {}, true},
      {"zzz=y", {"abc"}, {"abc"}, {}, {}, false},
      // Only a to z fold: the accented bytes E9 and C9 stay different.
      {"caf\xE9=x", {"CAF\xC9"}, {"CAF\xC9"}, {}, {}, false},
      {"CAF\xC9=x", {"caf\xC9"}, {"x"}, {}, {}, true},
      // RemoveText: first occurrence of R, matched without case; an absent or empty R still counts.
      {"path~=C=-c:\\commands", {"PATH=C:\\DOS;C:\\COMMANDS"}, {"PATH=C:\\DOS;"}, {}, {}, true},
      {"a=-b", {"abAB"}, {"aAB"}, {}, {}, true},
      {"abc=-x", {"abcx", "x"}, {"abc", "x"}, {}, {}, true},
      {"abc=-zz", {"abc"}, {"abc"}, {}, {}, true},
      {"abc=-", {"abc"}, {"abc"}, {}, {}, true},
      // AddToLine: at the end of the line, again on each application.
      {"path~=C=+;c:\\dos", {"PATH=C:\\DOS", "rem"}, {"PATH=C:\\DOS;c:\\dos", "rem"}, {}, {}, true},
      {"a=+X", {"abc"}, {"abcX"}, {}, {}, true},
      // ReplaceLine: every matching line, CR LF kept inside one body line, empty R leaves an empty line.
      {"line=@new", {"Line 1", "x", "LINE 2"}, {"new", "x", "new"}, {}, {}, true},
      {"TestLine 3=@a~~b", {"testline 3"}, {"a\r\nb"}, {}, {}, true},
      {"x=@", {"x"}, {""}, {}, {}, true},
      // ForceReplace: like ReplaceLine, or R to the head when nothing matched.
      {"mouse=!m.com", {"MOUSE", "a", "mouse2"}, {"m.com", "a", "m.com"}, {}, {}, true},
      {"mouse=!m.com", {"a"}, {"a"}, {"m.com"}, {}, true},
      // AddAtStart, AddAtEnd and a line that is no directive.
      {"START=s", {"a"}, {"a"}, {"s"}, {}, true},
      {"END=e", {"a"}, {"a"}, {}, {"e"}, true},
      {"hello", {"hello"}, {"hello"}, {}, {}, false},
  };
  for (const EditRow& row : rows) {
    Reporting run = test::ConsoleReporting();
    WorkBuffer work = MakeWork(row.Before);
    EXPECT_EQ(Apply(run, work, {row.Directive}), "") << row.Directive;
    EXPECT_EQ(work.BodyLines.Lines(), row.After) << row.Directive;
    EXPECT_EQ(work.HeadLines, row.Head) << row.Directive;
    EXPECT_EQ(work.TailLines, row.Tail) << row.Directive;
    EXPECT_EQ(work.WorkfileModified, row.Modified) << row.Directive;
    EXPECT_EQ(work.Current.Name(), "work.txt") << row.Directive;
    EXPECT_EQ(run.RunStatus, 0) << row.Directive;
  }
}

TEST(EditOperationsTest, HeadAndTailGrowInDirectiveOrderAndAreNeverSearched) {
  Reporting run = test::ConsoleReporting();
  WorkBuffer work = MakeWork({"body"}, {std::string(EchoOffLine)});
  Apply(run, work, {"START=s1", "x=!f", "START=s2", "x=!f", "END=e1", "END=e2", "s1=changed", "e1=@gone"});
  EXPECT_EQ(work.HeadLines, (Lines{"@Echo Off", "s1", "f", "s2", "f"}));
  EXPECT_EQ(work.TailLines, (Lines{"e1", "e2"}));
  EXPECT_EQ(work.BodyLines.Lines(), (Lines{"body"}));
}

TEST(EditOperationsTest, LaterDirectivesSeeTheBodyAsEarlierOnesLeftIt) {
  Reporting run = test::ConsoleReporting();
  WorkBuffer work = MakeWork({"abc def", "Path=a"});
  Apply(run, work, {"abc=@New Text", "new text=+ More", "text m=-T M", "path=PATH", "PATH~=a=+;y", "w texo=Z"});
  EXPECT_EQ(work.BodyLines.Lines(), (Lines{"NeZre", "PATH=a;y"}));
}

TEST(EditOperationsTest, NothingHappensWithoutAWorkfileOrToAnEmptyBody) {
  const Lines all = {"START=s", "END=e", "a=b", "a=@b", "a=-b", "a=+b", "a=!b"};
  Reporting run = test::ConsoleReporting();
  run.DebugMode = true;
  WorkBuffer none = MakeWork({"a"});
  none.Current.Drop();
  EXPECT_EQ(Apply(run, none, all), "");
  EXPECT_EQ(none.BodyLines.Lines(), (Lines{"a"}));
  EXPECT_TRUE(none.HeadLines.empty() && none.TailLines.empty() && !none.WorkfileModified);

  WorkBuffer empty = MakeWork({});
  EXPECT_EQ(Apply(run, empty, all), "  Add at Start : s\r\n  Add at End : e\r\n");
  EXPECT_EQ(empty.HeadLines, (Lines{"s"}));
  EXPECT_EQ(empty.TailLines, (Lines{"e"}));
  EXPECT_TRUE(empty.BodyLines.Empty() && empty.WorkfileModified);

  WorkBuffer forced = MakeWork({});
  EXPECT_EQ(Apply(run, forced, {"a=!b"}), "");
  EXPECT_TRUE(forced.HeadLines.empty() && !forced.WorkfileModified);
}

struct CapacityRow {
  std::string Directive;
  std::size_t Head, Tail;
  std::string Where;
};

TEST(EditOperationsTest, A101stHeadOrTailLineDropsTheWorkfileWithStatus3) {
  const CapacityRow rows[] = {
      {"START=x", 100, 0, "start"},
      {"nomatch=!x", 100, 0, "start"},
      {"END=x", 0, 100, "end"},
  };
  for (const CapacityRow& row : rows) {
    Reporting run = test::ConsoleReporting();
    run.RunStatus = 2;
    run.DefinitionFileName = "defs.txt";
    run.DefinitionLineNumber = 7;
    WorkBuffer work = MakeWork({"a"}, Lines(row.Head, "h"), Lines(row.Tail, "t"));
    EXPECT_EQ(Apply(run, work, {row.Directive, "a=@changed", "START=y", "END=z"}),
              "Error in defs.txt Line:7 work.txt has more than 100 lines at " + row.Where + "\r\n")
        << row.Directive;
    EXPECT_EQ(run.RunStatus, 3) << row.Directive;
    EXPECT_EQ(work.Current.Name(), "") << row.Directive;
    EXPECT_EQ(work.HeadCount(), row.Head) << row.Directive;
    EXPECT_EQ(work.TailCount(), row.Tail) << row.Directive;
    EXPECT_EQ(work.BodyLines.Lines(), (Lines{"a"})) << row.Directive;
  }

  // Line numbers past 2^31 stay positive in the error line.
  Reporting far = test::ConsoleReporting();
  far.DefinitionFileName = "defs.txt";
  far.DefinitionLineNumber = (std::int64_t{1} << 31) + 5;
  WorkBuffer full = MakeWork({"a"}, {}, Lines(100, "t"));
  EXPECT_EQ(Apply(far, full, {"END=x"}),
            "Error in defs.txt Line:2147483653 work.txt has more than 100 lines at end\r\n");

  // The 100th line itself still fits.
  Reporting run = test::ConsoleReporting();
  WorkBuffer work = MakeWork({"a"}, Lines(99, "h"), Lines(99, "t"));
  EXPECT_EQ(Apply(run, work, {"START=x", "END=x"}), "");
  EXPECT_EQ(work.HeadCount(), 100u);
  EXPECT_EQ(work.TailCount(), 100u);
  EXPECT_EQ(run.RunStatus, 0);
  EXPECT_EQ(work.Current.Name(), "work.txt");
}

TEST(EditOperationsTest, DebugModeTracesEveryOperation) {
  Reporting run = test::ConsoleReporting();
  run.DebugMode = true;
  WorkBuffer work = MakeWork({"path=c:\\dos", "PATH=x", "other"});
  const std::string console = Apply(
      run, work, {"START=s", "END=e", "path=P", "p=+;x", "p=-X", "other=@o~~p", "zzz=!f", "zzz=-q", "a~=b=c", "hello"});
  EXPECT_EQ(console,  // one line here per directive
            "  Add at Start : s\r\n"
            "  Add at End : e\r\n"
            " Replace path by P\r\n"
            "Changed path to P at Line : 1\r\n"
            "Changed path to P at Line : 2\r\n"
            " Replace p by ;x\r\n"
            "Added ;x to Line : 1\r\n"
            "Added ;x to Line : 2\r\n"
            " Replace p by X\r\n"
            "Removed X from Line : 1\r\n"
            "Removed X from Line : 2\r\n"
            " Replace other by o\r\np\r\n"
            "Replaced in Line : 3\r\n"
            " Replace zzz by f\r\n"
            "Force Replacement not found, added to start\r\n"
            " Replace zzz by q\r\n"
            " Replace a=b by c\r\n");
  EXPECT_EQ(work.BodyLines.Lines(), (Lines{"P=c:\\dos;", "P=;x", "o\r\np"}));
}

}  // namespace
}  // namespace zubra32

#include <gtest/gtest.h>

#include "driver/check.h"
#include "unit_test_support.h"

namespace zubra32 {
namespace {

// The findings for one line under a section line naming `workfile`, as their
// codes, a note's marked "(note)", in order.
std::string CodesUnder(const std::string& workfile, const std::string& line) {
  CheckState state;
  CheckLine(state, "[" + workfile + "]", 1);
  std::string codes;
  for (const Finding& finding : CheckLine(state, line, 2)) {
    codes.append(codes.empty() ? "" : " ").append(finding.Code);
    if (finding.Level == FindingLevel::Note) codes.append("(note)");
  }
  return codes;
}

// Slips that change what the run does get a warning; the correct lines they
// resemble, and what may well be meant, do not.
TEST(CheckTest, SlipsWarnAndTheLinesTheyResembleStayQuiet) {
  test::ScopedEnvironment environment({"USERNAME=demo", "EMPTY=", "SP= "});
  struct Row {
    std::string Workfile, Line, Codes;
  } rows[] = {
      // START, END and [DEBUG] with a letter left out, changed to a key beside it, added, swapped.
      {"w.txt", "STRAT=rem x", "keyword-misspelt"},
      {"w.txt", "Sart=@ECHO OFF", "keyword-misspelt"},
      {"w.txt", "STARR=rem x", "keyword-misspelt"},
      {"w.txt", "EN=rem x", "keyword-misspelt"},
      {"w.txt", "ND=DEVICE=C:\\X.SYS", "keyword-misspelt"},
      {"w.txt", "ED=rem Changed", "keyword-misspelt"},
      {"w.txt", "ENDF=rem x", "keyword-misspelt"},
      {"w.txt", "EEND=rem x", "keyword-misspelt"},
      {"w.txt", "end  =x", "keyword-misspelt"},
      {"w.txt", "[DEBG]", "keyword-misspelt"},
      // Other words, a word put for a word, text that holds the word again.
      {"w.txt", "SMART=rem x", ""},
      {"w.txt", "AND=rem x", ""},
      {"w.txt", "STAR T=rem x", ""},
      {"w.txt", "STARTUP=rem x", ""},
      {"w.txt", "ENDS=x", ""},
      {"w.txt", "STAR=MOON", ""},
      {"w.txt", "SEND=SEND /Q", ""},
      // Keywords the language does not have.
      {"w.txt", "ADD=rem x", "unknown-keyword"},
      {"w.txt", "append=DEVICE=C:\\X.SYS", "unknown-keyword"},
      {"w.txt", "APPEND=APPEND /X", ""},
      {"w.txt", "TOP=@rem x", ""},
      // Blanks around "=".
      {"w.txt", "abc = @x", "operator-as-text"},
      {"w.txt", "abc=\t!x", "operator-as-text"},
      {"w.txt", "abc =@x", "blank-before-equals"},
      {"w.txt", "abc~ =x", ""},
      {"w.txt", "netx /= vlm /", "blank-after-equals"},
      {"w.txt", "mouse=@ LH x", "blank-after-equals"},
      {"w.txt", "START= rem x", "adds-every-run(note) blank-after-equals"},
      {"w.txt", "DEVICE~=HIMEM.SYS=- /TESTMEM:OFF", ""},
      {"w.txt", "x=~%SP~%y", ""},
      {"w.txt", "~%SP~%=x", "blank-left-side"},
      // "=" doubled.
      {"w.txt", "PATH~=C:\\DOS==PATH=C:\\WIN", "doubled-equals"},
      {"w.txt", "END==x", "adds-every-run(note) doubled-equals"},
      {"w.txt", "SET TEMP~==!SET TEMP=C:\\TEMP", ""},
      {"w.txt", "a=b=c", ""},
      // "%NAME%": text everywhere but in a batch file's own lines.
      {"w.txt", "x=%USERNAME%", "percent-reference"},
      {"a.BAT", "END=rem by %USERNAME%", "adds-every-run(note) percent-reference"},
      {"a.bat", "x=@:: %USERNAME%", "percent-reference"},
      {"a.bat", "END=SET H=%USERNAME%", "adds-every-run(note)"},
      {"a.bat", "PATH %PATH%;=+;C:\\NET", ""},
      {"w.txt", "x=100% of 50%", ""},
      {"w.txt", "x=~%USERNAME~%~%USERNAME~%", ""},
      {"w.txt", "[%WINDIR%\\win.ini]", "percent-reference"},
      // A byte-order mark: harmless before a comment only.
      {"w.txt", "\xEF\xBB\xBF[big.txt]", "byte-order-mark"},
      {"w.txt", "\xEF\xBB\xBF' comment", "byte-order-mark(note)"},
      // What holds only where the check runs, and lines the run takes as they read.
      {"w.txt", "x=~%NOPE~%", "variable-unset(note)"},
      {"w.txt", "PATH-C:\\DOS", "not-a-directive"},
      {"w.txt", "' ~%NOPE~% %X% in a comment", ""},
      {"w.txt", "  [Debug]  ", ""},
      {"w.txt", "netx /=vlm /", ""},
      {"w.txt", "mouse=!m", ""},
      {"w.txt", "path~=C=+;c:\\dos", ""},
      {"w.txt", "x=~%EMPTY~%", ""},
      {"w.txt", "", ""},
      {"w.txt", "   ", ""},
      {"w.txt", "[debug]", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(CodesUnder(row.Workfile, row.Line), row.Codes) << row.Line;
}

TEST(CheckTest, SectionsAreComparedByTheNameTheRunTakes) {
  CheckState state;
  EXPECT_TRUE(CheckLine(state, "[a.txt]", 1).empty());
  EXPECT_TRUE(CheckLine(state, "[A.TXT]", 2).empty());
  EXPECT_EQ(CheckLine(state, "[a.txt] ", 3).size(), 1u);  // trimmed first: the same name
  Findings findings = CheckLine(state, "[a.txtX", 4);
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[1].Code, "section-repeated");
  EXPECT_EQ(findings[1].Message, "names the same Workfile as line 1: this section edits what that one leaves");
}

}  // namespace
}  // namespace zubra32

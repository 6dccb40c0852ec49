#include <gtest/gtest.h>

#include "driver/check.h"
#include "unit_test_support.h"

namespace zubra32 {
namespace {

// The findings for one directive line under a section line, as their first words.
std::vector<std::string> FindingsUnderSection(const std::string& line) {
  CheckState state;
  CheckLine(state, "[w.txt]", 1);
  std::vector<std::string> findings;
  for (const Finding& finding : CheckLine(state, line, 2))
    findings.push_back(finding.Message.substr(0, finding.Message.find(':')));
  return findings;
}

TEST(CheckTest, KeywordLookAlikesAreSlipsOfTheKeyboardOnly) {
  struct Row {
    std::string Line;
    bool Flagged;
  } rows[] = {
      {"STRAT=x", true},  {"Sart=x", true},    {"SSTART=x", true},   {"STARR=x", true}, {"SRART=x", true},
      {"EDN=x", true},    {"NED=x", true},     {"ENDD=x", true},     {"EEND=x", true},  {"START =x", true},
      {"end  =x", true},  {"STARTS=x", false}, {"STARTUP=x", false}, {"ENDS=x", false}, {"AND=x", false},
      {"SEND=x", false},  {"STAR T=x", false}, {"EN=x", false},      {"tart=x", true},  {"STATE=x", false},
      {"START=x", false},
  };
  for (const Row& row : rows) {
    bool flagged = false;
    for (const std::string& finding : FindingsUnderSection(row.Line)) {
      flagged = flagged || finding.find("is not the keyword") != std::string::npos;
    }
    EXPECT_EQ(flagged, row.Flagged) << row.Line;
  }
}

TEST(CheckTest, OperatorAfterBlanksOnlyWhenBothSidesHaveThem) {
  struct Row {
    std::string Line;
    bool Flagged;
  } rows[] = {
      {"abc = @x", true}, {"abc =  !x", true}, {"abc = -x", true},   {"abc\t= +x", true}, {"abc= @x", false},
      {"abc =@x", false}, {"abc = x", false},  {"abc =+ @x", false}, {"abc =", false},
  };
  for (const Row& row : rows) {
    bool flagged = false;
    for (const std::string& finding : FindingsUnderSection(row.Line)) {
      flagged = flagged || finding.find("followed by a blank") != std::string::npos;
    }
    EXPECT_EQ(flagged, row.Flagged) << row.Line;
  }
}

TEST(CheckTest, LinesTheRunTakesAsMeantStayQuiet) {
  test::ScopedEnvironment environment({"USERNAME=demo", "EMPTY="});
  for (std::string line : {"", "   ", "' ~%NOPE~% in a comment", "[debug]", "  [Debug]  ", "netx /=vlm /", "mouse=!m",
                           "path~=C=+;c:\\dos", "a=b=c", "x=~%username~%", "x=~%EMPTY~%"}) {
    EXPECT_TRUE(FindingsUnderSection(line).empty()) << line;
  }
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

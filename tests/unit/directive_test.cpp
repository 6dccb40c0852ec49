#include "deflang/directive.h"

#include <gtest/gtest.h>

namespace zubra32 {
namespace {

constexpr DirectiveKind None = DirectiveKind::None;
constexpr DirectiveKind Start = DirectiveKind::AddAtStart;
constexpr DirectiveKind End = DirectiveKind::AddAtEnd;
constexpr DirectiveKind Replace = DirectiveKind::Replace;

struct DirectiveRow {
  std::string Line;
  DirectiveKind Kind;
  std::string Left;
  char Op;
  std::string Value;
};

void ExpectClassified(const std::vector<DirectiveRow>& rows) {
  for (const DirectiveRow& row : rows) {
    const Directive directive = ClassifyDirective(row.Line);
    const std::string where = "line " + testing::PrintToString(row.Line);
    EXPECT_EQ(directive.Kind, row.Kind) << where;
    EXPECT_EQ(directive.LeftSide, row.Left) << where;
    // ' ' stands for no operator character: the text is changed.
    EXPECT_EQ(directive.Operation, OperationOfCharacter(row.Op).value_or(ReplaceOperation::ChangeText)) << where;
    EXPECT_EQ(directive.Value, row.Value) << where;
  }
}

TEST(ClassifyDirectiveTest, StartAndEndKeywordsInAnyCaseTakeTheRestAsWritten) {
  ExpectClassified({
      {"START=", Start, "", ' ', ""},
      {"start=rem TestLine 2", Start, "", ' ', "rem TestLine 2"},
      {"StArT= a~~b~ ", Start, "", ' ', " a~~b~ "},
      {"START=END=x", Start, "", ' ', "END=x"},
      {"END=", End, "", ' ', ""},
      {"End=rem ~%x~%", End, "", ' ', "rem ~%x~%"},
      {"eNd=START=x", End, "", ' ', "START=x"},
      {"START =x", Replace, "START ", ' ', "x"},
      {" END=x", Replace, " END", ' ', "x"},
      {"STAR=x", Replace, "STAR", ' ', "x"},
      {"END", None, "", ' ', ""},
      {"ST\xC1RT=x", Replace, "ST\xC1RT", ' ', "x"},
  });
}

TEST(ClassifyDirectiveTest, SplitsAtTheFirstUnescapedEqualsSignAfterTheFirstCharacter) {
  ExpectClassified({
      {"", None, "", ' ', ""},
      {"hello", None, "", ' ', ""},
      {"abc~=def", None, "", ' ', ""},
      {"a~~=b", None, "", ' ', ""},
      {"=@x", None, "", ' ', ""},
      {"a~~=b=c", Replace, "a~=b", ' ', "c"},
      {"=abc=x", Replace, "=abc", ' ', "x"},
      {"==", Replace, "=", ' ', ""},
      {"~=x=y", Replace, "=x", ' ', "y"},
      {"abc=x=y", Replace, "abc", ' ', "x=y"},
      {"a=b~c", Replace, "a", ' ', "b~c"},
      {"abc=", Replace, "abc", ' ', ""},
      {"abc =def", Replace, "abc ", ' ', "def"},
      {"netx /=vlm /", Replace, "netx /", ' ', "vlm /"},
      {"path~=C=-c:\\commands", Replace, "path=C", '-', "c:\\commands"},
      {"path~=C=+;c:\\dos", Replace, "path=C", '+', ";c:\\dos"},
      {"mouse=!c:\\lmouse\\mouse.com", Replace, "mouse", '!', "c:\\lmouse\\mouse.com"},
      {"TestLine 3=@rem line 3~~rem line 4", Replace, "TestLine 3", '@', "rem line 3\r\nrem line 4"},
  });
}

TEST(ClassifyDirectiveTest, OnlyTheCharacterRightAfterTheEqualsSignIsAnOperator) {
  ExpectClassified({
      {"abc=@", Replace, "abc", '@', ""},
      {"abc=+@x", Replace, "abc", '+', "@x"},
      {"abc=--x", Replace, "abc", '-', "-x"},
      {"abc= @x", Replace, "abc", ' ', " @x"},
      {"abc=!", Replace, "abc", '!', ""},
      {"abc=*x", Replace, "abc", ' ', "*x"},
      {"abc=@~~", Replace, "abc", '@', "\r\n"},
      {"abc=+~~x", Replace, "abc", '+', "\r\nx"},
      {"abc=~~@", Replace, "abc", ' ', "\r\n@"},
      {"abc=~@", Replace, "abc", ' ', "~@"},
  });
}

TEST(ClassifyDirectiveTest, TildeRunsKeepHalfOnTheLeftAndPairUpOnTheRight) {
  ExpectClassified({
      {"x~y=z", Replace, "xy", ' ', "z"},
      {"x~~y=z", Replace, "x~y", ' ', "z"},
      {"x~~~y=z", Replace, "x~y", ' ', "z"},
      {"x~~~~y=z", Replace, "x~~y", ' ', "z"},
      {"x~~~~~y=z", Replace, "x~~y", ' ', "z"},
      {"~x=z", Replace, "x", ' ', "z"},
      {"~~x=z", Replace, "~x", ' ', "z"},
      {"a=~", Replace, "a", ' ', "~"},
      {"a=~~", Replace, "a", ' ', "\r\n"},
      {"a=~~~", Replace, "a", ' ', "\r\n~"},
      {"a=~~~~", Replace, "a", ' ', "\r\n\r\n"},
      {"a=x~~~y", Replace, "a", ' ', "x\r\n~y"},
  });
}

}  // namespace
}  // namespace zubra32

// The definition language: variable references put in before a line is
// interpreted, and the classification of a directive line into one of the
// seven edit operations.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zubra32 {

struct RunState;

// A variable reference is the name between two of these.
constexpr std::string_view VariableDelimiter = "~%";

// Most replacements that expansion makes in one line; a value that keeps
// bringing in new references stops here.
constexpr int MaxReplacementsPerLine = 1000;

// 1-based positions of the opening delimiter (First) and of the first
// delimiter that begins at least one character after the opening one ends
// (Close); 0 when there is none.
struct DelimiterPair {
  std::size_t First = 0;
  std::size_t Close = 0;
};
DelimiterPair FindDelimiterPair(std::string_view line, std::string_view delimiter);

// The text with `count` bytes removed from 1-based `index` on and `value` put in their place.
std::string ReplaceAt(std::string_view text, std::size_t index, std::size_t count, std::string_view value);

// Replaces every variable reference in the current line by the variable's
// value, leftmost first, searching the line again after each replacement, and
// traces each replacement in debug mode.
void ExpandVariables(RunState& run);

// What expanding one line met, for the check.
struct ExpansionNotes {
  std::vector<std::string> UnsetNames;  // names of references that no variable has, each once, in order
  bool LoneDelimiter = false;           // a "~%" without a partner stayed in the line as text
  bool BoundReached = false;            // MaxReplacementsPerLine were made and a reference is left
};

// The same expansion without traces, noting what it met.
void ExpandVariablesNoting(std::string& line, ExpansionNotes& notes);

enum class DirectiveKind {
  None,        // the line asks for nothing
  AddAtStart,  // "START=" value
  AddAtEnd,    // "END=" value
  Replace,     // left side, "=", operator character, right side
};

// A classified directive line.
struct Directive {
  DirectiveKind Kind = DirectiveKind::None;
  std::string LeftSide;         // Replace: escapes removed, never empty
  char OperatorCharacter = ' ';  // Replace: ' ', '@', '-', '+' or '!'
  std::string Value;            // AddAtStart/AddAtEnd: as written; Replace: the right side, "~~" turned into CR LF
};

// The result of splitting a line at its operator; Found is false when the line holds none.
struct SplitResult {
  bool Found = false;
  std::string LeftSide;
  std::string RightSide;
  char OperatorCharacter = ' ';
};

// Splits at the first "=" after the first character that no "~" escapes,
// takes the operator character and resolves both sides' escapes.
SplitResult SplitDirective(std::string_view line);

// "START=" and "END=" (in any letter case) first, then SplitDirective.
Directive ClassifyDirective(std::string_view line);

}  // namespace zubra32

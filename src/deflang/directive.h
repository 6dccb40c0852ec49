// The classification of a directive line into one of the seven edit
// operations, and the operator characters that select them.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zubra32 {

// The five operations that search the Workfile's lines for the left side.
enum class ReplaceOperation {
  ChangeText,    // "L=R": the first occurrence of L becomes R
  ReplaceLine,   // "L=@R": the whole line becomes R
  RemoveText,    // "L=-R": the first occurrence of R goes
  AddToLine,     // "L=+R": R is appended to the line
  ForceReplace,  // "L=!R": as "=@"; when no line holds L, R is added at the start
};

// The operator character written right after the "=" selects the operation;
// any other byte there belongs to the right side, and the text is changed.
struct OperatorEntry {
  char Character;
  ReplaceOperation Operation;
};
constexpr std::array<OperatorEntry, 4> OperatorTable = {{
    {'@', ReplaceOperation::ReplaceLine},
    {'-', ReplaceOperation::RemoveText},
    {'+', ReplaceOperation::AddToLine},
    {'!', ReplaceOperation::ForceReplace},
}};

// The operation an operator character selects; none for any other byte.
constexpr std::optional<ReplaceOperation> OperationOfCharacter(char character) {
  for (const OperatorEntry& entry : OperatorTable) {
    if (entry.Character == character) return entry.Operation;
  }
  return std::nullopt;
}

enum class DirectiveKind {
  None,        // the line asks for nothing
  AddAtStart,  // "START=" value
  AddAtEnd,    // "END=" value
  Replace,     // left side, "=", operator character, right side
};

// A classified directive line.
struct Directive {
  DirectiveKind Kind = DirectiveKind::None;
  std::string LeftSide;                                       // Replace: escapes removed, never empty
  ReplaceOperation Operation = ReplaceOperation::ChangeText;  // Replace: what the operator character selects
  std::string Value;  // AddAtStart/AddAtEnd: as written; Replace: the right side, "~~" turned into CR LF
};

// Where a line that is no keyword line splits into its two sides: the first
// "=" after the first byte that no "~" escapes; npos when it holds none.
std::size_t SplitPosition(std::string_view line);

// "START=" and "END=" (in any letter case) first; otherwise the line splits
// at the first "=" after the first byte that no "~" escapes, the byte after
// it may be an operator character, and both sides' escapes are resolved.
Directive ClassifyDirective(std::string_view line);

// The Workfile a section line names: the line without its first byte (the
// "[") and its last (normally the "]"), whatever those are.
std::string_view SectionName(std::string_view sectionLine);

}  // namespace zubra32

// Variable references: "~%NAME~%" in a definition line is replaced by the
// environment variable's value before the line is interpreted.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/reporting.h"

namespace zubra32 {

// A variable reference is the name between two of these.
constexpr std::string_view VariableDelimiter = "~%";

// Most replacements that expansion makes in one line; a value that keeps
// bringing in new references stops here.
constexpr int MaxReplacementsPerLine = 1000;

// Offsets of the opening delimiter (Open) and of the first delimiter that
// begins at least one byte after the opening one ends (Close); npos for none.
struct DelimiterPair {
  std::size_t Open = std::string_view::npos;
  std::size_t Close = std::string_view::npos;
};
DelimiterPair FindDelimiterPair(std::string_view line, std::string_view delimiter);

// Replaces every variable reference in the line by the variable's value,
// leftmost first, searching the line again after each replacement, and traces
// each replacement in debug mode.
void ExpandVariables(std::string& line, const Reporting& report);

// What expanding one line met, for the check.
struct ExpansionNotes {
  std::vector<std::string> UnsetNames;  // names of references that no variable has, each once, in order
  bool LoneDelimiter = false;           // a "~%" without a partner stayed in the line as text
  bool BoundReached = false;            // MaxReplacementsPerLine were made and a reference is left
};

// The same expansion without traces, noting what it met.
void ExpandVariablesNoting(std::string& line, ExpansionNotes& notes);

}  // namespace zubra32

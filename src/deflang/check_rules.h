// The check of a definition file (/T): the rules that name the lines which
// probably do not do what their writer meant, each with what the run will do
// with it. The driver hands each line to them through the read loop's own
// stages; nothing here opens a Workfile or prints.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "deflang/expansion.h"

namespace zubra32 {

// What the check remembers from one line to the next.
struct CheckState {
  bool SectionSeen = false;                          // a section line came before this line
  std::string Workfile;                              // the name the last section line gave
  std::map<std::string, std::int64_t> SectionLines;  // each Workfile named so far, with the line that named it first
};

// A Warning names what is almost surely a mistake; a Note what is true of the
// line but may well be meant (or holds only where the check runs), and counts
// for the exit code only when asked to.
enum class FindingLevel { Warning, Note };

// What a rule found: its stable code (in the report), the text that follows
// "Warning in <def> Line:<n> " (or "Note in ..."), and its level.
struct Finding {
  std::string_view Code;
  std::string Message;
  FindingLevel Level = FindingLevel::Warning;
};
using Findings = std::vector<Finding>;

// What the expansion of the line met (unset variables, a lone "~%", the bound).
void CheckExpansion(const ExpansionNotes& notes, Findings& findings);

// A section line, trimmed and expanded.
void CheckSectionLine(CheckState& state, std::string_view line, std::int64_t lineNumber, Findings& findings);

// Any other line that reaches the directive stage: `written` as the
// definition file has it (trimmed), `line` as the run takes it (expanded).
void CheckDirectiveLine(const CheckState& state, std::string_view written, std::string_view line, Findings& findings);

}  // namespace zubra32

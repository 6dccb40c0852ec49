// The check of a definition file (/T): the lines that probably do not do what
// their writer meant, each with what the run will do with it. Nothing here
// opens a Workfile or prints; the driver prints the findings.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zubra32 {

// What the check remembers from one line to the next.
struct LintState {
  bool SectionSeen = false;                          // a section line came before this line
  std::map<std::string, std::int64_t> SectionLines;  // each Workfile named so far, with the line that named it first
};

// The findings for one definition line as read (untrimmed), each the text
// that follows "Warning in <def> Line:<n> ". The line is expanded against the
// environment the check runs in, without traces.
std::vector<std::string> LintLine(LintState& state, std::string line, std::int64_t lineNumber);

}  // namespace zubra32

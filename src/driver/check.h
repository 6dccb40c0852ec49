// The check (/T): the definition file looked over on its own, each line
// passing the read loop's own stages, with the check's rules in place of the
// run's actions; no Workfile is opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "deflang/check_rules.h"
#include "driver/report.h"

namespace zubra32 {

// The findings for one definition line as read (untrimmed), each the text
// that follows "Warning in <def> Line:<n> ". The line is expanded against the
// environment the check runs in, without traces.
Findings CheckLine(CheckState& state, std::string line, std::int64_t lineNumber);

// How many findings of each level the check printed.
struct CheckCounts {
  std::int32_t Warnings = 0;
  std::int32_t Notes = 0;
};

// Prints a line for each finding on a line of the definition file, "Warning
// in" or "Note in" as its level says, then the counts. Gives the counts, or
// nothing when the definition file cannot be read. The findings also go to
// `records` when given (a report).
std::optional<CheckCounts> CheckDefinitionFile(std::string_view definitionFileName,
                                               std::vector<FindingRecord>* records = nullptr);

}  // namespace zubra32

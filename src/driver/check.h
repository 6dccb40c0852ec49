// The check (/T): the definition file looked over on its own, each line
// passing the read loop's own stages, with the check's rules in place of the
// run's actions; no Workfile is opened.
#pragma once

#include <cstdint>
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

// Prints a warning line for each line of the definition file that probably
// does not do what it seems to, then the count. Gives the number of warnings,
// or -1 when the definition file cannot be read. The findings also go to
// `records` when given (a report).
std::int32_t CheckDefinitionFile(std::string_view definitionFileName, std::vector<FindingRecord>* records = nullptr);

}  // namespace zubra32

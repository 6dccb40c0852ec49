// The machine-readable report of a run (--report FILE): one JSON document,
// written when the run ends, whatever the outcome, in one atomic step.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/reporting.h"

namespace zubra32 {

// A finding of the check, as the report tells it.
struct FindingRecord {
  std::int64_t Line = 0;
  std::string_view Level = "warning";  // "warning" or "note"
  std::string Code;
  std::string Message;
};

struct RunReport {
  std::string_view Mode = "run";  // "run", "preview" or "check"
  std::int32_t ExitCode = 0;
  std::string DefinitionFile;  // as the command line gave it
  std::string Message;         // the line that ended the run early: the definition file missing or unreadable
  std::vector<SectionRecord> Sections;
  std::vector<FindingRecord> Findings;
};

// The report as JSON (UTF-8, ended by a line feed). Every name and text is
// bytes: a byte that is not part of valid UTF-8 comes out as the escape
// \uDC80 to \uDCFF of its value, which no valid text can hold, so the bytes
// can always be told back exactly (Python: os.fsencode, or encoding with
// "surrogateescape").
std::string ReportJson(const RunReport& report);

}  // namespace zubra32

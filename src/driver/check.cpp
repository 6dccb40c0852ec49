#include "driver/check.h"

#include "driver/read_loop.h"
#include "runtime/console.h"
#include "runtime/reporting.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"

namespace zubra32 {

Findings CheckLine(CheckState& state, std::string line, std::int64_t lineNumber) {
  Findings findings;
  PassStages(line, {
                       [&findings](std::string& text) {
                         ExpansionNotes notes;
                         ExpandVariablesNoting(text, notes);
                         CheckExpansion(notes, findings);
                       },
                       nullptr,
                       [&](std::string_view text) { CheckSectionLine(state, text, lineNumber, findings); },
                       [&](std::string_view text) { CheckDirectiveLine(state, text, findings); },
                   });
  return findings;
}

std::int32_t CheckDefinitionFile(std::string_view definitionFileName, std::vector<FindingRecord>* records) {
  TextFile file;
  file.OpenRead(definitionFileName);
  file.LimitLine(MaxDefinitionLineBytes);
  if (file.Failed()) return -1;
  CheckState state;
  std::int64_t lineNumber = 0;
  std::int32_t warnings = 0;
  std::string line;
  while (!file.Eof()) {
    file.ReadLine(line);
    if (file.Failed()) return -1;
    ++lineNumber;
    for (const Finding& finding : CheckLine(state, line, lineNumber)) {
      Output().WriteLn(
          MessageLinePrefix("Warning in ", definitionFileName, lineNumber).append(" ").append(finding.Message));
      if (records) records->push_back({lineNumber, std::string(finding.Code), finding.Message});
      ++warnings;
    }
  }
  if (file.Failed()) return -1;
  Output().WriteLn("Check: " + IntToStr(warnings) + " warning(s)");
  return warnings;
}

}  // namespace zubra32

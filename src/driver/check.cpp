#include "driver/check.h"

#include "driver/read_loop.h"
#include "driver/second_run.h"
#include "runtime/console.h"
#include "runtime/reporting.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"

namespace zubra32 {

Findings CheckLine(CheckState& state, std::string line, std::int64_t lineNumber) {
  Findings findings;
  std::string written;
  PassStages(line, {
                       [&findings, &written](std::string& text) {
                         written = text;
                         ExpansionNotes notes;
                         ExpandVariablesNoting(text, notes);
                         CheckExpansion(notes, findings);
                       },
                       nullptr,
                       [&](std::string_view text) { CheckSectionLine(state, text, lineNumber, findings); },
                       [&](std::string_view text) { CheckDirectiveLine(state, written, text, findings); },
                   });
  return findings;
}

std::optional<CheckCounts> CheckDefinitionFile(std::string_view definitionFileName,
                                               std::vector<FindingRecord>* records) {
  TextFile file;
  file.OpenRead(definitionFileName);
  file.LimitLine(MaxDefinitionLineBytes);
  if (file.Failed()) return std::nullopt;
  CheckState state;
  std::int64_t lineNumber = 0;
  CheckCounts counts;
  std::string line;
  while (!file.Eof()) {
    file.ReadLine(line);
    if (file.Failed()) return std::nullopt;
    ++lineNumber;
    for (const Finding& finding : CheckLine(state, line, lineNumber)) {
      bool note = finding.Level == FindingLevel::Note;
      Output().WriteLn(MessageLinePrefix(note ? "Note in " : "Warning in ", definitionFileName, lineNumber)
                           .append(" ")
                           .append(finding.Message));
      if (records)
        records->push_back({lineNumber, note ? "note" : "warning", std::string(finding.Code), finding.Message});
      ++(note ? counts.Notes : counts.Warnings);
    }
  }
  if (file.Failed()) return std::nullopt;
  // Where the Workfiles exist: what a second run would change again, from the
  // texts a first would leave (both in memory, nothing opened for writing).
  const RunInMemory first = RunDefinitionInMemory(definitionFileName, {});
  for (const ChangesAgain& again : RunDefinitionInMemory(definitionFileName, first.Texts).Changed) {
    std::string message = "a second run would change " + again.Name + " again: " + DescribeLines(again.Lines);
    Output().WriteLn(
        MessageLinePrefix("Note in ", definitionFileName, again.Lines.front()).append(" ").append(message));
    if (records) records->push_back({again.Lines.front(), "note", "changes-again", message});
    ++counts.Notes;
  }
  // Without notes the closing line reads as it always has.
  std::string closing = "Check: " + IntToStr(counts.Warnings) + " warning(s)";
  if (counts.Notes > 0) closing.append(", ").append(IntToStr(counts.Notes)).append(" note(s)");
  Output().WriteLn(closing);
  return counts;
}

}  // namespace zubra32

#include "runtime/reporting.h"

#include <algorithm>

#include "runtime/strings.h"

namespace zubra32 {

std::string MessageLinePrefix(std::string_view opening, std::string_view definitionFileName, std::int64_t lineNumber) {
  std::string prefix(opening);
  prefix.append(definitionFileName).append(" Line:");
  prefix.resize(std::min(prefix.size(), MaxErrorPrefix));
  return prefix + IntToStr(lineNumber);
}

std::string Reporting::ErrorLinePrefix() const {
  return MessageLinePrefix("Error in ", DefinitionFileName, DefinitionLineNumber);
}

void Reporting::ReportWorkfileError(std::string_view rest, std::int32_t status, SectionResult result) {
  std::string line = ErrorLinePrefix().append(rest);
  WriteLn(line);
  RunStatus = status;
  if (SectionRecord* record = CurrentSection()) {
    record->Result = result;
    record->Message = std::move(line);
  }
}

}  // namespace zubra32

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

void Reporting::ReportWorkfileError(std::string_view rest, std::int32_t status) {
  WriteLn(ErrorLinePrefix().append(rest));
  RunStatus = status;
}

}  // namespace zubra32

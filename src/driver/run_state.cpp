#include "driver/run_state.h"

#include "runtime/strings.h"

namespace zubra32 {

std::string MessageLinePrefix(std::string_view opening, std::string_view definitionFileName, std::int64_t lineNumber) {
  std::string prefix(opening);
  prefix.append(definitionFileName).append(" Line:");
  prefix.resize(std::min(prefix.size(), MaxErrorPrefix));
  return prefix + IntToStr(lineNumber);
}

std::string ErrorLinePrefix(const RunState& run) {
  return MessageLinePrefix("Error in ", run.DefinitionFileName, run.DefinitionLineNumber);
}

void ReportWorkfileError(RunState& run, std::string_view rest, std::int32_t status) {
  Output().WriteLn(ErrorLinePrefix(run).append(rest));
  run.RunStatus = status;
}

}  // namespace zubra32

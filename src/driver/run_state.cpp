#include "driver/run_state.h"

#include "runtime/strings.h"

namespace zubra32 {

std::string ErrorLinePrefix(const RunState& run) {
  std::string prefix = "Error in ";
  prefix.append(run.DefinitionFileName).append(" Line:");
  prefix.resize(std::min(prefix.size(), MaxErrorPrefix));
  return prefix + IntToStr(run.DefinitionLineNumber);
}

void ReportWorkfileError(RunState& run, std::string_view rest, std::int32_t status) {
  Output().WriteLn(ErrorLinePrefix(run).append(rest));
  run.RunStatus = status;
}

}  // namespace zubra32

// The check (/T): the definition file read once more, on its own, each line
// looked over as the run would take it; no Workfile is opened.
#include "driver/check.h"

#include "deflang/lint.h"
#include "driver/read_loop.h"
#include "runtime/console.h"
#include "runtime/reporting.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"

namespace zubra32 {

std::int32_t CheckDefinitionFile(std::string_view definitionFileName) {
  TextFile file;
  file.OpenRead(definitionFileName);
  file.LimitLine(MaxDefinitionLineBytes);
  if (file.Failed()) return -1;
  LintState state;
  std::int64_t lineNumber = 0;
  std::int32_t warnings = 0;
  std::string line;
  while (!file.Eof()) {
    file.ReadLine(line);
    if (file.Failed()) return -1;
    ++lineNumber;
    for (const std::string& finding : LintLine(state, line, lineNumber)) {
      Output().WriteLn(MessageLinePrefix("Warning in ", definitionFileName, lineNumber).append(" ").append(finding));
      ++warnings;
    }
  }
  if (file.Failed()) return -1;
  Output().WriteLn("Check: " + IntToStr(warnings) + " warning(s)");
  return warnings;
}

}  // namespace zubra32

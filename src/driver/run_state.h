// The run's state record: what the driver keeps while it reads the definition
// file, the reporting record it hands to the layers below among it.
#pragma once

#include <string>

#include "runtime/console.h"
#include "runtime/reporting.h"
#include "runtime/text_file.h"
#include "workfile/workfile.h"

namespace zubra32 {

struct RunState {
  RunState() { Report.Console = &Output(); }

  Reporting Report;                        // debug mode, status, the error lines' prefix and the console
  std::string CurrentLine;                 // the line being processed; a stage that consumes it clears it
  TextFile DefinitionFile;                 // open for reading for the whole run
  WriteBackStrategy* WriteBack = nullptr;  // what the close does with a changed Workfile: write it, or preview it
};

}  // namespace zubra32

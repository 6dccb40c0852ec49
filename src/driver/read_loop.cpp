// The one pass over the definition file. Every line passes every stage in this
// order; a stage that deals with the line clears it, and an empty line means
// nothing to the stages after it.
#include "deflang/directive.h"
#include "driver/run_state.h"
#include "runtime/strings.h"
#include "workfile/work_buffer.h"

namespace zubra32 {

namespace {

constexpr std::string_view DebugLine = "[DEBUG]";

// A line that begins with an apostrophe is a comment.
void ApplyCommentRule(RunState& run) {
  if (!run.CurrentLine.empty() && run.CurrentLine.front() == '\'') run.CurrentLine.clear();
}

// "[DEBUG]" in any letter case switches the traces on for the rest of the run.
void ApplyDebugSwitch(RunState& run) {
  if (!EqualIgnoringCase(run.CurrentLine, DebugLine)) return;
  run.DebugMode = true;
  Output().WriteLn("Debugging Enabled");
  run.CurrentLine.clear();
}

// A line that begins with "[" names the next Workfile.
void ApplySectionLine(RunState& run, WorkBuffer& work) {
  if (run.CurrentLine.empty() || run.CurrentLine.front() != '[') return;
  SwitchWorkfile(run, work, run.CurrentLine);
  run.CurrentLine.clear();
}

// Whatever is left is a directive for the current Workfile, or nothing.
void ApplyDirectiveLine(RunState& run, WorkBuffer& work) {
  if (run.CurrentLine.empty()) return;
  Directive directive = ClassifyDirective(run.CurrentLine);
  if (directive.Kind != DirectiveKind::None) ApplyDirective(run, work, directive);
  run.CurrentLine.clear();
}

// One line of the definition file that could not be read or opened: the run
// cannot go on as the file says, so it ends here with nothing more written
// (the current Workfile is let go as it is on disk).
std::int32_t FailDefinitionFile(const RunState& run, WorkBuffer& work) {
  platform::ReleaseWorkfile(work.Held);
  Output().WriteLn(CutAfter("Can't read the definition file " + run.DefinitionFileName, MaxShortString));
  return ExitMissingFile;
}

}  // namespace

void ProcessLine(RunState& run, WorkBuffer& work) {
  TrimInPlace(run.CurrentLine);
  ApplyCommentRule(run);
  ExpandVariables(run);
  ApplyDebugSwitch(run);
  ApplySectionLine(run, work);
  ApplyDirectiveLine(run, work);
}

std::int32_t ExecuteDefinitionFile(std::string_view definitionFileName) {
  RunState run;
  run.DefinitionFileName = CutAfter(definitionFileName, MaxShortString);
  // An argument longer than 255 bytes names no file: cut, it could name another one.
  if (definitionFileName.size() > MaxShortString || !FileExists(definitionFileName)) {
    Output().WriteLn(CutAfter("Can't find the definition file " + run.DefinitionFileName, MaxShortString));
    return ExitMissingFile;
  }
  WorkBuffer work;
  run.DefinitionFile.OpenRead(definitionFileName);
  run.DefinitionFile.LimitLine(MaxDefinitionLineBytes);
  if (run.DefinitionFile.Failed()) return FailDefinitionFile(run, work);

  while (!run.DefinitionFile.Eof()) {
    run.DefinitionFile.ReadLine(run.CurrentLine);
    // A definition file that fails halfway ends the run at once: the current
    // Workfile is not written back.
    if (run.DefinitionFile.Failed()) return FailDefinitionFile(run, work);
    ++run.DefinitionLineNumber;
    ProcessLine(run, work);
  }
  if (run.DefinitionFile.Failed()) return FailDefinitionFile(run, work);

  CloseWorkfile(run, work);
  if (run.RunStatus > 0) Output().WriteLn("Ready (Status = " + IntToStr(run.RunStatus) + ")");
  return run.RunStatus;
}

void RunDefinitionFile(std::string_view definitionFileName) {
  Halt(static_cast<std::uint32_t>(ExecuteDefinitionFile(definitionFileName)));
}

}  // namespace zubra32

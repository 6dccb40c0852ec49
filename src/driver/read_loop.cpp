// The one pass over the definition file. Every line passes every stage in this
// order; a stage that deals with the line clears it, and an empty line means
// nothing to the stages after it.
#include "driver/read_loop.h"

#include <algorithm>

#include "deflang/directive.h"
#include "deflang/expansion.h"
#include "driver/check.h"
#include "driver/preview.h"
#include "driver/report.h"
#include "driver/second_run.h"
#include "runtime/console.h"
#include "runtime/file_system.h"
#include "runtime/held_workfile.h"
#include "runtime/strings.h"
#include "workfile/edit_operations.h"
#include "workfile/workfile.h"

namespace zubra32 {

namespace {

constexpr std::string_view DebugLine = "[DEBUG]";

// One line of the definition file that could not be read or opened: the run
// cannot go on as the file says, so it ends here with nothing more written
// (the current Workfile is let go as it is on disk).
std::int32_t FailDefinitionFile(const RunState& run, WorkBuffer& work, RunReport* report,
                                std::string_view what = "Can't read the definition file ") {
  work.Current.Drop();
  const std::string full = std::string(what) + run.Report.DefinitionFileName;
  const std::string line(CutAfter(full, MaxShortString));
  run.Report.WriteLn(line);
  if (report) report->Message = line;
  return ExitMissingFile;
}

}  // namespace

void PassStages(std::string& line, const LineStages& stages) {
  TrimInPlace(line);
  // A line that begins with an apostrophe is a comment.
  if (!line.empty() && line.front() == '\'') line.clear();
  if (stages.Expand) stages.Expand(line);
  if (line.empty()) return;
  // "[DEBUG]" in any letter case switches the traces on for the rest of the run.
  if (EqualIgnoringCase(line, DebugLine)) {
    if (stages.DebugLine) stages.DebugLine();
  } else if (line.front() == '[') {
    // A line that begins with "[" names the next Workfile.
    if (stages.SectionLine) stages.SectionLine(line);
  } else if (stages.DirectiveLine) {
    // Whatever is left is a directive for the current Workfile, or nothing.
    stages.DirectiveLine(line);
  }
  line.clear();
}

void ProcessLine(RunState& run, WorkBuffer& work) {
  PassStages(run.CurrentLine,
             {
                 [&run](std::string& line) { ExpandVariables(line, run.Report); },
                 [&run] {
                   run.Report.DebugMode = true;
                   run.Report.WriteLn("Debugging Enabled");
                 },
                 [&](std::string_view line) { SwitchWorkfile(run.Report, work, line, *run.WriteBack); },
                 [&](std::string_view line) {
                   Directive directive = ClassifyDirective(line);
                   if (directive.Kind != DirectiveKind::None) ApplyDirective(run.Report, work, directive);
                 },
             });
}

namespace {

// The run itself; `report` gathers the sections' records and the check's findings when it is kept.
std::int32_t Execute(std::string_view definitionFileName, const RunOptions& options, const RunWatch& watch,
                     RunReport* report) {
  RunState run;
  run.Report.DefinitionFileName = CutAfter(definitionFileName, MaxShortString);
  // An argument longer than 255 bytes names no file: cut, it could name another one.
  WorkBuffer work;
  if (definitionFileName.size() > MaxShortString || !FileExists(definitionFileName)) {
    return FailDefinitionFile(run, work, report, "Can't find the definition file ");
  }
  // The check's findings that count for the exit code: its warnings, and its notes when strict.
  std::int32_t warnings = 0;
  if (options.Check) {
    std::optional<CheckCounts> counts =
        CheckDefinitionFile(run.Report.DefinitionFileName, report ? &report->Findings : nullptr);
    if (!counts) return FailDefinitionFile(run, work, report);
    warnings = counts->Warnings + (options.Strict ? counts->Notes : 0);
    if (!options.Preview) return warnings > 0 ? ExitWouldChange : ExitClean;
  }
  std::optional<platform::Backup> backup;
  if (options.KeepBackups) backup = platform::Backup{*options.KeepBackups, {}};
  FileWriteBack write(backup ? &*backup : nullptr);
  RecordedWriteBack recorded(backup ? &*backup : nullptr, options.Diff);
  PreviewWriteBack preview(options.Diff);
  run.WriteBack = options.Preview ? static_cast<WriteBackStrategy*>(&preview)
                  : report        ? static_cast<WriteBackStrategy*>(&recorded)
                                  : &write;
  if (report) run.Report.Sections = &report->Sections;
  run.DefinitionFile.OpenRead(definitionFileName);
  run.DefinitionFile.LimitLine(MaxDefinitionLineBytes);
  if (run.DefinitionFile.Failed()) return FailDefinitionFile(run, work, report);

  while (!run.DefinitionFile.Eof()) {
    run.DefinitionFile.ReadLine(run.CurrentLine);
    // A definition file that fails halfway ends the run at once: the current
    // Workfile is not written back.
    if (run.DefinitionFile.Failed()) return FailDefinitionFile(run, work, report);
    ++run.Report.DefinitionLineNumber;
    if (watch.BeforeLine) watch.BeforeLine(run, work);
    ProcessLine(run, work);
    if (watch.AfterLine) watch.AfterLine(run, work);
  }
  if (run.DefinitionFile.Failed()) return FailDefinitionFile(run, work, report);

  if (watch.BeforeEnd) watch.BeforeEnd(run, work);
  CloseWorkfile(run.Report, work, *run.WriteBack);
  if (watch.AfterEnd) watch.AfterEnd(run, work);
  if (options.Preview) {
    // Whether it converges: what a second run would change again.
    for (const ChangesAgain& again : SecondRun(definitionFileName, preview)) {
      run.Report.WriteLn("--- " + again.Name);
      run.Report.WriteLn("+++ " + again.Name + " (after)");
      run.Report.WriteLn("\\ A second run would change this file again: " + DescribeLines(again.Lines));
      if (!report) continue;
      auto last = std::find_if(report->Sections.rbegin(), report->Sections.rend(),
                               [&](const SectionRecord& record) { return record.Path == again.Key; });
      if (last != report->Sections.rend()) last->ChangesAgain = again.Lines;
    }
    run.Report.WriteLn("Preview: " + IntToStr(static_cast<std::int64_t>(preview.ChangedCount())) +
                       " Workfile(s) would change, nothing written");
  }
  if (run.Report.RunStatus > 0) run.Report.WriteLn("Ready (Status = " + IntToStr(run.Report.RunStatus) + ")");
  // A preview's own findings count only when the run itself would end cleanly.
  if (run.Report.RunStatus == ExitClean && options.Preview && (preview.ChangedCount() > 0 || warnings > 0)) {
    return ExitWouldChange;
  }
  return run.Report.RunStatus;
}

}  // namespace

std::int32_t ExecuteDefinitionFile(std::string_view definitionFileName, RunOptions options, const RunWatch& watch) {
  if (!options.ReportFile) return Execute(definitionFileName, options, watch, nullptr);
  RunReport report;
  report.Mode = options.Preview ? "preview" : options.Check ? "check" : "run";
  report.DefinitionFile = definitionFileName;
  report.ExitCode = Execute(definitionFileName, options, watch, &report);
  if (platform::WriteWholeFile(*options.ReportFile, ReportJson(report))) return report.ExitCode;
  // A report that cannot be written fails the run: nobody can tell what it did.
  Output().WriteLn(CutAfter("Can't write the report " + *options.ReportFile, MaxShortString));
  return report.ExitCode == ExitClean || report.ExitCode == ExitWouldChange ? ExitUnreadableOrUnwritable
                                                                            : report.ExitCode;
}

void RunDefinitionFile(const CommandLine& commandLine) {
  Halt(static_cast<std::uint32_t>(ExecuteDefinitionFile(commandLine.DefinitionFileName, commandLine.Options)));
}

}  // namespace zubra32

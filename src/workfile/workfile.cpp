// The Workfile's life: closed and written back when the next section begins or
// the run ends, named by its section line, loaded whole into the WorkBuffer.
#include "driver/run_state.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"
#include "workfile/work_buffer.h"

namespace zubra32 {

namespace {

// Reports a Workfile that passed the existence test but could not be read in
// full; nothing of it is current afterwards, so nothing of it is written back.
void ReportUnreadable(RunState& run, WorkBuffer& work) {
  ReportWorkfileError(run, " File " + work.WorkfileName + " can't be read", ExitUnreadableOrUnwritable);
  work.WorkfileName.clear();
  platform::ReleaseWorkfile(work.Held);
}

void ReportUnwritable(RunState& run, const WorkBuffer& work) {
  ReportWorkfileError(run, " File " + work.WorkfileName + " can't be written", ExitUnreadableOrUnwritable);
}

// A Workfile over one of the limits: nothing of it is current afterwards.
void ReportTooLong(RunState& run, WorkBuffer& work, std::uint64_t limit, std::string_view unit) {
  ReportWorkfileError(run, " " + work.WorkfileName + " has more than " + IntToStr(static_cast<std::int64_t>(limit)) + " " +
                               std::string(unit),
                      ExitTooLong);
  work.WorkfileName.clear();
  platform::ReleaseWorkfile(work.Held);
}

// Marks of UTF-16 and UTF-32 text, which the line rules would tear apart.
bool StartsWithWideMark(std::string_view start) {
  return start.starts_with("\xFF\xFE") || start.starts_with("\xFE\xFF") ||
         start.starts_with(std::string_view("\0\0\xFE\xFF", 4));
}

// The line trimmed at both ends is "@ECHO OFF" or "ECHO OFF", in any letter case.
bool IsEchoOffLine(std::string_view line) {
  std::string_view test = TrimmedView(line);
  return EqualIgnoringCase(test, "@ECHO OFF") || EqualIgnoringCase(test, "ECHO OFF");
}

// Counts the bytes at the start of up to SampledLines lines spread over the
// body, so that a search can look for the needle's least common byte.
void SampleBody(WorkBuffer& work) {
  constexpr std::size_t SampledLines = 32;
  constexpr std::size_t SampledBytes = 256;
  work.BodySample.fill(0);
  std::size_t step = work.LineCount() / SampledLines + 1;
  for (std::size_t i = 0; i < work.LineCount(); i += step) {
    CountBytes(CutAfter(work.BodyUpper[i], SampledBytes), work.BodySample);
  }
}

void WriteLines(TextFile& file, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) file.WriteLn(line);
}

}  // namespace

void SwitchWorkfile(RunState& run, WorkBuffer& work, std::string_view sectionLine) {
  CloseWorkfile(run, work);
  // The brackets are the first and the last byte, whatever those are.
  std::string_view name = sectionLine.substr(std::min<std::size_t>(1, sectionLine.size()));
  work.WorkfileName = name.substr(0, name.empty() ? 0 : name.size() - 1);
  if (!FileExists(work.WorkfileName)) {
    ReportWorkfileError(run, " File " + work.WorkfileName + " not found", ExitMissingFile);
    work.WorkfileName.clear();
    return;
  }
  if (run.DebugMode) Output().WriteLn("  New Workfile : " + work.WorkfileName);
  LoadWorkfile(run, work);
}

void CloseWorkfile(RunState& run, WorkBuffer& work) {
  if (work.WorkfileName.empty()) return;
  if (run.DebugMode) Output().WriteLn("Close > " + work.WorkfileName);
  if (work.WorkfileModified) SaveWorkfile(run, work);
  platform::ReleaseWorkfile(work.Held);
}

void LoadWorkfile(RunState& run, WorkBuffer& work) {
  work.HeadLines.clear();
  work.BodyLines.clear();
  work.BodyUpper.clear();
  work.BodyPairs.clear();
  work.ScansSinceLoad = 0;
  work.TailLines.clear();
  work.EchoOffSeen = false;
  work.ByteOrderMark = false;
  work.WorkfileModified = false;

  platform::ErrorCode error = 0;
  switch (platform::HoldWorkfile(work.WorkfileName, MaxWorkfileBytes, WorkfileLockWait, work.Held, error)) {
    case platform::HoldResult::Held: break;
    case platform::HoldResult::TooLarge: return ReportTooLong(run, work, MaxWorkfileBytes, "bytes");
    case platform::HoldResult::Locked:
      ReportWorkfileError(run, " File " + work.WorkfileName + " is locked by another program", ExitUnreadableOrUnwritable);
      return work.WorkfileName.clear();
    case platform::HoldResult::NotRegular:
    case platform::HoldResult::Failed: return ReportUnreadable(run, work);
  }

  TextFile file;
  file.AttachRead(work.Held.file);
  file.LimitRead(MaxWorkfileBytes);
  std::string_view start = file.Peek(Utf8ByteOrderMark.size() + 1);
  if (StartsWithWideMark(start)) return ReportUnreadable(run, work);
  if (start.starts_with(Utf8ByteOrderMark)) {
    file.Skip(Utf8ByteOrderMark.size());
    work.ByteOrderMark = true;
  }

  while (!file.Eof() && work.LineCount() < MaxBodyLines) {
    // Read straight into the body; the echo-off line comes out again.
    std::string& line = work.BodyLines.emplace_back();
    file.ReadLine(line);
    if (!work.EchoOffSeen && IsEchoOffLine(line)) {
      work.BodyLines.pop_back();
      work.EchoOffSeen = true;
      work.HeadLines.emplace_back(EchoOffLine);
      continue;
    }
    line.resize(TrimmedRightView(line).size());
    UpperCaseInPlace(work.BodyUpper.emplace_back(line));
  }
  SampleBody(work);
  bool tooLong = work.LineCount() == MaxBodyLines && !file.Eof();
  file.Detach();
  if (file.Failed()) return ReportUnreadable(run, work);
  if (file.ReadLimitPassed()) return ReportTooLong(run, work, MaxWorkfileBytes, "bytes");
  if (tooLong) ReportTooLong(run, work, MaxBodyLines, "lines");
}

void SaveWorkfile(RunState& run, WorkBuffer& work) {
  platform::Replacement replacement;
  platform::ErrorCode error = 0;
  if (!platform::BeginReplacement(work.Held, replacement, error)) return ReportUnwritable(run, work);

  TextFile file;
  file.AttachWrite(replacement.handle);
  if (work.ByteOrderMark) file.Write(Utf8ByteOrderMark);
  WriteLines(file, work.HeadLines);
  WriteLines(file, work.BodyLines);
  WriteLines(file, work.TailLines);
  file.Detach();
  if (file.Failed()) {
    platform::AbandonReplacement(work.Held, replacement);
    return ReportUnwritable(run, work);
  }
  switch (platform::CommitReplacement(work.Held, replacement, error)) {
    case platform::CommitResult::Replaced: return;
    case platform::CommitResult::Changed:
      return ReportWorkfileError(run, " File " + work.WorkfileName + " was changed by another program",
                                 ExitUnreadableOrUnwritable);
    case platform::CommitResult::Failed: return ReportUnwritable(run, work);
  }
}

}  // namespace zubra32

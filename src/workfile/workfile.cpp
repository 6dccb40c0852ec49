// The Workfile's life: closed and written back when the next section begins or
// the run ends, named by its section line, loaded whole into the WorkBuffer.
#include "workfile/workfile.h"

#include "runtime/file_system.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"
#include "workfile/preview.h"
#include "workfile/workfile_text.h"

namespace zubra32 {

namespace {

// Reports a Workfile that passed the existence test but could not be read in
// full; nothing of it is current afterwards, so nothing of it is written back.
void ReportUnreadable(Reporting& report, WorkBuffer& work) {
  report.ReportWorkfileError(" File " + work.WorkfileName + " can't be read", ExitUnreadableOrUnwritable);
  work.WorkfileName.clear();
  platform::ReleaseWorkfile(work.Held);
}

void ReportUnwritable(Reporting& report, const WorkBuffer& work) {
  report.ReportWorkfileError(" File " + work.WorkfileName + " can't be written", ExitUnreadableOrUnwritable);
}

// The name no longer leads to the Workfile as loaded: it is left as it is now.
void ReportChanged(Reporting& report, const WorkBuffer& work) {
  report.ReportWorkfileError(" File " + work.WorkfileName + " was changed by another program", ExitUnreadableOrUnwritable);
}

// A Workfile over one of the limits: nothing of it is current afterwards.
void ReportTooLong(Reporting& report, WorkBuffer& work, std::uint64_t limit, std::string_view unit) {
  report.ReportWorkfileError(" " + work.WorkfileName + " has more than " + IntToStr(static_cast<std::int64_t>(limit)) + " " +
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

}  // namespace

void SwitchWorkfile(Reporting& report, WorkBuffer& work, std::string_view sectionLine) {
  CloseWorkfile(report, work);
  // The brackets are the first and the last byte, whatever those are.
  std::string_view name = sectionLine.substr(std::min<std::size_t>(1, sectionLine.size()));
  work.WorkfileName = name.substr(0, name.empty() ? 0 : name.size() - 1);
  if (!FileExists(work.WorkfileName)) {
    report.ReportWorkfileError(" File " + work.WorkfileName + " not found", ExitMissingFile);
    work.WorkfileName.clear();
    return;
  }
  if (report.DebugMode) report.WriteLn("  New Workfile : " + work.WorkfileName);
  LoadWorkfile(report, work);
}

void CloseWorkfile(Reporting& report, WorkBuffer& work) {
  if (work.WorkfileName.empty()) return;
  if (report.DebugMode) report.WriteLn("Close > " + work.WorkfileName);
  if (work.WorkfileModified) SaveWorkfile(report, work);
  platform::ReleaseWorkfile(work.Held);
}

void LoadWorkfile(Reporting& report, WorkBuffer& work) {
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
    case platform::HoldResult::TooLarge: return ReportTooLong(report, work, MaxWorkfileBytes, "bytes");
    case platform::HoldResult::Locked:
      report.ReportWorkfileError(" File " + work.WorkfileName + " is locked by another program", ExitUnreadableOrUnwritable);
      return work.WorkfileName.clear();
    case platform::HoldResult::NotRegular:
    case platform::HoldResult::Failed: return ReportUnreadable(report, work);
  }

  // A preview reads what an earlier section would have left, if one would have written it.
  TextFile file;
  if (!OpenWouldBeText(work, file)) file.AttachRead(work.Held.file);
  file.LimitRead(MaxWorkfileBytes);
  std::string_view start = file.Peek(Utf8ByteOrderMark.size() + 1);
  if (StartsWithWideMark(start)) return ReportUnreadable(report, work);
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
  if (file.Failed()) return ReportUnreadable(report, work);
  if (file.ReadLimitPassed()) return ReportTooLong(report, work, MaxWorkfileBytes, "bytes");
  if (tooLong) ReportTooLong(report, work, MaxBodyLines, "lines");
}

void SaveWorkfile(Reporting& report, WorkBuffer& work) {
  // A preview shows what would be written instead, or the failure it can foresee.
  if (work.Preview != nullptr) {
    platform::ErrorCode error = 0;
    if (!platform::CanReplace(work.Held, error)) return ReportUnwritable(report, work);
    if (!platform::StillAsLoaded(work.Held)) return ReportChanged(report, work);
    return PreviewWriteBack(report, work);
  }
  platform::Replacement replacement;
  platform::ErrorCode error = 0;
  if (!platform::BeginReplacement(work.Held, replacement, error)) return ReportUnwritable(report, work);

  TextFile file;
  file.AttachWrite(replacement.handle);
  WriteBackBytes(work, [&file](std::string_view bytes) { file.Write(bytes); });
  file.Detach();
  if (file.Failed()) {
    platform::AbandonReplacement(work.Held, replacement);
    return ReportUnwritable(report, work);
  }
  switch (platform::CommitReplacement(work.Held, replacement, error)) {
    case platform::CommitResult::Replaced: return;
    case platform::CommitResult::Changed: return ReportChanged(report, work);
    case platform::CommitResult::Failed: return ReportUnwritable(report, work);
  }
}

}  // namespace zubra32

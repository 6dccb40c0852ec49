// The Workfile's life: closed and written back when the next section begins or
// the run ends, named by its section line, loaded whole into the WorkBuffer.
#include "workfile/workfile.h"

#include <algorithm>

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
  report.ReportWorkfileError(" File " + work.WorkfileName + " was changed by another program",
                             ExitUnreadableOrUnwritable);
}

// A Workfile over one of the limits: nothing of it is current afterwards.
void ReportTooLong(Reporting& report, WorkBuffer& work, std::uint64_t limit, std::string_view unit) {
  report.ReportWorkfileError(" " + work.WorkfileName + " has more than " + IntToStr(static_cast<std::int64_t>(limit)) +
                                 " " + std::string(unit),
                             ExitTooLong);
  work.WorkfileName.clear();
  platform::ReleaseWorkfile(work.Held);
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
  work.BodyLines.Clear();
  work.TailLines.clear();
  work.EchoOffSeen = false;
  work.ByteOrderMark = false;
  work.WorkfileModified = false;

  platform::ErrorCode error = 0;
  switch (platform::HoldWorkfile(work.WorkfileName, work.Preview == nullptr, MaxWorkfileBytes, WorkfileLockWait,
                                 work.Held, error)) {
    case platform::HoldResult::Held: break;
    case platform::HoldResult::TooLarge: return ReportTooLong(report, work, MaxWorkfileBytes, "bytes");
    case platform::HoldResult::Locked:
      report.ReportWorkfileError(" File " + work.WorkfileName + " is locked by another program",
                                 ExitUnreadableOrUnwritable);
      return work.WorkfileName.clear();
    case platform::HoldResult::NotRegular:
    case platform::HoldResult::Failed: return ReportUnreadable(report, work);
  }

  // A preview reads what an earlier section would have left, if one would have written it.
  std::string_view wouldBe;
  BodyText::LoadResult loaded;
  if (FindWouldBeText(work, wouldBe)) {
    loaded = work.BodyLines.Load(
        [&wouldBe](char* into, std::size_t capacity) {
          std::size_t count = std::min(capacity, wouldBe.size());
          std::copy_n(wouldBe.data(), count, into);
          wouldBe.remove_prefix(count);
          return static_cast<std::int64_t>(count);
        },
        wouldBe.size(), MaxWorkfileBytes, MaxBodyLines);
  } else {
    loaded = work.BodyLines.Load(
        [&work](char* into, std::size_t capacity) {
          platform::ErrorCode error = 0;
          return platform::ReadBytes(work.Held.File, into, capacity, error);
        },
        work.Held.Identity.Size, MaxWorkfileBytes, MaxBodyLines);
  }
  if (loaded.WideMark) return ReportUnreadable(report, work);
  work.ByteOrderMark = loaded.ByteOrderMark;
  if (loaded.EchoOff) {
    work.EchoOffSeen = true;
    work.HeadLines.emplace_back(EchoOffLine);
  }
  if (loaded.Failed) return ReportUnreadable(report, work);
  if (loaded.TooManyBytes) return ReportTooLong(report, work, MaxWorkfileBytes, "bytes");
  if (loaded.TooManyLines) ReportTooLong(report, work, MaxBodyLines, "lines");
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
  file.AttachWrite(replacement.TemporaryFile);
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

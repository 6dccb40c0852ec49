// The Workfile's life: closed and written back when the next section begins or
// the run ends, named by its section line, loaded whole into the WorkBuffer.
#include "workfile/workfile.h"

#include <algorithm>

#include "deflang/directive.h"
#include "runtime/file_system.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"
#include "workfile/workfile_text.h"

namespace zubra32 {

namespace {

// Reports a Workfile error; nothing of the Workfile is current afterwards.
void Refuse(Reporting& report, WorkBuffer& work, std::string_view what, std::int32_t status) {
  report.ReportWorkfileError(" File " + work.Current.Name() + std::string(what), status);
  work.Current.Drop();
}

// A Workfile over one of the limits: nothing of it is current afterwards.
void RefuseTooLong(Reporting& report, WorkBuffer& work, std::uint64_t limit, std::string_view unit) {
  report.ReportWorkfileError(" " + work.Current.Name() + " has more than " +
                                 IntToStr(static_cast<std::int64_t>(limit)) + " " + std::string(unit),
                             ExitTooLong);
  work.Current.Drop();
}

}  // namespace

void SwitchWorkfile(Reporting& report, WorkBuffer& work, std::string_view sectionLine, WriteBackStrategy& writeBack) {
  CloseWorkfile(report, work, writeBack);
  work.Current.Take(std::string(SectionName(sectionLine)));
  if (!FileExists(work.Current.Name())) return Refuse(report, work, " not found", ExitMissingFile);
  if (report.DebugMode) report.WriteLn("  New Workfile : " + work.Current.Name());
  LoadWorkfile(report, work, writeBack);
}

void CloseWorkfile(Reporting& report, WorkBuffer& work, WriteBackStrategy& writeBack) {
  if (work.Current.Empty()) return;
  if (report.DebugMode) report.WriteLn("Close > " + work.Current.Name());
  WriteBackResult result = work.WorkfileModified ? writeBack.WriteBack(report, work) : WriteBackResult::Done;
  if (result == WriteBackResult::Unwritable) Refuse(report, work, " can't be written", ExitUnreadableOrUnwritable);
  if (result == WriteBackResult::Changed) {
    Refuse(report, work, " was changed by another program", ExitUnreadableOrUnwritable);
  }
  work.Current.File().Release();
}

void LoadWorkfile(Reporting& report, WorkBuffer& work, WriteBackStrategy& writeBack) {
  work.HeadLines.clear();
  work.BodyLines.Clear();
  work.TailLines.clear();
  work.Loaded = {};
  work.WorkfileModified = false;

  platform::HeldWorkfile& file = work.Current.File();
  switch (file.Hold(work.Current.Name(), writeBack.WritesFiles(), MaxWorkfileBytes, WorkfileLockWait)) {
    case platform::HoldResult::Held: break;
    case platform::HoldResult::TooLarge: return RefuseTooLong(report, work, MaxWorkfileBytes, "bytes");
    case platform::HoldResult::Locked:
      return Refuse(report, work, " is locked by another program", ExitUnreadableOrUnwritable);
    case platform::HoldResult::NotRegular:
    case platform::HoldResult::Failed: return Refuse(report, work, " can't be read", ExitUnreadableOrUnwritable);
  }

  BodyText::ReadFunction read = [&file](char* into, std::size_t capacity) {
    platform::ErrorCode error = 0;
    return platform::ReadBytes(file.File(), into, capacity, error);
  };
  std::uint64_t size = file.Size();
  std::optional<std::string_view> source = writeBack.SourceText(work);
  if (source) {
    read = [rest = *source](char* into, std::size_t capacity) mutable {
      std::size_t count = std::min(capacity, rest.size());
      std::copy_n(rest.data(), count, into);
      rest.remove_prefix(count);
      return static_cast<std::int64_t>(count);
    };
    size = source->size();
  }
  work.Loaded = work.BodyLines.Load(read, size, MaxWorkfileBytes, MaxBodyLines);
  if (work.Loaded.WideMark) return Refuse(report, work, " can't be read", ExitUnreadableOrUnwritable);
  if (work.Loaded.EchoOff) work.HeadLines.emplace_back(EchoOffLine);
  if (work.Loaded.Failed) return Refuse(report, work, " can't be read", ExitUnreadableOrUnwritable);
  if (work.Loaded.TooManyBytes) return RefuseTooLong(report, work, MaxWorkfileBytes, "bytes");
  if (work.Loaded.TooManyLines) RefuseTooLong(report, work, MaxBodyLines, "lines");
}

WriteBackResult FileWriteBack::WriteBack(Reporting&, WorkBuffer& work) {
  platform::Replacement replacement(work.Current.File());
  if (!replacement.Begin()) return WriteBackResult::Unwritable;
  TextFile file;
  file.AttachWrite(replacement.File());
  WriteBackBytes(work, [&file](std::string_view bytes) { file.Write(bytes); });
  file.Detach();
  if (file.Failed()) return WriteBackResult::Unwritable;
  switch (replacement.Commit()) {
    case platform::CommitResult::Replaced: return WriteBackResult::Done;
    case platform::CommitResult::Changed: return WriteBackResult::Changed;
    case platform::CommitResult::Failed: break;
  }
  return WriteBackResult::Unwritable;
}

}  // namespace zubra32

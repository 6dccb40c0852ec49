// The Workfile's life: closed and written back when the next section begins or
// the run ends, named by its section line, loaded whole into the WorkBuffer.
#include "workfile/workfile.h"

#include <algorithm>

#include "deflang/directive.h"
#include "runtime/file_system.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"
#include "workfile/workfile_text.h"

namespace zubra32 {

namespace {

// Reports a Workfile error; nothing of the Workfile is current afterwards.
void Refuse(Reporting& report, WorkBuffer& work, std::string_view what, std::int32_t status, SectionResult result) {
  report.ReportWorkfileError(" File " + work.Current.Name() + std::string(what), status, result);
  work.Current.Drop();
}

constexpr std::string_view Unreadable = " can't be read";

// True when the held file's bytes, read from its start, are exactly the ones
// that writing `work` back gives; compared a buffer at a time, and only when
// the sizes agree. A read that fails counts as a difference: the file is written.
bool HoldsWrittenBytes(const platform::HeldWorkfile& file, const WorkBuffer& work) {
  // A size that differs needs no read.
  std::uint64_t size = 0;
  WriteBackBytes(work, [&size](std::string_view bytes) { size += bytes.size(); });
  platform::ErrorCode error = 0;
  if (size != file.Size() || !platform::Rewind(file.File(), error)) return false;
  std::string chunk(FileBufferSize, '\0');
  std::size_t valid = 0, at = 0;
  bool same = true;
  auto refill = [&] {
    std::int64_t count = platform::ReadBytes(file.File(), chunk.data(), chunk.size(), error);
    valid = count > 0 ? static_cast<std::size_t>(count) : 0;
    at = 0;
    return count > 0;
  };
  WriteBackBytes(work, [&](std::string_view piece) {
    while (same && !piece.empty()) {
      if (at == valid && !refill()) same = false;
      std::size_t count = std::min(piece.size(), valid - at);
      same = same && piece.substr(0, count) == std::string_view(chunk).substr(at, count);
      piece.remove_prefix(count);
      at += count;
    }
  });
  return same && at == valid && !refill();
}

// A Workfile over one of the limits: nothing of it is current afterwards.
void RefuseTooLong(Reporting& report, WorkBuffer& work, std::uint64_t limit, std::string_view unit) {
  report.ReportWorkfileError(" " + work.Current.Name() + " has more than " +
                                 IntToStr(static_cast<std::int64_t>(limit)) + " " + std::string(unit),
                             ExitTooLong, SectionResult::TooLong);
  work.Current.Drop();
}

}  // namespace

std::optional<std::string> ReadHeldBytes(const platform::HeldWorkfile& file) {
  platform::ErrorCode error = 0;
  std::string bytes(file.Size(), '\0');
  if (!platform::Rewind(file.File(), error)) return std::nullopt;
  for (std::size_t had = 0;;) {
    if (had == bytes.size()) bytes.resize(had + FileBufferSize);
    std::int64_t count = platform::ReadBytes(file.File(), bytes.data() + had, bytes.size() - had, error);
    if (count < 0) return std::nullopt;
    had += static_cast<std::size_t>(count);
    if (count == 0) {
      bytes.resize(had);
      return bytes;
    }
  }
}

void SwitchWorkfile(Reporting& report, WorkBuffer& work, std::string_view sectionLine, WriteBackStrategy& writeBack) {
  CloseWorkfile(report, work, writeBack);
  work.Current.Take(std::string(SectionName(sectionLine)));
  if (report.Sections) {
    SectionRecord& record = report.Sections->emplace_back();
    record.Section = work.Current.Name();
    record.Path = platform::ResolvedName(work.Current.Name());
    record.Line = report.DefinitionLineNumber;
  }
  if (!FileExists(work.Current.Name()))
    return Refuse(report, work, " not found", ExitMissingFile, SectionResult::Missing);
  if (report.DebugMode) report.WriteLn("  New Workfile : " + work.Current.Name());
  LoadWorkfile(report, work, writeBack);
}

void CloseWorkfile(Reporting& report, WorkBuffer& work, WriteBackStrategy& writeBack) {
  if (work.Current.Empty()) return;
  if (report.DebugMode) report.WriteLn("Close > " + work.Current.Name());
  WriteBackResult result = work.WorkfileModified ? writeBack.WriteBack(report, work) : WriteBackResult::Done;
  if (result == WriteBackResult::Unwritable) {
    Refuse(report, work, " can't be written", ExitUnreadableOrUnwritable, SectionResult::CannotWrite);
  }
  if (result == WriteBackResult::Changed) {
    Refuse(report, work, " was changed by another program", ExitUnreadableOrUnwritable,
           SectionResult::ChangedByAnother);
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
      return Refuse(report, work, " is locked by another program", ExitUnreadableOrUnwritable, SectionResult::Locked);
    case platform::HoldResult::NotRegular:
    case platform::HoldResult::Failed:
      return Refuse(report, work, Unreadable, ExitUnreadableOrUnwritable, SectionResult::CannotRead);
  }

  if (SectionRecord* record = report.CurrentSection()) record->BytesBefore = record->BytesAfter = file.Size();
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
  if (work.Loaded.WideMark)
    return Refuse(report, work, Unreadable, ExitUnreadableOrUnwritable, SectionResult::CannotRead);
  if (work.Loaded.EchoOff) work.HeadLines.emplace_back(EchoOffLine);
  if (work.Loaded.Failed)
    return Refuse(report, work, Unreadable, ExitUnreadableOrUnwritable, SectionResult::CannotRead);
  if (work.Loaded.TooManyBytes) return RefuseTooLong(report, work, MaxWorkfileBytes, "bytes");
  if (work.Loaded.TooManyLines) RefuseTooLong(report, work, MaxBodyLines, "lines");
}

WriteBackResult FileWriteBack::WriteBack(Reporting& report, WorkBuffer& work) {
  platform::HeldWorkfile& held = work.Current.File();
  SectionRecord* record = report.CurrentSection();
  if (record == nullptr) {
    if (HoldsWrittenBytes(held, work)) return WriteBackResult::Done;
  } else {
    std::optional<std::string> old = ReadHeldBytes(held);
    std::string bytes = WriteBackText(work);
    if (old && *old == bytes) return WriteBackResult::Done;
    record->BytesBefore = old ? old->size() : 0;
    record->BytesAfter = bytes.size();
    Changing(report, work, old.value_or(std::string()), bytes);
  }
  platform::Replacement replacement(held);
  if (!replacement.Begin()) return WriteBackResult::Unwritable;
  TextFile file;
  file.AttachWrite(replacement.File());
  WriteBackBytes(work, [&file](std::string_view bytes) { file.Write(bytes); });
  file.Detach();
  if (file.Failed()) return WriteBackResult::Unwritable;
  if (Backups != nullptr) Backups->Made.clear();
  switch (replacement.Commit(Backups)) {
    case platform::CommitResult::Replaced:
      if (record != nullptr) {
        record->Result = SectionResult::Changed;
        if (Backups != nullptr && !Backups->Made.empty()) {
          record->Backup = record->Path.substr(0, record->Path.find_last_of("/\\") + 1) + Backups->Made;
        }
      }
      return WriteBackResult::Done;
    case platform::CommitResult::Changed: return WriteBackResult::Changed;
    case platform::CommitResult::Failed: break;
  }
  return WriteBackResult::Unwritable;
}

}  // namespace zubra32

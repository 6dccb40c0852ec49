// The preview (/L): the run goes exactly as an ordinary one, but where it
// would write a Workfile back it prints a unified diff of the Workfile's bytes
// against the bytes it would write, and keeps those bytes for a later section
// that names the same Workfile. Nothing is written, created, renamed or flushed.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workfile/workfile.h"

namespace zubra32 {

class PreviewWriteBack final : public WriteBackStrategy {
 public:
  // `withDiff`: the diff goes into the section's record as well (a report with --diff).
  explicit PreviewWriteBack(bool withDiff = false) : WithDiff(withDiff) {}
  bool WritesFiles() const override { return false; }

  // What an earlier section would have left in the Workfile, if one would have written it.
  std::optional<std::string_view> SourceText(const WorkBuffer& work) override;

  // Prints the diff of the Workfile's bytes against the would-be text and
  // keeps that text, once it is clear that the write-back would not fail.
  WriteBackResult WriteBack(Reporting& report, WorkBuffer& work) override;

  // Workfiles whose bytes would differ at the end, each counted once.
  std::size_t ChangedCount() const { return WouldBe.size(); }

  // What they would hold then, by resolved name.
  const std::map<std::string, std::string>& WouldBeTexts() const { return WouldBe; }

 private:
  bool WithDiff;
  // The bytes the write-backs would have left, by ResolvedName (platform.h),
  // so that two spellings of one file meet.
  std::map<std::string, std::string> WouldBe;
};

// The run's write-back when a report is kept: a changed Workfile's record
// gets the notes a preview would print and, `withDiff`, its diff.
class RecordedWriteBack final : public FileWriteBack {
 public:
  RecordedWriteBack(platform::Backup* backup, bool withDiff) : FileWriteBack(backup), WithDiff(withDiff) {}

 protected:
  void Changing(Reporting& report, const WorkBuffer& work, std::string_view oldBytes,
                std::string_view newBytes) override;

 private:
  bool WithDiff;
};

// "line 5", "lines 1-3, 5", "lines 1, 3, ... and 40 more": numbers in ascending order.
std::string DescribeLines(const std::vector<std::int64_t>& numbers);

// The diff of `oldText` against `newLines`, the lines that writing `work`
// back gives (no byte-order mark), as WriteWorkfileDiff; the notes also go
// to `notesOut` when given.
bool WriteDiff(std::string_view name, std::optional<std::string_view> oldText, const WorkBuffer& work,
               std::string_view newLines, const std::function<void(std::string_view line)>& writeLine,
               std::vector<std::string>* notesOut);

// Hands `writeLine` the diff of `oldText` (the Workfile as it is; nullopt: it
// cannot be read) against the text that writing `work` back gives: "--- name",
// "+++ name (after)", note lines for what a diff of the lines cannot show
// (line ends becoming CR LF, trailing blanks removed, a line end added to the
// last line, a Ctrl-Z and what follows it dropped), then the hunks. The load
// tells which old line became which new ones, so the diff takes linear time.
// True when the texts differ.
bool WriteWorkfileDiff(std::string_view name, std::optional<std::string_view> oldText, const WorkBuffer& work,
                       const std::function<void(std::string_view line)>& writeLine);

}  // namespace zubra32

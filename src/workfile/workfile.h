// The Workfile's life: named by its section line, held and loaded whole into
// the WorkBuffer, closed and written back when the next section begins or the
// run ends.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/reporting.h"
#include "workfile/work_buffer.h"

namespace zubra32 {

// How putting a changed Workfile's new text in place ended.
enum class WriteBackResult {
  Done,
  Unwritable,  // "can't be written"
  Changed,     // "was changed by another program": the file is left as it is now
};

// What the close does with a changed Workfile, and where its load takes the
// text from. A run writes the file back (FileWriteBack); a caller above this
// layer may put the text elsewhere instead and give it back to a later load
// of the same Workfile.
class WriteBackStrategy {
 public:
  virtual ~WriteBackStrategy() = default;

  // True when the write-back replaces the file: the load then opens it for
  // writing and locks it against our other runs until the close.
  virtual bool WritesFiles() const = 0;

  // The text a load of the current Workfile reads instead of the file's
  // bytes; valid until the next call of the strategy.
  virtual std::optional<std::string_view> SourceText(const WorkBuffer& work) = 0;

  // Puts the changed Workfile's text where it belongs.
  virtual WriteBackResult WriteBack(Reporting& report, WorkBuffer& work) = 0;
};

// The run's write-back: the file is replaced in one atomic step by the bytes
// of workfile_text.h, only while it is still as it was loaded, and only when
// those bytes differ from the file's: a Workfile whose bytes come out the same
// is left untouched (no temporary file, no rename, its times and inode kept).
class FileWriteBack : public WriteBackStrategy {
 public:
  // With `backup`, every replaced file is kept beside the new one.
  explicit FileWriteBack(platform::Backup* backup = nullptr) : Backups(backup) {}
  bool WritesFiles() const override { return true; }
  std::optional<std::string_view> SourceText(const WorkBuffer&) override { return std::nullopt; }
  WriteBackResult WriteBack(Reporting& report, WorkBuffer& work) override;

 protected:
  // Told the Workfile's bytes and the new ones before it is replaced, when
  // the run keeps section records (a report).
  virtual void Changing(Reporting&, const WorkBuffer&, std::string_view, std::string_view) {}

 private:
  platform::Backup* Backups;
};

// The held file's bytes from its start, as they are now; nullopt when they cannot be read.
std::optional<std::string> ReadHeldBytes(const platform::HeldWorkfile& file);

// A section line: closes the current Workfile, then takes the name between the
// brackets (first and last byte cut, whatever they are) and loads that file.
void SwitchWorkfile(Reporting& report, WorkBuffer& work, std::string_view sectionLine, WriteBackStrategy& writeBack);

// Traces the close in debug mode, writes a changed Workfile back, reports a
// write-back that failed, and lets go of the file.
void CloseWorkfile(Reporting& report, WorkBuffer& work, WriteBackStrategy& writeBack);

// Takes hold of the current Workfile and reads it (or the strategy's text for
// it) into the buffer, the first echo-off line into the head; refuses
// anything but a regular file, a file in UTF-16 or UTF-32, one of more than
// 1 GiB and one of more than 2500 body lines.
void LoadWorkfile(Reporting& report, WorkBuffer& work, WriteBackStrategy& writeBack);

}  // namespace zubra32

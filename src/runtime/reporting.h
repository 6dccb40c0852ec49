// What the edit code, the Workfile's life and the expansion need of a run:
// where messages go, whether to trace, the run's status, and what an error
// line says about the definition line being read. The driver owns the record
// (in its RunState) and hands it down; nothing below the driver sees more.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text_file.h"

namespace zubra32 {

// Exit codes of the program, and the statuses that Workfile errors set.
enum ExitCode : std::int32_t {
  ExitClean = 0,
  ExitUnexpectedFailure = 1,
  ExitMissingFile = 2,             // no definition file, or the last error was a missing Workfile
  ExitTooLong = 3,                 // the last error was a Workfile, head or tail over its limit
  ExitUnreadableOrUnwritable = 4,  // the last error was a Workfile that could not be read, written or held
  ExitUsage = 5,                   // usage, help or version printed
  ExitWouldChange = 6,             // preview or check only: a Workfile would change, or the check has warnings
};

// Longest "Error in <definition file> Line:" prefix of an error line.
constexpr std::size_t MaxErrorPrefix = 255;

// `opening` ("Error in ", "Warning in ") + the definition file's name +
// " Line:", cut at 255 bytes, then the line number in decimal.
std::string MessageLinePrefix(std::string_view opening, std::string_view definitionFileName, std::int64_t lineNumber);

// What became of a Workfile section, one stable word each in the report.
enum class SectionResult {
  Unchanged,         // loaded; no directive applied, or its bytes came out the same: untouched
  Changed,           // its bytes changed (in a preview: would change)
  Missing,           // not found
  TooLong,           // more than 2500 lines or 1 GiB
  HeadFull,          // a 101st line at its start
  TailFull,          // a 101st line at its end
  CannotRead,        // can't be read
  CannotWrite,       // can't be written
  Locked,            // locked by another program
  ChangedByAnother,  // changed by another program after the load
};

// One Workfile section, as a machine-readable report tells it.
struct SectionRecord {
  std::string Section;    // the name as the section line gave it
  std::string Path;       // the file it resolved to
  std::int64_t Line = 0;  // the section line's number
  SectionResult Result = SectionResult::Unchanged;
  std::string Message;                            // the error line, for a result that has one
  std::uint64_t BytesBefore = 0, BytesAfter = 0;  // for a Workfile that was read: its size, and the new one
  std::vector<std::string> Notes;                 // the preview's "\ " lines, for a changed Workfile
  std::string Diff;                               // its unified diff (with --diff), CR LF lines
  std::string Backup;                             // the backup made of it, if any
  std::vector<std::int64_t> ChangesAgain;         // a preview's: the lines a second run would change it again by
};

struct Reporting {
  TextFile* Console = nullptr;                     // where every message goes: Output in the program
  bool DebugMode = false;                          // trace output, on from the first "[DEBUG]" line
  std::int32_t RunStatus = ExitClean;              // the most recent Workfile error's code; the exit code
  std::string DefinitionFileName;                  // as the first argument spells it (255 bytes at most)
  std::int64_t DefinitionLineNumber = 0;           // physical line being processed, from 1 (never wraps)
  std::vector<SectionRecord>* Sections = nullptr;  // kept only when a report is asked for

  // Prints one message line.
  void WriteLn(std::string_view line) const { Console->WriteLn(line); }

  // "Error in <def> Line:<n>": the start of every Workfile error line.
  std::string ErrorLinePrefix() const;

  // Prints a Workfile error line (the prefix, then `rest`) and records its
  // status, and the result in the current section's record.
  void ReportWorkfileError(std::string_view rest, std::int32_t status, SectionResult result);

  // The record of the section being run, when records are kept and one is begun.
  SectionRecord* CurrentSection() const { return Sections && !Sections->empty() ? &Sections->back() : nullptr; }
};

}  // namespace zubra32

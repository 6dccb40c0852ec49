// The run's state record and the read loop over the definition file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/text_file.h"

namespace zubra32 {

struct WorkBuffer;

// Exit codes of the program.
enum ExitCode : std::int32_t {
  ExitClean = 0,
  ExitUnexpectedFailure = 1,
  ExitMissingFile = 2,       // no definition file, or the last error was a missing Workfile
  ExitTooLong = 3,           // the last error was a Workfile, head or tail over its limit
  ExitUnreadableOrUnwritable = 4,  // the last error was a Workfile that could not be read or written
  ExitUsage = 5,             // usage or help printed
};

// Longest "Error in <definition file> Line:" prefix of an error line.
constexpr std::size_t MaxErrorPrefix = 255;

// Longest definition-file line; a longer one ends the run as an unreadable file.
constexpr std::size_t MaxDefinitionLineBytes = 1024 * 1024 * 1024;

struct RunState {
  std::int32_t RunStatus = ExitClean;   // the most recent Workfile error's code; the exit code
  std::int64_t DefinitionLineNumber = 0;  // physical line being processed, from 1 (never wraps)
  bool DebugMode = false;                // trace output, on from the first "[DEBUG]" line
  std::string CurrentLine;               // the line being processed; a stage that consumes it clears it
  std::string DefinitionFileName;        // as the first argument spells it
  TextFile DefinitionFile;               // open for reading for the whole run
};

// "Error in " + the definition file's name + " Line:" cut at 255 bytes, then the
// line number: the start of every Workfile error line.
std::string ErrorLinePrefix(const RunState& run);

// Prints a Workfile error line and records its status.
void ReportWorkfileError(RunState& run, std::string_view rest, std::int32_t status);

// The program after the command line: checks and opens the definition file,
// runs the read loop over it and ends the process with the run's status.
[[noreturn]] void RunDefinitionFile(std::string_view definitionFileName);

// The same run without ending the process: gives the exit code instead, and
// Output stays open (for tests and fuzzing, which run many in one process).
std::int32_t ExecuteDefinitionFile(std::string_view definitionFileName);

// One pass of the read loop on a line just read (exposed for tests).
void ProcessLine(RunState& run, WorkBuffer& work);

// Prints the usage or help text or the banner line; ends the process unless the
// first argument names a definition file, which it then returns whole (an
// argument longer than 255 bytes names no file).
std::string ReadCommandLine();

// Writes the report of an unexpected failure straight to standard output.
void ReportUnexpectedFailure(std::string_view className, std::string_view message);

}  // namespace zubra32

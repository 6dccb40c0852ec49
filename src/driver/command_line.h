// The command line: usage text, help with its sample definition file, the
// version, the banner line and the switches; and the report of an unexpected
// failure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zubra32 {

// The switches after the definition file's name.
struct RunOptions {
  bool Preview = false;                   // "/L", "--dry-run": write nothing, print what would change
  bool Check = false;                     // "/T", "--lint": look the definition file over for likely mistakes
  bool Strict = false;                    // "--strict": the check's notes count for the exit code as warnings do
  bool Diff = false;                      // "--diff": each change's diff goes into the report too
  std::optional<std::string> ReportFile;  // "--report FILE", "--report=FILE": where the JSON report goes
  std::optional<int> KeepBackups;         // "--backup": 0 (all kept); "--backup=N": the newest N kept
};

// What the command line asks for once it names a definition file.
struct CommandLine {
  std::string DefinitionFileName;  // the first argument, as given
  RunOptions Options;
};

// Prints the usage or help text, the version or the banner line; ends the
// process unless the first argument names a definition file, which it then
// returns whole (an argument longer than 255 bytes names no file) with the
// switches that follow it.
CommandLine ReadCommandLine();

// Writes the report of an unexpected failure straight to standard output.
void ReportUnexpectedFailure(std::string_view className, std::string_view message);

}  // namespace zubra32

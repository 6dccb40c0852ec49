#include "driver/command_line.h"

#include <array>
#include <cstdint>

#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/platform.h"
#include "runtime/reporting.h"
#include "runtime/strings.h"

namespace zubra32 {

namespace {

constexpr std::string_view ProductLine = " Zubra32 v2.0 : The Textfile Manipulator";
constexpr std::string_view CopyrightNotice = "Copyright (C) 2026 the Zubra32 developers";

// The sample definition file printed by the help; every line of it is itself a
// valid definition-file line.
constexpr std::array<std::string_view, 29> SampleDefinitionFile = {
    " 'Sample Definition File",
    "[debug]",
    " 'Switch on debugging info for the rest of the session",
    "[c:\\autoexec.tst]",
    " 'Tell zubra what file to Edit",
    "start=rem TestLine 2",
    " 'Adds a line rem TestLine 2 to the start of the file",
    " 'If the original file contains @echo off, it will be placed on top of the file",
    "TestLine 3=@rem This line replaces line 3~~rem This will be line 4",
    " '=@ Lines containing 'TestLine 3' will be replaced by rem This line ....",
    " '~~ can be replaced by CR+LF, when used on the right side of the =",
    "path~=C=-c:\\commands",
    " '=- Removes c:\\commands from lines containing path=C regel",
    " '   (~ is an escape sign and can only be used left of the = sign)",
    "path~=C=+;c:\\dos",
    " '=+ Adds ;c:\\dos to all lines containing path=C",
    "mouse=!c:\\lmouse\\mouse.com",
    " '=! replaces lines containing mouse by c:\\lmouse\\lmouse",
    " '   when mouse is not found the line will be added to the start of the file",
    "netx /=vlm /",
    " '=  replaces netx / by vlm /",
    "end=rem Changed by ~%username~%",
    " 'Add a line to the end of the file",
    " ' username will be replaced by the environment variable username",
    "",
    "[c:\\config.tst]",
    " 'Next file to act on",
    "end=device c:\\ibmvesa\\vesa.drv",
    " 'Add a devicedriver at the end of the file",
};

// What "--help" adds after the help: the switches, as comment lines, so
// that the whole output is still a definition file.
constexpr std::array<std::string_view, 10> SwitchHelp = {
    "",
    "' Switches, after the definition file, in any letter case:",
    "'   /L or --dry-run   preview: run as usual but write nothing, and show each change as a diff",
    "'   /T or --lint      check the definition file for lines that do not do what they seem to",
    "'   --strict          with /T: the check's notes count for exit code 6 as its warnings do",
    "'   --report FILE     write what the run did (or would do) to FILE as JSON, whatever the outcome",
    "'   --diff            with --report: each change's unified diff goes into the report too",
    "'   --backup[=N]      keep each replaced Workfile beside it as NAME.<UTC time>.bak; =N keeps the newest N",
    "'   Exit code 6: the preview would change a Workfile, or the check gave a warning",
    "' --version instead of the definition file prints the version line alone",
};

// The switches that may follow the definition file's name.
struct SwitchEntry {
  std::string_view Short;
  std::string_view Long;
  bool RunOptions::*Option;
};
constexpr std::array<SwitchEntry, 3> Switches = {{
    {"/L", "--dry-run", &RunOptions::Preview},
    {"/T", "--lint", &RunOptions::Check},
    {"--strict", "--strict", &RunOptions::Strict},
}};

// True when `argument` is `name` (in any letter case) followed by "=" and a
// value, which is then given.
bool HasValue(std::string_view argument, std::string_view name, std::string& value) {
  if (argument.size() <= name.size() + 1 || argument[name.size()] != '=' ||
      !EqualIgnoringCase(argument.substr(0, name.size()), name)) {
    return false;
  }
  value = argument.substr(name.size() + 1);
  return true;
}

// Arguments after the first that name a switch, in any letter case, turn it
// on; "--report" takes the argument after it (whole, as the definition
// file's name is taken); any other argument is ignored, "--backup=" with
// anything but a number from 1 to 99999 among them.
RunOptions ReadSwitches() {
  RunOptions options;
  const std::vector<std::string> arguments = platform::CommandLineArguments();
  for (std::size_t index = 2; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    std::string value;
    for (const SwitchEntry& entry : Switches) {
      if (EqualIgnoringCase(argument, entry.Short) || EqualIgnoringCase(argument, entry.Long))
        options.*entry.Option = true;
    }
    if (EqualIgnoringCase(argument, "--diff")) options.Diff = true;
    if (EqualIgnoringCase(argument, "--backup")) options.KeepBackups = 0;
    if (HasValue(argument, "--backup", value) && value.size() <= 5 &&
        value.find_first_not_of("0123456789") == std::string::npos && std::stoi(value) > 0) {
      options.KeepBackups = std::stoi(value);
    }
    if (EqualIgnoringCase(argument, "--report") && index + 1 < arguments.size())
      options.ReportFile = arguments[++index];
    if (HasValue(argument, "--report", value)) options.ReportFile = value;
  }
  return options;
}

void WriteBanner() { Output().WriteLn(std::string(ProductLine).append("  ").append(CopyrightNotice)); }

// The three usage lines; the help puts an apostrophe in front of each.
void WriteUsage(std::string_view linePrefix) {
  std::string usage = std::string(linePrefix) + " Usage: " + ParamStr(0) + " <Definition file>";
  Output().WriteLn(std::string(linePrefix).append(ProductLine));
  Output().WriteLn(CutAfter(usage, MaxShortString));
  Output().WriteLn(std::string(linePrefix).append("    ").append(CopyrightNotice));
}

}  // namespace

CommandLine ReadCommandLine() {
  Output().WriteLn("");
  if (ParamCount() == 0) {
    WriteUsage("");
    Halt(ExitUsage);
  }
  CommandLine commandLine;
  // Whole: an argument longer than 255 bytes names no file.
  commandLine.DefinitionFileName = platform::CommandLineArguments().at(1);
  const std::string& first = commandLine.DefinitionFileName;
  if (first == "/?" || first == "--help") {
    WriteUsage("'");
    Output().WriteLn("");
    for (std::string_view line : SampleDefinitionFile) Output().WriteLn(line);
    if (first == "--help") {
      for (std::string_view line : SwitchHelp) Output().WriteLn(line);
    }
    Halt(ExitUsage);
  }
  WriteBanner();
  if (first == "--version") Halt(ExitUsage);
  commandLine.Options = ReadSwitches();
  return commandLine;
}

void ReportUnexpectedFailure(std::string_view className, std::string_view message) {
  std::string module = ParamStr(0);
  module.erase(0, module.find_last_of("/\\") + 1);
  // The location is where the failure was caught, as the program's own address.
  auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&ReportUnexpectedFailure));
  std::string location(8, '0');
  for (std::size_t digit = 8; digit-- > 0; address >>= 4) location[digit] = "0123456789ABCDEF"[address & 0xF];
  std::string report = "Exception ";
  report.append(className).append(" in module ").append(module).append(" at ").append(location).append(".\r\n");
  report.append(message);
  if (!message.empty() && message.back() != '.') report.push_back('.');
  platform::ErrorCode error = 0;
  platform::WriteBytes(platform::StandardOutput(), report.data(), report.size(), error);
}

}  // namespace zubra32

// The one pass over the definition file, from its existence test to the
// process's exit code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "driver/command_line.h"
#include "driver/run_state.h"
#include "workfile/work_buffer.h"

namespace zubra32 {

// Longest definition-file line; a longer one ends the run as an unreadable file.
constexpr std::size_t MaxDefinitionLineBytes = 1024 * 1024 * 1024;

// The program after the command line: checks and opens the definition file,
// runs the read loop over it (or checks it, or previews the run, as the
// switches say) and ends the process with the run's status.
[[noreturn]] void RunDefinitionFile(const CommandLine& commandLine);

// What may watch a run from outside (the fuzz target checks its invariants
// here): called around the stages of each definition line, with the line as
// read, and around the close at the end of the run. Empty ones are skipped.
struct RunWatch {
  std::function<void(const RunState&run, const WorkBuffer&work)> BeforeLine, AfterLine, BeforeEnd, AfterEnd;
};

// The same run without ending the process: gives the exit code instead, and
// Output stays open (for tests and fuzzing, which run many in one process).
std::int32_t ExecuteDefinitionFile(std::string_view definitionFileName, RunOptions options = {},
                                   const RunWatch& watch = {});

// The stages every definition line passes, in this order: it is trimmed,
// cleared if it is a comment, expanded, then taken by the first of these that
// deals with it: the "[DEBUG]" line, a section line, a directive line (any
// other non-empty line). Each stage given is called with the line.
struct LineStages {
  std::function<void(std::string& line)> Expand;
  std::function<void()> DebugLine;
  std::function<void(std::string_view line)> SectionLine, DirectiveLine;
};
void PassStages(std::string& line, const LineStages& stages);

// One pass of the read loop on a line just read: every stage in order.
void ProcessLine(RunState& run, WorkBuffer& work);

}  // namespace zubra32

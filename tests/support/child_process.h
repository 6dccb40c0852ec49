// Starts a program (the one under test, as a rule) as a child process and
// collects what it did: its output, its exit code or signal, within a time limit.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace zubra32::test {

// What the program prints first, on every run.
inline const std::string Banner =
    "\r\n Zubra32 v2.0 : The Textfile Manipulator  Copyright (C) 2026 the Zubra32 developers\r\n";

struct Launch {
  std::vector<std::string> Argv;  // Argv[0] is the file executed
  std::vector<std::string> Env;   // the complete environment
  std::string Cwd;
  std::optional<uid_t> RunAs;       // uid (and gid) to switch to; needs root
  std::optional<gid_t> RunAsGroup;  // with RunAs: this gid instead of the uid's number
  std::vector<gid_t> RunAsGroups;   // with RunAs: the supplementary groups (none by default)
  int TimeoutSeconds = 20;
  std::optional<rlim_t> AddressSpaceLimit;             // RLIMIT_AS of the child, in bytes
  std::optional<rlim_t> FileSizeLimit;                 // RLIMIT_FSIZE of the child, in bytes
  std::optional<std::chrono::microseconds> KillAfter;  // SIGKILL this long after the start
  // Runs on a thread of its own from the child's start, with its pid, while
  // the child's output is collected; joined once the child has ended.
  std::function<void(pid_t)> WhileRunning;
};

struct Outcome {
  std::string Out, Err;
  int ExitCode = -1;
  int Signal = 0;  // killed by this signal
  bool TimedOut = false;
  std::string LaunchError;  // set when the program could not be started
};

Outcome RunChild(const Launch& launch);

// All of an outcome, for a failure message.
std::string Describe(const Outcome& outcome);

// The program under test: $ZUBRA32_E2E_PROGRAM, else the one this build made.
std::string ProgramUnderTest();

// True when the tests start the program through a launcher ($ZUBRA32_E2E_LAUNCHER,
// e.g. wine): the tests that need it run directly are skipped then.
bool ThroughLauncher();

// The program under test run on `definitionFile` in the scratch directory, with an empty environment.
Launch LaunchIn(const ScratchDir& scratch, const std::string& definitionFile);

}  // namespace zubra32::test

// Process-level tests: the program killed in the middle of a run, and the
// program out of memory. Both run the binary directly (POSIX only); they are
// skipped when the e2e suite runs the program through a launcher.
#include <fnmatch.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/file_bytes.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace zubra32::test {
namespace {

// A Workfile is written back to a temporary file that replaces it only when
// complete, so a kill at any moment leaves either the old or the new text and
// at worst the unfinished temporary file beside it.
TEST(WriteBack, SurvivesKillAtAnyMoment) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  constexpr int LineCount = 2500, KillCount = 40;
  constexpr std::size_t LineLength = 20000;

  // Lines differ from one another, so that a mix-up of lines would show.
  std::string oldText, newText;
  for (int i = 0; i < LineCount; ++i) {
    std::string line = "line " + std::to_string(i) + " ";
    for (int j = 0; line.size() < LineLength; ++j) line.push_back(static_cast<char>('a' + (i + j) % 26));
    oldText += line + "\r\n";
    newText += line + " appended\r\n";
  }
  ScratchDir scratch;
  const std::string workfile = scratch.Path("big.txt");
  WriteFileBytes(scratch.Path("defs.txt"), "[big.txt]\r\nline=+ appended\r\n");

  // One uninterrupted run: its result is the new text, its duration spans the kills.
  WriteFileBytes(workfile, oldText);
  const auto start = steady_clock::now();
  Outcome whole = RunChild(LaunchIn(scratch, "defs.txt"));
  const auto duration = duration_cast<microseconds>(steady_clock::now() - start);
  ASSERT_EQ(whole.ExitCode, 0) << Describe(whole);
  ASSERT_EQ(whole.Out, Banner);
  ASSERT_EQ(whole.Err, "");
  ASSERT_TRUE(ReadFileBytes(workfile) == newText) << "the uninterrupted run wrote something else";
  ASSERT_TRUE(scratch.OtherNames({"defs.txt", "big.txt"}).empty());

  int oldKept = 0, oldWithTemporary = 0, newWritten = 0;
  // One run, killed as `launch` says; what it left must be one of the three outcomes.
  auto runKilled = [&](Launch launch) {
    WriteFileBytes(workfile, oldText);
    Outcome outcome = RunChild(launch);
    // Killed, or done before the kill was due.
    ASSERT_TRUE(outcome.Signal == SIGKILL || (outcome.ExitCode == 0 && outcome.Out == Banner)) << Describe(outcome);
    ASSERT_EQ(outcome.Err, "");

    std::vector<std::string> others = scratch.OtherNames({"defs.txt", "big.txt"});
    ASSERT_LE(others.size(), 1u) << "more than one file left beside the Workfile";
    const std::string text = ReadFileBytes(workfile);
    const bool isOld = text == oldText, isNew = !isOld && text == newText;
    ASSERT_TRUE(isOld || isNew) << "the Workfile holds " << text.size() << " bytes of neither text";
    if (!others.empty()) {
      ASSERT_EQ(fnmatch(".big.txt.zubra32-*", others[0].c_str(), FNM_PERIOD), 0) << others[0];
      ASSERT_TRUE(fs::is_regular_file(scratch.Path(others[0]))) << others[0];
      // Still there means not renamed: the Workfile must not have changed.
      ASSERT_TRUE(isOld) << "the Workfile changed, yet " << others[0] << " is left";
      fs::remove(scratch.Path(others[0]));
      ++oldWithTemporary;
    } else {
      ++(isOld ? oldKept : newWritten);
    }
  };
  for (int i = 0; i < KillCount; ++i) {
    const auto delay = duration * 12 * i / (10 * (KillCount - 1));
    SCOPED_TRACE("kill after " + std::to_string(delay.count() / 1000) + " ms of " +
                 std::to_string(duration.count() / 1000) + " ms");
    Launch launch = LaunchIn(scratch, "defs.txt");
    launch.KillAfter = delay;
    runKilled(launch);
  }
  // A busy machine stretches some stages and shrinks others: each stage is
  // also met on purpose, at the start, while the temporary file is there,
  // and after the end.
  Launch atStart = LaunchIn(scratch, "defs.txt");
  atStart.KillAfter = microseconds(0);
  runKilled(atStart);
  Launch whileWriting = LaunchIn(scratch, "defs.txt");
  whileWriting.WhileRunning = [&](pid_t pid) {
    const auto until = steady_clock::now() + seconds(20);
    while (scratch.OtherNames({"defs.txt", "big.txt"}).empty() && steady_clock::now() < until)
      std::this_thread::yield();
    kill(pid, SIGKILL);
  };
  runKilled(whileWriting);
  runKilled(LaunchIn(scratch, "defs.txt"));
  std::cout << "file " << oldText.size() << " bytes, uninterrupted run " << duration.count() / 1000
            << " ms; kills: " << oldKept << " old, " << oldWithTemporary << " old with a temporary file, " << newWritten
            << " new\n";
  // The kills must have met each stage: before, during and after the write-back.
  EXPECT_GT(oldKept, 0);
  EXPECT_GT(oldWithTemporary, 0);
  EXPECT_GT(newWritten, 0);
}

// A definition file line that cannot be held in memory ends the run with the
// out-of-memory report and exit code 1, nothing on standard error.
TEST(UnexpectedFailure, OutOfMemoryIsReportedWithExitCode1) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
#ifdef ZUBRA32_E2E_SANITIZED
  GTEST_SKIP() << "a sanitized program cannot start under an address-space limit (its shadow memory needs more)";
#endif
  constexpr rlim_t Limit = 64u << 20;
  ScratchDir scratch;
  // Starting and reading a short file fits in the limit...
  WriteFileBytes(scratch.Path("short.def"), "' a short line\r\n");
  Launch launch = LaunchIn(scratch, "short.def");
  launch.AddressSpaceLimit = Limit;
  Outcome fits = RunChild(launch);
  ASSERT_EQ(fits.ExitCode, 0) << Describe(fits);
  ASSERT_EQ(fits.Out, Banner);

  // ...a line four times the limit does not. The file is sparse, so it costs
  // no writing: a comment mark, then NUL bytes, no line end.
  {
    std::ofstream out(scratch.Path("long.def"), std::ios::binary);
    out << "' ";
  }
  fs::resize_file(scratch.Path("long.def"), 4 * Limit);
  launch.Argv.back() = "long.def";
  const auto start = steady_clock::now();
  Outcome outcome = RunChild(launch);
  std::cout << "address space limit " << (Limit >> 20) << " MiB, line " << (4 * Limit >> 20) << " MiB, run "
            << duration_cast<milliseconds>(steady_clock::now() - start).count() << " ms\n";

  EXPECT_EQ(outcome.Signal, 0) << Describe(outcome);
  EXPECT_FALSE(outcome.TimedOut);
  EXPECT_EQ(outcome.ExitCode, 1);
  EXPECT_EQ(outcome.Err, "");
  // The location is an address, different from run to run: 8 upper-case hex digits.
  const std::string head =
      Banner + "Exception EOutOfMemory in module " + fs::canonical(ProgramUnderTest()).filename().string() + " at ";
  std::string out = outcome.Out;
  if (out.size() >= head.size() + 8 &&
      std::all_of(out.begin() + head.size(), out.begin() + head.size() + 8,
                  [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'); }))
    out.replace(head.size(), 8, "XXXXXXXX");
  EXPECT_EQ(out, head + "XXXXXXXX.\r\nOut of memory.");
}

}  // namespace
}  // namespace zubra32::test

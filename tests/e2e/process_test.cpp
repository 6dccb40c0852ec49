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

#include "process_support.hpp"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace e2e {
namespace {

// A Workfile is written back to a temporary file that replaces it only when
// complete, so a kill at any moment leaves either the old or the new text and
// at worst the unfinished temporary file beside it.
TEST(WriteBack, SurvivesKillAtAnyMoment) {
  if (through_launcher()) GTEST_SKIP() << "runs the program directly";
  constexpr int line_count = 2500, kill_count = 40;
  constexpr std::size_t line_length = 20000;

  // Lines differ from one another, so that a mix-up of lines would show.
  std::string old_text, new_text;
  for (int i = 0; i < line_count; ++i) {
    std::string line = "line " + std::to_string(i) + " ";
    for (int j = 0; line.size() < line_length; ++j) line.push_back(static_cast<char>('a' + (i + j) % 26));
    old_text += line + "\r\n";
    new_text += line + " appended\r\n";
  }
  Scratch scratch;
  const std::string workfile = scratch.path("big.txt");
  WriteFileBytes(scratch.path("defs.txt"), "[big.txt]\r\nline=+ appended\r\n");

  // One uninterrupted run: its result is the new text, its duration spans the kills.
  WriteFileBytes(workfile, old_text);
  const auto start = steady_clock::now();
  Outcome whole = run_child(launch_in(scratch, "defs.txt"));
  const auto duration = duration_cast<microseconds>(steady_clock::now() - start);
  ASSERT_EQ(whole.exit_code, 0) << describe(whole);
  ASSERT_EQ(whole.out, banner);
  ASSERT_EQ(whole.err, "");
  ASSERT_TRUE(ReadFileBytes(workfile) == new_text) << "the uninterrupted run wrote something else";
  ASSERT_TRUE(others_in(scratch.dir(), {"defs.txt", "big.txt"}).empty());

  int old_kept = 0, old_with_temporary = 0, new_written = 0;
  // One run, killed as `launch` says; what it left must be one of the three outcomes.
  auto run_killed = [&](Launch launch) {
    WriteFileBytes(workfile, old_text);
    Outcome outcome = run_child(launch);
    // Killed, or done before the kill was due.
    ASSERT_TRUE(outcome.signal == SIGKILL || (outcome.exit_code == 0 && outcome.out == banner)) << describe(outcome);
    ASSERT_EQ(outcome.err, "");

    std::vector<std::string> others = others_in(scratch.dir(), {"defs.txt", "big.txt"});
    ASSERT_LE(others.size(), 1u) << "more than one file left beside the Workfile";
    const std::string text = ReadFileBytes(workfile);
    const bool is_old = text == old_text, is_new = !is_old && text == new_text;
    ASSERT_TRUE(is_old || is_new) << "the Workfile holds " << text.size() << " bytes of neither text";
    if (!others.empty()) {
      ASSERT_EQ(fnmatch(".big.txt.zubra32-*", others[0].c_str(), FNM_PERIOD), 0) << others[0];
      ASSERT_TRUE(fs::is_regular_file(scratch.path(others[0]))) << others[0];
      // Still there means not renamed: the Workfile must not have changed.
      ASSERT_TRUE(is_old) << "the Workfile changed, yet " << others[0] << " is left";
      fs::remove(scratch.path(others[0]));
      ++old_with_temporary;
    } else {
      ++(is_old ? old_kept : new_written);
    }
  };
  for (int i = 0; i < kill_count; ++i) {
    const auto delay = duration * 12 * i / (10 * (kill_count - 1));
    SCOPED_TRACE("kill after " + std::to_string(delay.count() / 1000) + " ms of " +
                 std::to_string(duration.count() / 1000) + " ms");
    Launch launch = launch_in(scratch, "defs.txt");
    launch.kill_after = delay;
    run_killed(launch);
  }
  // A busy machine stretches some stages and shrinks others: each stage is
  // also met on purpose, at the start, while the temporary file is there,
  // and after the end.
  Launch at_start = launch_in(scratch, "defs.txt");
  at_start.kill_after = microseconds(0);
  run_killed(at_start);
  Launch while_writing = launch_in(scratch, "defs.txt");
  while_writing.while_running = [&](pid_t pid) {
    const auto until = steady_clock::now() + seconds(20);
    while (others_in(scratch.dir(), {"defs.txt", "big.txt"}).empty() && steady_clock::now() < until)
      std::this_thread::yield();
    kill(pid, SIGKILL);
  };
  run_killed(while_writing);
  run_killed(launch_in(scratch, "defs.txt"));
  std::cout << "file " << old_text.size() << " bytes, uninterrupted run " << duration.count() / 1000
            << " ms; kills: " << old_kept << " old, " << old_with_temporary << " old with a temporary file, "
            << new_written << " new\n";
  // The kills must have met each stage: before, during and after the write-back.
  EXPECT_GT(old_kept, 0);
  EXPECT_GT(old_with_temporary, 0);
  EXPECT_GT(new_written, 0);
}

// A definition file line that cannot be held in memory ends the run with the
// out-of-memory report and exit code 1, nothing on standard error.
TEST(UnexpectedFailure, OutOfMemoryIsReportedWithExitCode1) {
  if (through_launcher()) GTEST_SKIP() << "runs the program directly";
#ifdef ZUBRA32_E2E_SANITIZED
  GTEST_SKIP() << "a sanitized program cannot start under an address-space limit (its shadow memory needs more)";
#endif
  constexpr rlim_t limit = 64u << 20;
  Scratch scratch;
  // Starting and reading a short file fits in the limit...
  WriteFileBytes(scratch.path("short.def"), "' a short line\r\n");
  Launch launch = launch_in(scratch, "short.def");
  launch.address_space_limit = limit;
  Outcome fits = run_child(launch);
  ASSERT_EQ(fits.exit_code, 0) << describe(fits);
  ASSERT_EQ(fits.out, banner);

  // ...a line four times the limit does not. The file is sparse, so it costs
  // no writing: a comment mark, then NUL bytes, no line end.
  {
    std::ofstream out(scratch.path("long.def"), std::ios::binary);
    out << "' ";
  }
  fs::resize_file(scratch.path("long.def"), 4 * limit);
  launch.argv.back() = "long.def";
  const auto start = steady_clock::now();
  Outcome outcome = run_child(launch);
  std::cout << "address space limit " << (limit >> 20) << " MiB, line " << (4 * limit >> 20) << " MiB, run "
            << duration_cast<milliseconds>(steady_clock::now() - start).count() << " ms\n";

  EXPECT_EQ(outcome.signal, 0) << describe(outcome);
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_EQ(outcome.err, "");
  // The location is an address, different from run to run: 8 upper-case hex digits.
  const std::string head =
      banner + "Exception EOutOfMemory in module " + fs::canonical(program()).filename().string() + " at ";
  std::string out = outcome.out;
  if (out.size() >= head.size() + 8 &&
      std::all_of(out.begin() + head.size(), out.begin() + head.size() + 8,
                  [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'); }))
    out.replace(head.size(), 8, "XXXXXXXX");
  EXPECT_EQ(out, head + "XXXXXXXX.\r\nOut of memory.");
}

}  // namespace
}  // namespace e2e

// The fault walk: a realistic run over several Workfiles, repeated once for
// every platform call that its Workfile loads and write-backs make, with
// exactly that call failing. Each time the run must report the one Workfile
// in the one right error line, end with status 4, leave that Workfile byte
// for byte as it was (its directives ignored, for a failed load), leave no
// temporary file behind, and apply every other section as a clean run does.
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/read_loop.h"
#include "runtime/platform_faults.h"
#include "support/walk_run.h"
#include "unit/unit_test_support.h"

namespace zubra32::platform {

namespace {

// Which call fails: the `FailAt`-th call of `Kind` on a Workfile or its
// temporary file (counted from 1; 0 fails none). The run's Workfiles are
// the files of `Directory`; calls on anything else (the definition file,
// the console) are neither counted nor failed.
struct FaultPlan {
  std::string Directory;
  FaultKind Kind = FaultKind::Open;
  int FailAt = 0;
  std::array<int, FaultKindCount> Seen{};
  std::string FailedPath;  // the file or directory of the failed call
  // Called at each call first: a test that looks at the file system in the
  // middle of a write-back (the pause) does it here.
  std::function<void(FaultKind kind, const std::string& path)> Observe;
};
FaultPlan plan;

std::string PathOf(Handle handle) {
  std::array<char, PATH_MAX> path{};
  std::string link = "/proc/self/fd/" + std::to_string(handle);
  ssize_t length = readlink(link.c_str(), path.data(), path.size() - 1);
  return length < 0 ? std::string() : std::string(path.data(), static_cast<std::size_t>(length));
}

}  // namespace

bool InjectedFailure(FaultKind kind, Handle handle, std::string_view name, ErrorCode& error) {
  if (plan.Directory.empty()) return false;
  std::string path = handle == InvalidHandle ? std::string(name)
                     : name.empty()          ? PathOf(handle)
                                             : PathOf(handle) + "/" + std::string(name);
  if (path != plan.Directory && path.rfind(plan.Directory + "/", 0) != 0) return false;
  if (plan.Observe) plan.Observe(kind, path);
  if (++plan.Seen[static_cast<std::size_t>(kind)] != plan.FailAt || kind != plan.Kind) return false;
  plan.FailedPath = path;
  error = kind == FaultKind::Write || kind == FaultKind::Flush ? ENOSPC : EIO;
  return true;
}

}  // namespace zubra32::platform

namespace zubra32 {
namespace {

using platform::FaultKind;
using namespace test;

const std::array<std::string, platform::FaultKindCount> KindNames = {
    "open",  "read",   "create temporary file", "write",   "flush",
    "close", "rename", "directory flush",       "replace", "copy attributes"};

class FaultWalk : public ::testing::Test {
 protected:
  FaultWalk() : Environment({"USERNAME=alice"}) {}

  void SetUp() override {
    FilesDir = Scratch.Path("files");
    Definition = Scratch.Path("walk.def");
    Originals = {
        {"autoexec.bat", test::ReadFileBytes(ZUBRA32_EXAMPLES_DIR "/autoexec.bat")},
        {"config.sys", test::ReadFileBytes(ZUBRA32_EXAMPLES_DIR "/config.sys")},
        {"unchanged.ini", CrLf({"[boot]", "shell=progman.exe"})},
        {"big.txt", BigWalkWorkfile()},
    };
    DefinitionText = WalkDefinition(FilesDir + "/");
    SectionLine = WalkSectionLine;
    CloseLine = WalkCloseLine;
  }

  void TearDown() override { platform::plan = {}; }

  void Prepare() {
    std::filesystem::remove_all(FilesDir);
    std::filesystem::create_directory(FilesDir);
    for (const auto& [name, text] : Originals) test::WriteFileBytes(FilesDir + "/" + name, text);
    test::WriteFileBytes(Definition, DefinitionText);
  }

  // Runs the definition file with the plan's fault on the calls under `scope`
  // (the Workfiles' folder unless given); gives the status and the console.
  std::int32_t Run(FaultKind kind, int failAt, std::string& console, const std::string& scope = {}) {
    Prepare();
    platform::plan = {};
    platform::plan.Directory = scope.empty() ? FilesDir : scope;
    platform::plan.Kind = kind;
    platform::plan.FailAt = failAt;
    test::CapturedOutput output;
    std::int32_t status = ExecuteDefinitionFile(Definition);
    console = output.Finish();
    platform::plan.Directory.clear();
    return status;
  }

  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(FilesDir)) {
      files[entry.path().filename().string()] = test::ReadFileBytes(entry.path().string());
    }
    return files;
  }

  std::string ErrorLine(int line, const std::string& rest) const {
    return "Error in " + Definition + " Line:" + std::to_string(line) + rest + "\r\n";
  }

  test::ScopedEnvironment Environment;
  test::ScratchDir Scratch;
  std::string FilesDir, Definition, DefinitionText;
  std::map<std::string, std::string> Originals;
  std::map<std::string, int> SectionLine, CloseLine;
};

TEST_F(FaultWalk, EveryFailingLoadOrWriteBackCallIsReportedAndHarmsNothingElse) {
  // The clean run: what every section makes of its Workfile, and how many
  // calls of each kind the Workfiles take.
  std::string cleanConsole;
  ASSERT_EQ(Run(FaultKind::Open, 0, cleanConsole), ExitMissingFile);
  const std::string missingLine = ErrorLine(2, " File " + FilesDir + "/missing.txt not found");
  ASSERT_EQ(cleanConsole, missingLine + "Ready (Status = 2)\r\n");
  const std::map<std::string, std::string> cleanFiles = Files();
  ASSERT_EQ(cleanFiles.size(), Originals.size());
  for (const auto& [name, text] : Originals) {
    EXPECT_EQ(cleanFiles.at(name) == text, name == "unchanged.ini") << name << " is changed by the clean run";
  }
  const std::array<int, platform::FaultKindCount> calls = platform::plan.Seen;

  std::string summary = "fault walk:";
  for (std::size_t kind = 0; kind < calls.size(); ++kind) {
    const auto faultKind = static_cast<FaultKind>(kind);
    // ReplaceFileA is Windows's: here the rename alone puts the new text in place.
    if (faultKind == FaultKind::Replace) {
      EXPECT_EQ(calls[kind], 0);
      continue;
    }
    ASSERT_GT(calls[kind], 0) << KindNames[kind] << " is never called";
    summary += " " + KindNames[kind] + " " + std::to_string(calls[kind]);
    for (int n = 1; n <= calls[kind]; ++n) {
      SCOPED_TRACE(KindNames[kind] + " call " + std::to_string(n));
      std::string console;
      std::int32_t status = Run(faultKind, n, console);
      ASSERT_FALSE(platform::plan.FailedPath.empty()) << "the call was not made";

      // The Workfile the failed call worked on: its own name, its temporary
      // file's (".NAME.zubra32-XXXXXX"), or the directory of the last one written.
      std::string failed = std::filesystem::path(platform::plan.FailedPath).filename().string();
      bool writeBack = failed.front() == '.' || faultKind == FaultKind::DirectoryFlush ||
                       faultKind == FaultKind::Rename || faultKind == FaultKind::CreateTemporary;
      if (failed.front() == '.') failed = failed.substr(1, failed.rfind(".zubra32-") - 1);
      if (faultKind == FaultKind::DirectoryFlush) {
        // Directory flushes come in the order the Workfiles are written back.
        failed =
            std::array<std::string, 3>{"autoexec.bat", "config.sys", "big.txt"}.at(static_cast<std::size_t>(n - 1));
      }
      ASSERT_EQ(Originals.count(failed), 1u) << platform::plan.FailedPath;

      EXPECT_EQ(status, ExitUnreadableOrUnwritable);
      std::string errorLine =
          writeBack ? ErrorLine(CloseLine.at(failed), " File " + FilesDir + "/" + failed + " can't be written")
                    : ErrorLine(SectionLine.at(failed), " File " + FilesDir + "/" + failed + " can't be read");
      EXPECT_EQ(console, missingLine + errorLine + "Ready (Status = 4)\r\n");

      // The failed Workfile as it was, except after a failed directory flush:
      // the rename has put the new text in place by then, and it stays.
      std::map<std::string, std::string> expected = cleanFiles;
      expected[failed] = faultKind == FaultKind::DirectoryFlush ? cleanFiles.at(failed) : Originals.at(failed);
      EXPECT_EQ(Files(), expected) << "no temporary file, the others as a clean run leaves them";
    }
  }
  std::cout << summary << std::endl;
}

TEST_F(FaultWalk, ADefinitionFileThatFailsEndsTheRunWithNothingHalfWritten) {
  // Only the definition file's own calls fail here; the walk goes over its
  // open, its reads and its close.
  std::string console, cleanConsole;
  ASSERT_EQ(Run(FaultKind::Open, 0, cleanConsole), ExitMissingFile);
  const std::map<std::string, std::string> cleanFiles = Files();
  const std::string missingLine = ErrorLine(2, " File " + FilesDir + "/missing.txt not found");
  // The Workfiles in the order the run writes them back.
  const std::vector<std::string> written = {"autoexec.bat", "config.sys", "big.txt"};

  int walked = 0;
  for (FaultKind kind : {FaultKind::Open, FaultKind::Read, FaultKind::Close}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(KindNames[static_cast<std::size_t>(kind)] + " call " + std::to_string(n));
      std::int32_t status = Run(kind, n, console, Definition);
      if (platform::plan.FailedPath.empty()) break;
      ++walked;

      const std::string failure = "Can't read the definition file " + Definition + "\r\n";
      if (kind == FaultKind::Close) {
        // The close comes after the last line: the run is complete by then.
        EXPECT_EQ(status, ExitMissingFile);
        EXPECT_EQ(console, cleanConsole);
        EXPECT_EQ(Files(), cleanFiles);
        continue;
      }
      EXPECT_EQ(status, ExitMissingFile);
      EXPECT_TRUE(console == failure || console == missingLine + failure) << console;
      // Workfiles closed before the failure are written back; the current
      // one and those after it stay as they were.
      std::map<std::string, std::string> files = Files();
      ASSERT_EQ(files.size(), Originals.size()) << "no temporary file is left";
      bool earlierWritten = true;
      for (const std::string& name : written) {
        bool isClean = files.at(name) == cleanFiles.at(name);
        EXPECT_TRUE(isClean || files.at(name) == Originals.at(name)) << name;
        EXPECT_TRUE(earlierWritten || !isClean) << name << " is written back although an earlier Workfile is not";
        earlierWritten = isClean;
      }
      EXPECT_NE(files.at("big.txt"), cleanFiles.at("big.txt"))
          << "the last Workfile is closed only after the last line";
    }
  }
  EXPECT_GE(walked, 3);
  std::cout << "definition file walk: " << walked << " failed calls" << std::endl;
}

// Whether `user` may open `path` for reading, and for writing: a child
// process that takes the user's identity tries.
std::pair<bool, bool> OpensAs(uid_t user, const std::string& path) {
  pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0) _exit(8);
    int read = open(path.c_str(), O_RDONLY | O_NOFOLLOW), write = open(path.c_str(), O_WRONLY | O_NOFOLLOW);
    _exit((read >= 0 ? 1 : 0) | (write >= 0 ? 2 : 0));
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 8) << "cannot become user " << user;
  return {WEXITSTATUS(status) & 1, WEXITSTATUS(status) & 2};
}

// From its creation to the rename, the temporary file never lets in a user
// whom the Workfile shuts out: the write-back pauses at every write and every
// step of the attribute copy while that user tries to open it.
TEST(TemporaryFile, NeverGrantsWhatTheWorkfileDenies) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  if (std::system("command -v setfacl >/dev/null") != 0) GTEST_SKIP() << "needs setfacl (acl)";
  constexpr uid_t excluded = 65533;
  const struct {
    const char* What;
    const char* Setup;  // run in the Workfiles' directory on w.txt
  } rows[] = {
      {"a 0666 file whose ACL shuts the user out", "chmod 0666 w.txt && setfacl -m u:65533:--- w.txt"},
      {"a 0640 file in a directory whose default ACL names the user",
       "chmod 0640 w.txt && setfacl -d -m u:65533:rw- ."},
      {"a 0600 file", "chmod 0600 w.txt"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.What);
    test::ScratchDir scratch;
    const std::string files = scratch.Path("files"), workfile = files + "/w.txt", control = files + "/open.txt";
    std::filesystem::create_directory(files);
    std::filesystem::permissions(scratch.Dir(), std::filesystem::perms(0755));
    test::WriteFileBytes(workfile, "old\r\n");
    test::WriteFileBytes(control, "anyone\r\n");
    std::filesystem::permissions(control, std::filesystem::perms(0644));
    ASSERT_EQ(std::system(("cd '" + files + "' && " + row.Setup).c_str()), 0);
    ASSERT_EQ(OpensAs(excluded, control).first, true) << "the user must reach the directory";
    ASSERT_EQ(OpensAs(excluded, workfile), std::make_pair(false, false));
    test::WriteFileBytes(scratch.Path("w.def"), "[" + workfile + "]\r\nEND=new\r\n");

    std::vector<std::string> opened;
    int paused = 0;
    platform::plan = {};
    platform::plan.Directory = files;
    platform::plan.Observe = [&](FaultKind kind, const std::string& path) {
      if (kind != FaultKind::Write && kind != FaultKind::CopyAttributes) return;
      if (std::filesystem::path(path).filename().string().rfind(".w.txt.zubra32-", 0) != 0) return;
      ++paused;
      auto [read, write] = OpensAs(excluded, path);
      if (read || write) opened.push_back(KindNames[static_cast<std::size_t>(kind)] + " " + std::to_string(paused));
    };
    test::CapturedOutput output;
    EXPECT_EQ(ExecuteDefinitionFile(scratch.Path("w.def")), ExitClean);
    EXPECT_EQ(output.Finish(), "");
    platform::plan = {};
    EXPECT_GE(paused, 4) << "a write and three steps of the copy";
    EXPECT_EQ(opened, std::vector<std::string>{}) << "the user opened the temporary file";
    EXPECT_EQ(test::ReadFileBytes(workfile), "old\r\nnew\r\n");
    EXPECT_EQ(OpensAs(excluded, workfile), std::make_pair(false, false)) << "the new file lets the user in";
  }
}

}  // namespace
}  // namespace zubra32

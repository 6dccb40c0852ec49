// The durability order of the write-back, checked on a real run of the built
// program with the call recorder preloaded (call_recorder.cpp). For every
// Workfile written back:
//   - the file renamed over it holds its final size and was flushed to disk
//     (fsync or fdatasync of that very file) before the rename;
//   - after the rename, and before the process ends, the directory it was
//     renamed into was flushed (fsync or fdatasync of that directory, or a
//     syncfs or sync of its file system);
//   - the file renamed last is the one the Workfile finally is.
// A page-cache copy looks the same as a flushed one to every other test; only
// the order of the calls tells whether a power cut could leave a Workfile
// empty or lose a write-back that the run reported as done.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/file_bytes.h"
#include "support/walk_run.h"

namespace fs = std::filesystem;

namespace zubra32::test {
namespace {

// One recorded call (see call_recorder.cpp for the fields).
struct Call {
  std::string Kind;  // flush, flushfs, rename, exit
  std::string Name;  // fsync, renameat, ...; for exit: the code
  bool Ok = false;
  std::string File;       // DEV:INO flushed or renamed; for flushfs the device or "*"
  std::string Size;       // the file's size at the call
  std::string Directory;  // rename: DEV:INO of the directory renamed into
  std::string From, To;   // rename: the names; flush: the descriptor's path in `From`
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  return fields;
}

std::vector<Call> ReadLog(const std::string& path) {
  std::vector<Call> calls;
  std::istringstream log(ReadFileBytes(path));
  for (std::string line; std::getline(log, line);) {
    std::vector<std::string> f = Fields(line);
    Call call;
    call.Kind = f.at(0);
    call.Name = f.at(1);
    if (call.Kind == "flush") {
      call.Ok = f.at(2) == "ok", call.File = f.at(3), call.Size = f.at(4), call.From = f.at(5);
    } else if (call.Kind == "flushfs") {
      call.Ok = f.at(2) == "ok", call.File = f.at(3), call.From = f.at(4);
    } else if (call.Kind == "rename") {
      call.Ok = f.at(2) == "ok", call.File = f.at(3), call.Size = f.at(4), call.Directory = f.at(5);
      call.From = f.at(6), call.To = f.at(7);
    }
    calls.push_back(call);
  }
  return calls;
}

std::string DescribeCalls(const std::vector<Call>& calls) {
  std::string text = "recorded calls:\n";
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Call& c = calls[i];
    text += "  " + std::to_string(i) + ": " + c.Kind + " " + c.Name;
    if (c.Kind != "exit") text += std::string(c.Ok ? "" : " (failed)") + " " + c.From;
    if (c.Kind == "rename") text += " -> " + c.To;
    if (c.Kind == "flush" || c.Kind == "rename") text += " [" + c.File + ", " + c.Size + " bytes]";
    text += "\n";
  }
  return text;
}

std::string Device(const std::string& identity) { return identity.substr(0, identity.find(':')); }

std::string IdentityOf(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return "?";
  return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

// A Workfile written back: the number of renames over it and its final text.
struct Expected {
  int Renames;
  std::string Text;
};

constexpr uid_t Nobody = 65534;

// Everything below `path` given to `owner`, links themselves included.
void GiveTree(const std::string& path, uid_t owner) {
  auto give = [owner](const std::string& name) {
    if (lchown(name.c_str(), owner, owner) != 0) throw std::runtime_error("lchown " + name + " failed");
  };
  give(path);
  for (const auto& entry : fs::recursive_directory_iterator(path)) give(entry.path().string());
}

// Runs the definition file defs.txt in `scratch` with the recorder preloaded
// (as `runAs` when given), then checks the run and the order of its calls for
// each of `workfiles`.
void RunAndCheckOrder(const ScratchDir& scratch, const std::map<std::string, Expected>& workfiles,
                      std::optional<uid_t> runAs = std::nullopt) {
  ScratchDir logs, bin;
  const std::string log = logs.Path("calls.log");
  std::string program = ProgramUnderTest(), recorder = ZUBRA32_CALL_RECORDER_PATH;
  if (runAs) {
    // The build tree may be closed to the other user: run copies.
    chmod(bin.Dir().c_str(), 0755);
    fs::copy_file(program, bin.Path("zubra32"));
    fs::copy_file(recorder, bin.Path("recorder.so"));
    program = bin.Path("zubra32"), recorder = bin.Path("recorder.so");
    chmod(program.c_str(), 0755);
    chmod(recorder.c_str(), 0755);
    GiveTree(scratch.Dir(), *runAs);
    GiveTree(logs.Dir(), *runAs);
  }

  Launch launch = LaunchIn(scratch, "defs.txt");
  launch.Argv[0] = program;
  launch.Env = {"LD_PRELOAD=" + recorder, "ZUBRA32_CALL_LOG=" + log};
#ifdef ZUBRA32_SANITIZED
  // The recorder comes before the sanitizer's runtime in the list of libraries.
  launch.Env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
#endif
  launch.RunAs = runAs;
  const Outcome outcome = RunChild(launch);
  ASSERT_EQ(outcome.LaunchError, "");
  ASSERT_EQ(outcome.ExitCode, 0) << outcome.Out << outcome.Err;
  ASSERT_EQ(outcome.Err, "");
  for (const auto& [path, expected] : workfiles) EXPECT_EQ(ReadFileBytes(path), expected.Text) << path;

  const std::vector<Call> calls = ReadLog(log);
  ASSERT_FALSE(calls.empty()) << "nothing recorded: is " << program << " linked to the C library dynamically?";
  std::size_t end = calls.size();
  for (std::size_t i = 0; i < calls.size() && end == calls.size(); ++i) {
    if (calls[i].Kind == "exit") end = i;
  }
  ASSERT_LT(end, calls.size()) << "the end of the process was not recorded\n" << DescribeCalls(calls);
  EXPECT_EQ(calls[end].Name, "0") << "exit code recorded";

  for (const auto& [workfile, expected] : workfiles) {
    SCOPED_TRACE(workfile);
    std::vector<std::size_t> renames;
    for (std::size_t i = 0; i < end; ++i) {
      if (calls[i].Kind == "rename" && calls[i].Ok && calls[i].To == workfile) renames.push_back(i);
    }
    EXPECT_EQ(renames.size(), static_cast<std::size_t>(expected.Renames)) << "renames over the Workfile";

    for (std::size_t r : renames) {
      const Call& rename = calls[r];
      // The data: a flush of the very file renamed, at the size it is renamed with.
      bool dataFlushed = false;
      for (std::size_t i = 0; i < r && !dataFlushed; ++i) {
        dataFlushed =
            calls[i].Kind == "flush" && calls[i].Ok && calls[i].File == rename.File && calls[i].Size == rename.Size;
      }
      EXPECT_TRUE(dataFlushed) << "call " << r << " renames " << rename.From << " (" << rename.Size
                               << " bytes) over the Workfile, but that file's data was not flushed to disk before";

      // The name: a flush of the directory, or of its whole file system, after the rename, before the end.
      bool directoryFlushed = false;
      for (std::size_t i = r + 1; i < end && !directoryFlushed; ++i) {
        const Call& c = calls[i];
        directoryFlushed = c.Ok && ((c.Kind == "flush" && c.File == rename.Directory) ||
                                    (c.Kind == "flushfs" && (c.File == "*" || c.File == Device(rename.Directory))));
      }
      EXPECT_TRUE(directoryFlushed) << "call " << r << " renames " << rename.From
                                    << " over the Workfile, but its directory was not flushed after it before the "
                                       "process ended (call "
                                    << end << ")";
    }
    if (!renames.empty()) {
      EXPECT_EQ(calls[renames.back()].File, IdentityOf(workfile)) << "the Workfile is not the file renamed last";
    }
  }
  if (::testing::Test::HasFailure()) std::cout << DescribeCalls(calls);
}

TEST(WriteBackOrder, EachWorkfileIsFlushedBeforeItsRenameAndItsDirectoryBeforeTheEnd) {
  if (ThroughLauncher()) GTEST_SKIP() << "preloads a library into the program itself";
  ScratchDir scratch;
  // Workfiles in two directories; one named twice; one reached through a
  // link in the other directory (the target's directory is the one to flush);
  // one that no directive changes.
  WriteFileBytes(scratch.Path("one/a.txt"), "rem a\n");
  WriteFileBytes(scratch.Path("one/b.txt"), "value 1\n");
  WriteFileBytes(scratch.Path("two/c.txt"), "rem c\n");
  WriteFileBytes(scratch.Path("two/target.txt"), "rem target\n");
  WriteFileBytes(scratch.Path("two/unchanged.txt"), "rem unchanged\n");
  fs::create_symlink("../two/target.txt", scratch.Path("one/link.txt"));
  WriteFileBytes(scratch.Path("defs.txt"), CrLf({
                                               "[one/a.txt]",
                                               "END=first",
                                               "[two/c.txt]",
                                               "START=rem start",
                                               "[one/b.txt]",
                                               "value 1=@value 2",
                                               "[two/unchanged.txt]",
                                               "no such text=@never",
                                               "[one/a.txt]",
                                               "END=second",
                                               "[one/link.txt]",
                                               "END=through the link",
                                           }));
  RunAndCheckOrder(scratch, {
                                {scratch.Path("one/a.txt"), {2, CrLf({"rem a", "first", "second"})}},
                                {scratch.Path("one/b.txt"), {1, CrLf({"value 2"})}},
                                {scratch.Path("two/c.txt"), {1, CrLf({"rem start", "rem c"})}},
                                {scratch.Path("two/target.txt"), {1, CrLf({"rem target", "through the link"})}},
                                {scratch.Path("two/unchanged.txt"), {0, "rem unchanged\n"}},
                            });
}

// A directory we may enter and write but not read cannot be flushed by itself;
// the rename into it must still reach the disk before the run ends. Run as
// nobody when the runner is root, who may read any directory.
TEST(WriteBackOrder, ADirectoryWeMayNotReadIsFlushedAllTheSame) {
  if (ThroughLauncher()) GTEST_SKIP() << "preloads a library into the program itself";
  ScratchDir scratch;
  WriteFileBytes(scratch.Path("box/w.txt"), "rem w\n");
  WriteFileBytes(scratch.Path("defs.txt"), CrLf({"[box/w.txt]", "END=x"}));
  std::optional<uid_t> runAs;
  if (geteuid() == 0) runAs = Nobody;
  chmod(scratch.Path("box").c_str(), 0333);
  RunAndCheckOrder(scratch, {{scratch.Path("box/w.txt"), {1, CrLf({"rem w", "x"})}}}, runAs);
}

}  // namespace
}  // namespace zubra32::test

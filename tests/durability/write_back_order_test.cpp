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

#include "support/file_bytes.h"

#include "../e2e/child_process.hpp"

namespace fs = std::filesystem;

namespace {

std::string Program() {
  const char* path = std::getenv("ZUBRA32_E2E_PROGRAM");
  return path != nullptr && *path != '\0' ? path : ZUBRA32_PROGRAM_PATH;
}

bool ThroughLauncher() {
  const char* launcher = std::getenv("ZUBRA32_E2E_LAUNCHER");
  return launcher != nullptr && *launcher != '\0';
}

// A fresh directory under /tmp, removed with all it holds at the end.
class Scratch {
 public:
  Scratch() {
    std::string pattern = "/tmp/zubra32-durability.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = fs::canonical(pattern).string();
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

using zubra32::test::ReadFileBytes;
using zubra32::test::WriteFileBytes;

// One recorded call (see call_recorder.cpp for the fields).
struct Call {
  std::string kind;  // flush, flushfs, rename, exit
  std::string name;  // fsync, renameat, ...; for exit: the code
  bool ok = false;
  std::string file;       // DEV:INO flushed or renamed; for flushfs the device or "*"
  std::string size;       // the file's size at the call
  std::string directory;  // rename: DEV:INO of the directory renamed into
  std::string from, to;   // rename: the names; flush: the descriptor's path in `from`
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
    call.kind = f.at(0);
    call.name = f.at(1);
    if (call.kind == "flush") {
      call.ok = f.at(2) == "ok", call.file = f.at(3), call.size = f.at(4), call.from = f.at(5);
    } else if (call.kind == "flushfs") {
      call.ok = f.at(2) == "ok", call.file = f.at(3), call.from = f.at(4);
    } else if (call.kind == "rename") {
      call.ok = f.at(2) == "ok", call.file = f.at(3), call.size = f.at(4), call.directory = f.at(5);
      call.from = f.at(6), call.to = f.at(7);
    }
    calls.push_back(call);
  }
  return calls;
}

std::string Describe(const std::vector<Call>& calls) {
  std::string text = "recorded calls:\n";
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Call& c = calls[i];
    text += "  " + std::to_string(i) + ": " + c.kind + " " + c.name;
    if (c.kind != "exit") text += std::string(c.ok ? "" : " (failed)") + " " + c.from;
    if (c.kind == "rename") text += " -> " + c.to;
    if (c.kind == "flush" || c.kind == "rename") text += " [" + c.file + ", " + c.size + " bytes]";
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

// Lines ended by CR LF, as a written-back Workfile holds them.
std::string CrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// A Workfile written back: the number of renames over it and its final text.
struct Expected {
  int renames;
  std::string text;
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
void RunAndCheckOrder(const Scratch& scratch, const std::map<std::string, Expected>& workfiles,
                      std::optional<uid_t> runAs = std::nullopt) {
  Scratch logs, bin;
  const std::string log = logs.Path("calls.log");
  std::string program = Program(), recorder = ZUBRA32_CALL_RECORDER_PATH;
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

  e2e::Launch launch;
  launch.argv = {program, "defs.txt"};
  launch.env = {"LD_PRELOAD=" + recorder, "ZUBRA32_CALL_LOG=" + log};
#ifdef ZUBRA32_SANITIZED
  // The recorder comes before the sanitizer's runtime in the list of libraries.
  launch.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
#endif
  launch.cwd = scratch.Dir();
  launch.run_as = runAs;
  const e2e::Outcome outcome = e2e::run_child(launch);
  ASSERT_EQ(outcome.launch_error, "");
  ASSERT_EQ(outcome.exit_code, 0) << outcome.out << outcome.err;
  ASSERT_EQ(outcome.err, "");
  for (const auto& [path, expected] : workfiles) EXPECT_EQ(ReadFileBytes(path), expected.text) << path;

  const std::vector<Call> calls = ReadLog(log);
  ASSERT_FALSE(calls.empty()) << "nothing recorded: is " << program << " linked to the C library dynamically?";
  std::size_t end = calls.size();
  for (std::size_t i = 0; i < calls.size() && end == calls.size(); ++i) {
    if (calls[i].kind == "exit") end = i;
  }
  ASSERT_LT(end, calls.size()) << "the end of the process was not recorded\n" << Describe(calls);
  EXPECT_EQ(calls[end].name, "0") << "exit code recorded";

  for (const auto& [workfile, expected] : workfiles) {
    SCOPED_TRACE(workfile);
    std::vector<std::size_t> renames;
    for (std::size_t i = 0; i < end; ++i) {
      if (calls[i].kind == "rename" && calls[i].ok && calls[i].to == workfile) renames.push_back(i);
    }
    EXPECT_EQ(renames.size(), static_cast<std::size_t>(expected.renames)) << "renames over the Workfile";

    for (std::size_t r : renames) {
      const Call& rename = calls[r];
      // The data: a flush of the very file renamed, at the size it is renamed with.
      bool dataFlushed = false;
      for (std::size_t i = 0; i < r && !dataFlushed; ++i) {
        dataFlushed =
            calls[i].kind == "flush" && calls[i].ok && calls[i].file == rename.file && calls[i].size == rename.size;
      }
      EXPECT_TRUE(dataFlushed) << "call " << r << " renames " << rename.from << " (" << rename.size
                               << " bytes) over the Workfile, but that file's data was not flushed to disk before";

      // The name: a flush of the directory, or of its whole file system, after the rename, before the end.
      bool directoryFlushed = false;
      for (std::size_t i = r + 1; i < end && !directoryFlushed; ++i) {
        const Call& c = calls[i];
        directoryFlushed = c.ok && ((c.kind == "flush" && c.file == rename.directory) ||
                                    (c.kind == "flushfs" && (c.file == "*" || c.file == Device(rename.directory))));
      }
      EXPECT_TRUE(directoryFlushed) << "call " << r << " renames " << rename.from
                                    << " over the Workfile, but its directory was not flushed after it before the "
                                       "process ended (call "
                                    << end << ")";
    }
    if (!renames.empty()) {
      EXPECT_EQ(calls[renames.back()].file, IdentityOf(workfile)) << "the Workfile is not the file renamed last";
    }
  }
  if (::testing::Test::HasFailure()) std::cout << Describe(calls);
}

TEST(WriteBackOrder, EachWorkfileIsFlushedBeforeItsRenameAndItsDirectoryBeforeTheEnd) {
  if (ThroughLauncher()) GTEST_SKIP() << "preloads a library into the program itself";
  Scratch scratch;
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
  Scratch scratch;
  WriteFileBytes(scratch.Path("box/w.txt"), "rem w\n");
  WriteFileBytes(scratch.Path("defs.txt"), CrLf({"[box/w.txt]", "END=x"}));
  std::optional<uid_t> runAs;
  if (geteuid() == 0) runAs = Nobody;
  const std::string box = scratch.Path("box");
  struct Closed {
    std::string path;
    ~Closed() { chmod(path.c_str(), 0755); }  // opened again for the scratch tree's removal
  } closed{box};
  chmod(box.c_str(), 0333);
  RunAndCheckOrder(scratch, {{box + "/w.txt", {1, CrLf({"rem w", "x"})}}}, runAs);
}

}  // namespace

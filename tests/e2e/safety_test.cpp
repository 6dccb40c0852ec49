// What an administrator relies on when the program runs as root among other
// users' files: a Workfile is replaced only as it was loaded (never through a
// link swapped in, never over another program's change), no update is lost to
// a concurrent run, owner, group, mode bits, ACLs and other extended attributes
// stay, only regular files are edited, and a signal that ends the run leaves no
// temporary file. The program runs directly (POSIX only); the tests that need
// another user or root's attributes are skipped when not run as root.
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/file_bytes.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace zubra32::test {
namespace {

// What a shell command prints on standard output (its exit status is not looked at).
std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

bool HaveTool(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

// Waits until process `pid` has `path` open, at most `limit`; false when it never did.
bool WaitUntilOpen(pid_t pid, const std::string& path, milliseconds limit) {
  const auto until = steady_clock::now() + limit;
  const std::string descriptors = "/proc/" + std::to_string(pid) + "/fd";
  while (steady_clock::now() < until) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(descriptors, error)) {
      std::error_code unreadable;
      if (fs::read_symlink(entry.path(), unreadable) == path) return true;
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  return false;
}

// Waits until process `pid` sleeps reading a pipe (its definition file: the
// lines written so far are all taken), at most `limit`.
void WaitUntilReadingPipe(pid_t pid, milliseconds limit) {
  const auto until = steady_clock::now() + limit;
  const std::string wchan = "/proc/" + std::to_string(pid) + "/wchan";
  while (steady_clock::now() < until && ReadFileBytes(wchan).find("pipe_read") == std::string::npos)
    std::this_thread::sleep_for(milliseconds(1));
}

// Runs the program on a named pipe as its definition file: `definition` is
// written at once, and the pipe is closed (the definition file ends) only
// after `meanwhile` has run, once the program holds `workfile` open (or after
// half a second, for a program that does not hold it). This holds the run
// between the load and the write-back for as long as an attacker likes.
Outcome RunPaused(const ScratchDir& scratch, const std::string& definition, const std::string& workfile,
                  const std::function<void()>& meanwhile, const std::vector<std::string>& switches = {}) {
  const std::string fifo = scratch.Path("defs.fifo");
  if (mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  // Open for reading too, so that neither end waits for the other and the
  // program never finds the pipe without a writer before we are done.
  int pipe = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  if (pipe < 0 || write(pipe, definition.data(), definition.size()) != static_cast<ssize_t>(definition.size()))
    throw std::runtime_error("cannot write the definition pipe");
  Launch launch = LaunchIn(scratch, "defs.fifo");
  launch.Argv.insert(launch.Argv.end(), switches.begin(), switches.end());
  launch.WhileRunning = [&](pid_t pid) {
    // Held, and the section line and what follows it dealt with.
    if (WaitUntilOpen(pid, workfile, milliseconds(500))) WaitUntilReadingPipe(pid, milliseconds(2000));
    meanwhile();
    close(pipe);
  };
  Outcome outcome = RunChild(launch);
  fs::remove(fifo);
  return outcome;
}

TEST(HeldWorkfile, WhatReplacedOrChangedTheFileAfterTheLoadIsLeftAlone) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  struct Row {
    const char* What;
    std::function<void(const std::string& workfile, const std::string& secret)> Act;
    std::string Expected;  // the Workfile's text afterwards; empty: a link to the secret
  };
  const std::vector<Row> rows = {
      {"a symbolic link to a root-only file put in its place",
       [](const std::string& workfile, const std::string& secret) {
         fs::remove(workfile);
         fs::create_symlink(secret, workfile);
       },
       ""},
      {"another program's line appended in place",
       [](const std::string& workfile, const std::string&) {
         std::ofstream(workfile, std::ios::binary | std::ios::app) << "other=2\r\n";
       },
       "setting=1\r\nother=2\r\n"},
      {"same-size text written in place with its modification time restored",
       [](const std::string& workfile, const std::string&) {
         struct stat before {};
         stat(workfile.c_str(), &before);
         WriteFileBytes(workfile, "setting=2\r\n");
         const timespec times[2] = {before.st_atim, before.st_mtim};
         utimensat(AT_FDCWD, workfile.c_str(), times, 0);
       },
       "setting=2\r\n"},
      {"another program's new file renamed over it",
       [](const std::string& workfile, const std::string&) {
         WriteFileBytes(workfile + ".new", "replaced=3\r\n");
         fs::rename(workfile + ".new", workfile);
       },
       "replaced=3\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    ScratchDir scratch;
    const std::string workfile = scratch.Path("app.conf"), secret = scratch.Path("secret");
    WriteFileBytes(secret, "root only\r\n");
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    WriteFileBytes(workfile, "setting=1\r\n");
    Outcome outcome =
        RunPaused(scratch, "[" + workfile + "]\nEND=# managed\n", workfile, [&] { row.Act(workfile, secret); });
    EXPECT_EQ(outcome.ExitCode, 4) << Describe(outcome);
    EXPECT_EQ(outcome.Out, Banner + "Error in defs.fifo Line:2 File " + workfile +
                               " was changed by another program\r\nReady (Status = 4)\r\n");
    EXPECT_EQ(outcome.Err, "");
    EXPECT_EQ(ReadFileBytes(secret), "root only\r\n");
    if (row.Expected.empty()) {
      EXPECT_TRUE(fs::is_symlink(workfile));
    } else {
      EXPECT_EQ(ReadFileBytes(workfile), row.Expected);
    }
    EXPECT_EQ(scratch.OtherNames({"app.conf", "secret"}), std::vector<std::string>{});
  }
}

// A preview foresees the same: it shows no diff of a file that is no longer
// the one it loaded, and reads nothing through a link put in its place.
TEST(HeldWorkfile, APreviewReportsAFileChangedAfterTheLoadAsTheRunWould) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  ScratchDir scratch;
  const std::string workfile = scratch.Path("app.conf"), secret = scratch.Path("secret");
  WriteFileBytes(secret, "root only\r\n");
  WriteFileBytes(workfile, "setting=1\r\n");
  Outcome outcome = RunPaused(scratch, "[" + workfile + "]\nEND=# managed\n", workfile,
                              [&] {
                                fs::remove(workfile);
                                fs::create_symlink(secret, workfile);
                              },
                              {"/L"});
  EXPECT_EQ(outcome.ExitCode, 4) << Describe(outcome);
  EXPECT_EQ(outcome.Out, Banner + "Error in defs.fifo Line:2 File " + workfile +
                             " was changed by another program\r\nPreview: 0 Workfile(s) would change, nothing "
                             "written\r\nReady (Status = 4)\r\n");
  EXPECT_EQ(ReadFileBytes(secret), "root only\r\n");
}

// Root follows a link only where the kernel would (its protected links in a
// sticky directory) and where root or the owner of what it leads to laid it:
// a link another user planted never takes root's write to someone else's
// file. A /proc link to a deleted file is not read as the path it shows.
TEST(HeldWorkfile, RootFollowsOnlyLinksTheKernelAndTheirOwnersAllow) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give links other owners";
  constexpr uid_t User = 65534;
  ScratchDir scratch;
  fs::permissions(scratch.Dir(), fs::perms(0755));
  const std::string pub = scratch.Path("pub"), home = scratch.Path("home");
  fs::create_directory(pub);
  fs::permissions(pub, fs::perms(01777));
  fs::create_directory(home);
  ASSERT_EQ(chown(home.c_str(), User, User), 0);
  auto file = [](const std::string& path, uid_t owner, const std::string& text) {
    WriteFileBytes(path, text);
    EXPECT_EQ(chown(path.c_str(), owner, owner), 0);
  };
  auto link = [](const std::string& target, const std::string& path, uid_t owner) {
    fs::create_symlink(target, path);
    EXPECT_EQ(lchown(path.c_str(), owner, owner), 0);
  };
  file(scratch.Path("secret"), 0, "root only\r\n");
  fs::permissions(scratch.Path("secret"), fs::perms(0600));
  file(scratch.Path("passwd"), 0, "root:x:0:0\n");
  file(pub + "/own.txt", User, "mine\n");
  file(home + "/own.txt", User, "mine\n");
  file(home + "/given.txt", User, "given\n");
  link(scratch.Path("secret"), pub + "/w.txt", User);
  link(scratch.Path("passwd"), home + "/.profile", User);
  link(pub + "/own.txt", pub + "/mine", User);
  link(home + "/own.txt", home + "/mine", User);
  link(home + "/given.txt", scratch.Path("given"), 0);
  // A file only the program's descriptor still reaches, and one of the name its /proc link shows.
  file(scratch.Path("gone.txt"), 0, "gone\n");
  const int gone = open(scratch.Path("gone.txt").c_str(), O_RDONLY);  // inherited by the run
  ASSERT_GE(gone, 0);
  fs::remove(scratch.Path("gone.txt"));
  file(scratch.Path("gone.txt (deleted)"), 0, "decoy\n");

  // The kernel's protected links are tried where the system lets us switch them on.
  const std::string sysctl = "/proc/sys/fs/protected_symlinks";
  const std::string protectedBefore = ReadFileBytes(sysctl);
  std::ofstream(sysctl) << "1";
  const bool kernelProtects = ReadFileBytes(sysctl) == "1\n";
  const struct {
    std::string Name, Expected;  // the Workfile's text afterwards, through the name; empty: refused
    bool ByKernelOnly;
  } rows[] = {
      {"pub/w.txt", "", false},      // a user's link in a sticky directory to root's file
      {"home/.profile", "", false},  // a user's link in their home to root's file
      {"pub/mine", "", true},        // a user's link to their own file, in a sticky directory
      {"home/mine", "mine\r\nadded\r\n", false},
      {"given", "given\r\nadded\r\n", false},  // root's link to a user's file
      {"/proc/self/fd/" + std::to_string(gone), "", false},
  };
  std::string definition, expected = Banner;
  int line = 1;
  for (const auto& row : rows) {
    if (row.ByKernelOnly && !kernelProtects) continue;
    definition += "[" + row.Name + "]\nEND=added\n";
    if (row.Expected.empty())
      expected += "Error in d.def Line:" + std::to_string(line) + " File " + row.Name + " can't be read\r\n";
    line += 2;
  }
  WriteFileBytes(scratch.Path("d.def"), definition);
  Outcome outcome = RunChild(LaunchIn(scratch, "d.def"));
  std::ofstream(sysctl) << protectedBefore;
  close(gone);
  if (!kernelProtects) std::cout << "fs.protected_symlinks cannot be switched on here: the kernel's rule not tried\n";
  EXPECT_EQ(outcome.ExitCode, 4) << Describe(outcome);
  EXPECT_EQ(outcome.Out, expected + "Ready (Status = 4)\r\n");
  for (const auto& row : rows) {
    if (!row.Expected.empty()) {
      EXPECT_EQ(ReadFileBytes(scratch.Path(row.Name)), row.Expected) << row.Name;
    }
  }
  EXPECT_EQ(ReadFileBytes(scratch.Path("secret")), "root only\r\n");
  EXPECT_EQ(ReadFileBytes(scratch.Path("passwd")), "root:x:0:0\n");
  EXPECT_EQ(ReadFileBytes(pub + "/own.txt"), "mine\n");
  EXPECT_EQ(ReadFileBytes(scratch.Path("gone.txt (deleted)")), "decoy\n");
}

// A preview opens Workfiles for reading only: a program watching them sees
// no close after a write, and a run that waits for their lock is not held up.
TEST(HeldWorkfile, APreviewOpensWorkfilesForReadingOnly) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  ScratchDir scratch;
  WriteFileBytes(scratch.Path("w.txt"), "old\r\n");
  WriteFileBytes(scratch.Path("d.def"), "[w.txt]\r\nEND=new\r\n");
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, scratch.Path("w.txt").c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE), 0);
  Launch launch = LaunchIn(scratch, "d.def");
  launch.Argv.push_back("/L");
  Outcome outcome = RunChild(launch);
  EXPECT_EQ(outcome.ExitCode, 6) << Describe(outcome);
  std::uint32_t seen = 0;
  alignas(inotify_event) char events[4096];
  for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;) {
    for (char* at = events; at < events + n; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len)
      seen |= reinterpret_cast<inotify_event*>(at)->mask;
  }
  close(watch);
  EXPECT_TRUE(seen & IN_CLOSE_NOWRITE) << "the preview read the Workfile";
  EXPECT_FALSE(seen & IN_CLOSE_WRITE) << "the preview opened the Workfile for writing";
  EXPECT_EQ(ReadFileBytes(scratch.Path("w.txt")), "old\r\n");
}

// A Workfile refused for a 101st line at its start is let go at once: a run
// waiting for it goes on while the first run is still busy with later lines.
TEST(HeldWorkfile, AWorkfileRefusedForAFullHeadIsLetGoAtOnce) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  ScratchDir scratch;
  WriteFileBytes(scratch.Path("w.txt"), "old\r\n");
  WriteFileBytes(scratch.Path("b.def"), "[w.txt]\r\nEND=from b\r\n");
  std::string definition = "[" + scratch.Path("w.txt") + "]\n";
  for (int i = 0; i <= 100; ++i) definition += "START=a\n";
  Outcome waiting;
  steady_clock::duration waited{};
  Outcome first = RunPaused(scratch, definition, scratch.Path("w.txt"), [&] {
    const auto start = steady_clock::now();
    waiting = RunChild(LaunchIn(scratch, "b.def"));
    waited = steady_clock::now() - start;
  });
  EXPECT_EQ(first.ExitCode, 3) << Describe(first);
  EXPECT_EQ(waiting.ExitCode, 0) << Describe(waiting);
  EXPECT_LT(waited, seconds(5)) << "the second run waited for the refused Workfile";
  EXPECT_EQ(ReadFileBytes(scratch.Path("w.txt")), "old\r\nfrom b\r\n");
}

// Four runs append a line each to the same Workfile, a hundred times over: every
// line arrives, each run waiting for the one that holds the file.
TEST(HeldWorkfile, ConcurrentRunsLoseNoUpdate) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  constexpr int Runs = 4, Rounds = 100;
  ScratchDir scratch;
  WriteFileBytes(scratch.Path("shared.txt"), "");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int run = 0; run < Runs; ++run) {
    const std::string definition = "d" + std::to_string(run) + ".def";
    WriteFileBytes(scratch.Path(definition), "[shared.txt]\r\nEND=run " + std::to_string(run) + " round ~%ROUND~%\r\n");
    threads.emplace_back([&, definition] {
      for (int round = 0; round < Rounds; ++round) {
        Launch launch = LaunchIn(scratch, definition);
        launch.Env = {"ROUND=" + std::to_string(round)};
        Outcome outcome = RunChild(launch);
        if (outcome.ExitCode != 0 || outcome.Out != Banner) {
          if (failures++ == 0) ADD_FAILURE() << Describe(outcome);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);

  std::set<std::string> lines;
  std::istringstream text(ReadFileBytes(scratch.Path("shared.txt")));
  for (std::string line; std::getline(text, line);) lines.insert(line);
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(Runs * Rounds)) << "lines lost to concurrent runs";
}

// The mode, owner and group of a file and every extended attribute, as the
// system's own tools show them.
std::string AttributesOf(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return "missing";
  return std::to_string(status.st_mode & 07777) + " " + std::to_string(status.st_uid) + ":" +
         std::to_string(status.st_gid) + "\n" + CommandOutput("getfacl -p '" + path + "' 2>&1") +
         CommandOutput("getfattr -h -d -m - '" + path + "' 2>&1");
}

TEST(KeptAttributes, OwnerGroupModeBitsAclsAndExtendedAttributesSurviveTheWriteBack) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files other owners and trusted attributes";
  if (!HaveTool("setfacl") || !HaveTool("getfattr")) GTEST_SKIP() << "needs setfacl and getfattr (acl, attr)";
  struct Row {
    const char* Name;
    const char* Owner;
    const char* Mode;
    const char* Extra;  // a command run on the file after the mode is set
  };
  const std::vector<Row> rows = {
      {"setuid.bin", "65534:65534", "4755", ""},
      {"setgid.bin", "65534:65534", "2755", ""},
      {"both.bin", "65534:65534", "6755", ""},
      {"acl.conf", "0:65534", "0640", "setfacl -m u:65533:rw- "},
      {"labels.conf", "65534:0", "0600",
       "setfattr -n user.note -v kept {} && setfattr -n trusted.origin -v installer {} && "
       "setfattr -n security.label -v system_u:object_r:etc_t "},
  };
  ScratchDir scratch;
  std::string definition;
  std::vector<std::string> before;
  for (const Row& row : rows) {
    const std::string path = scratch.Path(row.Name);
    WriteFileBytes(path, "line\r\n");
    std::string extra = row.Extra;
    for (std::size_t at; (at = extra.find("{}")) != std::string::npos;) extra.replace(at, 2, "'" + path + "'");
    const std::string setup = std::string("chown ") + row.Owner + " '" + path + "' && chmod " + row.Mode + " '" + path +
                              "'" + (extra.empty() ? "" : " && " + extra + "'" + path + "'");
    ASSERT_EQ(std::system(setup.c_str()), 0) << setup;
    before.push_back(AttributesOf(path));
    definition += std::string("[") + row.Name + "]\r\nEND=added\r\n";
  }
  WriteFileBytes(scratch.Path("keep.def"), definition);
  Outcome outcome = RunChild(LaunchIn(scratch, "keep.def"));
  ASSERT_EQ(outcome.ExitCode, 0) << Describe(outcome);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string path = scratch.Path(rows[i].Name);
    EXPECT_EQ(ReadFileBytes(path), "line\r\nadded\r\n") << rows[i].Name;
    EXPECT_EQ(AttributesOf(path), before[i]) << rows[i].Name;
  }
}

// Not root: a member of the file's group keeps the group, so its other
// members keep their access, and so the set-group-ID bit; a file of another
// user's becomes ours, and loses its set-user-ID bit rather than come to run
// as us.
TEST(KeptAttributes, WithoutRootTheGroupStaysWhereWeBelongAndSetUserIdNeverNamesUs) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  constexpr uid_t User = 65534, Other = 65533;
  constexpr gid_t OwnGroup = 65534, SharedGroup = 65533;
  const struct {
    const char* Name;
    uid_t Owner;
    gid_t Group;
    unsigned Mode, ExpectedMode;
    uid_t ExpectedOwner;
  } rows[] = {
      {"shared.txt", User, SharedGroup, 0660, 0660, User},
      {"setgid.txt", User, SharedGroup, 02770, 02770, User},
      {"setuid.txt", Other, SharedGroup, 04666, 0666, User},
  };
  ScratchDir scratch;
  // The user's own copy of the program, since the build tree may be closed to it.
  fs::copy_file(ProgramUnderTest(), scratch.Path("zubra32"));
  fs::permissions(scratch.Path("zubra32"), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  ASSERT_EQ(chown(scratch.Dir().c_str(), User, OwnGroup), 0);
  std::string definition;
  for (const auto& row : rows) {
    WriteFileBytes(scratch.Path(row.Name), "line\r\n");
    ASSERT_EQ(chown(scratch.Path(row.Name).c_str(), row.Owner, row.Group), 0);
    ASSERT_EQ(chmod(scratch.Path(row.Name).c_str(), row.Mode), 0);
    definition += std::string("[") + row.Name + "]\r\nEND=added\r\n";
  }
  WriteFileBytes(scratch.Path("g.def"), definition);

  Launch launch = LaunchIn(scratch, "g.def");
  launch.Argv[0] = scratch.Path("zubra32");
  launch.RunAs = User;
  launch.RunAsGroup = OwnGroup;
  launch.RunAsGroups = {SharedGroup};
  Outcome outcome = RunChild(launch);
  ASSERT_EQ(outcome.ExitCode, 0) << Describe(outcome);
  for (const auto& row : rows) {
    struct stat status {};
    ASSERT_EQ(stat(scratch.Path(row.Name).c_str(), &status), 0);
    EXPECT_EQ(ReadFileBytes(scratch.Path(row.Name)), "line\r\nadded\r\n") << row.Name;
    EXPECT_EQ(status.st_uid, row.ExpectedOwner) << row.Name;
    EXPECT_EQ(status.st_gid, SharedGroup) << row.Name;
    EXPECT_EQ(status.st_mode & 07777, row.ExpectedMode) << row.Name;
  }
}

// Devices, pipes and files over the size limit are refused before anything is
// read from them, so the run stays small and nothing is ever written to them.
TEST(OnlyRegularFiles, DevicesPipesAndHugeFilesAreRefusedUntouched) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  ScratchDir scratch;
  ASSERT_EQ(mkfifo(scratch.Path("pipe").c_str(), 0600), 0);
  WriteFileBytes(scratch.Path("sparse.txt"), "");
  fs::resize_file(scratch.Path("sparse.txt"), 2ull << 30);
  std::string definition = "[/dev/zero]\nEND=x\n[/dev/urandom]\nEND=x\n[pipe]\nEND=x\n[sparse.txt]\nEND=x\n";
  std::string expected = Banner + "Error in d.def Line:1 File /dev/zero can't be read\r\n" +
                         "Error in d.def Line:3 File /dev/urandom can't be read\r\n" +
                         "Error in d.def Line:5 File pipe can't be read\r\n" +
                         "Error in d.def Line:7 sparse.txt has more than 1073741824 bytes\r\n";

  // A block device too, where the system lets us make one.
  std::string loop, imageBytes(1 << 20, '\0');
  for (std::size_t i = 0; i < imageBytes.size(); ++i)
    imageBytes[i] = static_cast<char>(i % 10 == 9 ? '\n' : 'a' + i % 10);
  WriteFileBytes(scratch.Path("image"), imageBytes);
  if (geteuid() == 0 && HaveTool("losetup")) {
    loop = CommandOutput("losetup -f --show '" + scratch.Path("image") + "' 2>/dev/null");
    if (!loop.empty() && loop.back() == '\n') loop.pop_back();
  }
  if (!loop.empty()) {
    definition += "[" + loop + "]\nEND=x\n";
    expected += "Error in d.def Line:9 File " + loop + " can't be read\r\n";
  } else {
    std::cout << "no loop device could be set up: block devices not tried\n";
  }
  expected += "Ready (Status = 4)\r\n";
  WriteFileBytes(scratch.Path("d.def"), definition);

  Launch launch = LaunchIn(scratch, "d.def");
#ifndef ZUBRA32_E2E_SANITIZED
  launch.AddressSpaceLimit = 256u << 20;
#endif
  const auto start = steady_clock::now();
  Outcome outcome = RunChild(launch);
  const auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
  if (!loop.empty()) {
    EXPECT_EQ(std::system(("losetup -d " + loop).c_str()), 0) << loop << " left attached";
  }
  EXPECT_EQ(outcome.ExitCode, 4) << Describe(outcome);
  EXPECT_EQ(outcome.Out, expected);
  EXPECT_LT(took, 5000) << "refusing took " << took << " ms";
  EXPECT_TRUE(fs::is_fifo(scratch.Path("pipe")));
  EXPECT_EQ(fs::file_size(scratch.Path("sparse.txt")), 2ull << 30);
  EXPECT_EQ(ReadFileBytes(scratch.Path("image")), imageBytes);
  EXPECT_EQ(scratch.OtherNames({"pipe", "sparse.txt", "image", "d.def"}), std::vector<std::string>{});
}

// A signal that ends the run in the middle of a write-back takes the temporary
// file with it: the Workfile is exactly as it was, and nothing is left beside it.
// The file-size limit ends nothing: a write past it fails like any other.
TEST(Signals, EachEndsTheRunWithoutLeavingTheTemporaryFile) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  constexpr int LineCount = 2500;
  constexpr std::size_t LineLength = 20000;
  std::string oldText;
  for (int i = 0; i < LineCount; ++i)
    oldText += "line " + std::to_string(i) + " " + std::string(LineLength, 'x') + "\r\n";
  // A core dump of SIGQUIT would be one more file beside the Workfile.
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);

  ScratchDir scratch;
  const std::string workfile = scratch.Path("big.txt");
  WriteFileBytes(scratch.Path("defs.txt"), "[big.txt]\r\nline=+ appended\r\n[small.txt]\r\nEND=added\r\n");
  auto temporaryExists = [&] {
    for (const auto& entry : fs::directory_iterator(scratch.Dir()))
      if (entry.path().filename().string().rfind(".big.txt.zubra32-", 0) == 0) return true;
    return false;
  };
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ}) {
    SCOPED_TRACE(std::string("signal ") + strsignal(signal));
    WriteFileBytes(workfile, oldText);
    WriteFileBytes(scratch.Path("small.txt"), "");
    Launch launch = LaunchIn(scratch, "defs.txt");
    if (signal == SIGXFSZ) {
      // The file-size limit sends it when the write passes the limit.
      launch.FileSizeLimit = oldText.size() / 2;
    } else {
      launch.WhileRunning = [&](pid_t pid) {
        const auto until = steady_clock::now() + seconds(10);
        while (!temporaryExists() && steady_clock::now() < until) std::this_thread::yield();
        kill(pid, signal);
      };
    }
    Outcome outcome = RunChild(launch);
    if (signal == SIGXFSZ) {
      EXPECT_EQ(outcome.ExitCode, 4) << Describe(outcome);
      EXPECT_EQ(outcome.Out,
                Banner + "Error in defs.txt Line:3 File big.txt can't be written\r\nReady (Status = 4)\r\n");
      EXPECT_EQ(ReadFileBytes(scratch.Path("small.txt")), "added\r\n") << "the run goes on";
    } else {
      EXPECT_EQ(outcome.Signal, signal) << Describe(outcome);
    }
    EXPECT_EQ(outcome.Err, "");
    EXPECT_TRUE(ReadFileBytes(workfile) == oldText) << "the Workfile changed";
    EXPECT_EQ(scratch.OtherNames({"big.txt", "small.txt", "defs.txt"}), std::vector<std::string>{});
  }
}

// A Workfile deeper than the longest path the system takes in one call is
// reached a directory at a time.
TEST(HeldWorkfile, PathsLongerThanTheSystemLimitWork) {
  if (ThroughLauncher()) GTEST_SKIP() << "runs the program directly";
  ScratchDir scratch;
  const std::string part(200, 'd');
  std::string relative;
  int directory = open(scratch.Dir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int depth = 0; depth < 25; ++depth) {
    ASSERT_EQ(mkdirat(directory, part.c_str(), 0755), 0);
    int next = openat(directory, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(directory);
    directory = next;
    relative += part + "/";
  }
  auto readDeep = [&] {
    std::string text(64, '\0');
    int fd = openat(directory, "w.txt", O_RDONLY | O_CLOEXEC);
    ssize_t n = fd < 0 ? -1 : read(fd, text.data(), text.size());
    if (fd >= 0) close(fd);
    return n < 0 ? std::string("unreadable") : text.substr(0, static_cast<std::size_t>(n));
  };
  int file = openat(directory, "w.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_EQ(write(file, "old\r\n", 5), 5);
  close(file);
  ASSERT_GT(relative.size(), static_cast<std::size_t>(PATH_MAX));
  WriteFileBytes(scratch.Path("deep.def"), "[" + relative + "w.txt]\r\nEND=new\r\n");

  Outcome outcome = RunChild(LaunchIn(scratch, "deep.def"));
  EXPECT_EQ(outcome.ExitCode, 0) << Describe(outcome);
  EXPECT_EQ(readDeep(), "old\r\nnew\r\n");
  // Taken down a level at a time: the tree is too deep for one path.
  unlinkat(directory, "w.txt", 0);
  for (int depth = 0; depth < 25; ++depth) {
    int parent = openat(directory, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(directory);
    unlinkat(parent, part.c_str(), AT_REMOVEDIR);
    directory = parent;
  }
  close(directory);
}

}  // namespace
}  // namespace zubra32::test

// End-to-end runner: one GoogleTest test per case file in the cases folder.
// Each case runs the built program in a fresh scratch directory and checks
// its output, exit code and every file of the scratch tree afterwards.
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/file_bytes.h"

#include "case_file.hpp"

namespace fs = std::filesystem;

namespace e2e {
namespace {

using zubra32::test::Launch;
using zubra32::test::Outcome;
using zubra32::test::ProgramUnderTest;
using zubra32::test::ReadFileBytes;
using zubra32::test::RunChild;
using zubra32::test::ScratchDir;
using zubra32::test::WriteFileBytes;

constexpr uid_t Nobody = 65534;

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

// A program file ending in .exe is the Windows program: it runs under the
// launcher (wine) through the start helper and sees Windows paths.
bool WindowsProgram() {
  std::string name = fs::path(ProgramUnderTest()).filename().string();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return name.size() > 4 && name.substr(name.size() - 4) == ".exe";
}

// The platform whose cases run here; the others are skipped.
std::string RunningPlatform() { return WindowsProgram() ? "windows" : "posix"; }

// The name under which a Windows program running under wine sees a file:
// drive Z: is the root of the Unix tree.
std::string WindowsPath(std::string unixPath) {
  std::replace(unixPath.begin(), unixPath.end(), '/', '\\');
  return "Z:" + unixPath;
}

// The helper that starts the Windows program (tests/windows/e2e_launch.cpp),
// built beside it unless ZUBRA32_E2E_WINDOWS_LAUNCH names it.
std::string LaunchHelperPath() {
  return EnvOr("ZUBRA32_E2E_WINDOWS_LAUNCH",
               (fs::path(ProgramUnderTest()).parent_path() / "zubra32_e2e_launch.exe").string());
}

// A Windows command line that the program takes apart into exactly `args`:
// an argument holding blanks or control bytes is put in quotes. An empty
// argument can only be written as "", which the program skips. An argument
// holding a quote goes on the line as written, its quotes being the
// command line's own, so that a case can spell any command line.
std::string WindowsCommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line = "\"" + program + "\"";
  for (const auto& arg : args) {
    bool asWritten = arg.find('"') != std::string::npos;
    bool quote = arg.empty() || std::any_of(arg.begin(), arg.end(), [](unsigned char ch) { return ch <= ' '; });
    line += !asWritten && quote ? " \"" + arg + "\"" : " " + arg;
  }
  return line;
}

// What wine itself needs to find its prefix, stay quiet and map file names
// the same way on every machine; nothing of it reaches the program, which
// gets the case's environment from the helper.
std::vector<std::string> WineEnvironment() {
  std::vector<std::string> env;
  bool debugSet = false;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view var = *entry;
    if (var.rfind("WINE", 0) == 0 || var.rfind("HOME=", 0) == 0 || var.rfind("USER=", 0) == 0) env.emplace_back(var);
    debugSet = debugSet || var.rfind("WINEDEBUG=", 0) == 0;
  }
  if (!debugSet) env.emplace_back("WINEDEBUG=-all");
  // Unix file names in UTF-8, whatever the runner's locale; the Windows side
  // then has code pages 1252 (ANSI) and 437 (OEM).
  env.emplace_back("LANG=C.UTF-8");
  return env;
}

// Drops what wine writes to standard error on its own account: its start-up
// notes ("wine: ...") and debug channel lines ("0024:fixme:...").
std::string WithoutWineChatter(const std::string& err) {
  std::string kept;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    bool debugLine = line.size() > 5 && line[4] == ':' &&
                     std::all_of(line.begin(), line.begin() + 4, [](unsigned char ch) { return std::isxdigit(ch); }) &&
                     (line.compare(5, 6, "fixme:") == 0 || line.compare(5, 4, "err:") == 0 ||
                      line.compare(5, 5, "warn:") == 0 || line.compare(5, 6, "trace:") == 0);
    if (debugLine || line.rfind("wine: ", 0) == 0) continue;
    kept += line;
    if (!lines.eof()) kept += '\n';
  }
  return kept;
}

// The command line for one run: an optional launcher (ZUBRA32_E2E_LAUNCHER,
// e.g. "wine") in front of the program. The child gets no PATH, so the
// launcher is looked up here.
std::vector<std::string> CommandLine(const std::string& program, std::vector<std::string> args) {
  std::vector<std::string> argv;
  std::istringstream launcher(EnvOr("ZUBRA32_E2E_LAUNCHER", ""));
  for (std::string word; launcher >> word;) argv.push_back(word);
  if (!argv.empty() && argv[0].find('/') == std::string::npos) {
    std::istringstream dirs(EnvOr("PATH", "/usr/bin:/bin"));
    for (std::string dir; std::getline(dirs, dir, ':');)
      if (access((dir + "/" + argv[0]).c_str(), X_OK) == 0) {
        argv[0] = dir + "/" + argv[0];
        break;
      }
  }
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// What the scratch tree holds: kind 'f' (data = bytes), 'l' (data = link
// target), 'd' or '?' (anything else).
struct Entry {
  char Kind;
  std::string Data;
  mode_t Mode = 0;
  Owner OwnedBy{};
};
using Tree = std::map<std::string, Entry>;

const char* KindName(char kind) {
  return kind == 'f' ? "file" : kind == 'l' ? "symlink" : kind == 'd' ? "directory" : "special file";
}

// Records the tree below root/rel. Directories and files are opened up for
// the owner while being read and get their modes back afterwards.
void Scan(const std::string& root, const std::string& rel, Tree* tree) {
  for (const auto& item : fs::directory_iterator(root + "/" + rel)) {
    std::string name = (rel.empty() ? "" : rel + "/") + item.path().filename().string();
    std::string full = root + "/" + name;
    struct stat st {};
    lstat(full.c_str(), &st);
    Entry entry{'?', {}, static_cast<mode_t>(st.st_mode & 07777), {st.st_uid, st.st_gid}};
    if (S_ISLNK(st.st_mode)) {
      entry = {'l', fs::read_symlink(full).string(), entry.Mode, entry.OwnedBy};
    } else if (S_ISDIR(st.st_mode)) {
      entry.Kind = 'd';
      chmod(full.c_str(), entry.Mode | 0700);
      Scan(root, name, tree);
      chmod(full.c_str(), entry.Mode);
    } else if (S_ISREG(st.st_mode)) {
      chmod(full.c_str(), entry.Mode | 0400);
      entry = {'f', ReadFileBytes(full), entry.Mode, entry.OwnedBy};
      chmod(full.c_str(), entry.Mode);
    }
    tree->emplace(name, entry);
  }
}

// Shows bytes the way a case file writes them, e.g. "PATH=C:\DOS{CR}{LF}".
std::string Visible(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r')
      out += "{CR}";
    else if (c == '\n')
      out += "{LF}\n";
    else if (c == '\t')
      out += "{TAB}";
    else if (c == 0)
      out += "{NUL}";
    else if (c == 0x1A)
      out += "{SUB}";
    else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "{x%02X}", c);
      out += hex;
    } else
      out += static_cast<char>(c);
  }
  return out;
}

// Long texts are cut to a window around the first difference.
std::string Excerpt(const std::string& bytes, std::size_t at) {
  constexpr std::size_t Before = 1000, After = 2000;
  std::size_t from = at > Before ? at - Before : 0;
  std::string out = from ? "[...]" : "";
  out += Visible(std::string_view(bytes).substr(from, Before + After));
  if (from + Before + After < bytes.size()) out += "[...]";
  return out;
}

std::string CompareBytes(const std::string& what, const std::string& want, const std::string& got) {
  if (want == got) return "";
  auto at =
      static_cast<std::size_t>(std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first - want.begin());
  auto line = std::count(want.begin(), want.begin() + static_cast<long>(at), '\n') + 1;
  std::ostringstream msg;
  msg << what << " differs at byte " << at << " (line " << line << ")\n--- expected (" << want.size() << " bytes):\n"
      << Excerpt(want, at) << "\n--- actual (" << got.size() << " bytes):\n"
      << Excerpt(got, at);
  return msg.str();
}

void AddParents(const std::string& path, Tree* tree) {
  for (auto slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
    tree->emplace(path.substr(0, slash), Entry{'d', {}});
}

// A preview (an argument after the first that is /L or --dry-run, in any
// letter case) must leave the tree untouched, as `=== untouched` asks.
bool ExpectsUntouched(const Case& c) {
  auto same = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
             return std::tolower(x) == std::tolower(y);
           });
  };
  for (std::size_t i = 1; i < c.Args.size(); ++i)
    if (same(c.Args[i], "/L") || same(c.Args[i], "--dry-run")) return true;
  return c.Untouched;
}

// The modification and status-change times of every entry of the tree,
// the scratch directory itself ("") included, read with lstat alone: reading
// the tree must not change what it records.
using Times = std::map<std::string, std::pair<struct timespec, struct timespec>>;

void RecordTimes(const std::string& root, const std::string& rel, Times* times) {
  struct stat st {};
  std::string full = rel.empty() ? root : root + "/" + rel;
  if (lstat(full.c_str(), &st) != 0) return;
  (*times)[rel] = {st.st_mtim, st.st_ctim};
  if (!S_ISDIR(st.st_mode)) return;
  std::error_code error;
  for (const auto& item : fs::directory_iterator(full, error))
    RecordTimes(root, (rel.empty() ? "" : rel + "/") + item.path().filename().string(), times);
}

std::string CompareTimes(const Times& before, const Times& after) {
  auto same = [](const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  };
  std::string report;
  for (const auto& [name, times] : before) {
    auto it = after.find(name);
    std::string shown = name.empty() ? "the scratch directory" : name;
    if (it == after.end())
      report += shown + ": gone\n";
    else if (!same(times.first, it->second.first))
      report += shown + ": modification time changed\n";
    else if (!same(times.second, it->second.second))
      report += shown + ": status-change time changed\n";
  }
  for (const auto& [name, times] : after)
    if (!before.count(name)) report += name + ": appeared\n";
  return report;
}

bool AllowedExtra(const Case& c, std::string name) {
  while (true) {  // the entry itself or a directory it lies in
    for (const auto& glob : c.AllowExtra)
      if (fnmatch(glob.c_str(), name.c_str(), 0) == 0) return true;
    auto slash = name.rfind('/');
    if (slash == std::string::npos) return false;
    name.resize(slash);
  }
}

class CaseTest : public testing::Test {
 public:
  explicit CaseTest(std::string path) : CasePath(std::move(path)) {}

  void TestBody() override {
    Case c;
    try {
      c = ParseCase(CasePath);
    } catch (const std::exception& e) {
      FAIL() << e.what();
    }
    SCOPED_TRACE(c.Title.empty() ? CasePath : c.Title + " (" + CasePath + ")");
    if (!c.Platform.empty() && c.Platform != RunningPlatform()) GTEST_SKIP() << "case for platform " << c.Platform;
    std::string program = ProgramUnderTest();
    ASSERT_TRUE(fs::exists(program)) << "program not found: " << program;
    const bool windows = RunningPlatform() == "windows";
    ASSERT_FALSE(windows && c.RunAsNobody) << "run-as nobody needs '=== platform posix'";
    const bool owners = !c.Owners.empty() || !c.ExpectOwners.empty();
    ASSERT_FALSE(windows && owners) << "owner blocks need '=== platform posix'";
    // Only root can give a file to another user; the whole case waits for a root runner.
    if (owners && geteuid() != 0) GTEST_SKIP() << "owner blocks need a root runner";
    Scratch.emplace("zubra32-e2e");
    Values.Dir = windows ? WindowsPath(Scratch->Dir()) : Scratch->Dir();
    const bool dropRoot = c.RunAsNobody && geteuid() == 0;
    if (dropRoot) {  // the build tree may be closed to others: run a copy
      BinDir.emplace("zubra32-e2e-bin");
      chmod(BinDir->Dir().c_str(), 0755);
      std::string copy = BinDir->Path(fs::path(program).filename().string());
      fs::copy_file(program, copy);
      chmod(copy.c_str(), 0755);
      program = copy;
    }
    Tree want = BuildInputs(c, dropRoot);
    const bool untouched = ExpectsUntouched(c);
    ASSERT_FALSE(untouched && !c.Expect.empty()) << "a case that leaves the tree untouched expects no file";
    Times timesBefore;
    if (untouched) RecordTimes(Scratch->Dir(), "", &timesBefore);

    Launch launch;
    for (const auto& arg : c.Args) launch.Argv.push_back(Expand(arg, Values));
    for (const auto& var : c.Env.Lines)
      if (!var.empty()) launch.Env.push_back(Expand(var, Values));
    if (windows) {
      std::string helper = LaunchHelperPath();
      ASSERT_TRUE(fs::exists(helper)) << "start helper not found: " << helper;
      AuxDir.emplace("zubra32-e2e-win");
      std::string windowsProgram = WindowsPath(fs::canonical(program).string());
      std::string request = windowsProgram + '\0' + WindowsCommandLine(windowsProgram, launch.Argv) + '\0';
      for (const auto& var : launch.Env) request += var + '\0';
      WriteFileBytes(AuxDir->Path("request"), request);
      launch.Argv = CommandLine(helper, {WindowsPath(AuxDir->Path("request"))});
      launch.Env = WineEnvironment();
    } else {
      launch.Argv = CommandLine(program, launch.Argv);
    }
    launch.Cwd = Scratch->Dir();
    if (dropRoot) launch.RunAs = Nobody;
    launch.TimeoutSeconds = c.TimeoutSeconds;
    const Outcome got = RunChild(launch);
    Times timesAfter;
    if (untouched) RecordTimes(Scratch->Dir(), "", &timesAfter);

    ASSERT_EQ(got.LaunchError, "");
    ASSERT_FALSE(got.TimedOut) << "killed after " << c.TimeoutSeconds << " s; stdout so far:\n" << Excerpt(got.Out, 0);
    EXPECT_EQ(got.Signal, 0) << "killed by signal " << got.Signal;
    TokenValues outValues = Values;
    outValues.Program = windows ? WindowsPath(fs::canonical(program).string()) : fs::canonical(program).string();
    outValues.Copyright = true;
    std::string diff = CompareBytes("stdout", Render(c.StdoutText, outValues), got.Out);
    EXPECT_TRUE(diff.empty()) << diff;
    EXPECT_EQ(got.ExitCode, c.ExitCode) << "exit code";
    const std::string err = windows ? WithoutWineChatter(got.Err) : got.Err;
    EXPECT_TRUE(err.empty()) << "stderr (must stay empty):\n" << Excerpt(err, 0);
    if (untouched) {
      std::string changed = CompareTimes(timesBefore, timesAfter);
      EXPECT_TRUE(changed.empty()) << "the tree must stay untouched, times included:\n" << changed;
    }
    CheckTree(c, want);
  }

  // The scratch directories go with the test object, the case's own tree
  // unless ZUBRA32_E2E_KEEP asks for it.
  void TearDown() override {
    if (!Scratch || !std::getenv("ZUBRA32_E2E_KEEP")) return;
    Scratch->Keep();
    std::cout << "scratch tree kept: " << Scratch->Dir() << "\n";
  }

 private:
  // Writes the case's inputs; returns the tree as it must look if the
  // program changes nothing.
  Tree BuildInputs(const Case& c, bool chownToNobody) {
    Tree want;
    auto makeParents = [&](const std::string& path) {
      AddParents(path, &want);
      fs::create_directories(fs::path(Scratch->Path(path)).parent_path());
    };
    for (const auto& d : c.Dirs) makeParents(d.Path + "/");
    for (const auto& f : c.Files) {
      makeParents(f.Path);
      want[f.Path] = {'f', Render(f.Content, Values)};
      WriteFileBytes(Scratch->Path(f.Path), want[f.Path].Data);
    }
    for (const auto& h : c.Hardlinks) {
      makeParents(h.Path);
      fs::create_hard_link(Scratch->Path(h.Target), Scratch->Path(h.Path));
      want[h.Path] = want.at(h.Target);
    }
    for (const auto& s : c.Symlinks) {
      makeParents(s.Path);
      fs::create_symlink(s.Target, Scratch->Path(s.Path));
      want[s.Path] = {'l', s.Target};
    }
    if (chownToNobody) {
      // A case that runs as another user means nothing if its files stay root's.
      auto giveToNobody = [&](const std::string& path) {
        if (lchown(path.c_str(), Nobody, Nobody) != 0)
          throw std::runtime_error("lchown " + path + ": " + std::strerror(errno));
      };
      for (const auto& [name, entry] : want) giveToNobody(Scratch->Path(name));
      giveToNobody(Scratch->Dir());
    }
    // Owners before modes: a change of owner clears the set-user-ID and set-group-ID bits.
    for (const auto& [name, owner] : c.Owners)
      if (lchown(Scratch->Path(name).c_str(), owner.Uid, owner.Gid) != 0)
        throw std::runtime_error("cannot give " + name + " its owner: " + std::strerror(errno));
    for (const auto& f : c.Files)
      if (f.Mode) chmod(Scratch->Path(f.Path).c_str(), *f.Mode);
    auto dirs = c.Dirs;  // deepest first, so that closing one blocks no other
    std::sort(dirs.begin(), dirs.end(), [](auto& a, auto& b) { return a.Path.size() > b.Path.size(); });
    for (const auto& d : dirs)
      if (d.Mode) chmod(Scratch->Path(d.Path).c_str(), *d.Mode);
    return want;
  }

  void CheckTree(const Case& c, Tree want) {
    for (const auto& [name, block] : c.Expect) {
      AddParents(name, &want);
      want[name] = {'f', Render(block, Values)};
    }
    Tree after;
    Scan(Scratch->Dir(), "", &after);
    for (const auto& [name, entry] : after) {
      auto it = want.find(name);
      if (it == want.end()) {
        EXPECT_TRUE(AllowedExtra(c, name)) << "unexpected " << KindName(entry.Kind) << ": " << name;
      } else if (it->second.Kind != entry.Kind) {
        ADD_FAILURE() << name << ": expected a " << KindName(it->second.Kind) << ", found a " << KindName(entry.Kind);
      } else if (entry.Kind == 'l') {
        EXPECT_EQ(entry.Data, it->second.Data) << "target of symlink " << name;
      } else if (entry.Kind == 'f') {
        std::string diff = CompareBytes("file " + name, it->second.Data, entry.Data);
        EXPECT_TRUE(diff.empty()) << diff;
      }
    }
    for (const auto& [name, entry] : want) EXPECT_TRUE(after.count(name)) << "missing afterwards: " << name;
    for (const auto& [name, mode] : c.ExpectMode) {
      auto it = after.find(name);
      if (it == after.end())
        ADD_FAILURE() << "missing afterwards: " << name;
      else if (it->second.Mode != mode)
        ADD_FAILURE() << std::oct << "mode of " << name << ": expected 0" << mode << ", found 0" << it->second.Mode;
    }
    for (const auto& [name, owner] : c.ExpectOwners) {
      auto it = after.find(name);
      if (it == after.end())
        ADD_FAILURE() << "missing afterwards: " << name;
      else if (!(it->second.OwnedBy == owner))
        ADD_FAILURE() << "owner of " << name << ": expected " << owner.Uid << ":" << owner.Gid << ", found "
                      << it->second.OwnedBy.Uid << ":" << it->second.OwnedBy.Gid;
    }
  }

  std::string CasePath;
  std::optional<ScratchDir> Scratch, BinDir, AuxDir;
  TokenValues Values;  // tokens for arguments, environment and files
};

// GoogleTest names allow letters, digits and '_' only (ctest filters read
// '-' as "exclude").
std::string TestName(const fs::path& file) {
  std::string name = file.stem().string();
  std::replace_if(
      name.begin(), name.end(), [](unsigned char ch) { return !std::isalnum(ch); }, '_');
  return name;
}

class FailingTest : public testing::Test {
 public:
  explicit FailingTest(std::string message) : Message(std::move(message)) {}
  void TestBody() override { FAIL() << Message; }

 private:
  std::string Message;
};

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::vector<fs::path> files;
  std::error_code error;
  const std::string casesDir = e2e::EnvOr("ZUBRA32_E2E_CASES", ZUBRA32_E2E_CASES_DIR);
  for (const auto& item : fs::directory_iterator(casesDir, error))
    if (item.path().extension() == ".case") files.push_back(item.path());
  std::sort(files.begin(), files.end());
  std::set<std::string> names;
  for (const auto& file : files) {
    std::string name = e2e::TestName(file);
    if (!names.insert(name).second) {
      std::string message = "two case files map to test name " + name;
      testing::RegisterTest("e2e", (name + "_duplicate").c_str(), nullptr, nullptr, __FILE__, __LINE__,
                            [message]() -> testing::Test* { return new e2e::FailingTest(message); });
      continue;
    }
    testing::RegisterTest("e2e", name.c_str(), nullptr, nullptr, file.c_str(), 1,
                          [file]() -> testing::Test* { return new e2e::CaseTest(file.string()); });
  }
  if (files.empty())
    testing::RegisterTest("e2e", "no_cases", nullptr, nullptr, __FILE__, __LINE__, [casesDir]() -> testing::Test* {
      return new e2e::FailingTest("no .case files in " + casesDir);
    });
  return RUN_ALL_TESTS();
}

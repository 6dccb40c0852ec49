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

constexpr uid_t nobody = 65534;

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

// A program file ending in .exe is the Windows program: it runs under the
// launcher (wine) through the start helper and sees Windows paths.
bool windows_program() {
  std::string name = fs::path(ProgramUnderTest()).filename().string();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return name.size() > 4 && name.substr(name.size() - 4) == ".exe";
}

// The platform whose cases run here; the others are skipped.
std::string running_platform() { return windows_program() ? "windows" : "posix"; }

// The name under which a Windows program running under wine sees a file:
// drive Z: is the root of the Unix tree.
std::string windows_path(std::string unix_path) {
  std::replace(unix_path.begin(), unix_path.end(), '/', '\\');
  return "Z:" + unix_path;
}

// The helper that starts the Windows program (tests/windows/e2e_launch.cpp),
// built beside it unless ZUBRA32_E2E_WINDOWS_LAUNCH names it.
std::string launch_helper_path() {
  return env_or("ZUBRA32_E2E_WINDOWS_LAUNCH",
                (fs::path(ProgramUnderTest()).parent_path() / "zubra32_e2e_launch.exe").string());
}

// A Windows command line that the program takes apart into exactly `args`:
// an argument holding blanks or control bytes is put in quotes. An empty
// argument can only be written as "", which the program skips. An argument
// holding a quote goes on the line as written, its quotes being the
// command line's own, so that a case can spell any command line.
std::string windows_command_line(const std::string& program, const std::vector<std::string>& args) {
  std::string line = "\"" + program + "\"";
  for (const auto& arg : args) {
    bool as_written = arg.find('"') != std::string::npos;
    bool quote = arg.empty() || std::any_of(arg.begin(), arg.end(), [](unsigned char ch) { return ch <= ' '; });
    line += !as_written && quote ? " \"" + arg + "\"" : " " + arg;
  }
  return line;
}

// What wine itself needs to find its prefix, stay quiet and map file names
// the same way on every machine; nothing of it reaches the program, which
// gets the case's environment from the helper.
std::vector<std::string> wine_environment() {
  std::vector<std::string> env;
  bool debug_set = false;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view var = *entry;
    if (var.rfind("WINE", 0) == 0 || var.rfind("HOME=", 0) == 0 || var.rfind("USER=", 0) == 0) env.emplace_back(var);
    debug_set = debug_set || var.rfind("WINEDEBUG=", 0) == 0;
  }
  if (!debug_set) env.emplace_back("WINEDEBUG=-all");
  // Unix file names in UTF-8, whatever the runner's locale; the Windows side
  // then has code pages 1252 (ANSI) and 437 (OEM).
  env.emplace_back("LANG=C.UTF-8");
  return env;
}

// Drops what wine writes to standard error on its own account: its start-up
// notes ("wine: ...") and debug channel lines ("0024:fixme:...").
std::string without_wine_chatter(const std::string& err) {
  std::string kept;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    bool debug_line = line.size() > 5 && line[4] == ':' &&
                      std::all_of(line.begin(), line.begin() + 4, [](unsigned char ch) { return std::isxdigit(ch); }) &&
                      (line.compare(5, 6, "fixme:") == 0 || line.compare(5, 4, "err:") == 0 ||
                       line.compare(5, 5, "warn:") == 0 || line.compare(5, 6, "trace:") == 0);
    if (debug_line || line.rfind("wine: ", 0) == 0) continue;
    kept += line;
    if (!lines.eof()) kept += '\n';
  }
  return kept;
}

// The command line for one run: an optional launcher (ZUBRA32_E2E_LAUNCHER,
// e.g. "wine") in front of the program. The child gets no PATH, so the
// launcher is looked up here.
std::vector<std::string> command_line(const std::string& program, std::vector<std::string> args) {
  std::vector<std::string> argv;
  std::istringstream launcher(env_or("ZUBRA32_E2E_LAUNCHER", ""));
  for (std::string word; launcher >> word;) argv.push_back(word);
  if (!argv.empty() && argv[0].find('/') == std::string::npos) {
    std::istringstream dirs(env_or("PATH", "/usr/bin:/bin"));
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
  char kind;
  std::string data;
  mode_t mode = 0;
  Owner owner{};
};
using Tree = std::map<std::string, Entry>;

const char* kind_name(char kind) {
  return kind == 'f' ? "file" : kind == 'l' ? "symlink" : kind == 'd' ? "directory" : "special file";
}

// Records the tree below root/rel. Directories and files are opened up for
// the owner while being read and get their modes back afterwards.
void scan(const std::string& root, const std::string& rel, Tree* tree) {
  for (const auto& item : fs::directory_iterator(root + "/" + rel)) {
    std::string name = (rel.empty() ? "" : rel + "/") + item.path().filename().string();
    std::string full = root + "/" + name;
    struct stat st {};
    lstat(full.c_str(), &st);
    Entry entry{'?', {}, static_cast<mode_t>(st.st_mode & 07777), {st.st_uid, st.st_gid}};
    if (S_ISLNK(st.st_mode)) {
      entry = {'l', fs::read_symlink(full).string(), entry.mode, entry.owner};
    } else if (S_ISDIR(st.st_mode)) {
      entry.kind = 'd';
      chmod(full.c_str(), entry.mode | 0700);
      scan(root, name, tree);
      chmod(full.c_str(), entry.mode);
    } else if (S_ISREG(st.st_mode)) {
      chmod(full.c_str(), entry.mode | 0400);
      entry = {'f', ReadFileBytes(full), entry.mode, entry.owner};
      chmod(full.c_str(), entry.mode);
    }
    tree->emplace(name, entry);
  }
}

// Shows bytes the way a case file writes them, e.g. "PATH=C:\DOS{CR}{LF}".
std::string visible(std::string_view bytes) {
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
std::string excerpt(const std::string& bytes, std::size_t at) {
  constexpr std::size_t before = 1000, after = 2000;
  std::size_t from = at > before ? at - before : 0;
  std::string out = from ? "[...]" : "";
  out += visible(std::string_view(bytes).substr(from, before + after));
  if (from + before + after < bytes.size()) out += "[...]";
  return out;
}

std::string compare_bytes(const std::string& what, const std::string& want, const std::string& got) {
  if (want == got) return "";
  auto at =
      static_cast<std::size_t>(std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first - want.begin());
  auto line = std::count(want.begin(), want.begin() + static_cast<long>(at), '\n') + 1;
  std::ostringstream msg;
  msg << what << " differs at byte " << at << " (line " << line << ")\n--- expected (" << want.size() << " bytes):\n"
      << excerpt(want, at) << "\n--- actual (" << got.size() << " bytes):\n"
      << excerpt(got, at);
  return msg.str();
}

void add_parents(const std::string& path, Tree* tree) {
  for (auto slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
    tree->emplace(path.substr(0, slash), Entry{'d', {}});
}

// A preview (an argument after the first that is /L or --dry-run, in any
// letter case) must leave the tree untouched, as `=== untouched` asks.
bool expects_untouched(const Case& c) {
  auto same = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
             return std::tolower(x) == std::tolower(y);
           });
  };
  for (std::size_t i = 1; i < c.args.size(); ++i)
    if (same(c.args[i], "/L") || same(c.args[i], "--dry-run")) return true;
  return c.untouched;
}

// The modification and status-change times of every entry of the tree,
// the scratch directory itself ("") included, read with lstat alone: reading
// the tree must not change what it records.
using Times = std::map<std::string, std::pair<struct timespec, struct timespec>>;

void record_times(const std::string& root, const std::string& rel, Times* times) {
  struct stat st {};
  std::string full = rel.empty() ? root : root + "/" + rel;
  if (lstat(full.c_str(), &st) != 0) return;
  (*times)[rel] = {st.st_mtim, st.st_ctim};
  if (!S_ISDIR(st.st_mode)) return;
  std::error_code error;
  for (const auto& item : fs::directory_iterator(full, error))
    record_times(root, (rel.empty() ? "" : rel + "/") + item.path().filename().string(), times);
}

std::string compare_times(const Times& before, const Times& after) {
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

bool allowed_extra(const Case& c, std::string name) {
  while (true) {  // the entry itself or a directory it lies in
    for (const auto& glob : c.allow_extra)
      if (fnmatch(glob.c_str(), name.c_str(), 0) == 0) return true;
    auto slash = name.rfind('/');
    if (slash == std::string::npos) return false;
    name.resize(slash);
  }
}

class CaseTest : public testing::Test {
 public:
  explicit CaseTest(std::string path) : path_(std::move(path)) {}

  void TestBody() override {
    Case c;
    try {
      c = parse_case(path_);
    } catch (const std::exception& e) {
      FAIL() << e.what();
    }
    SCOPED_TRACE(c.title.empty() ? path_ : c.title + " (" + path_ + ")");
    if (!c.platform.empty() && c.platform != running_platform()) GTEST_SKIP() << "case for platform " << c.platform;
    std::string program = ProgramUnderTest();
    ASSERT_TRUE(fs::exists(program)) << "program not found: " << program;
    const bool windows = running_platform() == "windows";
    ASSERT_FALSE(windows && c.run_as_nobody) << "run-as nobody needs '=== platform posix'";
    const bool owners = !c.owner.empty() || !c.expect_owner.empty();
    ASSERT_FALSE(windows && owners) << "owner blocks need '=== platform posix'";
    // Only root can give a file to another user; the whole case waits for a root runner.
    if (owners && geteuid() != 0) GTEST_SKIP() << "owner blocks need a root runner";
    Scratch.emplace("zubra32-e2e");
    values_.dir = windows ? windows_path(Scratch->Dir()) : Scratch->Dir();
    const bool drop_root = c.run_as_nobody && geteuid() == 0;
    if (drop_root) {  // the build tree may be closed to others: run a copy
      BinDir.emplace("zubra32-e2e-bin");
      chmod(BinDir->Dir().c_str(), 0755);
      std::string copy = BinDir->Path(fs::path(program).filename().string());
      fs::copy_file(program, copy);
      chmod(copy.c_str(), 0755);
      program = copy;
    }
    Tree want = build_inputs(c, drop_root);
    const bool untouched = expects_untouched(c);
    ASSERT_FALSE(untouched && !c.expect.empty()) << "a case that leaves the tree untouched expects no file";
    Times times_before;
    if (untouched) record_times(Scratch->Dir(), "", &times_before);

    Launch launch;
    for (const auto& arg : c.args) launch.Argv.push_back(expand(arg, values_));
    for (const auto& var : c.env.lines)
      if (!var.empty()) launch.Env.push_back(expand(var, values_));
    if (windows) {
      std::string helper = launch_helper_path();
      ASSERT_TRUE(fs::exists(helper)) << "start helper not found: " << helper;
      AuxDir.emplace("zubra32-e2e-win");
      std::string windows_program = windows_path(fs::canonical(program).string());
      std::string request = windows_program + '\0' + windows_command_line(windows_program, launch.Argv) + '\0';
      for (const auto& var : launch.Env) request += var + '\0';
      WriteFileBytes(AuxDir->Path("request"), request);
      launch.Argv = command_line(helper, {windows_path(AuxDir->Path("request"))});
      launch.Env = wine_environment();
    } else {
      launch.Argv = command_line(program, launch.Argv);
    }
    launch.Cwd = Scratch->Dir();
    if (drop_root) launch.RunAs = nobody;
    launch.TimeoutSeconds = c.timeout_seconds;
    const Outcome got = RunChild(launch);
    Times times_after;
    if (untouched) record_times(Scratch->Dir(), "", &times_after);

    ASSERT_EQ(got.LaunchError, "");
    ASSERT_FALSE(got.TimedOut) << "killed after " << c.timeout_seconds << " s; stdout so far:\n" << excerpt(got.Out, 0);
    EXPECT_EQ(got.Signal, 0) << "killed by signal " << got.Signal;
    TokenValues out_values = values_;
    out_values.program = windows ? windows_path(fs::canonical(program).string()) : fs::canonical(program).string();
    out_values.copyright = true;
    std::string diff = compare_bytes("stdout", render(c.stdout_text, out_values), got.Out);
    EXPECT_TRUE(diff.empty()) << diff;
    EXPECT_EQ(got.ExitCode, c.exit_code) << "exit code";
    const std::string err = windows ? without_wine_chatter(got.Err) : got.Err;
    EXPECT_TRUE(err.empty()) << "stderr (must stay empty):\n" << excerpt(err, 0);
    if (untouched) {
      std::string changed = compare_times(times_before, times_after);
      EXPECT_TRUE(changed.empty()) << "the tree must stay untouched, times included:\n" << changed;
    }
    check_tree(c, want);
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
  Tree build_inputs(const Case& c, bool chown_to_nobody) {
    Tree want;
    auto make_parents = [&](const std::string& path) {
      add_parents(path, &want);
      fs::create_directories(fs::path(Scratch->Path(path)).parent_path());
    };
    for (const auto& d : c.dirs) make_parents(d.path + "/");
    for (const auto& f : c.files) {
      make_parents(f.path);
      want[f.path] = {'f', render(f.content, values_)};
      WriteFileBytes(Scratch->Path(f.path), want[f.path].data);
    }
    for (const auto& h : c.hardlinks) {
      make_parents(h.path);
      fs::create_hard_link(Scratch->Path(h.target), Scratch->Path(h.path));
      want[h.path] = want.at(h.target);
    }
    for (const auto& s : c.symlinks) {
      make_parents(s.path);
      fs::create_symlink(s.target, Scratch->Path(s.path));
      want[s.path] = {'l', s.target};
    }
    if (chown_to_nobody) {
      // A case that runs as another user means nothing if its files stay root's.
      auto give_to_nobody = [&](const std::string& path) {
        if (lchown(path.c_str(), nobody, nobody) != 0)
          throw std::runtime_error("lchown " + path + ": " + std::strerror(errno));
      };
      for (const auto& [name, entry] : want) give_to_nobody(Scratch->Path(name));
      give_to_nobody(Scratch->Dir());
    }
    // Owners before modes: a change of owner clears the set-user-ID and set-group-ID bits.
    for (const auto& [name, owner] : c.owner)
      if (lchown(Scratch->Path(name).c_str(), owner.uid, owner.gid) != 0)
        throw std::runtime_error("cannot give " + name + " its owner: " + std::strerror(errno));
    for (const auto& f : c.files)
      if (f.mode) chmod(Scratch->Path(f.path).c_str(), *f.mode);
    auto dirs = c.dirs;  // deepest first, so that closing one blocks no other
    std::sort(dirs.begin(), dirs.end(), [](auto& a, auto& b) { return a.path.size() > b.path.size(); });
    for (const auto& d : dirs)
      if (d.mode) chmod(Scratch->Path(d.path).c_str(), *d.mode);
    return want;
  }

  void check_tree(const Case& c, Tree want) {
    for (const auto& [name, block] : c.expect) {
      add_parents(name, &want);
      want[name] = {'f', render(block, values_)};
    }
    Tree after;
    scan(Scratch->Dir(), "", &after);
    for (const auto& [name, entry] : after) {
      auto it = want.find(name);
      if (it == want.end()) {
        EXPECT_TRUE(allowed_extra(c, name)) << "unexpected " << kind_name(entry.kind) << ": " << name;
      } else if (it->second.kind != entry.kind) {
        ADD_FAILURE() << name << ": expected a " << kind_name(it->second.kind) << ", found a " << kind_name(entry.kind);
      } else if (entry.kind == 'l') {
        EXPECT_EQ(entry.data, it->second.data) << "target of symlink " << name;
      } else if (entry.kind == 'f') {
        std::string diff = compare_bytes("file " + name, it->second.data, entry.data);
        EXPECT_TRUE(diff.empty()) << diff;
      }
    }
    for (const auto& [name, entry] : want) EXPECT_TRUE(after.count(name)) << "missing afterwards: " << name;
    for (const auto& [name, mode] : c.expect_mode) {
      auto it = after.find(name);
      if (it == after.end())
        ADD_FAILURE() << "missing afterwards: " << name;
      else if (it->second.mode != mode)
        ADD_FAILURE() << std::oct << "mode of " << name << ": expected 0" << mode << ", found 0" << it->second.mode;
    }
    for (const auto& [name, owner] : c.expect_owner) {
      auto it = after.find(name);
      if (it == after.end())
        ADD_FAILURE() << "missing afterwards: " << name;
      else if (!(it->second.owner == owner))
        ADD_FAILURE() << "owner of " << name << ": expected " << owner.uid << ":" << owner.gid << ", found "
                      << it->second.owner.uid << ":" << it->second.owner.gid;
    }
  }

  std::string path_;
  std::optional<ScratchDir> Scratch, BinDir, AuxDir;
  TokenValues values_;  // tokens for arguments, environment and files
};

// GoogleTest names allow letters, digits and '_' only (ctest filters read
// '-' as "exclude").
std::string test_name(const fs::path& file) {
  std::string name = file.stem().string();
  std::replace_if(
      name.begin(), name.end(), [](unsigned char ch) { return !std::isalnum(ch); }, '_');
  return name;
}

class FailingTest : public testing::Test {
 public:
  explicit FailingTest(std::string message) : message_(std::move(message)) {}
  void TestBody() override { FAIL() << message_; }

 private:
  std::string message_;
};

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::vector<fs::path> files;
  std::error_code error;
  const std::string cases_dir = e2e::env_or("ZUBRA32_E2E_CASES", ZUBRA32_E2E_CASES_DIR);
  for (const auto& item : fs::directory_iterator(cases_dir, error))
    if (item.path().extension() == ".case") files.push_back(item.path());
  std::sort(files.begin(), files.end());
  std::set<std::string> names;
  for (const auto& file : files) {
    std::string name = e2e::test_name(file);
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
    testing::RegisterTest("e2e", "no_cases", nullptr, nullptr, __FILE__, __LINE__, [cases_dir]() -> testing::Test* {
      return new e2e::FailingTest("no .case files in " + cases_dir);
    });
  return RUN_ALL_TESTS();
}

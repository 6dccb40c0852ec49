// Fuzz target: a whole run of the read loop over an arbitrary definition file
// and one arbitrary Workfile.
//
// The input is the definition file, then optionally the separator line
// "=====WORKFILE=====" and the Workfile's bytes. Each input runs in a fresh
// scratch directory (the process's working directory) holding
//   d    the definition file       w    the Workfile
//   ro   a read-only file          sub  a directory
// Every '/' of the definition file becomes '\', so that no name reaches
// outside the scratch directory. The program's own read loop runs the input,
// and after each line the target checks:
//   - head and tail never exceed 100 lines, the body 2500, and the
//     upper-case copy of the body (and the byte-pair sets of its lines, once
//     the searches use them) stays in step with it;
//   - a line that is not a section line never changes the body line count;
//   - w changes only when a changed buffer naming it is closed, and then
//     holds exactly that buffer's head, body and tail, each line ended by
//     CR LF (otherwise it is exactly as before);
//   - ro never changes, and no temporary file is ever left behind.
// The Workfile's bytes may end with the line "=====FAULT=====" and two bytes:
// a kind of platform call (runtime/platform_faults.h, taken modulo
// FaultKindCount; Replace, Windows's ReplaceFileA, fails nothing here) and a
// count n (0 for none). The n-th call of that kind on w (its loads, its
// temporary file, its renames and the directory flushes after them) then
// fails, and a write-back that fails must leave w exactly as it was (after a
// failed directory flush: exactly new) and the status 4.
#include <limits.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "deflang/expansion.h"
#include "driver/read_loop.h"
#include "fuzz_support.h"
#include "runtime/byte_search.h"
#include "runtime/console.h"
#include "runtime/platform_faults.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"
#include "workfile/work_buffer.h"
#include "workfile/workfile_text.h"

namespace {

using namespace zubra32;
using zubra32::fuzz::Check;

constexpr std::string_view Separator = "\n=====WORKFILE=====\n";
constexpr std::string_view FaultSeparator = "\n=====FAULT=====\n";
constexpr std::size_t MaxInputBytes = 256 * 1024;
const std::string ReadOnlyText = "read-only\r\nfile\r\n";

// The fault of the current input, and what became of it.
struct Fault {
  int Kind = -1;
  int FailAt = 0;
  int Seen = 0;
  int WriteBackFailures = 0;  // failed calls of a write-back of w so far
  bool LastRenameWasW = false;
};
Fault fault;

std::string PathOf(platform::Handle handle) {
  std::array<char, PATH_MAX> path{};
  std::string link = "/proc/self/fd/" + std::to_string(handle);
  ssize_t length = readlink(link.c_str(), path.data(), path.size() - 1);
  return length < 0 ? std::string() : std::string(path.data(), static_cast<std::size_t>(length));
}

std::string_view BaseName(std::string_view path) { return path.substr(path.rfind('/') + 1); }
bool IsTemporaryOfW(std::string_view path) { return BaseName(path).rfind(".w.zubra32-", 0) == 0; }

// What the loop makes of the line before the section stage: true when it
// names a Workfile (and so closes the current one).
bool IsSectionLine(const std::string& line) {
  std::string probe(TrimmedView(line));
  if (!probe.empty() && probe.front() == '\'') return false;
  Reporting quiet;
  ExpandVariables(probe, quiet);
  if (EqualIgnoringCase(probe, "[DEBUG]")) return false;
  return !probe.empty() && probe.front() == '[';
}

// The bytes a write-back of the buffer gives.
std::string Render(const WorkBuffer& work) {
  std::string text;
  WriteBackBytes(work, [&text](std::string_view bytes) { text.append(bytes); });
  return text;
}

bool NamesW(const WorkBuffer& work) { return CutAtNul(work.Current.Name()) == "w"; }

void CheckBuffer(const WorkBuffer& work) {
  Check(work.HeadCount() <= MaxHeadLines, "head holds at most 100 lines");
  Check(work.TailCount() <= MaxTailLines, "tail holds at most 100 lines");
  Check(work.LineCount() <= MaxBodyLines, "body holds at most 2500 lines");
  // The body's search against a plain one on upper-cased copies, for a text
  // taken from the body itself (so that it is found) and its lines' bytes.
  if (work.LineCount() > 0) {
    std::string_view line = work.BodyLines.Line(work.LineCount() / 2);
    std::string needle = UpperCase(line.substr(line.size() / 3, 3));
    const FoldedSearch search = work.BodyLines.SearchFor(needle);
    for (std::size_t i = 0; i < work.LineCount(); ++i) {
      std::string upper = UpperCase(work.BodyLines.Line(i));
      std::size_t expected = needle.empty() ? std::string::npos : upper.find(needle);
      Check(search.FindIn(work.BodyLines.Line(i)) == expected, "the body's search finds what a plain one finds");
    }
  }
}

// Checks w after a step that may have closed `before`; `failedWriteBack`
// tells whether an injected failure hit the write-back of w in that step.
// `status` is the run's status after the close, or -1 when the step went on
// to load another Workfile, whose errors would have replaced it.
void CheckWorkfileAfterClose(const WorkBuffer& before, const std::string& oldText, const std::string& newText,
                             bool failedWriteBack, std::int32_t status) {
  bool writesW = NamesW(before) && before.WorkfileModified;
  if (!writesW) {
    Check(newText == oldText, "a Workfile not written back stays exactly as it was");
  } else if (failedWriteBack) {
    Check(status < 0 || status == ExitUnreadableOrUnwritable, "a failed write-back sets status 4");
    bool renamed = fault.Kind == static_cast<int>(platform::FaultKind::DirectoryFlush);
    Check(newText == (renamed ? Render(before) : oldText), "a failed write-back leaves the Workfile exactly old");
  } else {
    Check(newText == Render(before), "a closed, changed Workfile holds exactly its buffer");
  }
}

void CheckDirectory() {
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    std::string name = entry.path().filename().string();
    Check(name == "d" || name == "w" || name == "ro" || name == "sub", "no file but the inputs is left behind");
    ++entries;
  }
  Check(entries == 4, "every input is still there");
  Check(fuzz::ReadFileBytes("ro") == ReadOnlyText, "a read-only file is never written");
}

void PrepareDirectory(std::string_view definition, std::string_view workfile) {
  for (const auto& entry : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(entry.path());
  fuzz::WriteFileBytes("d", definition);
  fuzz::WriteFileBytes("w", workfile);
  fuzz::WriteFileBytes("ro", ReadOnlyText);
  std::filesystem::permissions("ro", std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  std::filesystem::create_directory("sub");
}

}  // namespace

namespace zubra32::platform {

// The fault seam's hook: fails the chosen call on w.
bool InjectedFailure(FaultKind kind, Handle handle, std::string_view name, ErrorCode& error) {
  std::string path = handle != InvalidHandle ? PathOf(handle) : std::string(CutAtNul(name));
  bool temporary = IsTemporaryOfW(path);
  bool onW = kind == FaultKind::DirectoryFlush ? fault.LastRenameWasW : temporary || BaseName(path) == "w";
  if (kind == FaultKind::Rename) fault.LastRenameWasW = onW;
  if (!onW || static_cast<int>(kind) != fault.Kind || ++fault.Seen != fault.FailAt) return false;
  bool writeBack =
      temporary || kind == FaultKind::CreateTemporary || kind == FaultKind::Rename || kind == FaultKind::DirectoryFlush;
  if (writeBack) ++fault.WriteBackFailures;
  error = EIO;
  return true;
}

}  // namespace zubra32::platform

// The process's working directory changes, so the corpus directories and
// artifact paths of the command line are made absolute first.
static void MakePathArgumentsAbsolute(int* argc, char*** argv) {
  static std::vector<std::string> arguments;
  static std::vector<char*> pointers;
  const std::string here = std::filesystem::current_path().string() + "/";
  for (int i = 0; i < *argc; ++i) {
    std::string argument = (*argv)[i];
    for (std::string_view option : {"", "-artifact_prefix=", "-exact_artifact_path="}) {
      bool isPath =
          option.empty() ? i > 0 && !argument.empty() && argument.front() != '-' : argument.rfind(option, 0) == 0;
      if (isPath && argument.size() > option.size() && argument[option.size()] != '/') {
        argument.insert(option.size(), here);
        break;
      }
    }
    arguments.push_back(std::move(argument));
  }
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  *argv = pointers.data();
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  MakePathArgumentsAbsolute(argc, argv);
  // Relative Workfile names resolve here from now on; it goes at the exit.
  static const fuzz::ScratchDir scratch("zubra32-fuzz", fuzz::ScratchBase());
  if (chdir(scratch.Dir().c_str()) != 0) fuzz::Broken("chdir to the scratch directory");
  fuzz::InstallFixedEnvironment();
  // What the runs print is not checked here (the tests do that), only produced:
  // debug traces of long expanded lines can be large.
  Output().OpenWrite("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > MaxInputBytes) return -1;
  std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t split = input.find(Separator);
  std::string definition = input.substr(0, split);
  std::string workfile = split == std::string::npos ? std::string() : input.substr(split + Separator.size());
  fault = Fault{};
  if (std::size_t trailer = workfile.find(FaultSeparator); trailer != std::string::npos) {
    std::string choice = workfile.substr(trailer + FaultSeparator.size());
    workfile.resize(trailer);
    if (choice.size() >= 2) {
      fault.Kind = static_cast<unsigned char>(choice[0]) % platform::FaultKindCount;
      fault.FailAt = static_cast<unsigned char>(choice[1]);
    }
  }
  for (char& byte : definition) {
    if (byte == '/') byte = '\\';
  }
  PrepareDirectory(definition, workfile);

  // The state of w and of the buffer before the line or the close that may write it back.
  std::string wText = workfile;
  WorkBuffer before;
  bool section = false;
  int failures = 0;
  RunWatch watch;
  watch.BeforeLine = [&](const RunState& run, const WorkBuffer& work) {
    section = IsSectionLine(run.CurrentLine);
    before = work;
    failures = fault.WriteBackFailures;
  };
  watch.AfterLine = [&](const RunState&, const WorkBuffer& work) {
    if (section) {
      std::string now = fuzz::ReadFileBytes("w");
      CheckWorkfileAfterClose(before, wText, now, fault.WriteBackFailures > failures, -1);
      wText = now;
      CheckBuffer(before);
    } else {
      Check(work.LineCount() == before.LineCount(), "the body line count never changes after the load");
      Check(work.HeadCount() >= before.HeadCount() && work.TailCount() >= before.TailCount(),
            "head and tail only grow");
      Check(work.HeadCount() <= MaxHeadLines && work.TailCount() <= MaxTailLines,
            "head and tail hold at most 100 lines");
    }
  };
  watch.BeforeEnd = [&](const RunState&, const WorkBuffer& work) {
    CheckBuffer(work);
    before = work;
    failures = fault.WriteBackFailures;
  };
  watch.AfterEnd = [&](const RunState& run, const WorkBuffer&) {
    CheckWorkfileAfterClose(before, wText, fuzz::ReadFileBytes("w"), fault.WriteBackFailures > failures,
                            run.Report.RunStatus);
  };
  std::int32_t status = ExecuteDefinitionFile("d", {}, watch);
  Check(status >= 0 && status <= 4, "the status is an exit code of a run");
  CheckDirectory();
  return 0;
}

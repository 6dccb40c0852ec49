// The fault walk of the Windows platform file: a realistic run over several
// Workfiles, repeated once for every seam call that its Workfile loads and
// write-backs make, with exactly that call failing. Each time the run must
// report the one Workfile in the one right error line, end with status 4,
// leave that Workfile byte for byte as it was, leave no temporary file behind
// and apply every other section as a clean run does. A failed ReplaceFileA is
// no failure of the run: a held file is tried again, anything else is
// completed by MoveFileExA; those two policies are walked too. Linked with
// the core built with the fault seam (runtime/platform_faults.h); run under
// wine, prints one line per failed check and exits 1 when any failed.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "driver/read_loop.h"
#include "runtime/console.h"
#include "runtime/platform_faults.h"
#include "runtime/reporting.h"
#include "runtime/text_file.h"
#include "support/file_bytes.h"
#include "support/walk_run.h"

namespace zubra32::platform {

namespace {

// Calls of `Kind` on `Workfile` (any Workfile when empty), counted from 1
// per Workfile or over all, that fail with `Error`: calls `From` to `To`.
struct Rule {
  FaultKind Kind;
  std::string Workfile;
  int From = 1, To = 1;
  ErrorCode Error = 0;
};

// The faults of one run and the seam calls it made on the Workfiles, whose
// folder's path holds `Marker`; calls on anything else (the definition file,
// the console file) are neither counted nor failed.
struct FaultPlan {
  std::string Marker;
  std::vector<Rule> Rules;
  std::array<int, FaultKindCount> SeenByKind{};
  std::map<std::pair<int, std::string>, int> SeenOn;      // per kind and Workfile
  std::string WritingBack;                                // the Workfile whose temporary file is open
  std::vector<std::pair<FaultKind, std::string>> Failed;  // each failed call and its Workfile

  // The Workfiles of the failed calls of `kind`.
  std::vector<std::string> FailedOn(FaultKind kind) const {
    std::vector<std::string> workfiles;
    for (const auto& [failedKind, workfile] : Failed) {
      if (failedKind == kind) workfiles.push_back(workfile);
    }
    return workfiles;
  }
  // How many calls of `kind` were made on `workfile`.
  int Seen(FaultKind kind, const std::string& workfile) const {
    auto found = SeenOn.find({static_cast<int>(kind), workfile});
    return found == SeenOn.end() ? 0 : found->second;
  }
};
FaultPlan plan;

std::string Lower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

std::string PathOf(Handle handle) {
  char path[MAX_PATH * 4];
  DWORD length = GetFinalPathNameByHandleA(reinterpret_cast<HANDLE>(handle), path, sizeof path, FILE_NAME_NORMALIZED);
  return length == 0 || length >= sizeof path ? std::string() : std::string(path, length);
}

}  // namespace

bool InjectedFailure(FaultKind kind, Handle handle, std::string_view name, ErrorCode& error) {
  if (plan.Marker.empty()) return false;
  std::string path = Lower(handle != InvalidHandle ? PathOf(handle) : std::string(name));
  std::size_t at = path.find(plan.Marker);
  if (at == std::string::npos) return false;
  // The Workfile: the file's own name, or for its temporary file the one being written back.
  std::string workfile = path.substr(at + plan.Marker.size());
  if (kind == FaultKind::CreateTemporary) plan.WritingBack = workfile;
  if (workfile.rfind("~zubra32-", 0) == 0) workfile = plan.WritingBack;
  const int all = ++plan.SeenByKind[static_cast<std::size_t>(kind)];
  const int onWorkfile = ++plan.SeenOn[{static_cast<int>(kind), workfile}];
  for (const Rule& rule : plan.Rules) {
    int n = rule.Workfile.empty() ? all : onWorkfile;
    if (rule.Kind != kind || (!rule.Workfile.empty() && rule.Workfile != workfile) || n < rule.From || n > rule.To) {
      continue;
    }
    plan.Failed.emplace_back(kind, workfile);
    error = rule.Error;
    return true;
  }
  return false;
}

}  // namespace zubra32::platform

namespace {

using zubra32::platform::FaultKind;
using zubra32::platform::plan;
using zubra32::platform::Rule;
using zubra32::test::ReadFileBytes;
using zubra32::test::WriteFileBytes;
using namespace zubra32::test;

int failures = 0;

void Fail(const std::string& where, const std::string& what) {
  std::printf("fault_walk_windows_test: %s: failed: %s\n", where.c_str(), what.c_str());
  ++failures;
}

const std::array<std::string, zubra32::platform::FaultKindCount> KindNames = {
    "open",  "read",   "create temporary file", "write",   "flush",
    "close", "rename", "directory flush",       "replace", "copy attributes"};

// What makes each kind of call fail in the walk.
const std::array<DWORD, zubra32::platform::FaultKindCount> WalkErrors = {
    ERROR_ACCESS_DENIED, ERROR_READ_FAULT,  ERROR_ACCESS_DENIED,
    ERROR_DISK_FULL,     ERROR_DISK_FULL,   ERROR_WRITE_FAULT,
    ERROR_WRITE_FAULT,   ERROR_WRITE_FAULT, ERROR_UNABLE_TO_REMOVE_REPLACED,
    ERROR_ACCESS_DENIED};

// The files of a folder and their bytes.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") files[name] = ReadFileBytes(folder + name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return files;
}

std::string Names(const std::map<std::string, std::string>& files) {
  std::string names;
  for (const auto& entry : files) names += (names.empty() ? "" : ", ") + entry.first;
  return names;
}

class Walk {
 public:
  Walk() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string leaf = "zubra32-faultwalk-" + std::to_string(GetCurrentProcessId());
    Root = std::string(temp) + leaf + "\\";
    FilesDir = Root + "files\\";
    CreateDirectoryA(Root.c_str(), nullptr);
    Marker = "\\" + leaf + "\\files\\";
    Definition = Root + "walk.def";
    ConsoleFile = Root + "console.txt";
    Originals = {
        {"autoexec.bat", CrLf({"@ECHO OFF", "SET TEMP=C:\\WINDOWS\\TEMP", "C:\\MOUSE\\ctmouse.exe", "PATH C:\\DOS"})},
        {"config.sys", CrLf({"DEVICE=C:\\DOS\\HIMEM.SYS", "DOS=HIGH,UMB", "FILES=40"})},
        {"unchanged.ini", CrLf({"[boot]", "shell=progman.exe"})},
        {"big.txt", BigWalkWorkfile()},
    };
    DefinitionText = WalkDefinition(FilesDir);
    SectionLine = WalkSectionLine;
    CloseLine = WalkCloseLine;
    MissingLine = ErrorLine(2, " File " + FilesDir + "missing.txt not found");
    SetEnvironmentVariableA("USERNAME", "alice");
  }
  ~Walk() {
    for (const auto& entry : Files(FilesDir)) DeleteFileA((FilesDir + entry.first).c_str());
    RemoveDirectoryA(FilesDir.c_str());
    DeleteFileA(Definition.c_str());
    DeleteFileA(ConsoleFile.c_str());
    RemoveDirectoryA(Root.c_str());
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  // Runs the definition file on fresh Workfiles with the given faults.
  std::int32_t Run(const std::vector<Rule>& rules) {
    for (const auto& entry : Files(FilesDir)) DeleteFileA((FilesDir + entry.first).c_str());
    CreateDirectoryA(FilesDir.c_str(), nullptr);
    for (const auto& [name, text] : Originals) WriteFileBytes(FilesDir + name, text);
    WriteFileBytes(Definition, DefinitionText);
    plan = {};
    plan.Marker = zubra32::platform::Lower(Marker);
    plan.Rules = rules;
    zubra32::Output().OpenWrite(ConsoleFile);
    std::int32_t status = zubra32::ExecuteDefinitionFile(Definition);
    zubra32::Output().OpenWrite("");
    plan.Marker.clear();
    Console = ReadFileBytes(ConsoleFile);
    return status;
  }

  std::map<std::string, std::string> Workfiles() const { return Files(FilesDir); }

  std::string ErrorLine(int line, const std::string& rest) const {
    return "Error in " + Definition + " Line:" + std::to_string(line) + rest + "\r\n";
  }
  std::string ReadError(const std::string& workfile) const {
    return ErrorLine(SectionLine.at(workfile), " File " + FilesDir + workfile + " can't be read");
  }
  std::string WriteError(const std::string& workfile) const {
    return ErrorLine(CloseLine.at(workfile), " File " + FilesDir + workfile + " can't be written");
  }

  // Checks a run that failed `workfile` (none when empty): the console, the
  // status, every Workfile as the clean run left it except that one, which
  // holds `text`, and nothing else in the folder.
  void Expect(const std::string& where, std::int32_t status, const std::string& errorLine, const std::string& workfile,
              const std::string& text) {
    const bool failed = !errorLine.empty();
    const std::string ready = failed ? "Ready (Status = 4)\r\n" : "Ready (Status = 2)\r\n";
    if (status != (failed ? zubra32::ExitUnreadableOrUnwritable : zubra32::ExitMissingFile)) {
      Fail(where, "status " + std::to_string(status));
    }
    if (Console != MissingLine + errorLine + ready) Fail(where, "console:\n" + Console);
    std::map<std::string, std::string> expected = Clean, files = Files(FilesDir);
    if (!workfile.empty()) expected[workfile] = text;
    if (Names(files) != Names(expected)) Fail(where, "the folder holds " + Names(files));
    for (const auto& [name, bytes] : expected) {
      if (files.count(name) == 1 && files.at(name) != bytes) {
        Fail(where, name + (bytes == Originals.at(name) ? " is not as it was" : " does not hold its new text"));
      }
    }
  }

  // The Workfiles' bytes: before a run, and after the clean run.
  std::map<std::string, std::string> Originals, Clean;
  std::string Console;  // what the last run wrote

 private:
  std::map<std::string, int> SectionLine, CloseLine;
  std::string Root, FilesDir, Marker, Definition, ConsoleFile, DefinitionText, MissingLine;
};

}  // namespace

int main() {
  const ULONGLONG start = GetTickCount64();
  Walk walk;

  // The clean run: what every section makes of its Workfile, and how many
  // seam calls of each kind the Workfiles take.
  std::int32_t status = walk.Run({});
  walk.Clean = walk.Workfiles();
  const auto calls = plan.SeenByKind;
  walk.Expect("clean run", status, "", "", "");
  for (const auto& [name, text] : walk.Originals) {
    auto found = walk.Clean.find(name);
    if (found == walk.Clean.end() || (found->second == text) != (name == "unchanged.ini")) {
      Fail("clean run", name + " is not as a clean run leaves it");
    }
  }

  // Every call, with exactly that call failing. MoveFileExA is called only
  // after ReplaceFileA failed: its calls are walked with every ReplaceFileA
  // of the run failing, each Workfile's new text then put in place by it.
  int walked = 0;
  std::string summary;
  for (std::size_t k = 0; k < calls.size(); ++k) {
    const auto kind = static_cast<FaultKind>(k);
    if (kind == FaultKind::DirectoryFlush || kind == FaultKind::CopyAttributes) continue;  // POSIX only
    std::vector<Rule> context;
    int count = calls[k];
    if (kind == FaultKind::Rename) {
      context = {{FaultKind::Replace, "", 1, 1000, ERROR_UNABLE_TO_REMOVE_REPLACED}};  // one per write-back
      status = walk.Run(context);
      count = plan.SeenByKind[k];
      walk.Expect("every ReplaceFileA failing", status, "", "", "");
      if (count != 3) Fail("every ReplaceFileA failing", "MoveFileExA calls: " + std::to_string(count));
    } else if (count == 0) {
      Fail(KindNames[k], "never called");
    }
    summary += " " + KindNames[k] + " " + std::to_string(count);
    for (int n = 1; n <= count; ++n) {
      const std::string where = KindNames[k] + " call " + std::to_string(n);
      std::vector<Rule> rules = context;
      rules.push_back({kind, "", n, n, static_cast<zubra32::platform::ErrorCode>(WalkErrors[k])});
      status = walk.Run(rules);
      ++walked;
      const std::vector<std::string> failedOn = plan.FailedOn(kind);
      if (failedOn.size() != 1 || walk.Originals.count(failedOn.front()) == 0) {
        Fail(where, "the call was not made on a Workfile");
        continue;
      }
      const std::string failed = failedOn.front();
      if (kind == FaultKind::Replace) {
        // Completed by MoveFileExA: the run is as clean, with one rename more.
        walk.Expect(where, status, "", "", "");
        if (plan.SeenByKind[static_cast<std::size_t>(FaultKind::Rename)] != 1) Fail(where, "no single MoveFileExA");
        continue;
      }
      const bool read = kind == FaultKind::Open || kind == FaultKind::Read;
      walk.Expect(where, status, read ? walk.ReadError(failed) : walk.WriteError(failed), failed,
                  walk.Originals.at(failed));
    }
  }

  // A held Workfile: ReplaceFileA is tried again after a pause, and goes
  // through once the file is free.
  status = walk.Run({{FaultKind::Replace, "autoexec.bat", 1, 3, ERROR_SHARING_VIOLATION}});
  walk.Expect("held three times", status, "", "", "");
  if (plan.Seen(FaultKind::Replace, "autoexec.bat") != 4) Fail("held three times", "not 4 attempts");
  // Held for good: "can't be written" after a bounded number of attempts,
  // with no MoveFileExA round the holder.
  for (DWORD error : {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED}) {
    const std::string where = "held for good (error " + std::to_string(error) + ")";
    status = walk.Run({{FaultKind::Replace, "config.sys", 1, 1000, static_cast<int>(error)}});
    walk.Expect(where, status, walk.WriteError("config.sys"), "config.sys", walk.Originals.at("config.sys"));
    int attempts = plan.Seen(FaultKind::Replace, "config.sys");
    if (attempts != 5) Fail(where, std::to_string(attempts) + " attempts");
    if (plan.SeenByKind[static_cast<std::size_t>(FaultKind::Rename)] != 0) Fail(where, "MoveFileExA round a held file");
  }

  // Any other failure of ReplaceFileA: MoveFileExA completes the replacement,
  // tried again itself on a held file; when it fails too, the Workfile stays.
  status = walk.Run({{FaultKind::Replace, "big.txt", 1, 1, ERROR_UNABLE_TO_REMOVE_REPLACED}});
  walk.Expect("ReplaceFileA failing", status, "", "", "");
  status = walk.Run({{FaultKind::Replace, "big.txt", 1, 1, ERROR_UNABLE_TO_REMOVE_REPLACED},
                     {FaultKind::Rename, "big.txt", 1, 2, ERROR_SHARING_VIOLATION}});
  walk.Expect("ReplaceFileA failing, MoveFileExA held twice", status, "", "", "");
  status = walk.Run({{FaultKind::Replace, "big.txt", 1, 1, ERROR_UNABLE_TO_REMOVE_REPLACED},
                     {FaultKind::Rename, "big.txt", 1, 1, ERROR_WRITE_FAULT}});
  walk.Expect("ReplaceFileA and MoveFileExA failing", status, walk.WriteError("big.txt"), "big.txt",
              walk.Originals.at("big.txt"));
  status = walk.Run({{FaultKind::Replace, "big.txt", 1, 1, ERROR_UNABLE_TO_REMOVE_REPLACED},
                     {FaultKind::Rename, "big.txt", 1, 1000, ERROR_SHARING_VIOLATION}});
  walk.Expect("ReplaceFileA failing, MoveFileExA held for good", status, walk.WriteError("big.txt"), "big.txt",
              walk.Originals.at("big.txt"));
  if (plan.Seen(FaultKind::Rename, "big.txt") != 5) Fail("MoveFileExA held for good", "not 5 attempts");

  std::printf("fault_walk_windows_test: %s; %d failing calls walked (calls:%s) in %llu ms\n",
              failures == 0 ? "all checks passed" : "FAILED", walked, summary.c_str(), GetTickCount64() - start);
  return failures == 0 ? 0 : 1;
}

// The durability order of the Windows write-back: on a multi-section run,
// every new text that ReplaceFileA or MoveFileExA puts in a Workfile's place
// was flushed to disk (FlushFileBuffers on that very file, at its final size)
// before. The calls are recorded as they happen: this program's own import
// table is pointed at recording wrappers, so the core linked in here makes its
// real kernel32 calls through them, exactly as zubra32.exe makes them. Built
// with the Windows program and run under wine; prints one line per failed
// check and the recorded calls, and exits 1 when any check failed.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/read_loop.h"
#include "runtime/console.h"
#include "runtime/text_file.h"
#include "support/file_bytes.h"

namespace {

int failures = 0;

void Fail(const std::string& what) {
  std::printf("write_back_order_test: failed: %s\n", what.c_str());
  ++failures;
}

// One recorded call: a flush of a file, or a call that puts a file in another's place.
struct Call {
  std::string Kind;  // FlushFileBuffers, ReplaceFileA, MoveFileExA
  bool Ok = false;
  std::string File;      // volume serial and file index of the file flushed or put in place
  ULONGLONG Size = 0;    // its size at the call
  std::string From, To;  // the names; for a flush the handle's path in `From`
};
std::vector<Call> calls;

// The identity and size of an open file.
void Describe(HANDLE file, std::string& identity, ULONGLONG& size) {
  BY_HANDLE_FILE_INFORMATION information{};
  identity = '?';  // not "?": g++ 12 -O3 warns -Wrestrict falsely on the one-byte literal
  size = 0;
  if (!GetFileInformationByHandle(file, &information)) return;
  identity = std::to_string(information.dwVolumeSerialNumber) + ":" +
             std::to_string((ULONGLONG{information.nFileIndexHigh} << 32) | information.nFileIndexLow);
  size = (ULONGLONG{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
}

// The identity and size of a named file, looked at without disturbing anyone.
void DescribeName(const char* name, std::string& identity, ULONGLONG& size) {
  HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  identity = '?';
  size = 0;
  if (file == INVALID_HANDLE_VALUE) return;
  Describe(file, identity, size);
  CloseHandle(file);
}

// The full name of a path, so that the names the core uses compare with ours.
std::string FullName(const char* name) {
  char full[MAX_PATH * 4];
  DWORD length = GetFullPathNameA(name, sizeof full, full, nullptr);
  return length == 0 || length >= sizeof full ? std::string(name) : std::string(full, length);
}

using FlushFunction = BOOL(WINAPI*)(HANDLE);
using ReplaceFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, DWORD, LPVOID, LPVOID);
using MoveFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
FlushFunction realFlush = nullptr;
ReplaceFunction realReplace = nullptr;
MoveFunction realMove = nullptr;

BOOL WINAPI RecordedFlush(HANDLE file) {
  Call call;
  call.Kind = "FlushFileBuffers";
  Describe(file, call.File, call.Size);
  char path[MAX_PATH * 4];
  DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, FILE_NAME_NORMALIZED);
  call.From = length == 0 || length >= sizeof path ? "?" : std::string(path, length);
  BOOL result = realFlush(file);
  DWORD error = GetLastError();
  call.Ok = result != FALSE;
  calls.push_back(call);
  SetLastError(error);
  return result;
}

BOOL WINAPI RecordedReplace(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags, LPVOID exclude,
                            LPVOID reserved) {
  Call call;
  call.Kind = "ReplaceFileA";
  DescribeName(replacement, call.File, call.Size);
  call.From = FullName(replacement);
  call.To = FullName(replaced);
  BOOL result = realReplace(replaced, replacement, backup, flags, exclude, reserved);
  DWORD error = GetLastError();
  call.Ok = result != FALSE;
  calls.push_back(call);
  SetLastError(error);
  return result;
}

BOOL WINAPI RecordedMove(LPCSTR from, LPCSTR to, DWORD flags) {
  Call call;
  call.Kind = "MoveFileExA";
  DescribeName(from, call.File, call.Size);
  call.From = FullName(from);
  call.To = FullName(to);
  BOOL result = realMove(from, to, flags);
  DWORD error = GetLastError();
  call.Ok = result != FALSE;
  calls.push_back(call);
  SetLastError(error);
  return result;
}

// Points this program's import of `name` at `wrapper`; gives the function it
// pointed at, or nullptr when nothing here imports it (then nothing calls it).
template <typename Function>
Function Redirect(const char* name, Function wrapper) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); library->Name != 0;
       ++library) {
    if (library->OriginalFirstThunk == 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* imported = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(imported->Name), name) != 0) continue;
      DWORD protection = 0;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      auto original = reinterpret_cast<Function>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(wrapper);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return original;
    }
  }
  return nullptr;
}

using zubra32::test::ReadFileBytes;
using zubra32::test::WriteFileBytes;

std::string CrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

void PrintCalls() {
  std::printf("recorded calls:\n");
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Call& c = calls[i];
    std::printf("  %zu: %s%s %s%s%s [%s, %llu bytes]\n", i, c.Kind.c_str(), c.Ok ? "" : " (failed)", c.From.c_str(),
                c.To.empty() ? "" : " -> ", c.To.c_str(), c.File.c_str(), c.Size);
  }
}

}  // namespace

int main() {
  realFlush = Redirect("FlushFileBuffers", &RecordedFlush);
  realReplace = Redirect("ReplaceFileA", &RecordedReplace);
  realMove = Redirect("MoveFileExA", &RecordedMove);
  // A function nothing here imports is never called: nothing to record. This
  // file itself must not call the three, or it would import them.

  // Workfiles in two folders, one named twice, one that no directive changes.
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "zubra32-order-" + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA((folder + "one").c_str(), nullptr);
  CreateDirectoryA((folder + "two").c_str(), nullptr);
  WriteFileBytes(folder + "one\\a.txt", "rem a\r\n");
  WriteFileBytes(folder + "one\\b.txt", "value 1\r\n");
  WriteFileBytes(folder + "two\\c.txt", "rem c\r\n");
  WriteFileBytes(folder + "two\\unchanged.txt", "rem unchanged\n");
  WriteFileBytes(folder + "defs.txt", CrLf({
                                          "[" + folder + "one\\a.txt]",
                                          "END=first",
                                          "[" + folder + "two\\c.txt]",
                                          "START=rem start",
                                          "[" + folder + "one\\b.txt]",
                                          "value 1=@value 2",
                                          "[" + folder + "two\\unchanged.txt]",
                                          "no such text=@never",
                                          "[" + folder + "one\\a.txt]",
                                          "END=second",
                                      }));
  struct Expected {
    std::size_t Replacements;
    std::string Text;
  };
  const std::map<std::string, Expected> workfiles = {
      {FullName((folder + "one\\a.txt").c_str()), {2, CrLf({"rem a", "first", "second"})}},
      {FullName((folder + "one\\b.txt").c_str()), {1, CrLf({"value 2"})}},
      {FullName((folder + "two\\c.txt").c_str()), {1, CrLf({"rem start", "rem c"})}},
      {FullName((folder + "two\\unchanged.txt").c_str()), {0, "rem unchanged\n"}},
  };

  zubra32::Output().OpenWrite(folder + "console.txt");
  const std::int32_t status = zubra32::ExecuteDefinitionFile(folder + "defs.txt");
  zubra32::Output().OpenWrite("");
  if (status != 0) Fail("the run ended with status " + std::to_string(status));

  for (const auto& [workfile, expected] : workfiles) {
    if (ReadFileBytes(workfile) != expected.Text) Fail(workfile + " does not hold its new text");
    // The calls that put a new text in place: a ReplaceFileA that succeeded,
    // or the MoveFileExA that completes one that did not.
    std::vector<std::size_t> putInPlace;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].Kind != "FlushFileBuffers" && calls[i].Ok && calls[i].To == workfile) putInPlace.push_back(i);
    }
    if (putInPlace.size() != expected.Replacements) {
      Fail(workfile + ": " + std::to_string(putInPlace.size()) + " new texts put in its place, expected " +
           std::to_string(expected.Replacements));
    }
    for (std::size_t r : putInPlace) {
      bool flushed = false;
      for (std::size_t i = 0; i < r && !flushed; ++i) {
        flushed = calls[i].Kind == "FlushFileBuffers" && calls[i].Ok && calls[i].File == calls[r].File &&
                  calls[i].Size == calls[r].Size;
      }
      if (!flushed) {
        Fail("call " + std::to_string(r) + " (" + calls[r].Kind + ") puts " + calls[r].From + " (" +
             std::to_string(calls[r].Size) + " bytes) in place of " + workfile +
             ", but that file's data was not flushed to disk before");
      }
    }
  }
  if (failures > 0) PrintCalls();

  for (const char* name : {"one\\a.txt", "one\\b.txt", "two\\c.txt", "two\\unchanged.txt"}) {
    DeleteFileA((folder + name).c_str());
  }
  DeleteFileA((folder + "defs.txt").c_str());
  DeleteFileA((folder + "console.txt").c_str());
  RemoveDirectoryA((folder + "one").c_str());
  RemoveDirectoryA((folder + "two").c_str());
  RemoveDirectoryA(folder.c_str());
  std::printf("write_back_order_test: %s (%zu calls recorded)\n", failures == 0 ? "all checks passed" : "FAILED",
              calls.size());
  return failures == 0 ? 0 : 1;
}

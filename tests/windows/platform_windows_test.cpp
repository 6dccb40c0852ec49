// Tests of the Windows platform file for what the end-to-end cases cannot
// reach: another program holding a Workfile, pipes, file attributes. Built
// with the Windows program (GoogleTest is not cross-built) and run under wine;
// prints one line per failed check and exits 1 when any failed.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/held_workfile.h"
#include "runtime/platform.h"
#include "support/file_bytes.h"

namespace platform = zubra32::platform;

namespace {

int failures = 0;

#define CHECK(condition) Check((condition), #condition, __LINE__)

void Check(bool passed, const char* what, int line) {
  if (passed) return;
  std::printf("platform_windows_test.cpp:%d: failed: %s\n", line, what);
  ++failures;
}

// A fresh folder under the temporary folder; the files of one test go there.
std::string NewFolder(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "zubra32-platform-" + std::to_string(GetCurrentProcessId()) + "-" + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

using zubra32::test::ReadFileBytes;
using zubra32::test::WriteFileBytes;

// The names in a folder, as the folder spells them.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// Removes a test's folder with the files and empty folders in it.
void RemoveFolder(const std::string& folder) {
  for (const std::string& name : Listing(folder)) {
    std::string path = folder + name;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
  }
  RemoveDirectoryA(folder.c_str());
}

// Another program's change to a file we may have open: shared as such programs do.
void WriteAsAnotherProgram(const std::string& name, const std::string& bytes) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

platform::HoldResult Hold(const std::string& name, platform::HeldWorkfile& held, int waitMilliseconds = 1000) {
  return held.Hold(name, true, 1u << 30, waitMilliseconds);
}

// Writes `text` through a replacement of the held file.
platform::CommitResult ReplaceHeld(platform::HeldWorkfile& held, const std::string& text) {
  platform::Replacement replacement(held);
  platform::ErrorCode error = 0;
  if (!replacement.Begin() || !platform::WriteBytes(replacement.File(), text.data(), text.size(), error))
    return platform::CommitResult::Failed;
  return replacement.Commit();
}

// Loads and writes back `name` with `text`; false when any step fails.
bool Replace(const std::string& name, const std::string& text) {
  platform::HeldWorkfile held;
  bool replaced =
      Hold(name, held) == platform::HoldResult::Held && ReplaceHeld(held, text) == platform::CommitResult::Replaced;
  held.Release();
  return replaced;
}

// Holds a file open against writing and deleting, as an editor or a scanner
// might, and lets it go after `milliseconds` (never when 0).
class Holder {
 public:
  Holder(const std::string& name, DWORD milliseconds) : Milliseconds(milliseconds) {
    File = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (Milliseconds > 0) Thread = CreateThread(nullptr, 0, &Holder::Release, this, 0, nullptr);
  }
  ~Holder() {
    if (Thread != nullptr) {
      WaitForSingleObject(Thread, INFINITE);
      CloseHandle(Thread);
    } else {
      CloseHandle(File);
    }
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  bool Holding() const { return File != INVALID_HANDLE_VALUE; }

 private:
  static DWORD WINAPI Release(void* self) {
    auto* holder = static_cast<Holder*>(self);
    Sleep(holder->Milliseconds);
    CloseHandle(holder->File);
    return 0;
  }
  HANDLE File = INVALID_HANDLE_VALUE;
  HANDLE Thread = nullptr;
  DWORD Milliseconds;
};

void PipesReadToTheEndAndAreWrittenThrough() {
  HANDLE reading = nullptr, writing = nullptr;
  CHECK(CreatePipe(&reading, &writing, nullptr, 0));
  platform::ErrorCode error = 0;
  CHECK(platform::IsInteractiveOrPipe(reinterpret_cast<platform::Handle>(writing)));
  CHECK(platform::WriteBytes(reinterpret_cast<platform::Handle>(writing), "ab", 2, error));
  CloseHandle(writing);
  char buffer[8];
  CHECK(platform::ReadBytes(reinterpret_cast<platform::Handle>(reading), buffer, sizeof buffer, error) == 2);
  // The writer is gone: the end of the bytes, not a failure.
  CHECK(platform::ReadBytes(reinterpret_cast<platform::Handle>(reading), buffer, sizeof buffer, error) == 0);
  CloseHandle(reading);

  std::string folder = NewFolder("pipes");
  platform::Handle disk = platform::CreateForWriting(folder + "disk.txt", error);
  CHECK(disk != platform::InvalidHandle);
  CHECK(!platform::IsInteractiveOrPipe(disk));
  platform::CloseFile(disk, error);
  RemoveFolder(folder);
}

void ReplacementKeepsNameAndAttributes() {
  std::string folder = NewFolder("keeps");
  WriteFileBytes(folder + "Keep.txt", "old\r\n");
  SetFileAttributesA((folder + "Keep.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  CHECK(Replace(folder + "KEEP.TXT", "new\r\n"));
  CHECK(ReadFileBytes(folder + "Keep.txt") == "new\r\n");
  CHECK(Listing(folder) == std::vector<std::string>{"Keep.txt"});
  CHECK((GetFileAttributesA((folder + "Keep.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0);
  RemoveFolder(folder);
}

void ReadOnlyOrDirectoryIsNotReplaced() {
  std::string folder = NewFolder("readonly");
  WriteFileBytes(folder + "ro.txt", "old\r\n");
  SetFileAttributesA((folder + "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  CHECK(!Replace(folder + "ro.txt", "new\r\n"));
  CHECK(ReadFileBytes(folder + "ro.txt") == "old\r\n");
  CreateDirectoryA((folder + "sub").c_str(), nullptr);
  CHECK(!Replace(folder + "sub", "new\r\n"));
  CHECK(Listing(folder).size() == 2);  // no temporary file left behind
  RemoveFolder(folder);
}

void AHeldWorkfileIsWaitedForBriefly() {
  std::string folder = NewFolder("held");
  std::string name = folder + "w.txt";
  WriteFileBytes(name, "old\r\n");
  {
    // Let go while the replacement is being tried: it goes through.
    Holder holder(name, 200);
    CHECK(holder.Holding());
    CHECK(Replace(name, "new\r\n"));
  }
  CHECK(ReadFileBytes(name) == "new\r\n");

  // Taken while the new text is being written: putting it in place waits too.
  platform::HeldWorkfile held;
  platform::ErrorCode error = 0;
  CHECK(Hold(name, held) == platform::HoldResult::Held);
  {
    platform::Replacement replacement(held);
    CHECK(replacement.Begin());
    CHECK(platform::WriteBytes(replacement.File(), "newer\r\n", 7, error));
    Holder holder(name, 200);
    CHECK(replacement.Commit() == platform::CommitResult::Replaced);
  }
  held.Release();
  CHECK(ReadFileBytes(name) == "newer\r\n");

  // Held for good: a failure after a short wait, the file as it was, nothing left over.
  {
    Holder holder(name, 0);
    DWORD start = GetTickCount();
    CHECK(!Replace(name, "lost\r\n"));
    CHECK(GetTickCount() - start < 5000);
  }
  CHECK(ReadFileBytes(name) == "newer\r\n");
  CHECK(Listing(folder) == std::vector<std::string>{"w.txt"});
  RemoveFolder(folder);
}

void OurOtherRunsWaitAndAChangedFileIsNotOverwritten() {
  std::string folder = NewFolder("lock");
  std::string name = folder + "w.txt";
  WriteFileBytes(name, "old\r\n");
  platform::HeldWorkfile first, second;
  CHECK(Hold(name, first) == platform::HoldResult::Held);
  DWORD start = GetTickCount();
  CHECK(Hold(name, second, 300) == platform::HoldResult::Locked);
  CHECK(GetTickCount() - start >= 250);
  // Another program writes the file after our load: our write-back leaves it.
  WriteAsAnotherProgram(name, "theirs\r\n");
  CHECK(ReplaceHeld(first, "ours\r\n") == platform::CommitResult::Changed);
  first.Release();
  CHECK(ReadFileBytes(name) == "theirs\r\n");
  CHECK(Listing(folder) == std::vector<std::string>{"w.txt"});
  // Released, the file is ours to load again.
  CHECK(Hold(name, second) == platform::HoldResult::Held);
  second.Release();
  // A device is never loaded.
  CHECK(Hold("NUL", second) == platform::HoldResult::NotRegular);
  RemoveFolder(folder);
}

void ExistenceIsTheFirstMatchAndNoDirectory() {
  std::string folder = NewFolder("exists");
  WriteFileBytes(folder + "a1.txt", "");
  CreateDirectoryA((folder + "d").c_str(), nullptr);
  CHECK(platform::ProbeName(folder + "a1.txt") == platform::EntryKind::File);
  CHECK(platform::ProbeName(folder + "a?.txt") == platform::EntryKind::File);
  CHECK(platform::ProbeName(folder + "d") == platform::EntryKind::Directory);
  CHECK(platform::ProbeName(folder + "none.txt") == platform::EntryKind::None);
  CHECK(platform::ProbeName("") == platform::EntryKind::None);
  platform::ErrorCode error = 0;
  CHECK(platform::OpenForReading(folder + "d", error) == platform::InvalidHandle);
  RemoveFolder(folder);
}

}  // namespace

int main() {
  PipesReadToTheEndAndAreWrittenThrough();
  ReplacementKeepsNameAndAttributes();
  ReadOnlyOrDirectoryIsNotReplaced();
  AHeldWorkfileIsWaitedForBriefly();
  OurOtherRunsWaitAndAChangedFileIsNotOverwritten();
  ExistenceIsTheFirstMatchAndNoDirectory();
  std::printf("platform_windows_test: %s\n", failures == 0 ? "all checks passed" : "FAILED");
  return failures == 0 ? 0 : 1;
}

// Windows implementation of the platform layer, over kernel32 (and OemToCharA
// of user32). Nothing here goes through the C runtime's stdio: every byte in
// and out passes ReadFile and WriteFile.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include "runtime/arguments.h"
#include "runtime/backup_names.h"
#include "runtime/held_workfile.h"
#include "runtime/platform.h"
#include "runtime/platform_faults.h"

namespace zubra32::platform {

namespace {

// Attempts made on a file that another program holds open, and the first
// pause between them (doubled each time; about three quarters of a second in all).
constexpr int SharingAttempts = 5;
constexpr DWORD FirstSharingPause = 50;

// Attributes a replacement takes over from the file it replaces.
constexpr DWORD KeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

HANDLE ToNative(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromNative(HANDLE handle) {
  return handle == nullptr || handle == INVALID_HANDLE_VALUE ? InvalidHandle : reinterpret_cast<Handle>(handle);
}

ErrorCode LastError() { return static_cast<ErrorCode>(GetLastError()); }

// Test builds can make a call fail here (see platform_faults.h); in the
// program itself no call ever does. A failed call's error is also the last
// error, as a real failure leaves it for the code that reads GetLastError().
bool Fails([[maybe_unused]] FaultKind kind, [[maybe_unused]] Handle handle, [[maybe_unused]] std::string_view name,
           [[maybe_unused]] ErrorCode& error) {
#ifdef ZUBRA32_FAULT_INJECTION
  if (!InjectedFailure(kind, handle, name, error)) return false;
  SetLastError(static_cast<DWORD>(error));
  return true;
#else
  return false;
#endif
}

// Closes the handle; it is released even when the close reports a failure.
bool CloseNative(HANDLE file, ErrorCode& error) {
  bool injected = Fails(FaultKind::Close, FromNative(file), {}, error);
  if (!CloseHandle(file) && !injected) {
    error = LastError();
    return false;
  }
  return !injected;
}

// A file name as the OS takes it: NUL-terminated, so cut at its first NUL.
std::string OsName(std::string_view name) {
  return std::string(name.substr(0, std::min(name.size(), name.find('\0'))));
}

// A name to open: written in the OEM code page, handed on in the ANSI one.
// Names of bytes below 128 come out unchanged.
std::string OpeningName(std::string_view name) {
  std::string oem = OsName(name);
  std::string ansi(oem.size() + 1, '\0');
  if (!OemToCharA(oem.c_str(), ansi.data())) return oem;
  ansi.resize(ansi.find('\0'));
  return ansi;
}

// Handles of the program's text files may be inherited by child processes.
SECURITY_ATTRIBUTES* InheritableHandle() {
  static SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return &attributes;
}

// Others may read, write, rename and delete a file we have open: a definition
// file may even edit itself, its write-back putting a new file in its place.
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE OpenFile(const std::string& name, DWORD access, DWORD disposition) {
  return CreateFileA(name.c_str(), access, ShareAll, InheritableHandle(), disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Another program holding the file open, or a scanner looking at it for a
// moment: worth another try shortly.
bool IsSharingError(ErrorCode error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Calls `attempt` until it succeeds, fails for another reason than sharing,
// or has been tried SharingAttempts times; `error` holds the last failure.
template <typename Attempt>
bool RetryWhileShared(Attempt attempt, ErrorCode& error) {
  DWORD pause = FirstSharingPause;
  for (int tried = 1;; ++tried, pause *= 2) {
    if (attempt()) return true;
    error = LastError();
    if (tried == SharingAttempts || !IsSharingError(error)) return false;
    Sleep(pause);
  }
}

// The folder part of a path, with its separator ("C:\dir\", "C:", "" for a bare name).
std::string FolderOf(const std::string& path) {
  std::size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// The file a symbolic link or other reparse point finally leads to; the name
// itself for a plain file.
bool FinalTarget(const std::string& name, std::string& target, ErrorCode& error) {
  DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = LastError();
    return false;
  }
  target = name;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  HANDLE file = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastError();
    return false;
  }
  std::string path(MAX_PATH, '\0');
  DWORD length = GetFinalPathNameByHandleA(file, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  if (length >= path.size()) {
    path.resize(length);
    length = GetFinalPathNameByHandleA(file, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  }
  if (length == 0 || length >= path.size()) error = length == 0 ? LastError() : ERROR_FILENAME_EXCED_RANGE;
  CloseHandle(file);
  if (length == 0 || length >= path.size()) return false;
  path.resize(length);
  target = path;
  return true;
}

// The path with its last part spelled as the folder holds it ("AUTOEXEC.BAT"
// for autoexec.bat, the long name for a short one), so that putting a new
// file in its place does not rename it to the section line's spelling.
std::string ExistingSpelling(const std::string& path) {
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return path;
  FindClose(search);
  return FolderOf(path) + found.cFileName;
}

// Creates a new, unused file in `folder` for writing, open to nobody else.
HANDLE CreateTemporaryFile(const std::string& folder, std::string& name, ErrorCode& error) {
  static DWORD sequence = 0;
  constexpr char Digits[] = "0123456789abcdef";
  for (int attempt = 0; attempt < 100; ++attempt) {
    DWORD tag = GetCurrentProcessId() * 7919u + GetTickCount() + ++sequence * 104729u;
    std::string suffix(8, '0');
    for (std::size_t digit = 8; digit-- > 0; tag >>= 4) suffix[digit] = Digits[tag & 0xF];
    name = folder + "~zubra32-" + suffix + ".tmp";
    // Nobody else may open it, but it may be deleted under us: by the console
    // handler, when the process is ended in the middle of a write-back.
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    error = LastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  name.clear();
  return INVALID_HANDLE_VALUE;
}

// True when no other program holds `name` open against writing or deleting.
bool IsFree(const std::string& name) {
  HANDLE file =
      CreateFileA(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Puts the finished temporary file in the target's place. ReplaceFileA keeps
// the target's attributes, security and streams; where the file system cannot
// do that, a rename does the job. The attributes the target shows are given
// to the new file first, for file systems where neither carries them over.
bool PutInPlace(const std::string& temporary, const std::string& target, ErrorCode& error) {
  DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & KeptAttributes) != 0) {
    SetFileAttributesA(temporary.c_str(), attributes & KeptAttributes);
  }
  // ReplaceFileA is tried only on a target nobody holds: some implementations
  // leave a file of their own behind when it fails.
  if (RetryWhileShared(
          [&] {
            if (!IsFree(target)) return false;
            if (Fails(FaultKind::Replace, InvalidHandle, target, error)) return false;
            return ReplaceFileA(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                nullptr) != FALSE;
          },
          error)) {
    return true;
  }
  if (IsSharingError(error)) return false;
  // Whatever ReplaceFileA left undone, the new text is still in the temporary
  // file and the target holds its old text or is gone: a rename completes the
  // replacement in one step.
  return RetryWhileShared(
      [&] {
        if (Fails(FaultKind::Rename, InvalidHandle, target, error)) return false;
        return MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
               FALSE;
      },
      error);
}

// Our runs lock one byte far past the end of any file: it keeps our other runs
// away from the Workfile while other programs read and write it as before.
constexpr DWORD LockOffsetLow = 0xFFFFFFFF;
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;

bool TryLock(HANDLE file) {
  OVERLAPPED where{};
  where.Offset = LockOffsetLow;
  where.OffsetHigh = LockOffsetHigh;
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where) != FALSE;
}

// What a held Workfile was at its hold: the file itself (its volume and
// number there), its size, its last-write time and the time of its last
// change of any kind, which no user can set back.
struct FileIdentity {
  std::uint64_t Volume = 0;
  std::uint64_t FileNumber = 0;
  std::uint64_t Size = 0;
  std::int64_t ModifiedTime = 0;
  std::int64_t ChangedTime = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool IdentityOf(HANDLE file, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return false;
  identity.Volume = information.dwVolumeSerialNumber;
  identity.FileNumber = (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  identity.Size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  identity.ModifiedTime =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(information.ftLastWriteTime.dwHighDateTime) << 32) |
                                information.ftLastWriteTime.dwLowDateTime);
  // The change time (text, times or attributes) cannot be set back by a user.
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    identity.ChangedTime = basic.ChangeTime.QuadPart;
  }
  return true;
}

// True when `name` leads to the same file as `identity` (same volume and file number).
bool NamesSameFile(const std::string& name, const FileIdentity& identity) {
  HANDLE file = CreateFileA(name.c_str(), 0, ShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FileIdentity named;
  bool same = IdentityOf(file, named) && named.Volume == identity.Volume && named.FileNumber == identity.FileNumber;
  CloseHandle(file);
  return same;
}

// The temporary file of a write-back in progress, for the console handler.
std::atomic<bool> pendingSet{false};
char pendingTemporary[32768];

void SetPending(const std::string& name) {
  std::size_t length = std::min(name.size(), sizeof pendingTemporary - 1);
  std::copy_n(name.data(), length, pendingTemporary);
  pendingTemporary[length] = '\0';
  pendingSet = true;
}

// Ctrl+C, Ctrl+Break, a closed console window, a logoff or shutdown: the
// temporary file goes, then the default handling ends the process.
BOOL WINAPI RemovePendingOnConsoleEvent(DWORD) {
  if (pendingSet.exchange(false)) DeleteFileA(pendingTemporary);
  return FALSE;
}

// A read-only Workfile is left alone, as is anything that is no file; whether
// we may write it at all (its security, another program's lock) is for the
// system to say: the file is opened for writing without being changed.
bool MayWriteHeldFile(const std::string& target) {
  ErrorCode error = 0;
  DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }
  HANDLE probe = INVALID_HANDLE_VALUE;
  if (!RetryWhileShared(
          [&] {
            probe = OpenFile(target, GENERIC_WRITE, OPEN_EXISTING);
            return probe != INVALID_HANDLE_VALUE;
          },
          error)) {
    return false;
  }
  CloseHandle(probe);
  return true;
}

}  // namespace

void Initialize(int, char**) {
  // A name on an empty or missing drive must fail quietly, not stop a login
  // script with a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SetConsoleCtrlHandler(RemovePendingOnConsoleEvent, TRUE);
}

std::vector<std::string> CommandLineArguments() { return SplitCommandLine(GetCommandLineA()); }

std::string ProgramFilePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size() || path.size() >= 32768) {
      path.resize(std::min<std::size_t>(length, path.size()));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void VisitEnvironment(const std::function<bool(std::string_view entry)>& visit) {
  struct Block {
    LPCH strings = GetEnvironmentStrings();
    ~Block() {
      if (strings != nullptr) FreeEnvironmentStringsA(strings);
    }
  } block;
  if (block.strings == nullptr) return;
  // Entries follow each other, each ended by a NUL; an empty one ends the block.
  for (const char* entry = block.strings; *entry != '\0';) {
    std::string_view text(entry);
    if (visit(text)) return;
    entry += text.size() + 1;
  }
}

EntryKind ProbeName(std::string_view name) {
  // Handed over as written: no code-page conversion for the existence test.
  std::string path = OsName(name);
  if (path.empty()) return EntryKind::None;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return EntryKind::None;
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Directory : EntryKind::File;
}

Handle StandardInput() { return FromNative(GetStdHandle(STD_INPUT_HANDLE)); }
Handle StandardOutput() { return FromNative(GetStdHandle(STD_OUTPUT_HANDLE)); }

Handle OpenForReading(std::string_view name, ErrorCode& error) {
  if (Fails(FaultKind::Open, InvalidHandle, name, error)) return InvalidHandle;
  HANDLE file = OpenFile(OpeningName(name), GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) error = LastError();
  return FromNative(file);
}

Handle CreateForWriting(std::string_view name, ErrorCode& error) {
  HANDLE file = OpenFile(OpeningName(name), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) error = LastError();
  return FromNative(file);
}

bool IsInteractiveOrPipe(Handle handle) {
  DWORD type = GetFileType(ToNative(handle));
  return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

std::int64_t ReadBytes(Handle handle, char* buffer, std::size_t capacity, ErrorCode& error) {
  DWORD count = 0;
  DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(capacity, MAXDWORD));
  if (!Fails(FaultKind::Read, handle, {}, error) && ReadFile(ToNative(handle), buffer, wanted, &count, nullptr)) {
    return count;
  }
  error = LastError();
  // The writing end of a pipe has gone: that is the end of the bytes, as read() returns 0 on POSIX.
  return error == ERROR_BROKEN_PIPE ? 0 : -1;
}

bool WriteBytes(Handle handle, const char* bytes, std::size_t size, ErrorCode& error) {
  while (size > 0) {
    DWORD count = 0;
    DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
    if (Fails(FaultKind::Write, handle, {}, error) || !WriteFile(ToNative(handle), bytes, wanted, &count, nullptr)) {
      error = LastError();
      return false;
    }
    // A device that takes nothing would keep this loop going for ever.
    if (count == 0) {
      error = ERROR_WRITE_FAULT;
      return false;
    }
    bytes += count;
    size -= count;
  }
  return true;
}

bool CloseFile(Handle handle, ErrorCode& error) { return CloseNative(ToNative(handle), error); }

// What a held Workfile keeps: the file, its final path (links and spellings
// resolved; the write-back goes there), and what the file was at the hold.
struct HeldWorkfile::State {
  HANDLE File = INVALID_HANDLE_VALUE;
  std::string Target;
  FileIdentity Identity;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
  }
};

// A replacement under way: the temporary file and its full path.
struct Replacement::State {
  HANDLE File = INVALID_HANDLE_VALUE;
  std::string TemporaryName;
};

HeldWorkfile::HeldWorkfile() = default;
HeldWorkfile::~HeldWorkfile() = default;
HeldWorkfile::HeldWorkfile(HeldWorkfile&&) noexcept = default;
HeldWorkfile& HeldWorkfile::operator=(HeldWorkfile&&) noexcept = default;

void HeldWorkfile::Release() { Details.reset(); }
Handle HeldWorkfile::File() const { return Details ? FromNative(Details->File) : InvalidHandle; }
std::uint64_t HeldWorkfile::Size() const { return Details ? Details->Identity.Size : 0; }

HoldResult HeldWorkfile::Hold(std::string_view name, bool forWriting, std::uint64_t maxBytes,
                              int lockWaitMilliseconds) {
  Release();
  ErrorCode error = 0;
  const std::string opening = OpeningName(name);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(lockWaitMilliseconds);
  for (;;) {
    if (Fails(FaultKind::Open, InvalidHandle, name, error)) return HoldResult::Failed;
    HANDLE file = OpenFile(opening, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return HoldResult::Failed;
    // A console, printer or pipe is never read as a Workfile, nor written.
    if (GetFileType(file) != FILE_TYPE_DISK) {
      CloseHandle(file);
      return HoldResult::NotRegular;
    }
    DWORD pause = 1;
    while (!TryLock(file)) {
      error = LastError();
      if (error != ERROR_LOCK_VIOLATION && error != ERROR_SHARING_VIOLATION && error != ERROR_IO_PENDING) {
        // A file system without such locks: nothing of ours can hold it.
        break;
      }
      if (GetTickCount64() >= deadline) {
        CloseHandle(file);
        return HoldResult::Locked;
      }
      Sleep(pause);
      pause = std::min<DWORD>(pause * 2, 50);
    }
    // A preview only waits for a run that writes: it holds no lock itself.
    if (!forWriting) {
      OVERLAPPED where{};
      where.Offset = LockOffsetLow;
      where.OffsetHigh = LockOffsetHigh;
      UnlockFileEx(file, 0, 1, 0, &where);
    }
    FileIdentity identity;
    if (!IdentityOf(file, identity)) {
      CloseHandle(file);
      return HoldResult::Failed;
    }
    // While we waited, another run may have put a new file in the old one's
    // place: then that new file is the one to load.
    if (!NamesSameFile(opening, identity)) {
      CloseHandle(file);
      if (GetTickCount64() >= deadline) return HoldResult::Locked;
      continue;
    }
    if (identity.Size > maxBytes) {
      CloseHandle(file);
      return HoldResult::TooLarge;
    }
    std::string target;
    if (!FinalTarget(opening, target, error)) {
      CloseHandle(file);
      return HoldResult::Failed;
    }
    Details = std::make_unique<State>();
    Details->File = file;
    Details->Target = ExistingSpelling(target);
    Details->Identity = identity;
    return HoldResult::Held;
  }
}

bool HeldWorkfile::CanReplace() const {
  // The tests of Replacement::Begin, with the folder probed instead of a
  // temporary file being made in it.
  if (!Details || !MayWriteHeldFile(Details->Target)) return false;
  // Whether the folder lets us add a file is for its security to say: asking
  // for that right when opening the folder answers without adding one.
  std::string folder = FolderOf(Details->Target);
  HANDLE directory = CreateFileA(folder.empty() ? "." : folder.c_str(), FILE_ADD_FILE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return false;
  CloseHandle(directory);
  return true;
}

bool HeldWorkfile::StillAsLoaded() const {
  FileIdentity now;
  return Details && IdentityOf(Details->File, now) && now == Details->Identity &&
         NamesSameFile(Details->Target, Details->Identity);
}

Replacement::Replacement(HeldWorkfile& held) : Target(held) {}

// Closes and removes a temporary file that was never committed; the Workfile stays as it was.
Replacement::~Replacement() {
  if (!Details) return;
  pendingSet = false;
  if (Details->File != INVALID_HANDLE_VALUE) CloseHandle(Details->File);
  DeleteFileA(Details->TemporaryName.c_str());
}

Handle Replacement::File() const { return Details ? FromNative(Details->File) : InvalidHandle; }

bool Replacement::Begin() {
  HeldWorkfile::State* held = Target.Details.get();
  ErrorCode error = 0;
  if (!held || !MayWriteHeldFile(held->Target)) return false;
  if (Fails(FaultKind::CreateTemporary, InvalidHandle, held->Target, error)) return false;
  auto state = std::make_unique<State>();
  state->File = CreateTemporaryFile(FolderOf(held->Target), state->TemporaryName, error);
  if (state->File == INVALID_HANDLE_VALUE) return false;
  SetPending(state->TemporaryName);
  Details = std::move(state);
  return true;
}

// The plain files beside `target` whose names begin with its own and end in ".bak".
static std::vector<std::string> FilesBeside(const std::string& target) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((target + ".*.bak").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
      names.emplace_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// Keeps the file at `target` as a new backup beside it: a hard link where the
// volume has them, a copy otherwise; never over an existing name.
static bool KeepBackup(const std::string& target, Backup& backup) {
  const std::string folder = FolderOf(target), entry = target.substr(folder.size());
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::int64_t seconds =
      static_cast<std::int64_t>(((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) /
                                10000000u) -
      11644473600;
  const int first = NextBackupNumber(entry, seconds, FilesBeside(target));
  for (int number = first; number < first + 1000; ++number) {
    std::string name = BackupName(entry, seconds, number);
    if (CreateHardLinkA((folder + name).c_str(), target.c_str(), nullptr) ||
        CopyFileA(target.c_str(), (folder + name).c_str(), TRUE)) {
      backup.Made = name;
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

// Removes this Workfile's backups beyond the newest `keep`; only names of our making.
static void PruneBackups(const std::string& target, int keep) {
  const std::string folder = FolderOf(target), entry = target.substr(folder.size());
  std::vector<std::string> backups = BackupsNewestFirst(entry, FilesBeside(target));
  for (std::size_t i = static_cast<std::size_t>(keep); i < backups.size(); ++i)
    DeleteFileA((folder + backups[i]).c_str());
}

CommitResult Replacement::Commit(Backup* backup) {
  if (!Details) return CommitResult::Failed;
  HeldWorkfile::State& held = *Target.Details;
  HANDLE file = std::exchange(Details->File, INVALID_HANDLE_VALUE);
  ErrorCode error = 0;
  bool ok = !Fails(FaultKind::Flush, FromNative(file), {}, error) && FlushFileBuffers(file) != FALSE;
  if (!CloseNative(file, error)) ok = false;
  // Only the file as it was loaded is replaced: not one another program
  // changed since, nor one put in its place.
  bool changed = ok && !Target.StillAsLoaded();
  // The held handle goes before the replacement, which must be free to move
  // the old file away.
  CloseHandle(std::exchange(held.File, INVALID_HANDLE_VALUE));
  if (ok && !changed && backup != nullptr) ok = KeepBackup(held.Target, *backup);
  if (ok && !changed) ok = PutInPlace(Details->TemporaryName, held.Target, error);
  if (!ok || changed) DeleteFileA(Details->TemporaryName.c_str());
  if (!ok && backup != nullptr && !backup->Made.empty()) {
    DeleteFileA((FolderOf(held.Target) + backup->Made).c_str());
    backup->Made.clear();
  }
  if (ok && !changed && backup != nullptr && backup->KeepNewest > 0) PruneBackups(held.Target, backup->KeepNewest);
  pendingSet = false;
  Details.reset();
  if (changed) return CommitResult::Changed;
  return ok ? CommitResult::Replaced : CommitResult::Failed;
}

bool WriteWholeFile(std::string_view name, std::string_view bytes) {
  const std::string target = OpeningName(name);
  std::string temporary;
  ErrorCode error = 0;
  HANDLE file = CreateTemporaryFile(FolderOf(target), temporary, error);
  if (file == INVALID_HANDLE_VALUE) return false;
  SetPending(temporary);
  bool ok = WriteBytes(FromNative(file), bytes.data(), bytes.size(), error) && FlushFileBuffers(file) != FALSE;
  ok = CloseNative(file, error) && ok;
  ok = ok && MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileA(temporary.c_str());
  pendingSet = false;
  return ok;
}

bool Rewind(Handle handle, ErrorCode& error) {
  LARGE_INTEGER start{};
  if (SetFilePointerEx(ToNative(handle), start, nullptr, FILE_BEGIN)) return true;
  error = LastError();
  return false;
}

std::string ResolvedName(std::string_view name) {
  std::string opening = OpeningName(name);
  // The final path names the file itself whatever the spelling: letter case,
  // "/" or "\\", "." steps and links all resolve to the one path.
  HANDLE file = CreateFileA(opening.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    std::string path(MAX_PATH, '\0');
    DWORD length = GetFinalPathNameByHandleA(file, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    if (length >= path.size()) {
      path.resize(length);
      length = GetFinalPathNameByHandleA(file, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(file);
    if (length > 0 && length < path.size()) {
      path.resize(length);
      return path;
    }
  }
  std::string full(MAX_PATH, '\0');
  DWORD length = GetFullPathNameA(opening.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return opening;
  full.resize(length);
  return full;
}

void ExitProcess(std::uint32_t exitCode) { ::ExitProcess(exitCode); }

}  // namespace zubra32::platform

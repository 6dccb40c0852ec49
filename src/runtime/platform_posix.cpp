// POSIX implementation of the platform layer (Linux and the BSDs).
#include "runtime/platform.h"
#include "runtime/platform_faults.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

extern char** environ;

namespace zubra32::platform {

namespace {

std::vector<std::string> startArguments;

// Test builds can make a call fail here (see platform_faults.h); in the
// program itself no call ever does.
bool Fails([[maybe_unused]] FaultKind kind, [[maybe_unused]] Handle handle, [[maybe_unused]] std::string_view name,
           [[maybe_unused]] ErrorCode& error) {
#ifdef ZUBRA32_FAULT_INJECTION
  return InjectedFailure(kind, handle, name, error);
#else
  return false;
#endif
}

// A file name as the OS takes it: NUL-terminated, so cut at its first NUL.
std::string OsName(std::string_view name) { return std::string(name.substr(0, std::min(name.size(), name.find('\0')))); }

// Matches a name against a pattern in which * stands for any run of bytes and
// ? for any one byte; every other byte matches itself.
bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++, starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1, n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

EntryKind KindOf(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return EntryKind::None;
  return S_ISDIR(status.st_mode) ? EntryKind::Directory : EntryKind::File;
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Closes the descriptor; it is released even when the close reports a failure.
bool CloseDescriptor(int fd, ErrorCode& error) {
  bool injected = Fails(FaultKind::Close, fd, {}, error);
  if (close(fd) != 0 && !injected) {
    error = errno;
    return false;
  }
  return !injected;
}

bool FlushDirectory(const std::string& directory, ErrorCode& error) {
  if (Fails(FaultKind::DirectoryFlush, InvalidHandle, directory, error)) return false;
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  // Some file systems cannot flush a directory at all; that is no failure of ours.
  bool flushed = fsync(fd) == 0 || errno == EINVAL;
  if (!flushed) error = errno;
  close(fd);
  return flushed;
}

}  // namespace

void Initialize(int argc, char** argv) {
  startArguments.assign(argv, argv + argc);
  // Output failures never end the run: a reader that went away is a failed write, not a signal.
  signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> CommandLineArguments() { return startArguments; }

std::string ProgramFilePath() {
  std::string path(PATH_MAX, '\0');
  ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length < 0) return startArguments.empty() ? std::string() : startArguments.front();
  path.resize(static_cast<std::size_t>(length));
  return path;
}

void VisitEnvironment(const std::function<bool(std::string_view entry)>& visit) {
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (visit(*entry)) return;
  }
}

EntryKind ProbeName(std::string_view name) {
  std::string path = OsName(name);
  if (path.empty()) return EntryKind::None;
  if (EntryKind kind = KindOf(path); kind != EntryKind::None) return kind;
  if (path.find_first_of("*?") == std::string::npos) return EntryKind::None;

  // Wildcards stand in the last component only; the first match in byte order decides.
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(directory.c_str()), closedir);
  if (!listing) return EntryKind::None;
  std::vector<std::string> matches;
  while (dirent* entry = readdir(listing.get())) {
    std::string_view entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    if (MatchesWildcard(pattern, entryName)) matches.emplace_back(entryName);
  }
  if (matches.empty()) return EntryKind::None;
  std::string first = *std::min_element(matches.begin(), matches.end());
  return KindOf(slash == std::string::npos ? first : path.substr(0, slash + 1) + first);
}

Handle StandardInput() { return STDIN_FILENO; }
Handle StandardOutput() { return STDOUT_FILENO; }

// Opens without waiting for the other end of a named pipe, then makes the
// handle blocking again: a pipe nobody writes to reads as empty instead of
// holding up the run, and one nobody reads from fails to open for writing.
static int OpenWithoutWaiting(const std::string& name, int flags) {
  int fd = open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

Handle OpenForReading(std::string_view name, ErrorCode& error) {
  if (Fails(FaultKind::Open, InvalidHandle, name, error)) return InvalidHandle;
  int fd = OpenWithoutWaiting(OsName(name), O_RDONLY);
  if (fd < 0) {
    error = errno;
    return InvalidHandle;
  }
  // A directory opens for reading on POSIX but holds no lines: refuse it as Windows does.
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    close(fd);
    error = EISDIR;
    return InvalidHandle;
  }
  return fd;
}

Handle CreateForWriting(std::string_view name, ErrorCode& error) {
  int fd = open(OsName(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) error = errno;
  return fd < 0 ? InvalidHandle : fd;
}

bool IsInteractiveOrPipe(Handle handle) {
  struct stat status {};
  if (fstat(static_cast<int>(handle), &status) != 0) return false;
  return S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
}

std::int64_t ReadBytes(Handle handle, char* buffer, std::size_t capacity, ErrorCode& error) {
  if (Fails(FaultKind::Read, handle, {}, error)) return -1;
  for (;;) {
    ssize_t count = read(static_cast<int>(handle), buffer, capacity);
    if (count >= 0) return count;
    if (errno == EINTR) continue;
    error = errno;
    return -1;
  }
}

bool WriteBytes(Handle handle, const char* bytes, std::size_t size, ErrorCode& error) {
  if (Fails(FaultKind::Write, handle, {}, error)) return false;
  while (size > 0) {
    ssize_t count = write(static_cast<int>(handle), bytes, size);
    if (count < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    bytes += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

bool CloseFile(Handle handle, ErrorCode& error) { return CloseDescriptor(static_cast<int>(handle), error); }

bool BeginReplacement(std::string_view name, Replacement& replacement, ErrorCode& error) {
  replacement = Replacement{};
  std::string target = OsName(name);

  // A symbolic link stays a link: its final target is what gets replaced.
  struct stat linkStatus {};
  if (lstat(target.c_str(), &linkStatus) != 0) {
    error = errno;
    return false;
  }
  if (S_ISLNK(linkStatus.st_mode)) {
    std::unique_ptr<char, void (*)(void*)> resolved(realpath(target.c_str(), nullptr), free);
    if (!resolved) {
      error = errno;
      return false;
    }
    target = resolved.get();
  }

  struct stat status {};
  if (stat(target.c_str(), &status) != 0) {
    error = errno;
    return false;
  }
  // Read-only means no write permission bit at all, even for root, as a
  // read-only attribute would; otherwise the OS decides whether we may write.
  if ((status.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0) {
    error = (status.st_mode & 0222) == 0 ? EACCES : errno;
    return false;
  }
  replacement.targetName = target;

  // A device or a pipe cannot be swapped for a plain file: write to it directly.
  if (!S_ISREG(status.st_mode)) {
    int fd = OpenWithoutWaiting(target, O_WRONLY | O_TRUNC);
    if (fd < 0) {
      error = errno;
      return false;
    }
    replacement.handle = fd;
    replacement.inPlace = true;
    return true;
  }

  // The temporary file's name keeps well below the length limit of one name.
  std::string directory = DirectoryOf(target);
  std::size_t slash = target.rfind('/');
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temporary = directory + "/." + base.substr(0, 64) + ".zubra32-XXXXXX";
  if (Fails(FaultKind::CreateTemporary, InvalidHandle, target, error)) return false;
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  replacement.handle = fd;
  replacement.temporaryName = temporary;
  return true;
}

bool CommitReplacement(Replacement& replacement, ErrorCode& error) {
  int fd = static_cast<int>(replacement.handle);
  replacement.handle = InvalidHandle;
  if (replacement.inPlace) return CloseDescriptor(fd, error);

  struct stat status {};
  bool ok = !Fails(FaultKind::Flush, fd, {}, error);
  if (ok && (fsync(fd) != 0 || stat(replacement.targetName.c_str(), &status) != 0 ||
             fchmod(fd, status.st_mode & 07777) != 0 ||
             (geteuid() == 0 && fchown(fd, status.st_uid, status.st_gid) != 0))) {
    error = errno;
    ok = false;
  }
  ErrorCode closeError = 0;
  if (!CloseDescriptor(fd, closeError) && ok) {
    error = closeError;
    ok = false;
  }
  if (ok && Fails(FaultKind::Rename, InvalidHandle, replacement.targetName, error)) {
    ok = false;
  } else if (ok && rename(replacement.temporaryName.c_str(), replacement.targetName.c_str()) != 0) {
    error = errno;
    ok = false;
  }
  if (!ok) {
    unlink(replacement.temporaryName.c_str());
    return false;
  }
  // The new text is in place from the rename on. A directory that cannot be
  // flushed may lose the rename in a crash, so that is still reported as a
  // failure ("can't be written", status 4) although the Workfile now holds the
  // new text: a run that reports success has made its changes durable.
  return FlushDirectory(DirectoryOf(replacement.targetName), error);
}

void AbandonReplacement(Replacement& replacement) {
  if (replacement.handle != InvalidHandle) close(static_cast<int>(replacement.handle));
  replacement.handle = InvalidHandle;
  if (!replacement.temporaryName.empty()) unlink(replacement.temporaryName.c_str());
}

bool CanReplace(std::string_view name, ErrorCode& error) {
  // The same tests as BeginReplacement, on the file a link leads to; access()
  // answers for the directory without anything being created in it.
  std::string target = OsName(name);
  std::unique_ptr<char, void (*)(void*)> resolved(realpath(target.c_str(), nullptr), free);
  if (resolved) target = resolved.get();
  struct stat status {};
  if (stat(target.c_str(), &status) != 0) {
    error = errno;
    return false;
  }
  if ((status.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0) {
    error = (status.st_mode & 0222) == 0 ? EACCES : errno;
    return false;
  }
  if (S_ISREG(status.st_mode) && access(DirectoryOf(target).c_str(), W_OK | X_OK) != 0) {
    error = errno;
    return false;
  }
  return true;
}

std::string ResolvedName(std::string_view name) {
  std::string path = OsName(name);
  std::unique_ptr<char, void (*)(void*)> resolved(realpath(path.c_str(), nullptr), free);
  return resolved ? std::string(resolved.get()) : path;
}

void ExitProcess(std::uint32_t exitCode) { _exit(static_cast<int>(exitCode)); }

}  // namespace zubra32::platform

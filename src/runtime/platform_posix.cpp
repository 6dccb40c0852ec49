// POSIX implementation of the platform layer (Linux and the BSDs).
#include "runtime/backup_names.h"
#include "runtime/held_workfile.h"
#include "runtime/platform.h"
#include "runtime/platform_faults.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <utility>

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
std::string OsName(std::string_view name) {
  return std::string(name.substr(0, std::min(name.size(), name.find('\0'))));
}

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

// A descriptor closed when the object goes, unless released.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : Fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(); }
  int Get() const { return Fd; }
  int Release() { return std::exchange(Fd, -1); }
  void Reset(int fd = -1) {
    if (Fd >= 0) close(Fd);
    Fd = fd;
  }

 private:
  int Fd;
};

// The kernel's own open of a name, so that its rules on links apply (links
// it protects are refused, /proc's links lead to the open file itself). A
// name too long for one call is opened a run of whole parts at a time, each
// run resolved by the kernel from the directory the run before it reached.
int KernelOpen(const std::string& path, int flags) {
  if (path.size() < PATH_MAX) return open(path.c_str(), flags | O_CLOEXEC);
  constexpr int DirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  Descriptor current(open(path.front() == '/' ? "/" : ".", DirectoryFlags));
  std::size_t at = 0;
  while (current.Get() >= 0) {
    at = std::min(path.find_first_not_of('/', at), path.size());
    if (path.size() - at < PATH_MAX) return openat(current.Get(), path.c_str() + at, flags | O_CLOEXEC);
    std::size_t end = path.rfind('/', at + PATH_MAX - 2);
    if (end == std::string::npos || end <= at) {
      errno = ENAMETOOLONG;
      return -1;
    }
    current.Reset(openat(current.Get(), path.substr(at, end - at).c_str(), DirectoryFlags));
    at = end;
  }
  return -1;
}

// A link that the kernel refuses to follow (a protected one) is there all
// the same: the Workfile exists, and its load fails.
EntryKind KindOf(const std::string& path) {
  Descriptor named(KernelOpen(path, O_PATH));
  if (named.Get() < 0 && errno == EACCES) named.Reset(KernelOpen(path, O_PATH | O_NOFOLLOW));
  struct stat status {};
  if (named.Get() < 0 || fstat(named.Get(), &status) != 0) return EntryKind::None;
  return S_ISDIR(status.st_mode) ? EntryKind::Directory : EntryKind::File;
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

// Splits a path into its parts, in order; empty parts (doubled slashes) go.
void AppendParts(std::string_view path, std::vector<std::string>& parts) {
  for (std::size_t at = 0; at < path.size();) {
    std::size_t end = std::min(path.find('/', at), path.size());
    if (end > at) parts.emplace_back(path.substr(at, end - at));
    at = end + 1;
  }
}

// Walks `name` a part at a time from directory handles to the entry at its
// end: `directory` then holds the directory that holds it, `entry` its name
// there, and `status` what it is (`found` false when it does not exist).
// Links are followed, at most 40; as root only a link that root owns or
// whose owner owns what it leads to: a link another user planted must not
// take root's write to a file of someone else's.
bool WalkToEntry(const std::string& name, Descriptor& directory, std::string& entry, struct stat& status, bool& found) {
  constexpr int MaxLinks = 40;
  constexpr int DirectoryFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  // The parts still to walk, the next one last; a name ending in a slash ends in "." (the directory).
  std::vector<std::string> parts;
  AppendParts(name, parts);
  if (parts.empty() || name.back() == '/') parts.emplace_back(".");
  std::reverse(parts.begin(), parts.end());
  directory.Reset(open(name.front() == '/' ? "/" : ".", DirectoryFlags));
  int links = 0;
  while (directory.Get() >= 0) {
    entry = std::move(parts.back());
    parts.pop_back();
    if (!parts.empty()) {
      int next = openat(directory.Get(), entry.c_str(), DirectoryFlags);
      if (next >= 0) {
        directory.Reset(next);
        continue;
      }
      if (errno != ENOTDIR && errno != ELOOP) break;
    }
    found = fstatat(directory.Get(), entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found && parts.empty() && errno == ENOENT) return true;
    if (!found) break;
    if (!S_ISLNK(status.st_mode)) {
      if (parts.empty()) return true;
      errno = ENOTDIR;
      break;
    }
    if (++links > MaxLinks) {
      errno = ELOOP;
      break;
    }
    struct stat target {};
    if (geteuid() == 0 && status.st_uid != 0 &&
        (fstatat(directory.Get(), entry.c_str(), &target, 0) != 0 || target.st_uid != status.st_uid)) {
      errno = EACCES;
      break;
    }
    std::string text(PATH_MAX, '\0');
    ssize_t length;
    while ((length = readlinkat(directory.Get(), entry.c_str(), text.data(), text.size())) ==
           static_cast<ssize_t>(text.size())) {
      text.resize(text.size() * 2);
    }
    if (length <= 0) {
      if (length == 0) errno = ENOENT;
      break;
    }
    text.resize(static_cast<std::size_t>(length));
    // The link's parts take its place; an absolute link starts again at the root.
    std::vector<std::string> linked;
    AppendParts(text, linked);
    if (parts.empty() && (linked.empty() || text.back() == '/')) linked.emplace_back(".");
    parts.insert(parts.end(), linked.rbegin(), linked.rend());
    if (text.front() == '/') directory.Reset(open("/", DirectoryFlags));
  }
  return false;
}

// What a held Workfile was at its hold: the file itself (its device and
// number there), the size and last-write time it had, and the time of its
// last change of any kind (text, times, attributes), which no user can set
// back: a same-size change with its modification time restored still shows.
struct FileIdentity {
  std::uint64_t Volume = 0;
  std::uint64_t FileNumber = 0;
  std::uint64_t Size = 0;
  std::int64_t ModifiedSeconds = 0;
  std::int64_t ModifiedNanoseconds = 0;
  std::int64_t ChangedSeconds = 0;
  std::int64_t ChangedNanoseconds = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const struct stat& status) {
  FileIdentity identity;
  identity.Volume = static_cast<std::uint64_t>(status.st_dev);
  identity.FileNumber = static_cast<std::uint64_t>(status.st_ino);
  identity.Size = static_cast<std::uint64_t>(status.st_size);
  identity.ModifiedSeconds = status.st_mtim.tv_sec;
  identity.ModifiedNanoseconds = status.st_mtim.tv_nsec;
  identity.ChangedSeconds = status.st_ctim.tv_sec;
  identity.ChangedNanoseconds = status.st_ctim.tv_nsec;
  return identity;
}

// Waits while a program that opened the file for writing holds a lock on it
// (another run writing it back): a read lock, which anyone who may read the
// file can take, holds nothing up. With `exclusive`, takes the write lock that
// keeps our other runs waiting until the file is closed; where only read locks
// stand in its way, the run goes on without it, and the write-back's check
// that the file is still as loaded guards it instead. Polls until the
// deadline; false when a writer still holds it then.
bool WaitForWriters(int fd, bool exclusive, std::chrono::steady_clock::time_point deadline, ErrorCode& error) {
  // A file system without such locks: nothing of ours can hold it.
  auto unsupported = [] { return errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP; };
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    struct flock lock {};
    lock.l_whence = SEEK_SET;
    lock.l_type = F_WRLCK;
    if (exclusive && fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
    if (exclusive && errno != EAGAIN && errno != EACCES && errno != EINTR) {
      if (unsupported()) return true;
      error = errno;
      return false;
    }
    // Only a write lock stands in the way of a read lock: is there one?
    lock = {};
    lock.l_whence = SEEK_SET;
    lock.l_type = F_RDLCK;
    if (fcntl(fd, F_OFD_GETLK, &lock) != 0) {
      if (unsupported()) return true;
      error = errno;
      return false;
    }
    if (lock.l_type == F_UNLCK) {
      // Readers only, or the writer has just let go: one more try for the lock.
      lock.l_type = F_WRLCK;
      if (exclusive) fcntl(fd, F_OFD_SETLK, &lock);
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      error = EWOULDBLOCK;
      return false;
    }
    struct timespec wait {
      0, static_cast<long>(std::chrono::nanoseconds(pause).count())
    };
    nanosleep(&wait, nullptr);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

// The temporary file of a write-back in progress, for the signal handler:
// its directory and its name there. Changed only while the cleanup signals
// are blocked, read only by the handler.
constexpr std::array<int, 4> CleanupSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile sig_atomic_t pendingDirectory = -1;
char pendingName[NAME_MAX + 1];

// Blocks the cleanup signals while it lives.
class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : CleanupSignals) sigaddset(&set, signal);
    sigprocmask(SIG_BLOCK, &set, &Saved);
  }
  ~CleanupSignalsBlocked() { sigprocmask(SIG_SETMASK, &Saved, nullptr); }
  CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
  CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

 private:
  sigset_t Saved;
};

// Removes the pending temporary file, then lets the signal end the process
// as it would have without us (the handler is reset to the default first).
void RemovePendingAndDie(int signal) {
  int saved = errno;
  if (pendingDirectory >= 0) unlinkat(pendingDirectory, pendingName, 0);
  errno = saved;
  raise(signal);
}

void SetPending(int directory, const std::string& name) {
  std::memcpy(pendingName, name.c_str(), std::min(name.size() + 1, sizeof pendingName));
  pendingDirectory = directory;
}

// A name for a temporary file that nobody can guess ahead of us.
std::string RandomSuffix() {
  constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::array<unsigned char, 6> random{};
  if (getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size())) {
    auto seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                (static_cast<std::uint64_t>(getpid()) << 32);
    for (unsigned char& byte : random) byte = static_cast<unsigned char>(seed >>= 5);
  }
  std::string suffix;
  for (unsigned char byte : random) suffix.push_back(Letters[byte % (sizeof Letters - 1)]);
  return suffix;
}

// The names of the file's extended attributes; empty where it has none or the
// file system keeps none.
bool ListAttributes(int fd, std::vector<std::string>& names) {
  names.clear();
  // Most files have no attributes or a few: one call with room for them.
  std::string list(256, '\0');
  ssize_t size = flistxattr(fd, list.data(), list.size());
  while (size < 0) {
    if (errno == ENOTSUP) return true;
    if (errno != ERANGE) return false;
    size = flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    list.resize(static_cast<std::size_t>(size));
    size = flistxattr(fd, list.data(), list.size());
  }
  list.resize(static_cast<std::size_t>(size));
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find('\0', at);
    if (end == std::string::npos) end = list.size();
    if (end > at) names.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return true;
}

bool ReadAttribute(int fd, const std::string& name, std::string& value) {
  for (;;) {
    ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<std::size_t>(size));
    size = fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (size >= 0) {
      value.resize(static_cast<std::size_t>(size));
      return true;
    }
    if (errno != ERANGE) return false;
  }
}

// Attributes that decide who may do what with the file (ACLs, security
// labels): a copy without them could widen access, so they must come along.
bool GuardsAccess(const std::string& name) { return name.rfind("system.", 0) == 0 || name.rfind("security.", 0) == 0; }

// Takes from `to` the extended attributes that `from` lacks (the entries a
// directory's default ACL gave it, a label of its own), then gives it those of
// `from`. Attributes of other namespaces that we may not copy are left; one
// that guards access fails the copy.
bool CopyExtendedAttributes(int from, int to, ErrorCode& error) {
  std::vector<std::string> names, present;
  if (!ListAttributes(from, names) || !ListAttributes(to, present)) {
    error = errno;
    return false;
  }
  for (const std::string& name : present) {
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    if (fremovexattr(to, name.c_str()) != 0 && errno != ENODATA && GuardsAccess(name)) {
      error = errno;
      return false;
    }
  }
  std::string value;
  for (const std::string& name : names) {
    if (ReadAttribute(from, name, value) && fsetxattr(to, name.c_str(), value.data(), value.size(), 0) == 0) continue;
    if (GuardsAccess(name)) {
      error = errno;
      return false;
    }
  }
  return true;
}

// Gives the new file what the old one carries. It was made with no
// permission bits, so that it grants nobody anything on the way: first owner
// and group, then the extended attributes (an ACL brings the permission bits
// it implies, which are the old file's), and the mode bits last, all twelve.
// Without root, the group is kept where we belong to it, and the set-user-ID
// bit only on a file that was ours already: it must not come to name us
// instead of the old owner. Where the group cannot be kept, the set-group-ID
// bit goes for the same reason. Each step can be made to fail (or pause) in
// the fault-injection build.
bool CopyAttributes(int from, const struct stat& original, int to, ErrorCode& error) {
  mode_t mode = original.st_mode & 07777;
  if (Fails(FaultKind::CopyAttributes, to, {}, error)) return false;
  if (geteuid() == 0) {
    if (fchown(to, original.st_uid, original.st_gid) != 0) {
      error = errno;
      return false;
    }
  } else {
    struct stat copy {};
    if (fstat(to, &copy) != 0) {
      error = errno;
      return false;
    }
    if (original.st_gid != copy.st_gid && fchown(to, static_cast<uid_t>(-1), original.st_gid) != 0)
      mode &= ~static_cast<mode_t>(S_ISGID);
    if (original.st_uid != copy.st_uid) mode &= ~static_cast<mode_t>(S_ISUID);
  }
  if (Fails(FaultKind::CopyAttributes, to, {}, error) || !CopyExtendedAttributes(from, to, error) ||
      Fails(FaultKind::CopyAttributes, to, {}, error)) {
    return false;
  }
  if (fchmod(to, mode) != 0) {
    error = errno;
    return false;
  }
  return true;
}

}  // namespace

void Initialize(int argc, char** argv) {
  startArguments.assign(argv, argv + argc);
  // Output failures never end the run: a reader that went away is a failed write, not a signal.
  signal(SIGPIPE, SIG_IGN);
  // Nor does the file-size limit: a write past it fails (EFBIG) like any other.
  signal(SIGXFSZ, SIG_IGN);
  // The signals that end a process remove a pending temporary file first; a
  // signal ignored when we started (nohup, a background job) stays ignored.
  for (int signal : CleanupSignals) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
    action = {};
    action.sa_handler = RemovePendingAndDie;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
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

// What a held Workfile keeps: the file, the directory that holds it and its
// name there (the write-back works from these, never from the name), what the
// file was at the hold, and whether the system lets us write it.
struct HeldWorkfile::State {
  int File = -1;
  int Directory = -1;
  std::string NameInDirectory;
  FileIdentity Identity;
  bool Writable = false;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (File >= 0) close(File);
    if (Directory >= 0) close(Directory);
  }
};

// A replacement under way: the temporary file, its name in the held
// directory, and the Workfile as Begin saw it (looked at once per write-back).
struct Replacement::State {
  int File = -1;
  std::string TemporaryName;
  struct stat Original {};
};

// Read-only means no write permission bit at all, even for root, as a
// read-only attribute would; otherwise the system decided at the hold whether
// we may write the file. `status` is what the file is now.
static bool MayWriteHeldFile(const HeldWorkfile::State& held, struct stat& status) {
  return fstat(held.File, &status) == 0 && (status.st_mode & 0222) != 0 && held.Writable;
}

HeldWorkfile::HeldWorkfile() = default;
HeldWorkfile::~HeldWorkfile() = default;
HeldWorkfile::HeldWorkfile(HeldWorkfile&&) noexcept = default;
HeldWorkfile& HeldWorkfile::operator=(HeldWorkfile&&) noexcept = default;

void HeldWorkfile::Release() { Details.reset(); }
Handle HeldWorkfile::File() const { return Details ? Details->File : InvalidHandle; }
std::uint64_t HeldWorkfile::Size() const { return Details ? Details->Identity.Size : 0; }

bool HeldWorkfile::StillAsLoaded() const {
  struct stat named {
  }, open{};
  if (!Details || fstatat(Details->Directory, Details->NameInDirectory.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      fstat(Details->File, &open) != 0) {
    return false;
  }
  return S_ISREG(named.st_mode) && named.st_dev == open.st_dev && named.st_ino == open.st_ino &&
         IdentityOf(open) == Details->Identity;
}

HoldResult HeldWorkfile::Hold(std::string_view name, bool forWriting, std::uint64_t maxBytes,
                              int lockWaitMilliseconds) {
  Release();
  ErrorCode error = 0;
  if (Fails(FaultKind::Open, InvalidHandle, name, error)) return HoldResult::Failed;
  const std::string path = OsName(name);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(lockWaitMilliseconds);
  auto same = [](const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; };
  // The kernel and our walk disagree on where the name leads only for a
  // moment while another program renames; for longer, the name is not one
  // the write-back could replace (a /proc link to a deleted file, say).
  for (int disagreements = 0; disagreements < 3;) {
    // The kernel resolves the name first, with its own rules on links; only
    // a regular file is ever opened: a device or pipe is not even touched.
    struct stat kernels {
    }, status{};
    Descriptor named(KernelOpen(path, O_PATH));
    if (named.Get() < 0 || fstat(named.Get(), &kernels) != 0) return HoldResult::Failed;
    if (!S_ISREG(kernels.st_mode)) return HoldResult::NotRegular;
    // The write-back needs the directory that holds the file: our walk must
    // arrive at the very file the kernel opened.
    Descriptor directory;
    std::string entry;
    bool found = false;
    if (!WalkToEntry(path, directory, entry, status, found)) return HoldResult::Failed;
    if (!found || !S_ISREG(status.st_mode) || !same(status, kernels)) {
      ++disagreements;
      continue;
    }
    // A directory we may read can be flushed after the rename; a bare handle cannot.
    if (int readable = openat(directory.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); readable >= 0)
      directory.Reset(readable);
    // A run opens the file for writing too, when it may: only that lets it
    // take the lock that keeps our other runs waiting. A preview reads it only.
    constexpr int Flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    Descriptor file;
    bool writable = false;
    if (forWriting) {
      file.Reset(openat(directory.Get(), entry.c_str(), O_RDWR | Flags));
      writable = file.Get() >= 0;
      if (!writable && errno != EACCES && errno != EPERM && errno != EROFS && errno != ETXTBSY)
        return HoldResult::Failed;
    } else {
      writable = faccessat(directory.Get(), entry.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
    }
    if (file.Get() < 0) file.Reset(openat(directory.Get(), entry.c_str(), O_RDONLY | Flags));
    if (file.Get() < 0 || fstat(file.Get(), &status) != 0) return HoldResult::Failed;
    if (!same(status, kernels)) {
      ++disagreements;
      continue;
    }
    if (!WaitForWriters(file.Get(), forWriting && writable, deadline, error)) {
      return error == EWOULDBLOCK ? HoldResult::Locked : HoldResult::Failed;
    }
    // While we waited, another run may have put a new file in the old one's
    // place: then that new file is the one to load.
    struct stat now {};
    if (fstat(file.Get(), &status) != 0 || fstatat(directory.Get(), entry.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !same(now, status)) {
      if (std::chrono::steady_clock::now() >= deadline) return HoldResult::Locked;
      continue;
    }
    if (static_cast<std::uint64_t>(status.st_size) > maxBytes) return HoldResult::TooLarge;
    Details = std::make_unique<State>();
    Details->File = file.Release();
    Details->Directory = directory.Release();
    Details->NameInDirectory = entry;
    Details->Identity = IdentityOf(status);
    Details->Writable = writable;
    return HoldResult::Held;
  }
  return HoldResult::Failed;
}

bool HeldWorkfile::CanReplace() const {
  // The tests of Replacement::Begin; access() answers for the directory
  // without anything being created in it.
  struct stat status {};
  return Details && MayWriteHeldFile(*Details, status) && faccessat(Details->Directory, ".", W_OK | X_OK, 0) == 0;
}

Replacement::Replacement(HeldWorkfile& held) : Target(held) {}

// Closes and removes a temporary file that was never committed; the Workfile stays as it was.
Replacement::~Replacement() {
  if (!Details) return;
  CleanupSignalsBlocked blocked;
  if (Details->File >= 0) close(Details->File);
  if (!Details->TemporaryName.empty()) unlinkat(Target.Details->Directory, Details->TemporaryName.c_str(), 0);
  pendingDirectory = -1;
}

Handle Replacement::File() const { return Details ? Details->File : InvalidHandle; }

bool Replacement::Begin() {
  auto state = std::make_unique<State>();
  ErrorCode error = 0;
  HeldWorkfile::State* held = Target.Details.get();
  if (!held || !MayWriteHeldFile(*held, state->Original)) return false;
  if (Fails(FaultKind::CreateTemporary, held->Directory, held->NameInDirectory, error)) return false;
  // The temporary file's name keeps well below the length limit of one name.
  // Appended, not prepended to a temporary: g++ 12 -O3 warns -Wrestrict falsely on that.
  const std::string stem = std::string(".").append(held->NameInDirectory, 0, 64).append(".zubra32-");
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temporary = stem + RandomSuffix();
    CleanupSignalsBlocked blocked;
    // No permission bits: the new text is nobody's to read until it has the Workfile's.
    int fd = openat(held->Directory, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd >= 0) {
      SetPending(held->Directory, temporary);
      state->File = fd;
      state->TemporaryName = temporary;
      Details = std::move(state);
      return true;
    }
    if (errno != EEXIST) break;
  }
  return false;
}

// The names in `directory` of regular files owned by `owner`.
static std::vector<std::string> FilesOf(int directory, uid_t owner) {
  std::vector<std::string> names;
  int listing = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(listing >= 0 ? fdopendir(listing) : nullptr, closedir);
  if (!dir && listing >= 0) close(listing);
  for (dirent* item; dir && (item = readdir(dir.get())) != nullptr;) {
    struct stat status {};
    if (fstatat(directory, item->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
        status.st_uid == owner) {
      names.emplace_back(item->d_name);
    }
  }
  return names;
}

// Links the held file itself to a new backup name in its directory; false
// (nothing left) when no name can be had or the link would not be that file.
static bool LinkBackup(const HeldWorkfile::State& held, uid_t owner, Backup& backup) {
  const std::int64_t now = std::time(nullptr);
  const std::string procPath = "/proc/self/fd/" + std::to_string(held.File);
  const int first = NextBackupNumber(held.NameInDirectory, now, FilesOf(held.Directory, owner));
  for (int number = first; number < first + 1000; ++number) {
    std::string name = BackupName(held.NameInDirectory, now, number);
    // The open file itself, never whatever the name leads to now: by its
    // handle where the system lets us, by its /proc link, else by name and checked.
    int linked = linkat(held.File, "", held.Directory, name.c_str(), AT_EMPTY_PATH);
    if (linked != 0 && errno != EEXIST)
      linked = linkat(AT_FDCWD, procPath.c_str(), held.Directory, name.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno != EEXIST)
      linked = linkat(held.Directory, held.NameInDirectory.c_str(), held.Directory, name.c_str(), 0);
    if (linked != 0 && errno == EEXIST) continue;
    if (linked != 0) return false;
    struct stat made {
    }, file{};
    if (fstatat(held.Directory, name.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0 || fstat(held.File, &file) != 0 ||
        made.st_dev != file.st_dev || made.st_ino != file.st_ino) {
      unlinkat(held.Directory, name.c_str(), 0);
      return false;
    }
    backup.Made = name;
    return true;
  }
  return false;
}

CommitResult Replacement::Commit(Backup* backup) {
  if (!Details) return CommitResult::Failed;
  HeldWorkfile::State& held = *Target.Details;
  const int fd = std::exchange(Details->File, -1);
  const int directory = held.Directory;
  const uid_t owner = Details->Original.st_uid;
  ErrorCode error = 0;

  // Everything about the new file is on disk before its name is: the attributes
  // first, then one flush for them and the text.
  bool ok = CopyAttributes(held.File, Details->Original, fd, error);
  if (ok && (Fails(FaultKind::Flush, fd, {}, error) || fsync(fd) != 0)) ok = false;
  if (!CloseDescriptor(fd, error)) ok = false;
  bool changed = false;
  {
    CleanupSignalsBlocked blocked;
    if (ok && !Target.StillAsLoaded()) {
      changed = true;
      ok = false;
    }
    // The backup is the old file itself, linked before the new one takes its name.
    if (ok && backup != nullptr && !LinkBackup(held, owner, *backup)) ok = false;
    if (ok && (Fails(FaultKind::Rename, directory, held.NameInDirectory, error) ||
               renameat(directory, Details->TemporaryName.c_str(), directory, held.NameInDirectory.c_str()) != 0)) {
      ok = false;
    }
    if (!ok) unlinkat(directory, Details->TemporaryName.c_str(), 0);
    if (!ok && backup != nullptr && !backup->Made.empty()) {
      unlinkat(directory, backup->Made.c_str(), 0);
      backup->Made.clear();
    }
    pendingDirectory = -1;
  }
  Details.reset();
  if (!ok) return changed ? CommitResult::Changed : CommitResult::Failed;

  // The new text is in place from the rename on. A directory that cannot be
  // flushed may lose the rename in a crash, so that is still reported as a
  // failure ("can't be written", status 4) although the Workfile now holds the
  // new text: a run that reports success has made its changes durable.
  if (Fails(FaultKind::DirectoryFlush, directory, held.NameInDirectory, error)) return CommitResult::Failed;
  // Some file systems cannot flush a directory at all; that is no failure of ours.
  // A directory we may not read is held as a bare handle, which cannot be
  // flushed: flushing the whole file system it is on makes the rename durable.
  if (fsync(directory) != 0 && errno != EINVAL && !(errno == EBADF && syncfs(held.File) == 0))
    return CommitResult::Failed;
  // Older backups beyond the number kept go; only ones of our own making.
  if (backup != nullptr && backup->KeepNewest > 0) {
    std::vector<std::string> backups = BackupsNewestFirst(held.NameInDirectory, FilesOf(directory, owner));
    for (std::size_t i = static_cast<std::size_t>(backup->KeepNewest); i < backups.size(); ++i)
      unlinkat(directory, backups[i].c_str(), 0);
  }
  return CommitResult::Replaced;
}

bool WriteWholeFile(std::string_view name, std::string_view bytes) {
  const std::string path = OsName(name);
  const std::size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (base.empty() || base == "." || base == "..") return false;
  // The directory as the kernel and our walk both reach it, as for a Workfile.
  Descriptor directory, kernels(KernelOpen(parent, O_PATH | O_DIRECTORY));
  std::string entry;
  struct stat walked {
  }, opened{};
  bool found = false;
  if (kernels.Get() < 0 || !WalkToEntry(parent + "/", directory, entry, walked, found) || !found ||
      fstat(kernels.Get(), &opened) != 0 || opened.st_dev != walked.st_dev || opened.st_ino != walked.st_ino) {
    return false;
  }
  if (int readable = openat(directory.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); readable >= 0)
    directory.Reset(readable);
  const std::string stem = std::string(".").append(base, 0, 64).append(".zubra32-");
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = stem + RandomSuffix();
    int fd;
    {
      CleanupSignalsBlocked blocked;
      fd = openat(directory.Get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0) SetPending(directory.Get(), temporary);
    }
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return false;
    ErrorCode error = 0;
    bool ok = WriteBytes(fd, bytes.data(), bytes.size(), error) && fsync(fd) == 0;
    ok = CloseDescriptor(fd, error) && ok;
    CleanupSignalsBlocked blocked;
    ok = ok && renameat(directory.Get(), temporary.c_str(), directory.Get(), base.c_str()) == 0;
    if (!ok) unlinkat(directory.Get(), temporary.c_str(), 0);
    pendingDirectory = -1;
    return ok && (fsync(directory.Get()) == 0 || errno == EINVAL || errno == EBADF);
  }
  return false;
}

bool Rewind(Handle handle, ErrorCode& error) {
  if (lseek(static_cast<int>(handle), 0, SEEK_SET) == 0) return true;
  error = errno;
  return false;
}

std::string ResolvedName(std::string_view name) {
  std::string path = OsName(name);
  auto resolve = [](const std::string& part) {
    std::unique_ptr<char, void (*)(void*)> resolved(realpath(part.c_str(), nullptr), free);
    return resolved ? std::optional<std::string>(resolved.get()) : std::nullopt;
  };
  if (auto whole = resolve(path)) return *whole;
  // A name that leads nowhere (yet): its directory resolved, the last part as given.
  std::size_t slash = path.rfind('/');
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  auto directory = resolve(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash));
  if (!directory || last.empty() || last == "." || last == "..") return path;
  return *directory + (directory->back() == '/' ? "" : "/") + last;
}

void ExitProcess(std::uint32_t exitCode) { _exit(static_cast<int>(exitCode)); }

}  // namespace zubra32::platform

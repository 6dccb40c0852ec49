// A library preloaded (LD_PRELOAD) into a run of the program that records,
// in the order they happen, the calls that make a write-back durable: every
// flush to disk, every rename and the end of the process. Each call is passed
// on to the C library unchanged; one line per call is appended to the file
// named by ZUBRA32_CALL_LOG. Nothing is recorded when that variable is unset.
//
// Files are named by what they are at the moment of the call, so that a later
// rename or a reused name cannot blur the order: device and inode (and the
// size, for a file flushed or renamed), and the path as /proc/self/fd shows
// it for a descriptor. A name relative to a directory descriptor is resolved
// through /proc/self/fd as well.
//
// Lines (fields separated by one TAB):
//   flush    CALL RESULT DEV:INO SIZE PATH           fsync, fdatasync on a descriptor
//   flushfs  CALL RESULT DEV PATH                    syncfs on a descriptor's file system; sync: DEV "*"
//   rename   CALL RESULT DEV:INO SIZE DIRDEV:DIRINO FROM TO
//            the file renamed, the directory it is renamed into, both names absolute
//   exit     CODE                                    _exit, _Exit, exit, or "?" at the library's unloading
// RESULT is "ok" or the error number.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

bool exitRecorded = false;

// Appends one line to the log; the log is opened for each line, so that the
// program may close any descriptor it likes.
void Record(const std::string& line) {
  const char* log = getenv("ZUBRA32_CALL_LOG");
  if (log == nullptr || *log == '\0') return;
  int saved = errno;
  int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    std::string text = line + "\n";
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
    close(fd);
  }
  errno = saved;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

std::string Result(int result, int error) { return result == 0 ? "ok" : std::to_string(error); }

std::string Identity(const struct stat& status) {
  return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

std::string LinkOf(const std::string& link) {
  char path[PATH_MAX];
  ssize_t length = readlink(link.c_str(), path, sizeof path - 1);
  return length < 0 ? std::string("?") : std::string(path, static_cast<std::size_t>(length));
}

std::string PathOfDescriptor(int fd) { return LinkOf("/proc/self/fd/" + std::to_string(fd)); }

// An absolute path for `name` taken relative to `directoryFd`, its directory
// part resolved to what it is now (the name itself may be about to vanish).
std::string Absolute(int directoryFd, const char* name) {
  std::string path = name;
  if (path.empty() || path.front() != '/') {
    std::string base = directoryFd == AT_FDCWD ? LinkOf("/proc/self/cwd") : PathOfDescriptor(directoryFd);
    path = base + "/" + path;
  }
  std::size_t slash = path.rfind('/');
  std::string directory = slash == 0 ? "/" : path.substr(0, slash);
  char resolved[PATH_MAX];
  if (realpath(directory.c_str(), resolved) == nullptr) return path;
  return std::string(resolved) + (std::strcmp(resolved, "/") == 0 ? "" : "/") + path.substr(slash + 1);
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

void RecordFlush(const char* call, int fd, int result, int error) {
  struct stat status {};
  std::string identity = fstat(fd, &status) == 0 ? Identity(status) : "?";
  Record(std::string("flush\t") + call + "\t" + Result(result, error) + "\t" + identity + "\t" +
         std::to_string(status.st_size) + "\t" + PathOfDescriptor(fd));
}

void RecordFileSystemFlush(const char* call, int fd, int result, int error) {
  struct stat status {};
  std::string device = fd < 0 ? "*" : fstat(fd, &status) == 0 ? std::to_string(status.st_dev) : "?";
  Record(std::string("flushfs\t") + call + "\t" + Result(result, error) + "\t" + device + "\t" +
         (fd < 0 ? std::string("*") : PathOfDescriptor(fd)));
}

// What a rename is about to move where; recorded once the call has returned.
struct PendingRename {
  std::string From, To, File, Size, Directory;
  PendingRename(int fromFd, const char* fromName, int toFd, const char* toName)
      : From(Absolute(fromFd, fromName)), To(Absolute(toFd, toName)) {
    struct stat status {};
    File = lstat(From.c_str(), &status) == 0 ? Identity(status) : "?";
    Size = std::to_string(status.st_size);
    struct stat directoryStatus {};
    Directory = stat(DirectoryOf(To).c_str(), &directoryStatus) == 0 ? Identity(directoryStatus) : "?";
  }
  void Done(const char* call, int result, int error) const {
    Record(std::string("rename\t") + call + "\t" + Result(result, error) + "\t" + File + "\t" + Size + "\t" +
           Directory + "\t" + From + "\t" + To);
  }
};

void RecordExit(const std::string& code) {
  if (exitRecorded) return;
  exitRecorded = true;
  Record("exit\t" + code);
}

}  // namespace

extern "C" {

int fsync(int fd) {
  static auto next = Next<int (*)(int)>("fsync");
  int result = next(fd);
  int error = errno;
  RecordFlush("fsync", fd, result, error);
  errno = error;
  return result;
}

int fdatasync(int fd) {
  static auto next = Next<int (*)(int)>("fdatasync");
  int result = next(fd);
  int error = errno;
  RecordFlush("fdatasync", fd, result, error);
  errno = error;
  return result;
}

int syncfs(int fd) {
  static auto next = Next<int (*)(int)>("syncfs");
  int result = next(fd);
  int error = errno;
  RecordFileSystemFlush("syncfs", fd, result, error);
  errno = error;
  return result;
}

void sync() {
  static auto next = Next<void (*)()>("sync");
  next();
  RecordFileSystemFlush("sync", -1, 0, 0);
}

int rename(const char* from, const char* to) {
  static auto next = Next<int (*)(const char*, const char*)>("rename");
  PendingRename pending(AT_FDCWD, from, AT_FDCWD, to);
  int result = next(from, to);
  int error = errno;
  pending.Done("rename", result, error);
  errno = error;
  return result;
}

int renameat(int fromFd, const char* from, int toFd, const char* to) {
  static auto next = Next<int (*)(int, const char*, int, const char*)>("renameat");
  PendingRename pending(fromFd, from, toFd, to);
  int result = next(fromFd, from, toFd, to);
  int error = errno;
  pending.Done("renameat", result, error);
  errno = error;
  return result;
}

int renameat2(int fromFd, const char* from, int toFd, const char* to, unsigned int flags) {
  static auto next = Next<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
  PendingRename pending(fromFd, from, toFd, to);
  int result = next(fromFd, from, toFd, to, flags);
  int error = errno;
  pending.Done("renameat2", result, error);
  errno = error;
  return result;
}

void _exit(int code) {
  static auto next = Next<void (*)(int)>("_exit");
  RecordExit(std::to_string(code));
  next(code);
  __builtin_unreachable();
}

void _Exit(int code) {
  static auto next = Next<void (*)(int)>("_Exit");
  RecordExit(std::to_string(code));
  next(code);
  __builtin_unreachable();
}

void exit(int code) {
  static auto next = Next<void (*)(int)>("exit");
  RecordExit(std::to_string(code));
  next(code);
  __builtin_unreachable();
}

}  // extern "C"

// A return from main ends the process without passing any of the above.
__attribute__((destructor)) static void RecordUnload() { RecordExit("?"); }

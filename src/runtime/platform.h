// The one place where the program talks to the operating system. Each primitive
// reports success or failure with the platform's own error number and decides
// nothing: the text-file and Workfile layers decide what a failure means.
// One implementation file per platform (platform_posix.cpp, platform_windows.cpp),
// both with these signatures; no OS type crosses this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zubra32::platform {

// An open file or standard stream; InvalidHandle when nothing is open.
using Handle = std::intptr_t;
constexpr Handle InvalidHandle = -1;

// The platform's error number of a failed call (errno, GetLastError).
using ErrorCode = int;

// Remembers the arguments the process was started with (ignored where the
// platform gives the command line by itself), and sees to it that a signal or
// console event that ends the process removes a pending temporary file first.
void Initialize(int argc, char** argv);

// The command-line arguments, the program's own name first.
std::vector<std::string> CommandLineArguments();

// The full path of the running program file.
std::string ProgramFilePath();

// Calls `visit` with each "NAME=value" entry of the environment in the
// environment's own order until it returns true.
void VisitEnvironment(const std::function<bool(std::string_view entry)>& visit);

// What a name denotes: nothing, a directory, or any other entry (a plain file,
// a device, ...). A name holding * or ? that does not exist as written is a
// pattern: its first match decides.
enum class EntryKind { None, File, Directory };
EntryKind ProbeName(std::string_view name);

Handle StandardInput();
Handle StandardOutput();

// Opens an existing file for reading; other programs may go on reading and writing it.
Handle OpenForReading(std::string_view name, ErrorCode& error);

// Creates the file, or empties it if it exists, and opens it for writing.
Handle CreateForWriting(std::string_view name, ErrorCode& error);

// True for a console, a character device or a pipe: output to it is written
// through at every line end.
bool IsInteractiveOrPipe(Handle handle);

// Reads up to `capacity` bytes; 0 means the file's bytes are exhausted (a
// broken pipe counts as that). Returns -1 on failure.
std::int64_t ReadBytes(Handle handle, char* buffer, std::size_t capacity, ErrorCode& error);

// Writes all `size` bytes, looping over partial writes.
bool WriteBytes(Handle handle, const char* bytes, std::size_t size, ErrorCode& error);

bool CloseFile(Handle handle, ErrorCode& error);

// What a loaded Workfile was at its load: the file itself (its volume and
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

// A Workfile held from its load until it is written back or let go. Its name
// is resolved once, at the load: the write-back works from what is held here
// and never looks the name up again.
struct HeldWorkfile {
  Handle File = InvalidHandle;       // open for reading and locked against our other runs
  Handle Directory = InvalidHandle;  // POSIX: the directory that holds the file (links followed)
  std::string NameInDirectory;       // POSIX: its name in that directory; Windows: its full final path
  std::string GivenName;             // as the section line names it
  FileIdentity Identity;             // at the load
  bool Writable = false;             // the system lets us write it (a run holds it open for writing then)
};

// How taking hold of a Workfile ended.
enum class HoldResult {
  Held,        // open, locked, and still the file the name leads to
  NotRegular,  // a device, pipe, socket or directory: never read or written
  TooLarge,    // more than the given number of bytes
  Locked,      // another of our runs held it for longer than the wait
  Failed,      // could not be opened (`error` says why)
};

// Resolves `name` once, opens the regular file it leads to and waits, at
// most `lockWaitMilliseconds`, while another run that writes it holds it. The
// system resolves the name, so its own rules on links apply; POSIX: our walk
// to the file's directory must arrive at the same file, and as root a link is
// followed only where root owns it or its owner owns what it leads to.
// `forWriting` (a run): opened for writing too where we may, and locked
// against our other runs until it is let go; otherwise (a preview) opened
// for reading only and not locked. A name that another run gave a new file
// while we waited is opened again.
HoldResult HoldWorkfile(std::string_view name, bool forWriting, std::uint64_t maxBytes, int lockWaitMilliseconds,
                        HeldWorkfile& held, ErrorCode& error);

// Closes what HoldWorkfile opened, which ends the lock; nothing else happens.
void ReleaseWorkfile(HeldWorkfile& held);

// A new text for a held Workfile, written beside it and put in its place in
// one step, so that the file is always either exactly old or exactly new.
struct Replacement {
  Handle TemporaryFile = InvalidHandle;  // the temporary file, open for writing
  std::string TemporaryName;             // POSIX: its name in the held directory; Windows: its full path
};

// Checks that the held Workfile may be replaced and creates the temporary
// file exclusively beside it, with no permission bits at all. False, with nothing
// left behind, when the file is read-only, not writable for us, or no
// temporary file can be created there.
bool BeginReplacement(const HeldWorkfile& held, Replacement& replacement, ErrorCode& error);

// How a replacement ended.
enum class CommitResult {
  Replaced,  // the Workfile holds the new text, durably
  Changed,   // the name no longer leads to the file as loaded: nothing was replaced
  Failed,    // `error` says why; see CommitReplacement
};

// Gives the temporary file everything the Workfile carries (owner and group,
// then its extended attributes: ACLs, security labels and the rest, then all
// mode bits; at no moment does it grant more than the Workfile), flushes it
// to disk, checks that the name still leads to the file as loaded, renames it
// over that name and flushes the directory. Short of
// the rename, the Workfile is left as it was and the temporary file is removed.
// A failed directory flush comes after the rename: the Workfile then already
// holds the new text, and the failure is still reported, since the rename may
// not survive a crash.
CommitResult CommitReplacement(HeldWorkfile& held, Replacement& replacement, ErrorCode& error);

// Closes and removes the temporary file; the Workfile stays as it was.
void AbandonReplacement(const HeldWorkfile& held, Replacement& replacement);

// What a preview asks without changing anything: whether BeginReplacement
// would be let to replace the held Workfile. False, with the error, when the
// file is read-only or not writable for us, or when its directory does not
// let us create the temporary file. Creates and changes nothing.
bool CanReplace(const HeldWorkfile& held, ErrorCode& error);

// True while the held Workfile's name still leads to the file as it was
// loaded: the same file, not a link or another file put there, its size and
// last-write time unchanged. CommitReplacement asks the same before it renames.
bool StillAsLoaded(const HeldWorkfile& held);

// Sets an open file's reading position back to its start.
bool Rewind(Handle handle, ErrorCode& error);

// The one name under which the file that `name` leads to is known: the
// absolute path with links resolved, as a write-back through `name` would
// replace it. The name itself when it cannot be resolved.
std::string ResolvedName(std::string_view name);

// Ends the process with the exit code at once; open files are not flushed.
[[noreturn]] void ExitProcess(std::uint32_t exitCode);

}  // namespace zubra32::platform

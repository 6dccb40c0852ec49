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
// platform gives the command line by itself).
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

// A new text for an existing file, written beside it and put in its place in
// one step, so that the file is always either exactly old or exactly new.
struct Replacement {
  Handle handle = InvalidHandle;  // the temporary file, open for writing
  std::string temporaryName;      // where the new text is being written
  std::string targetName;         // the file that will be replaced (a link's target)
  bool inPlace = false;           // a device or pipe: written directly, nothing to rename
};

// Checks that `name` may be replaced and creates the temporary file
// exclusively, readable by its owner only. False, with nothing left behind,
// when the file is read-only, not writable for us, or no temporary file can
// be created beside it.
bool BeginReplacement(std::string_view name, Replacement& replacement, ErrorCode& error);

// Flushes the temporary file to disk, gives it the target's permissions, closes
// it and renames it over the target, then flushes the directory. On failure
// the target is left as it was and the temporary file is removed, except when
// only the directory flush fails: the target then already holds the new text,
// and the failure is still reported, since the rename may not survive a crash.
bool CommitReplacement(Replacement& replacement, ErrorCode& error);

// Closes and removes the temporary file; the target stays as it was.
void AbandonReplacement(Replacement& replacement);

// What a preview asks without changing anything: whether BeginReplacement
// would be let to replace `name`. False, with the error, when the file (a
// link's target) is read-only or not writable for us, or when its directory
// does not let us create the temporary file. Creates and changes nothing.
bool CanReplace(std::string_view name, ErrorCode& error);

// The one name under which the file that `name` leads to is known: the
// absolute path with links resolved, as a write-back through `name` would
// replace it. The name itself when it cannot be resolved.
std::string ResolvedName(std::string_view name);

// Ends the process with the exit code at once; open files are not flushed.
[[noreturn]] void ExitProcess(std::uint32_t exitCode);

}  // namespace zubra32::platform

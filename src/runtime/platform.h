// The one place where the program talks to the operating system: the
// primitives here, and a Workfile's hold and replacement in held_workfile.h.
// Each primitive reports success or failure with the platform's own error
// number and decides nothing: the text-file and Workfile layers decide what a
// failure means. One implementation file per platform (platform_posix.cpp,
// platform_windows.cpp) serves both headers; no OS type crosses them.
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

// Sets an open file's reading position back to its start.
bool Rewind(Handle handle, ErrorCode& error);

// The one name under which the file that `name` leads to is known: the
// absolute path with links resolved, as a write-back through `name` would
// replace it. For a name that leads to nothing, its directory resolved and
// its last part as given; the name itself when not even that resolves.
std::string ResolvedName(std::string_view name);

// Ends the process with the exit code at once; open files are not flushed.
[[noreturn]] void ExitProcess(std::uint32_t exitCode);

}  // namespace zubra32::platform

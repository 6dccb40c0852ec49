// A seam for tests that makes chosen platform calls fail. It exists only in
// builds compiled with ZUBRA32_FAULT_INJECTION (the zubra32_core_faults
// library, linked by the fault tests); the program itself never consults it.
// The test that links such a build defines the hook.
#pragma once

#include <string_view>

#include "runtime/held_workfile.h"
#include "runtime/platform.h"

namespace zubra32::platform {

// The calls that can be made to fail: the reading of a Workfile and every
// step of its write-back.
enum class FaultKind {
  Open,             // opening a file for reading
  Read,             // one read of an open file
  CreateTemporary,  // creating the temporary file beside a Workfile
  Write,            // one write of buffered bytes
  Flush,            // flushing the temporary file to disk
  Close,            // closing a file (the real close still happens)
  Rename,           // the rename that puts the temporary file in the Workfile's place
                    // (renameat; on Windows MoveFileExA, after ReplaceFileA failed)
  DirectoryFlush,   // flushing the Workfile's directory after the rename (POSIX only)
  Replace,          // ReplaceFileA putting the temporary file in the Workfile's place (Windows only)
  CopyAttributes,   // each step of giving the temporary file the Workfile's owner, extended
                    // attributes and mode bits (POSIX only; ReplaceFileA does it on Windows)
};
constexpr int FaultKindCount = 10;

// Asked before each such call with what the call works on: `handle` for calls
// on an open file, `name` for calls on a name (the Workfile's as given, or
// Windows's full path), or both for a name in a held directory (POSIX: the
// directory's handle and the Workfile's name in it). True makes the call
// fail with `error` as its error number: the caller then goes on exactly as
// after a real failure with that error (on Windows it is the last error too).
bool InjectedFailure(FaultKind kind, Handle handle, std::string_view name, ErrorCode& error);

}  // namespace zubra32::platform

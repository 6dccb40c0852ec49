// Line-oriented text files. Works on bytes: LF ends a line, CR bytes are
// dropped when reading, Ctrl-Z ends a file, and every line written ends with
// CR LF.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/platform.h"

namespace zubra32 {

// Bytes moved per platform read or write: the standard streams keep the small
// buffer, a named file or an attached handle gets the large one. Nothing but
// the number of platform calls depends on the size.
constexpr std::size_t ConsoleBufferSize = 128;

// The bytes that shape a text: LF ends a line, CR is dropped where it stands
// when reading and goes before LF when writing, Ctrl-Z ends the text.
constexpr char LineFeed = '\n';
constexpr char CarriageReturn = '\r';
constexpr char EndOfFileMark = '\x1a';
constexpr std::size_t FileBufferSize = 64 * 1024;

class TextFile {
 public:
  TextFile() = default;
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;
  ~TextFile();

  // Opens an existing file for reading; the empty name is standard input.
  // A file that fails to open stays closed and reads as empty.
  void OpenRead(std::string_view name);

  // Creates or empties the file and opens it for writing; the empty name is
  // standard output. A file that fails to open stays as it was on disk.
  void OpenWrite(std::string_view name);

  // Takes over a handle that is already open for writing (a Workfile's
  // replacement); the buffer is written out only when full and at Flush.
  void AttachWrite(platform::Handle handle);

  // A line longer than `bytes` fails the file (Failed) instead of being read whole.
  void LimitLine(std::size_t bytes) { LineLimit = bytes; }

  // True when no line is left: no byte left, or the next byte is Ctrl-Z.
  bool Eof();

  // The next line without its line end; CR bytes are dropped wherever they
  // stand. Gives the empty string once Eof is true.
  std::string ReadLine();
  void ReadLine(std::string& line);

  // Writes the text, then CR LF.
  void WriteLn(std::string_view text);

  // Writes the bytes as they are, with no line end.
  void Write(std::string_view bytes);

  // Writes out what is buffered; the handle stays open.
  void Flush();

  // Writes out what is buffered (writing) and releases the handle.
  void Close();

  // Gives up an attached handle without closing it (after a final Flush).
  platform::Handle Detach();

  bool IsOpen() const { return CurrentState != State::Closed; }

  // True when any operation since the last opening failed: the file could not
  // be opened, a read or write failed, or the close failed.
  bool Failed() const { return HasFailed; }

 private:
  enum class State { Closed, Reading, Writing };

  // Closes what is open and starts afresh on `handle`; an invalid handle
  // leaves the file closed and failed.
  void Start(State state, platform::Handle handle, bool ownsHandle, std::size_t bufferSize);
  bool Fill();
  void UseBuffer(std::size_t size);
  void WriteBytes(const char* bytes, std::size_t size);
  void Fail();

  platform::Handle FileHandle = platform::InvalidHandle;
  State CurrentState = State::Closed;
  bool OwnsHandle = false;     // false for the standard streams and attached handles
  bool WritesThrough = false;  // the buffer is written out at every line end
  bool HasFailed = false;
  std::size_t Position = 0;        // next byte to read
  std::size_t Valid = 0;           // bytes in the buffer (reading) or waiting (writing)
  std::unique_ptr<char[]> Buffer;  // BufferSize bytes, none before the first opening
  std::size_t BufferSize = 0;
  std::size_t LineLimit = SIZE_MAX;
};

}  // namespace zubra32

#include "runtime/text_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/strings.h"

namespace zubra32 {

namespace {

// Appends the bytes to the line, leaving out every CR among them.
void AppendWithoutCarriageReturns(std::string& line, const char* bytes, std::size_t size) {
  while (size > 0) {
    const auto* cr = static_cast<const char*>(std::memchr(bytes, CarriageReturn, size));
    std::size_t part = cr == nullptr ? size : static_cast<std::size_t>(cr - bytes);
    line.append(bytes, part);
    if (cr == nullptr) return;
    bytes += part + 1;
    size -= part + 1;
  }
}

}  // namespace

TextFile::~TextFile() {
  if (CurrentState != State::Closed && OwnsHandle) Close();
}

void TextFile::Fail() { HasFailed = true; }

void TextFile::UseBuffer(std::size_t size) {
  if (BufferSize == size) return;
  Buffer = std::make_unique_for_overwrite<char[]>(size);
  BufferSize = size;
}

void TextFile::Start(State state, platform::Handle handle, bool ownsHandle, std::size_t bufferSize) {
  if (IsOpen()) Close();
  HasFailed = false;
  Position = Valid = 0;
  WritesThrough = false;
  FileHandle = handle;
  OwnsHandle = ownsHandle;
  UseBuffer(bufferSize);
  // A file that failed to open stays closed: it reads as empty and takes no line.
  if (handle == platform::InvalidHandle) return Fail();
  CurrentState = state;
}

void TextFile::OpenRead(std::string_view name) {
  platform::ErrorCode error = 0;
  if (name.empty()) return Start(State::Reading, platform::StandardInput(), false, ConsoleBufferSize);
  Start(State::Reading, platform::OpenForReading(name, error), true, FileBufferSize);
}

void TextFile::OpenWrite(std::string_view name) {
  platform::ErrorCode error = 0;
  if (name.empty()) {
    Start(State::Writing, platform::StandardOutput(), false, ConsoleBufferSize);
    WritesThrough = true;
    return;
  }
  Start(State::Writing, platform::CreateForWriting(name, error), true, FileBufferSize);
  if (IsOpen()) WritesThrough = platform::IsInteractiveOrPipe(FileHandle);
}

void TextFile::AttachWrite(platform::Handle handle) { Start(State::Writing, handle, false, FileBufferSize); }

bool TextFile::Fill() {
  if (Position < Valid) return true;
  Position = Valid = 0;
  if (CurrentState != State::Reading) return false;
  platform::ErrorCode error = 0;
  std::int64_t count = platform::ReadBytes(FileHandle, Buffer.get(), BufferSize, error);
  if (count < 0) {
    // The bytes of a failed transfer are lost; the file reads as ended.
    Fail();
    return false;
  }
  Valid = static_cast<std::size_t>(count);
  return Valid > 0;
}

bool TextFile::Eof() {
  if (CurrentState != State::Reading) {
    Fail();
    return true;
  }
  return !Fill() || Buffer[Position] == EndOfFileMark;
}

std::string TextFile::ReadLine() {
  std::string line;
  ReadLine(line);
  return line;
}

void TextFile::ReadLine(std::string& line) {
  line.clear();
  if (CurrentState != State::Reading) return Fail();
  while (Fill()) {
    const char* start = Buffer.get() + Position;
    std::size_t available = Valid - Position;
    // The line ends at the first LF or Ctrl-Z in the buffer; if neither is
    // there, all of it belongs to the line and the next block goes on with it.
    const auto* lineFeed = static_cast<const char*>(std::memchr(start, LineFeed, available));
    std::size_t span = lineFeed == nullptr ? available : static_cast<std::size_t>(lineFeed - start);
    const auto* mark = static_cast<const char*>(std::memchr(start, EndOfFileMark, span));
    if (mark != nullptr) span = static_cast<std::size_t>(mark - start);
    AppendWithoutCarriageReturns(line, start, span);
    Position += span;
    if (line.size() > LineLimit) {
      line.clear();
      return Fail();
    }
    if (mark != nullptr) return;  // stays unread: the file ends here
    if (lineFeed != nullptr) {
      ++Position;
      return;
    }
  }
}

void TextFile::WriteBytes(const char* bytes, std::size_t size) {
  while (size > 0) {
    std::size_t room = BufferSize - Valid;
    std::size_t part = size < room ? size : room;
    std::memcpy(Buffer.get() + Valid, bytes, part);
    Valid += part;
    bytes += part;
    size -= part;
    if (Valid == BufferSize) Flush();
  }
}

void TextFile::Flush() {
  if (CurrentState != State::Writing || Valid == 0) return;
  platform::ErrorCode error = 0;
  if (!platform::WriteBytes(FileHandle, Buffer.get(), Valid, error)) Fail();
  Valid = 0;
}

void TextFile::WriteLn(std::string_view text) {
  if (CurrentState != State::Writing) return Fail();
  WriteBytes(text.data(), text.size());
  WriteBytes("\r\n", 2);
  if (WritesThrough) Flush();
}

void TextFile::Write(std::string_view bytes) {
  if (CurrentState != State::Writing) return Fail();
  WriteBytes(bytes.data(), bytes.size());
}

void TextFile::Close() {
  if (CurrentState == State::Closed) return Fail();
  Flush();
  if (OwnsHandle) {
    platform::ErrorCode error = 0;
    if (!platform::CloseFile(FileHandle, error)) Fail();
  }
  FileHandle = platform::InvalidHandle;
  CurrentState = State::Closed;
  OwnsHandle = false;
  Position = Valid = 0;
}

platform::Handle TextFile::Detach() {
  Flush();
  platform::Handle handle = FileHandle;
  FileHandle = platform::InvalidHandle;
  CurrentState = State::Closed;
  OwnsHandle = false;
  return handle;
}

}  // namespace zubra32

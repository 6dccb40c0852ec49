#include "runtime/text_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/strings.h"

namespace zubra32 {

namespace {

constexpr char LineFeed = '\n';
constexpr char CarriageReturn = '\r';
constexpr char EndOfFileMark = '\x1a';

platform::ErrorCode pendingIoError = 0;

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

platform::ErrorCode PendingIoError() { return pendingIoError; }

TextFile::~TextFile() {
  if (state_ != State::Closed && ownsHandle_) Close();
}

void TextFile::Fail(platform::ErrorCode error) {
  pendingIoError = error;
  failed_ = true;
}

void TextFile::UseBuffer(std::size_t size) {
  if (bufferSize_ == size) return;
  buffer_ = std::make_unique_for_overwrite<char[]>(size);
  bufferSize_ = size;
}

void TextFile::OpenRead(std::string_view name) {
  if (IsOpen()) Close();
  failed_ = false;
  position_ = valid_ = 0;
  bytesRead_ = 0;
  writeThrough_ = false;
  if (name.empty()) {
    handle_ = platform::StandardInput();
    ownsHandle_ = false;
    UseBuffer(ConsoleBufferSize);
  } else {
    UseBuffer(FileBufferSize);
    platform::ErrorCode error = 0;
    handle_ = platform::OpenForReading(name, error);
    if (handle_ == platform::InvalidHandle) return Fail(error);
    ownsHandle_ = true;
  }
  state_ = State::Reading;
}

void TextFile::OpenWrite(std::string_view name) {
  if (IsOpen()) Close();
  failed_ = false;
  position_ = valid_ = 0;
  if (name.empty()) {
    handle_ = platform::StandardOutput();
    ownsHandle_ = false;
    writeThrough_ = true;
    UseBuffer(ConsoleBufferSize);
  } else {
    UseBuffer(FileBufferSize);
    platform::ErrorCode error = 0;
    handle_ = platform::CreateForWriting(name, error);
    if (handle_ == platform::InvalidHandle) return Fail(error);
    ownsHandle_ = true;
    writeThrough_ = platform::IsInteractiveOrPipe(handle_);
  }
  state_ = State::Writing;
}

void TextFile::AttachWrite(platform::Handle handle) {
  if (IsOpen()) Close();
  failed_ = false;
  position_ = valid_ = 0;
  handle_ = handle;
  ownsHandle_ = false;
  writeThrough_ = false;
  UseBuffer(FileBufferSize);
  state_ = State::Writing;
}

void TextFile::AttachRead(platform::Handle handle) {
  if (IsOpen()) Close();
  failed_ = false;
  position_ = valid_ = 0;
  bytesRead_ = 0;
  handle_ = handle;
  ownsHandle_ = false;
  writeThrough_ = false;
  UseBuffer(FileBufferSize);
  state_ = State::Reading;
}

bool TextFile::Fill() {
  if (position_ < valid_) return true;
  position_ = valid_ = 0;
  if (state_ != State::Reading || bytesRead_ > readLimit_) return false;
  // One byte past the limit is read, to tell a file of exactly that size from a longer one.
  std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(bufferSize_, readLimit_ + 1 - bytesRead_));
  platform::ErrorCode error = 0;
  std::int64_t count = platform::ReadBytes(handle_, buffer_.get(), wanted, error);
  if (count < 0) {
    // The bytes of a failed transfer are lost; the file reads as ended.
    Fail(error);
    return false;
  }
  valid_ = static_cast<std::size_t>(count);
  bytesRead_ += valid_;
  if (bytesRead_ > readLimit_) valid_ = position_ = 0;
  return valid_ > 0;
}

std::string_view TextFile::Peek(std::size_t count) {
  if (state_ != State::Reading || !Fill()) return {};
  // A short first read (a pipe, a tiny file) may hold fewer bytes than asked for.
  return std::string_view(buffer_.get() + position_, std::min(count, valid_ - position_));
}

void TextFile::Skip(std::size_t count) { position_ = std::min(position_ + count, valid_); }

bool TextFile::Eof() {
  if (state_ != State::Reading) {
    Fail(ErrorFileNotOpenForInput);
    return true;
  }
  return !Fill() || buffer_[position_] == EndOfFileMark;
}

std::string TextFile::ReadLine() {
  std::string line;
  ReadLine(line);
  return line;
}

void TextFile::ReadLine(std::string& line) {
  line.clear();
  if (state_ != State::Reading) return Fail(ErrorFileNotOpenForInput);
  while (Fill()) {
    const char* start = buffer_.get() + position_;
    std::size_t available = valid_ - position_;
    // The line ends at the first LF or Ctrl-Z in the buffer; if neither is
    // there, all of it belongs to the line and the next block goes on with it.
    const auto* lineFeed = static_cast<const char*>(std::memchr(start, LineFeed, available));
    std::size_t span = lineFeed == nullptr ? available : static_cast<std::size_t>(lineFeed - start);
    const auto* mark = static_cast<const char*>(std::memchr(start, EndOfFileMark, span));
    if (mark != nullptr) span = static_cast<std::size_t>(mark - start);
    AppendWithoutCarriageReturns(line, start, span);
    position_ += span;
    if (line.size() > lineLimit_) {
      line.clear();
      return Fail(ErrorLineTooLong);
    }
    if (mark != nullptr) return;  // stays unread: the file ends here
    if (lineFeed != nullptr) {
      ++position_;
      return;
    }
  }
}

void TextFile::WriteBytes(const char* bytes, std::size_t size) {
  while (size > 0) {
    std::size_t room = bufferSize_ - valid_;
    std::size_t part = size < room ? size : room;
    std::memcpy(buffer_.get() + valid_, bytes, part);
    valid_ += part;
    bytes += part;
    size -= part;
    if (valid_ == bufferSize_) Flush();
  }
}

void TextFile::Flush() {
  if (state_ != State::Writing || valid_ == 0) return;
  platform::ErrorCode error = 0;
  if (!platform::WriteBytes(handle_, buffer_.get(), valid_, error)) Fail(error);
  valid_ = 0;
}

void TextFile::WriteLn(std::string_view text) {
  if (state_ != State::Writing) return Fail(ErrorFileNotOpenForOutput);
  WriteBytes(text.data(), text.size());
  WriteBytes("\r\n", 2);
  if (writeThrough_) Flush();
}

void TextFile::Write(std::string_view bytes) {
  if (state_ != State::Writing) return Fail(ErrorFileNotOpenForOutput);
  WriteBytes(bytes.data(), bytes.size());
}

void TextFile::Close() {
  if (state_ == State::Closed) return Fail(ErrorFileNotOpen);
  Flush();
  if (ownsHandle_) {
    platform::ErrorCode error = 0;
    if (!platform::CloseFile(handle_, error)) Fail(error);
  }
  handle_ = platform::InvalidHandle;
  state_ = State::Closed;
  ownsHandle_ = false;
  position_ = valid_ = 0;
}

platform::Handle TextFile::Detach() {
  Flush();
  platform::Handle handle = handle_;
  handle_ = platform::InvalidHandle;
  state_ = State::Closed;
  ownsHandle_ = false;
  return handle;
}

TextFile& Output() {
  static TextFile console;
  return console;
}

int ParamCount() {
  auto count = static_cast<int>(platform::CommandLineArguments().size());
  return count > 0 ? count - 1 : 0;
}

std::string ParamStr(int index) {
  if (index == 0) return std::string(CutAfter(platform::ProgramFilePath(), MaxShortString));
  std::vector<std::string> arguments = platform::CommandLineArguments();
  if (index < 0 || static_cast<std::size_t>(index) >= arguments.size()) return {};
  return std::string(CutAfter(arguments[static_cast<std::size_t>(index)], MaxShortString));
}

void Halt(std::uint32_t exitCode) {
  pendingIoError = 0;
  if (Output().IsOpen()) Output().Close();
  platform::ExitProcess(exitCode);
}

}  // namespace zubra32

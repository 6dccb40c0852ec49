#include "runtime/text_file.h"

#include <cstring>

#include "runtime/strings.h"

namespace zubra32 {

namespace {

constexpr char LineFeed = '\n';
constexpr char CarriageReturn = '\r';
constexpr char EndOfFileMark = '\x1a';

platform::ErrorCode pendingIoError = 0;

}  // namespace

platform::ErrorCode PendingIoError() { return pendingIoError; }

TextFile::~TextFile() {
  if (state_ != State::Closed && ownsHandle_) Close();
}

void TextFile::Fail(platform::ErrorCode error) {
  pendingIoError = error;
  failed_ = true;
}

void TextFile::OpenRead(std::string_view name) {
  if (IsOpen()) Close();
  failed_ = false;
  position_ = valid_ = 0;
  writeThrough_ = false;
  if (name.empty()) {
    handle_ = platform::StandardInput();
    ownsHandle_ = false;
  } else {
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
  } else {
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
  state_ = State::Writing;
}

bool TextFile::Fill() {
  if (position_ < valid_) return true;
  position_ = valid_ = 0;
  if (state_ != State::Reading) return false;
  platform::ErrorCode error = 0;
  std::int64_t count = platform::ReadBytes(handle_, buffer_.data(), buffer_.size(), error);
  if (count < 0) {
    // The bytes of a failed transfer are lost; the file reads as ended.
    Fail(error);
    return false;
  }
  valid_ = static_cast<std::size_t>(count);
  return valid_ > 0;
}

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
    const char* start = buffer_.data() + position_;
    std::size_t available = valid_ - position_;
    // Copy the run of ordinary bytes, then deal with the special one that ends it.
    std::size_t run = 0;
    while (run < available && start[run] != LineFeed && start[run] != CarriageReturn && start[run] != EndOfFileMark) ++run;
    line.append(start, run);
    position_ += run;
    if (run == available) continue;
    char special = buffer_[position_];
    if (special == EndOfFileMark) return;  // stays unread: the file ends here
    ++position_;
    if (special == LineFeed) return;
  }
}

void TextFile::WriteBytes(const char* bytes, std::size_t size) {
  while (size > 0) {
    std::size_t room = buffer_.size() - valid_;
    std::size_t part = size < room ? size : room;
    std::memcpy(buffer_.data() + valid_, bytes, part);
    valid_ += part;
    bytes += part;
    size -= part;
    if (valid_ == buffer_.size()) Flush();
  }
}

void TextFile::Flush() {
  if (state_ != State::Writing || valid_ == 0) return;
  platform::ErrorCode error = 0;
  if (!platform::WriteBytes(handle_, buffer_.data(), valid_, error)) Fail(error);
  valid_ = 0;
}

void TextFile::WriteLn(std::string_view text) {
  if (state_ != State::Writing) return Fail(ErrorFileNotOpenForOutput);
  WriteBytes(text.data(), text.size());
  WriteBytes("\r\n", 2);
  if (writeThrough_) Flush();
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

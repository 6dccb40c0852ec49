// A platform layer for the line-reader fuzz target: the one file "memory"
// serves bytes that the target sets, in chunks whose sizes it sets, and
// everything written goes to a byte string. Nothing here talks to the OS.
#include "memory_platform.h"

#include <algorithm>
#include <cstdlib>

namespace zubra32::platform {

namespace {

constexpr Handle MemoryHandle = 7;
constexpr Handle SinkHandle = 8;

std::string_view source;
std::vector<std::size_t> chunkSizes;
std::size_t nextChunk = 0;
std::size_t served = 0;
std::string sink;

}  // namespace

void ServeFromMemory(std::string_view bytes, std::vector<std::size_t> chunks) {
  source = bytes;
  chunkSizes = std::move(chunks);
  nextChunk = 0;
  served = 0;
  sink.clear();
}

const std::string& WrittenToMemory() { return sink; }

void Initialize(int, char**) {}
std::vector<std::string> CommandLineArguments() { return {}; }
std::string ProgramFilePath() { return {}; }
void VisitEnvironment(const std::function<bool(std::string_view)>&) {}
EntryKind ProbeName(std::string_view name) { return name == "memory" ? EntryKind::File : EntryKind::None; }
Handle StandardInput() { return InvalidHandle; }
Handle StandardOutput() { return SinkHandle; }

Handle OpenForReading(std::string_view name, ErrorCode& error) {
  if (name == "memory") return MemoryHandle;
  error = 2;
  return InvalidHandle;
}

Handle CreateForWriting(std::string_view, ErrorCode&) { return SinkHandle; }
bool IsInteractiveOrPipe(Handle) { return false; }

std::int64_t ReadBytes(Handle handle, char* buffer, std::size_t capacity, ErrorCode& error) {
  if (handle != MemoryHandle) {
    error = 9;
    return -1;
  }
  std::size_t chunk = capacity;
  if (!chunkSizes.empty()) chunk = chunkSizes[nextChunk++ % chunkSizes.size()];
  std::size_t count = std::min({chunk, capacity, source.size() - served});
  std::copy_n(source.data() + served, count, buffer);
  served += count;
  return static_cast<std::int64_t>(count);
}

bool WriteBytes(Handle handle, const char* bytes, std::size_t size, ErrorCode& error) {
  if (handle != SinkHandle) {
    error = 9;
    return false;
  }
  sink.append(bytes, size);
  return true;
}

bool CloseFile(Handle, ErrorCode&) { return true; }
void ExitProcess(std::uint32_t) { std::abort(); }

}  // namespace zubra32::platform

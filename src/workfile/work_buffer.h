// The WorkBuffer: the in-memory copy of the current Workfile, and the limits
// of what it holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/held_workfile.h"
#include "workfile/body.h"

namespace zubra32 {

constexpr std::size_t MaxBodyLines = 2500;
constexpr std::size_t MaxHeadLines = 100;
constexpr std::size_t MaxTailLines = 100;

// What an echo-off line becomes when the load takes it into the head.
constexpr std::string_view EchoOffLine = "@Echo Off";

// The largest Workfile loaded, in bytes; a larger one is refused before it is read.
constexpr std::uint64_t MaxWorkfileBytes = 1024 * 1024 * 1024;

// How long a load waits for another run that holds the Workfile, in milliseconds.
constexpr int WorkfileLockWait = 30000;

// The UTF-8 byte-order mark: it belongs to the file, not to its first line.
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

// The current Workfile: its name as the section line gave it and its file,
// held from the load to the close, owned together. Dropping it lets go of the
// file at once: no path can leave held a Workfile that is no longer current.
class CurrentWorkfile {
 public:
  CurrentWorkfile() = default;
  // A copy (a snapshot of the buffer) takes the name alone: the file stays held by the original.
  CurrentWorkfile(const CurrentWorkfile& other) : WorkfileName(other.WorkfileName) {}
  CurrentWorkfile& operator=(const CurrentWorkfile& other) {
    Take(other.WorkfileName);
    return *this;
  }
  CurrentWorkfile(CurrentWorkfile&&) noexcept = default;
  CurrentWorkfile& operator=(CurrentWorkfile&&) noexcept = default;

  bool Empty() const { return WorkfileName.empty(); }
  const std::string& Name() const { return WorkfileName; }
  platform::HeldWorkfile& File() { return Held; }
  const platform::HeldWorkfile& File() const { return Held; }

  // Makes `name` the current Workfile, nothing held yet.
  void Take(std::string name) {
    Drop();
    WorkfileName = std::move(name);
  }

  void Drop() {
    WorkfileName.clear();
    Held.Release();
  }

 private:
  std::string WorkfileName;  // empty: none is current
  platform::HeldWorkfile Held;
};

struct WorkBuffer {
  CurrentWorkfile Current;             // the Workfile these lines belong to
  BodyText::LoadResult Loaded;         // what its load met: the byte-order mark, the echo-off line
  std::vector<std::string> HeadLines;  // written before the body; HeadCount is its size
  BodyText BodyLines;                  // the Workfile's own lines, right-trimmed, with their search
  std::vector<std::string> TailLines;  // written after the body; TailCount is its size
  bool WorkfileModified = false;       // some directive applied: write back on close

  // The load took an echo-off line into the head.
  bool EchoOffSeen() const { return Loaded.EchoOff; }
  // The file began with the UTF-8 mark, which is written back first.
  bool ByteOrderMark() const { return Loaded.ByteOrderMark; }
  std::size_t HeadCount() const { return HeadLines.size(); }
  std::size_t LineCount() const { return BodyLines.Count(); }
  std::size_t TailCount() const { return TailLines.size(); }
};

}  // namespace zubra32

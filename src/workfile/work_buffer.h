// The WorkBuffer: the in-memory copy of the current Workfile, and the limits
// of what it holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/platform.h"
#include "workfile/body.h"

namespace zubra32 {

struct PreviewState;

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

struct WorkBuffer {
  std::string WorkfileName;            // the current Workfile; empty: none is current
  platform::HeldWorkfile Held;         // the current Workfile's file, held from the load to the close
  bool ByteOrderMark = false;          // the file began with the UTF-8 mark, written back first
  std::vector<std::string> HeadLines;  // written before the body; HeadCount is its size
  BodyText BodyLines;                  // the Workfile's own lines, right-trimmed, with their search
  std::vector<std::string> TailLines;  // written after the body; TailCount is its size
  bool WorkfileModified = false;       // some directive applied: write back on close
  bool EchoOffSeen = false;            // this load has taken its echo-off line
  PreviewState* Preview = nullptr;     // a preview's state: write-backs are shown, not made; none in a run

  std::size_t HeadCount() const { return HeadLines.size(); }
  std::size_t LineCount() const { return BodyLines.Count(); }
  std::size_t TailCount() const { return TailLines.size(); }
};

}  // namespace zubra32

// The WorkBuffer: the in-memory copy of the current Workfile, its loading and
// writing back, and the seven edit operations that the directives apply to it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/byte_search.h"
#include "runtime/platform.h"

namespace zubra32 {

struct RunState;
struct Directive;

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
  std::vector<std::string> BodyLines;  // the Workfile's own lines, right-trimmed; fixed after the load
  std::vector<std::string> BodyUpper;  // each body line upper-cased, kept in step with BodyLines
  std::vector<PairSet> BodyPairs;      // PairsOf each BodyUpper line, kept in step once built (see ReplaceScan)
  std::size_t ScansSinceLoad = 0;      // replace-family directives run on this load
  ByteCounts BodySample{};             // bytes of a sample of BodyUpper taken at the load; steers searches only
  std::vector<std::string> TailLines;  // written after the body; TailCount is its size
  bool WorkfileModified = false;       // some directive applied: write back on close
  bool EchoOffSeen = false;            // this load has taken its echo-off line

  std::size_t HeadCount() const { return HeadLines.size(); }
  std::size_t LineCount() const { return BodyLines.size(); }
  std::size_t TailCount() const { return TailLines.size(); }
};

// A section line: closes the current Workfile, then takes the name between the
// brackets (first and last byte cut, whatever they are) and loads that file.
void SwitchWorkfile(RunState& run, WorkBuffer& work, std::string_view sectionLine);

// Traces the close in debug mode and writes the Workfile back if it changed.
void CloseWorkfile(RunState& run, WorkBuffer& work);

// Takes hold of the Workfile named by WorkfileName and reads it into the
// buffer, the first echo-off line into the head; refuses anything but a
// regular file, a file in UTF-16 or UTF-32, one of more than 1 GiB and one of
// more than 2500 body lines.
void LoadWorkfile(RunState& run, WorkBuffer& work);

// Replaces the Workfile by its byte-order mark, if it had one, then head, body
// and tail lines, each ended by CR LF, in one atomic step; reports a Workfile
// that cannot be written or that another program changed since the load.
void SaveWorkfile(RunState& run, WorkBuffer& work);

// Carries out one classified directive on the current Workfile.
void ApplyDirective(RunState& run, WorkBuffer& work, const Directive& directive);

// The line added before the Workfile's own lines ("START=").
void AddAtStart(RunState& run, WorkBuffer& work, std::string_view value);

// The line added after the Workfile's own lines ("END=").
void AddAtEnd(RunState& run, WorkBuffer& work, std::string_view value);

// The five operations that search the body for the left side: change the text
// (' '), replace the line ('@'), remove text ('-'), append ('+') and replace
// or add at the start ('!').
void ReplaceScan(RunState& run, WorkBuffer& work, std::string_view leftSide, char operatorCharacter,
                 std::string_view rightSide);

}  // namespace zubra32

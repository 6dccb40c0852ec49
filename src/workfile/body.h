// The Workfile's own lines (the body) with their storage and their search.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/byte_search.h"

namespace zubra32 {

// The load's rule for the bytes of one line (its line end taken off): the
// trailing bytes 0 to 32 go, then every CR. In place; gives the size kept.
std::size_t ApplyLoadRule(char* bytes, std::size_t size);

// The same rule for bytes that must stay as they are: a view of them, or of
// `scratch` holding the line as the load keeps it.
std::string_view AsLoaded(std::string_view bytes, std::string& scratch);

// The body as the load cut it from the Workfile's bytes: one block holding
// the bytes as read, each line a span of it, and the lines an edit made
// longer stored apart, one string each. Lines that an edit keeps as long or
// shortens stay in the block. Nothing outside the class knows which is which;
// every change goes through its methods, so there is nothing to keep in step.
class BodyText {
 public:
  BodyText() = default;
  BodyText(const BodyText& other);
  BodyText& operator=(const BodyText& other);
  BodyText(BodyText&&) noexcept = default;
  BodyText& operator=(BodyText&&) noexcept = default;

  // Reads up to `into.size()` bytes; 0 at the end, -1 on failure.
  using ReadFunction = std::function<std::int64_t(char* into, std::size_t capacity)>;

  // What a load met besides the lines.
  struct LoadResult {
    bool Failed = false;         // a read failed
    bool WideMark = false;       // the text begins with a UTF-16 or UTF-32 mark: nothing is cut
    bool ByteOrderMark = false;  // the UTF-8 byte-order mark began the text; it is no line's
    bool EchoOff = false;        // the first echo-off line was taken out
    bool TooManyBytes = false;   // more than maxBytes before a Ctrl-Z
    bool TooManyLines = false;   // a line follows the maxLines-th
  };

  // Replaces the body by the text that `read` gives (about `sizeHint` bytes):
  // LF ends a line, every CR is dropped, Ctrl-Z (0x1A) ends the text, a UTF-8
  // byte-order mark at the start is taken off, the first echo-off line is
  // taken out, and each line is right-trimmed of the bytes 0 to 32. At most
  // maxBytes + 1 bytes are read and maxLines lines kept. A few allocations
  // whatever the number of lines: the block, the list of spans.
  LoadResult Load(const ReadFunction& read, std::uint64_t sizeHint, std::uint64_t maxBytes, std::size_t maxLines);

  // An empty body.
  void Clear();

  // Adds a line after the last (a body filled otherwise than by a load).
  void Append(std::string_view line);

  std::size_t Count() const { return Spans.size(); }
  bool Empty() const { return Spans.empty(); }
  std::string_view Line(std::size_t index) const;
  std::string_view operator[](std::size_t index) const { return Line(index); }

  // The lines as strings (for tests and checks).
  std::vector<std::string> Lines() const;

  // The edits. `at` and `count` are byte positions in the line, in range.
  void SetLine(std::size_t index, std::string_view text);
  void AppendToLine(std::size_t index, std::string_view text);
  void ReplaceInLine(std::size_t index, std::size_t at, std::size_t count, std::string_view text);

  // How many edits so far changed a line's text (an edit that leaves it as it was does not count).
  std::uint64_t TextChanges() const { return Changes; }

  // A search for the needle in these lines, letters in either case, steered
  // by the bytes of the body as loaded.
  FoldedSearch SearchFor(std::string_view needle) const { return FoldedSearch(needle, SampleCounts); }

  // Calls visit(line, position) for each line that holds the needle of
  // `search`, in ascending order, with the position of its first occurrence
  // there. The visit may change that line, and no other; the search goes on
  // with the next line, so text it inserts is not searched again. The lines
  // still in the block are searched as one run of bytes, not line by line.
  void ForEachHolding(const FoldedSearch& search, const std::function<void(std::size_t, std::size_t)>& visit);

 private:
  struct Span {
    std::size_t Offset = 0;  // in the block, or in ChangedLines for a changed line
    std::size_t Size = 0;
    bool StoredApart = false;  // stored in ChangedLines[Offset]
  };

  // Stores the line apart (it is to grow) and gives its string.
  std::string& Apart(std::size_t index);
  void Sample();
  void Repack();
  bool UsePairSets();
  void LineChanged(std::size_t index);

  std::unique_ptr<char[]> Block;  // the bytes as read; bytes outside the spans are never read as lines
  std::size_t BlockSize = 0;
  std::vector<Span> Spans;
  std::vector<std::string> ChangedLines;
  ByteCounts SampleCounts{};
  // For a body of short lines searched often: the pair set of each line,
  // built at the ScansBeforePairSets-th search and kept up by every edit. A
  // line that lacks one of the needle's pairs is passed over unsearched.
  std::vector<PairSet> Pairs;
  std::size_t Scans = 0;
  std::uint64_t Changes = 0;
};

}  // namespace zubra32

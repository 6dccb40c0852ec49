#include "workfile/body.h"

#include <algorithm>
#include <cstring>

#include "runtime/strings.h"
#include "runtime/text_file.h"
#include "workfile/work_buffer.h"
#include "workfile/workfile_text.h"

namespace zubra32 {

namespace {

// Bytes left in the block where a line was shortened or moved out: a line
// end, which no needle read from a definition line holds, so they seldom
// make a candidate (and a candidate there is never taken).
constexpr char Filler = LineFeed;

bool StartsWithWideMark(std::string_view start) {
  return start.starts_with("\xFF\xFE") || start.starts_with("\xFE\xFF") ||
         start.starts_with(std::string_view("\0\0\xFE\xFF", 4));
}

}  // namespace

std::size_t ApplyLoadRule(char* bytes, std::size_t size) {
  while (size > 0 && static_cast<unsigned char>(bytes[size - 1]) <= ' ') --size;
  // The line's trailing CRs went with the blanks; one inside comes out.
  char* to = static_cast<char*>(std::memchr(bytes, CarriageReturn, size));
  if (to == nullptr) return size;
  for (const char* from = to; from < bytes + size; ++from) {
    if (*from != CarriageReturn) *to++ = *from;
  }
  return static_cast<std::size_t>(to - bytes);
}

std::string_view AsLoaded(std::string_view bytes, std::string& scratch) {
  std::string_view trimmed = TrimmedRightView(bytes);
  if (trimmed.find(CarriageReturn) == std::string_view::npos) return trimmed;
  scratch.assign(trimmed);
  scratch.resize(ApplyLoadRule(scratch.data(), scratch.size()));
  return scratch;
}

BodyText::BodyText(const BodyText& other)
    : BlockSize(other.BlockSize),
      Spans(other.Spans),
      ChangedLines(other.ChangedLines),
      SampleCounts(other.SampleCounts),
      Pairs(other.Pairs),
      Scans(other.Scans),
      Changes(other.Changes) {
  if (other.Block) {
    Block = std::make_unique_for_overwrite<char[]>(BlockSize);
    std::memcpy(Block.get(), other.Block.get(), BlockSize);
  }
}

BodyText& BodyText::operator=(const BodyText& other) {
  if (this != &other) *this = BodyText(other);
  return *this;
}

void BodyText::Clear() {
  Block.reset();
  BlockSize = 0;
  Spans.clear();
  ChangedLines.clear();
  SampleCounts.fill(0);
  Pairs.clear();
  Scans = 0;
}

BodyText::LoadResult BodyText::Load(const ReadFunction& read, std::uint64_t sizeHint, std::uint64_t maxBytes,
                                    std::size_t maxLines) {
  Clear();
  LoadResult result;
  // One block for the whole text, one byte more than expected to see its end
  // in the same read; it grows only for a file that grew since it was sized.
  std::uint64_t capacity = std::min(sizeHint, maxBytes) + 1;
  Block = std::make_unique_for_overwrite<char[]>(capacity);
  std::size_t filled = 0;
  std::size_t scanned = 0;  // bytes searched for Ctrl-Z so far
  bool markSeen = false;
  for (;;) {
    if (filled == capacity) {
      if (filled > maxBytes) break;
      std::uint64_t larger = std::min<std::uint64_t>(capacity * 2, maxBytes + 1);
      auto grown = std::make_unique_for_overwrite<char[]>(larger);
      std::memcpy(grown.get(), Block.get(), filled);
      Block = std::move(grown);
      capacity = larger;
    }
    std::int64_t count = read(Block.get() + filled, static_cast<std::size_t>(capacity - filled));
    if (count < 0) {
      result.Failed = true;
      break;
    }
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
    // What follows a Ctrl-Z is never read as a line, so it need not be read at all.
    markSeen = std::memchr(Block.get() + scanned, EndOfFileMark, filled - scanned) != nullptr;
    scanned = filled;
    if (markSeen) break;
  }
  BlockSize = filled;
  char* const bytes = Block.get();
  std::string_view start(bytes, std::min<std::size_t>(filled, 4));
  if (StartsWithWideMark(start)) {
    result.WideMark = true;
    return result;
  }
  std::size_t at = 0;
  if (start.starts_with(Utf8ByteOrderMark)) {
    result.ByteOrderMark = true;
    at = Utf8ByteOrderMark.size();
  }
  const auto* mark = static_cast<const char*>(std::memchr(bytes, EndOfFileMark, filled));
  const std::size_t end = mark == nullptr ? filled : static_cast<std::size_t>(mark - bytes);
  result.TooManyBytes = end > maxBytes;

  Spans.reserve(std::min<std::size_t>(maxLines, end - at + 1));
  while (at < end && Spans.size() < maxLines) {
    const auto* lineFeed = static_cast<const char*>(std::memchr(bytes + at, LineFeed, end - at));
    const std::size_t lineEnd = lineFeed == nullptr ? end : static_cast<std::size_t>(lineFeed - bytes);
    const std::size_t size = ApplyLoadRule(bytes + at, lineEnd - at);
    std::fill(bytes + at + size, bytes + lineEnd, Filler);
    if (!result.EchoOff && IsEchoOffLine(std::string_view(bytes + at, size))) {
      result.EchoOff = true;
    } else {
      Spans.push_back({at, size, false});
    }
    at = lineEnd + (lineFeed == nullptr ? 0 : 1);
  }
  result.TooManyLines = Spans.size() == maxLines && at < end;
  Sample();
  return result;
}

void BodyText::Sample() {
  // The bytes at the start of up to 32 lines spread over the body.
  constexpr std::size_t SampledLines = 32;
  constexpr std::size_t SampledBytes = 256;
  SampleCounts.fill(0);
  std::size_t step = Count() / SampledLines + 1;
  for (std::size_t i = 0; i < Count(); i += step) CountBytes(Line(i).substr(0, SampledBytes), SampleCounts);
}

void BodyText::Append(std::string_view line) {
  Spans.push_back({ChangedLines.size(), line.size(), true});
  ChangedLines.emplace_back(line);
  if (!Pairs.empty()) Pairs.push_back(FoldedPairsOf(line));
}

void BodyText::LineChanged(std::size_t index) {
  ++Changes;
  if (!Pairs.empty()) Pairs[index] = FoldedPairsOf(Line(index));
}

std::string_view BodyText::Line(std::size_t index) const {
  const Span& span = Spans[index];
  if (span.StoredApart) return std::string_view(ChangedLines[span.Offset]).substr(0, span.Size);
  return std::string_view(Block.get() + span.Offset, span.Size);
}

std::vector<std::string> BodyText::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(Count());
  for (std::size_t i = 0; i < Count(); ++i) lines.emplace_back(Line(i));
  return lines;
}

std::string& BodyText::Apart(std::size_t index) {
  Span& span = Spans[index];
  if (!span.StoredApart) {
    char* old = Block.get() + span.Offset;
    ChangedLines.emplace_back(old, span.Size);
    std::fill(old, old + span.Size, Filler);
    span.Offset = ChangedLines.size() - 1;
    span.StoredApart = true;
  }
  return ChangedLines[span.Offset];
}

void BodyText::SetLine(std::size_t index, std::string_view text) {
  if (Line(index) == text) return;
  Span& span = Spans[index];
  if (!span.StoredApart && text.size() <= span.Size) {
    char* line = Block.get() + span.Offset;
    std::copy(text.begin(), text.end(), line);
    std::fill(line + text.size(), line + span.Size, Filler);
  } else {
    Apart(index).assign(text);
  }
  span.Size = text.size();
  LineChanged(index);
}

void BodyText::AppendToLine(std::size_t index, std::string_view text) {
  if (text.empty()) return;
  Apart(index).append(text);
  Spans[index].Size += text.size();
  LineChanged(index);
}

void BodyText::ReplaceInLine(std::size_t index, std::size_t at, std::size_t count, std::string_view text) {
  if (Line(index).substr(at, count) == text) return;
  Span& span = Spans[index];
  if (!span.StoredApart && text.size() <= count) {
    // Shorter or as long: in place, the rest of the line moved up.
    char* line = Block.get() + span.Offset;
    std::copy(text.begin(), text.end(), line + at);
    std::memmove(line + at + text.size(), line + at + count, span.Size - at - count);
    std::size_t size = span.Size - count + text.size();
    std::fill(line + size, line + span.Size, Filler);
    span.Size = size;
    return LineChanged(index);
  }
  Apart(index).replace(at, count, text);
  span.Size = span.Size - count + text.size();
  LineChanged(index);
}

void BodyText::Repack() {
  std::size_t bytes = 0;
  for (const Span& span : Spans) bytes += span.Size + 1;
  auto block = std::make_unique_for_overwrite<char[]>(bytes);
  std::size_t at = 0;
  for (std::size_t i = 0; i < Count(); ++i) {
    std::string_view line = Line(i);
    std::copy(line.begin(), line.end(), block.get() + at);
    block[at + line.size()] = LineFeed;
    Spans[i] = {at, line.size(), false};
    at += line.size() + 1;
  }
  Block = std::move(block);
  BlockSize = bytes;
  ChangedLines.clear();
}

bool BodyText::UsePairSets() {
  // Pair sets pay for themselves once a body has been searched a few times,
  // and only where most lines are short enough to have a set that is not full.
  constexpr std::size_t ScansBeforePairSets = 8;
  if (!Pairs.empty()) return true;
  if (++Scans < ScansBeforePairSets || Empty()) return false;
  std::size_t bytes = 0;
  for (const Span& span : Spans) bytes += span.Size;
  if (bytes / Count() > PairSetLimit / 2) return false;
  Pairs.reserve(Count());
  for (std::size_t i = 0; i < Count(); ++i) Pairs.push_back(FoldedPairsOf(Line(i)));
  return true;
}

void BodyText::ForEachHolding(const FoldedSearch& search, const std::function<void(std::size_t, std::size_t)>& visit) {
  const std::size_t length = search.Size();
  if (length == 0) return;
  if (UsePairSets()) {
    for (std::size_t i = 0; i < Count(); ++i) {
      if (!Pairs[i].Covers(search.Pairs())) continue;
      std::size_t found = search.FindIn(Line(i));
      if (found != FoldedSearch::npos) visit(i, found);
    }
    return;
  }
  // Many lines stored apart cut the block into short runs, each a search of
  // its own: once they are many for the size of the block, all lines go back
  // into one new block (a copy of the body, which a large body never pays).
  constexpr std::size_t BytesPerApartLine = 4096;
  if (ChangedLines.size() >= 16 && ChangedLines.size() * BytesPerApartLine >= BlockSize) Repack();
  for (std::size_t i = 0; i < Count();) {
    if (Spans[i].StoredApart) {
      std::size_t found = search.FindIn(Line(i));
      if (found != FoldedSearch::npos) visit(i, found);
      ++i;
      continue;
    }
    // A run of lines i .. last - 1 in the block, in ascending order there:
    // searched as one, each candidate placed in its line.
    std::size_t last = i + 1;
    while (last < Count() && !Spans[last].StoredApart) ++last;
    const char* const bytes = Block.get();
    const std::size_t runEnd = Spans[last - 1].Offset + Spans[last - 1].Size;
    std::size_t line = i;
    std::size_t from = Spans[i].Offset;
    while (from < runEnd) {
      std::size_t found = search.FindIn(std::string_view(bytes + from, runEnd - from));
      if (found == FoldedSearch::npos) break;
      found += from;
      while (line + 1 < last && Spans[line + 1].Offset <= found) ++line;
      const Span& span = Spans[line];
      // A candidate reaching past its line's end, or in the bytes between two
      // lines, is none: no later one in that line can fit either.
      if (found + length <= span.Offset + span.Size) visit(line, found - span.Offset);
      if (++line == last) break;
      from = Spans[line].Offset;
    }
    i = last;
  }
}

}  // namespace zubra32

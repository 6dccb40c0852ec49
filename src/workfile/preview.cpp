// The preview's diff and its would-be texts. The diff does not search for a
// best match: the load says which line of the Workfile became which body
// line (the body never changes its number of lines), so old and new lines are
// paired in one pass, head and tail lines being additions and a taken
// echo-off line a removal.
#include "workfile/preview.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"
#include "workfile/workfile_text.h"

namespace zubra32 {

namespace {

constexpr std::size_t ContextLines = 3;
constexpr std::size_t MostRangesNamed = 20;  // a note names this many runs of lines, then counts the rest
constexpr char LineFeed = '\n';
constexpr char CarriageReturn = '\r';
constexpr char EndOfFileMark = '\x1a';
constexpr std::size_t npos = std::string_view::npos;

// One line of a text: its bytes before the LF, and whether an LF ends it.
struct TextLine {
  std::string_view Bytes;
  bool HasLineEnd = false;
};

// Walks a text line by line; every line but the last ends with an LF.
class LineWalk {
 public:
  explicit LineWalk(std::string_view text, std::size_t offset = 0) : WholeText(text), CurrentOffset(offset) {}

  bool AtEnd() const { return CurrentOffset >= WholeText.size(); }
  std::size_t Offset() const { return CurrentOffset; }

  TextLine Next() {
    TextLine line;
    std::size_t end = WholeText.find(LineFeed, CurrentOffset);
    if (end == npos) end = WholeText.size();
    line.Bytes = WholeText.substr(CurrentOffset, end - CurrentOffset);
    line.HasLineEnd = end < WholeText.size();
    CurrentOffset = std::min(end + 1, WholeText.size());
    return line;
  }

 private:
  std::string_view WholeText;
  std::size_t CurrentOffset;
};

// LFs in the text, found with memchr: lines are long and LFs few.
std::size_t CountLineFeeds(std::string_view text) {
  std::size_t count = 0;
  if (text.empty()) return count;
  for (const char *at = text.data(), *end = text.data() + text.size();
       (at = static_cast<const char*>(std::memchr(at, LineFeed, static_cast<std::size_t>(end - at)))) != nullptr;
       ++at) {
    ++count;
  }
  return count;
}

// The written text as WriteBackBytes hands it out, piece by piece.
using Pieces = std::vector<std::string_view>;

Pieces WrittenPieces(const WorkBuffer& work) {
  Pieces pieces;
  pieces.reserve(2 * (work.HeadCount() + work.LineCount() + work.TailCount()) + 1);
  // The byte-order mark stands before the lines in both texts: the diff is of the lines.
  WriteBackLines(work, [&pieces](std::string_view bytes) {
    if (!bytes.empty()) pieces.push_back(bytes);
  });
  return pieces;
}

// A place in the written text: a piece and a byte in it.
struct PiecePosition {
  std::size_t Piece = 0;
  std::size_t Offset = 0;
};

// Walks the written text line by line without joining its pieces. A line
// comes without its LF and the one CR before it; it is a view into a piece
// unless it spans pieces otherwise than a line and the line end after it.
class PieceWalk {
 public:
  explicit PieceWalk(const Pieces& pieces, PiecePosition at = {}) : WalkedPieces(&pieces), At(at) {}

  bool AtEnd() const { return At.Piece >= WalkedPieces->size(); }
  PiecePosition Position() const { return At; }
  const Pieces& Text() const { return *WalkedPieces; }

  TextLine Next() {
    TextLine line;
    std::string_view rest = Current().substr(At.Offset);
    if (std::size_t lineFeed = rest.find(LineFeed); lineFeed != npos) {
      Advance(lineFeed + 1);
      return Ended(rest.substr(0, lineFeed));
    }
    // Most often the piece is a whole line and the next one its CR LF.
    if (At.Piece + 1 < WalkedPieces->size()) {
      std::string_view next = (*WalkedPieces)[At.Piece + 1];
      std::size_t lineFeed = next.find(LineFeed);
      if (lineFeed == 0 || (lineFeed == 1 && next.front() == CarriageReturn)) {
        At = {At.Piece + 1, 0};
        Advance(lineFeed + 1);
        return lineFeed == 0 ? Ended(rest) : TextLine{rest, true};
      }
    }
    Scratch.assign(rest);
    for (++At.Piece, At.Offset = 0; !AtEnd(); ++At.Piece) {
      std::string_view piece = Current();
      if (std::size_t lineFeed = piece.find(LineFeed); lineFeed != npos) {
        Scratch.append(piece.substr(0, lineFeed));
        Advance(lineFeed + 1);
        return Ended(Scratch);
      }
      Scratch.append(piece);
    }
    line.Bytes = Scratch;
    if (!line.Bytes.empty() && line.Bytes.back() == CarriageReturn) line.Bytes.remove_suffix(1);
    return line;
  }

 private:
  std::string_view Current() const { return (*WalkedPieces)[At.Piece]; }

  // Moves on by `count` bytes within the current piece.
  void Advance(std::size_t count) {
    At.Offset += count;
    if (At.Offset >= Current().size()) At = {At.Piece + 1, 0};
  }

  static TextLine Ended(std::string_view bytes) {
    if (!bytes.empty() && bytes.back() == CarriageReturn) bytes.remove_suffix(1);
    return TextLine{bytes, true};
  }

  const Pieces* WalkedPieces;
  PiecePosition At;
  std::string Scratch;
};

bool SameBytes(std::string_view text, const Pieces& pieces) {
  std::size_t at = 0;
  for (std::string_view piece : pieces) {
    if (text.size() - at < piece.size() || text.substr(at, piece.size()) != piece) return false;
    at += piece.size();
  }
  return at == text.size();
}

std::size_t LinesOf(const Pieces& pieces) {
  std::size_t lineFeeds = 0;
  for (std::string_view piece : pieces) lineFeeds += CountLineFeeds(piece);
  return lineFeeds + (pieces.empty() || pieces.back().back() == LineFeed ? 0 : 1);
}

// The line as the load keeps it in the body: carriage returns dropped,
// trailing blanks removed. `scratch` holds it when it is not a part of the
// line's own bytes.
std::string_view LoadedText(std::string_view bytes, std::string& scratch) {
  // A CR among the trailing blanks goes with them; only one inside counts.
  std::string_view trimmed = TrimmedRightView(bytes);
  if (trimmed.find(CarriageReturn) == npos) return trimmed;
  scratch.clear();
  std::copy_if(bytes.begin(), bytes.end(), std::back_inserter(scratch),
               [](char byte) { return byte != CarriageReturn; });
  return TrimmedRightView(scratch);
}

// The line as a diff shows it: without its line end.
std::string_view ShownText(TextLine line) {
  std::string_view text = line.Bytes;
  if (!text.empty() && text.back() == CarriageReturn) text.remove_suffix(1);
  return text;
}

std::size_t LinesOf(std::string_view text) {
  if (text.empty()) return 0;
  return CountLineFeeds(text) + (text.back() == LineFeed ? 0 : 1);
}

// Lines that one stored line takes in the written text: a CR LF inside it
// (a "~~" of the right side) starts another.
std::size_t WrittenLines(std::string_view line) { return CountLineFeeds(line) + 1; }

// The changes to a line that keeps its text, which a diff of texts hides.
enum class HiddenChange { LineEndBecomesCrLf, TrailingBlanksGo, CarriageReturnsGo, LineEndAdded };

constexpr std::array<std::string_view, 4> HiddenChangeNotes = {
    "Line ends become CR LF",
    "Trailing blanks removed",
    "Carriage returns inside the line removed",
    "Line end CR LF added to the last line",
};

// Line numbers gathered as runs ("1-3, 5").
class LineList {
 public:
  void Add(std::size_t number) {
    ++Counted;
    if (!Runs.empty() && Runs.back().second + 1 == number) {
      Runs.back().second = number;
    } else {
      Runs.emplace_back(number, number);
    }
  }

  bool Empty() const { return Counted == 0; }

  // "line 5", "lines 1-3, 5", "lines 1, 3, ... and 40 more".
  std::string Describe() const {
    std::string text = Counted == 1 ? "line " : "lines ";
    std::size_t named = 0;
    for (std::size_t i = 0; i < Runs.size() && i < MostRangesNamed; ++i) {
      if (i > 0) text.append(", ");
      text.append(std::to_string(Runs[i].first));
      if (Runs[i].second != Runs[i].first) text.append("-").append(std::to_string(Runs[i].second));
      named += Runs[i].second - Runs[i].first + 1;
    }
    if (named < Counted) text.append(" and ").append(std::to_string(Counted - named)).append(" more");
    return text;
  }

 private:
  std::vector<std::pair<std::size_t, std::size_t>> Runs;
  std::size_t Counted = 0;
};

// Old lines replaced by new ones; either side may be empty. Between two
// blocks, old and new lines are the same.
struct ChangeBlock {
  std::size_t OldStart = 0;  // number of its first old line (of the next old line when it has none)
  std::size_t OldCount = 0;
  std::size_t NewStart = 0;  // the same for the new lines
  std::size_t NewCount = 0;
  std::size_t OldOffset = 0;  // byte offset of its first old line in the old text
  PiecePosition NewAt;        // where its first new line begins in the new text
};

// Walks the old and the new text side by side, gathering the change blocks
// and, for the lines that keep their text, what changes in them unseen.
class Alignment {
 public:
  Alignment(std::string_view oldText, const Pieces& newText) : OldWalk(oldText), NewWalk(newText) {}

  // The next old line against the next `newCount` new lines: the same when
  // it is one line whose text the load kept unchanged, else replaced.
  void Pair(std::size_t newCount) {
    if (newCount == 1) {
      LineWalk oldAt = OldWalk;
      PiecePosition newFrom = NewWalk.Position();
      TextLine oldLine = oldAt.Next();
      TextLine newLine = NewWalk.Next();
      if (LoadedText(oldLine.Bytes, Scratch) == newLine.Bytes && newLine.HasLineEnd) {
        Close();
        NoteHiddenChanges(oldLine);
        OldWalk = oldAt;
        ++OldNumber;
        ++NewNumber;
        return;
      }
      NewWalk = PieceWalk(NewWalk.Text(), newFrom);
    }
    Remove();
    Add(newCount);
  }

  // The next old line goes.
  void Remove() {
    Open();
    ++Block.OldCount;
    ++OldNumber;
    OldWalk.Next();
  }

  // The next `count` new lines come in.
  void Add(std::size_t count) {
    if (count == 0) return;
    Open();
    Block.NewCount += count;
    NewNumber += count;
    for (std::size_t i = 0; i < count; ++i) NewWalk.Next();
  }

  // Every old line goes and every new line comes in.
  void ReplaceAll() {
    while (!OldWalk.AtEnd()) Remove();
    std::size_t count = 0;
    for (PieceWalk walk(NewWalk.Text(), NewWalk.Position()); !walk.AtEnd(); walk.Next()) ++count;
    Add(count);
  }

  // Ends the open change block.
  void Close() {
    if (BlockOpen) ChangeBlocks.push_back(Block);
    BlockOpen = false;
  }

  const std::vector<ChangeBlock>& Blocks() const { return ChangeBlocks; }
  const std::array<LineList, 4>& Hidden() const { return HiddenLines; }

 private:
  void Open() {
    if (BlockOpen) return;
    Block = ChangeBlock{OldNumber, 0, NewNumber, 0, OldWalk.Offset(), NewWalk.Position()};
    BlockOpen = true;
  }

  void NoteHiddenChanges(TextLine line) {
    auto note = [&](HiddenChange change) { HiddenLines[static_cast<std::size_t>(change)].Add(OldNumber); };
    std::string_view text = line.Bytes;
    if (!line.HasLineEnd) {
      note(HiddenChange::LineEndAdded);
    } else if (text.empty() || text.back() != CarriageReturn) {
      note(HiddenChange::LineEndBecomesCrLf);
    } else {
      text.remove_suffix(1);
    }
    std::string_view kept = TrimmedRightView(text);
    if (kept.size() != text.size()) note(HiddenChange::TrailingBlanksGo);
    if (kept.find(CarriageReturn) != npos) note(HiddenChange::CarriageReturnsGo);
  }

  LineWalk OldWalk;
  PieceWalk NewWalk;
  std::size_t OldNumber = 1;  // number of the next old line
  std::size_t NewNumber = 1;
  ChangeBlock Block;
  bool BlockOpen = false;
  std::vector<ChangeBlock> ChangeBlocks;
  std::array<LineList, 4> HiddenLines;
  std::string Scratch;
};

// Pairs the lines as the load and the write-back placed them: true when the
// old text still has the lines the WorkBuffer was loaded from (the same
// number, the echo-off line where the load found it) and the new text the
// lines the WorkBuffer gives.
bool AlignAsLoaded(Alignment& alignment, std::string_view oldText, const Pieces& newText, const WorkBuffer& work) {
  std::size_t oldLines = 0;
  std::size_t echoOff = 0;  // number of the old line the load took into the head
  std::string scratch;
  for (LineWalk walk(oldText); !walk.AtEnd();) {
    TextLine line = walk.Next();
    ++oldLines;
    if (work.EchoOffSeen && echoOff == 0 && IsEchoOffLine(LoadedText(line.Bytes, scratch))) echoOff = oldLines;
  }
  std::size_t newLines = 0;
  for (const std::string& line : work.HeadLines) newLines += WrittenLines(line);
  for (std::size_t i = 0; i < work.LineCount(); ++i) newLines += WrittenLines(work.BodyLines.Line(i));
  for (const std::string& line : work.TailLines) newLines += WrittenLines(line);
  if (oldLines != work.LineCount() + (work.EchoOffSeen ? 1 : 0) || (work.EchoOffSeen && echoOff == 0) ||
      newLines != LinesOf(newText)) {
    return false;
  }

  // An echo-off line that stood first stays first; one further down moves up.
  std::size_t head = 0;
  if (echoOff == 1) alignment.Pair(WrittenLines(work.HeadLines[head++]));
  for (; head < work.HeadCount(); ++head) alignment.Add(WrittenLines(work.HeadLines[head]));
  std::size_t body = 0;
  for (std::size_t number = echoOff == 1 ? 2 : 1; number <= oldLines; ++number) {
    if (number == echoOff) {
      alignment.Remove();
    } else {
      alignment.Pair(WrittenLines(work.BodyLines[body++]));
    }
  }
  for (const std::string& line : work.TailLines) alignment.Add(WrittenLines(line));
  alignment.Close();
  return true;
}

// The offset of the line `count` lines before the line at `offset`.
std::size_t StartOfLinesBefore(std::string_view text, std::size_t offset, std::size_t count) {
  for (; count > 0 && offset > 0; --count) {
    std::size_t lineFeed = offset >= 2 ? text.rfind(LineFeed, offset - 2) : npos;
    offset = lineFeed == npos ? 0 : lineFeed + 1;
  }
  return offset;
}

// "-3,4", "-3" for one line, "-2,0" for none (the line before).
std::string HunkRange(char side, std::size_t start, std::size_t count) {
  std::string range(1, side);
  if (count == 0) return range.append(std::to_string(start - 1)).append(",0");
  range.append(std::to_string(start));
  if (count != 1) range.append(",").append(std::to_string(count));
  return range;
}

// Prints the blocks as hunks, neighbours that are close together as one.
void WriteHunks(const std::vector<ChangeBlock>& blocks, std::string_view oldText, std::size_t oldLines,
                const Pieces& newText, const std::function<void(std::string_view line)>& writeLine) {
  std::string scratch;
  std::string line;
  auto write = [&](char mark, std::string_view text) {
    line.assign(1, mark).append(text);
    writeLine(line);
  };
  for (std::size_t first = 0; first < blocks.size();) {
    std::size_t last = first;
    std::size_t removed = blocks[first].OldCount;
    std::size_t added = blocks[first].NewCount;
    while (last + 1 < blocks.size() &&
           blocks[last + 1].OldStart - (blocks[last].OldStart + blocks[last].OldCount) <= 2 * ContextLines) {
      ++last;
      removed += blocks[last].OldCount;
      added += blocks[last].NewCount;
    }
    std::size_t before = std::min(ContextLines, blocks[first].OldStart - 1);
    std::size_t end = blocks[last].OldStart + blocks[last].OldCount;  // the old line after the last block
    std::size_t after = std::min(ContextLines, oldLines + 1 - end);
    std::size_t oldStart = blocks[first].OldStart - before;
    std::size_t oldCount = end + after - oldStart;
    std::size_t newCount = oldCount - removed + added;
    writeLine(std::string("@@ ")
                  .append(HunkRange('-', oldStart, oldCount))
                  .append(" ")
                  .append(HunkRange('+', blocks[first].NewStart - before, newCount))
                  .append(" @@"));

    LineWalk oldWalk(oldText, StartOfLinesBefore(oldText, blocks[first].OldOffset, before));
    std::size_t number = oldStart;
    auto writeSame = [&](std::size_t until) {
      for (; number < until; ++number) write(' ', LoadedText(oldWalk.Next().Bytes, scratch));
    };
    for (std::size_t b = first; b <= last; ++b) {
      const ChangeBlock& block = blocks[b];
      writeSame(block.OldStart);
      for (std::size_t i = 0; i < block.OldCount; ++i, ++number) {
        TextLine old = oldWalk.Next();
        write('-', ShownText(old));
        if (!old.HasLineEnd) writeLine("\\ No newline at end of file");
      }
      PieceWalk newWalk(newText, block.NewAt);
      for (std::size_t i = 0; i < block.NewCount; ++i) {
        TextLine added = newWalk.Next();
        write('+', added.Bytes);
        if (!added.HasLineEnd) writeLine("\\ No newline at end of file");
      }
    }
    writeSame(end + after);
    first = last + 1;
  }
}

void WriteNote(const std::function<void(std::string_view line)>& writeLine, std::string_view text) {
  writeLine(std::string("\\ ").append(text));
}

// The whole of the held file as bytes, from its start. It is read into the
// room `bytes` has; more is made a quarter at a time, so that a file a little
// longer than expected does not double the memory.
bool ReadWholeFile(platform::Handle handle, std::string& bytes) {
  platform::ErrorCode error = 0;
  if (!platform::Rewind(handle, error)) return false;
  bool read = true;
  for (;;) {
    std::size_t had = bytes.size();
    if (bytes.capacity() == had) bytes.reserve(had + had / 4 + FileBufferSize);
    std::size_t room = std::min(bytes.capacity() - had, FileBufferSize);
    bytes.resize(had + room);
    std::int64_t count = platform::ReadBytes(handle, bytes.data() + had, room, error);
    bytes.resize(had + static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
    if (count <= 0) {
      read = count == 0;
      break;
    }
  }
  return read;
}

// The bytes of a kept text, joined for reading.
void JoinText(const WorkBuffer& work, std::string& text) {
  text.clear();
  WriteBackBytes(work, [&text](std::string_view bytes) { text.append(bytes); });
}

// What WriteBackBytes reads, moved out of `work` into the kept text.
void KeepText(WorkBuffer& work, WorkBuffer& kept) {
  kept.HeadLines = std::move(work.HeadLines);
  kept.BodyLines = std::move(work.BodyLines);
  kept.TailLines = std::move(work.TailLines);
  kept.ByteOrderMark = work.ByteOrderMark;
  work.HeadLines.clear();
  work.BodyLines.Clear();
  work.TailLines.clear();
}

}  // namespace

bool WriteWorkfileDiff(std::string_view name, std::optional<std::string_view> oldText, const WorkBuffer& work,
                       const std::function<void(std::string_view line)>& writeLine) {
  writeLine(std::string("--- ").append(name));
  writeLine(std::string("+++ ").append(name).append(" (after)"));
  const Pieces newText = WrittenPieces(work);
  // The load took a byte-order mark off, and the write-back puts it back.
  if (oldText && work.ByteOrderMark && oldText->starts_with(Utf8ByteOrderMark)) {
    oldText = oldText->substr(Utf8ByteOrderMark.size());
  }
  if (oldText && SameBytes(*oldText, newText)) {
    WriteNote(writeLine, "Rewritten with the same bytes");
    return false;
  }
  if (!oldText) WriteNote(writeLine, "Can't be read now: its whole text is shown as added");

  // The load reads up to a Ctrl-Z; from there on nothing is kept.
  std::string_view old = oldText.value_or(std::string_view());
  std::string_view dropped;
  if (std::size_t mark = old.find(EndOfFileMark); mark != npos) {
    dropped = old.substr(mark);
    old = old.substr(0, mark);
  }

  Alignment alignment(old, newText);
  if (!AlignAsLoaded(alignment, old, newText, work)) {
    // The Workfile is no longer what was loaded: all of it is replaced.
    alignment = Alignment(old, newText);
    alignment.ReplaceAll();
    alignment.Close();
  }
  for (std::size_t change = 0; change < HiddenChangeNotes.size(); ++change) {
    const LineList& lines = alignment.Hidden()[change];
    if (!lines.Empty())
      WriteNote(writeLine, std::string(HiddenChangeNotes[change]).append(": ").append(lines.Describe()));
  }
  if (!dropped.empty()) {
    WriteNote(writeLine, "Everything from the Ctrl-Z end-of-file mark on removed: " + std::to_string(dropped.size()) +
                             (dropped.size() == 1 ? " byte" : " bytes"));
  }
  WriteHunks(alignment.Blocks(), old, LinesOf(old), newText, writeLine);
  return true;
}

void PreviewWriteBack(Reporting& report, WorkBuffer& work) {
  WouldBeTexts& texts = work.Preview->Texts;

  // The old text: what an earlier section would have left, else the file.
  std::string key = platform::ResolvedName(work.WorkfileName);
  auto kept = texts.Workfiles.find(key);
  std::string disk;
  std::optional<std::string_view> oldText;
  if (kept != texts.Workfiles.end()) {
    if (texts.LoadingName != key) JoinText(kept->second, texts.Loading);
    oldText = texts.Loading;
  } else {
    // Room for a file the size of the new text, read in one go as a rule.
    std::size_t size = 0;
    WriteBackBytes(work, [&size](std::string_view bytes) { size += bytes.size(); });
    disk.reserve(size + FileBufferSize + 1);
    if (ReadWholeFile(work.Held.File, disk)) oldText = disk;
  }
  bool changed =
      WriteWorkfileDiff(work.WorkfileName, oldText, work, [&report](std::string_view line) { report.WriteLn(line); });
  texts.LoadingName.clear();
  std::string().swap(texts.Loading);
  if (changed) {
    work.Preview->ChangedWorkfiles.insert(key);
    KeepText(work, texts.Workfiles[key]);
  }
}

bool FindWouldBeText(const WorkBuffer& work, std::string_view& text) {
  if (work.Preview == nullptr || work.Preview->Texts.Workfiles.empty()) return false;
  WouldBeTexts& texts = work.Preview->Texts;
  std::string key = platform::ResolvedName(work.WorkfileName);
  auto kept = texts.Workfiles.find(key);
  if (kept == texts.Workfiles.end()) return false;
  JoinText(kept->second, texts.Loading);
  texts.LoadingName = key;
  text = texts.Loading;
  return true;
}

}  // namespace zubra32

// The preview's diff and its would-be texts. The diff does not search for a
// best match: the load says which line of the Workfile became which body line
// (the body never changes its number of lines), so old and new lines are
// paired in one pass, head and tail lines being additions and a taken
// echo-off line a removal.
#include "driver/preview.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"
#include "runtime/unified_diff.h"
#include "workfile/workfile_text.h"

namespace zubra32 {

namespace {

constexpr std::size_t MostRangesNamed = 20;  // a note names this many runs of lines, then counts the rest

// The line without the one CR before its LF.
std::string_view WithoutLineEnd(TextLine line) {
  std::string_view text = line.Bytes;
  if (!text.empty() && text.back() == CarriageReturn) text.remove_suffix(1);
  return text;
}

// Lines that one stored line takes in the written text: a CR LF inside it
// (a "~~" of the right side) starts another.
std::size_t WrittenLines(std::string_view line) {
  return static_cast<std::size_t>(std::count(line.begin(), line.end(), LineFeed)) + 1;
}

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

// Walks the old and the new text side by side, pairing their lines and, for
// the lines that keep their text, noting what changes in them unseen.
class Alignment {
 public:
  Alignment(std::string_view oldText, std::string_view newText) : OldWalk(oldText), NewWalk(newText) {}

  // The next old line against the next `newCount` new lines: the same when
  // it is one line whose text the load kept unchanged, else replaced.
  void Pair(std::size_t newCount) {
    if (newCount == 1) {
      LineWalk oldAt = OldWalk, newAt = NewWalk;
      TextLine oldLine = oldAt.Next(), newLine = newAt.Next();
      if (newLine.HasLineEnd && AsLoaded(oldLine.Bytes, Scratch) == WithoutLineEnd(newLine)) {
        NoteHiddenChanges(oldLine);
        OldWalk = oldAt;
        NewWalk = newAt;
        ++OldNumber;
        Runs.push_back({1, 1, true});
        return;
      }
    }
    Remove();
    Add(newCount);
  }

  // The next old line goes.
  void Remove() {
    OldWalk.Next();
    ++OldNumber;
    Change(1, 0);
  }

  // The next `count` new lines come in.
  void Add(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) NewWalk.Next();
    Change(0, count);
  }

  const std::vector<LineRun>& Pairing() const { return Runs; }
  const std::array<LineList, 4>& Hidden() const { return HiddenLines; }

 private:
  void Change(std::size_t oldCount, std::size_t newCount) {
    if (oldCount + newCount == 0) return;
    if (Runs.empty() || Runs.back().Same) Runs.push_back({});
    Runs.back().Old += oldCount;
    Runs.back().New += newCount;
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
    if (kept.find(CarriageReturn) != std::string_view::npos) note(HiddenChange::CarriageReturnsGo);
  }

  LineWalk OldWalk, NewWalk;
  std::size_t OldNumber = 1;  // number of the next old line
  std::vector<LineRun> Runs;
  std::array<LineList, 4> HiddenLines;
  std::string Scratch;
};

// Pairs the lines as the load and the write-back placed them: false when the
// old text no longer has the lines the WorkBuffer was loaded from (the same
// number, the echo-off line where the load found it) or the new text not the
// lines the WorkBuffer gives.
bool AlignAsLoaded(Alignment& alignment, std::string_view oldText, std::string_view newText, const WorkBuffer& work) {
  std::size_t oldLines = 0;
  std::size_t echoOff = 0;  // number of the old line the load took into the head
  std::string scratch;
  for (LineWalk walk(oldText); !walk.AtEnd();) {
    TextLine line = walk.Next();
    ++oldLines;
    if (work.EchoOffSeen() && echoOff == 0 && IsEchoOffLine(AsLoaded(line.Bytes, scratch))) echoOff = oldLines;
  }
  std::size_t newLines = 0;
  for (const std::string& line : work.HeadLines) newLines += WrittenLines(line);
  for (std::size_t i = 0; i < work.LineCount(); ++i) newLines += WrittenLines(work.BodyLines.Line(i));
  for (const std::string& line : work.TailLines) newLines += WrittenLines(line);
  if (oldLines != work.LineCount() + (work.EchoOffSeen() ? 1 : 0) || (work.EchoOffSeen() && echoOff == 0) ||
      newLines != CountLines(newText)) {
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
  return true;
}

}  // namespace

bool WriteDiff(std::string_view name, std::optional<std::string_view> oldText, const WorkBuffer& work,
               std::string_view newLines, const std::function<void(std::string_view line)>& writeLine,
               std::vector<std::string>* notesOut) {
  const std::string newName = std::string(name).append(" (after)");
  std::vector<std::string> notes;
  // The load took a byte-order mark off, and the write-back puts it back.
  if (oldText && work.ByteOrderMark() && oldText->starts_with(Utf8ByteOrderMark)) {
    oldText = oldText->substr(Utf8ByteOrderMark.size());
  }
  if (oldText && *oldText == newLines) {
    WriteUnifiedDiff(name, newName, {"Rewritten with the same bytes"}, {}, {}, {}, writeLine);
    return false;
  }
  if (!oldText) notes.emplace_back("Can't be read now: its whole text is shown as added");

  // The load reads up to a Ctrl-Z; from there on nothing is kept.
  std::string_view old = oldText.value_or(std::string_view());
  std::string_view dropped;
  if (std::size_t mark = old.find(EndOfFileMark); mark != std::string_view::npos) {
    dropped = old.substr(mark);
    old = old.substr(0, mark);
  }

  Alignment alignment(old, newLines);
  if (!AlignAsLoaded(alignment, old, newLines, work)) {
    // The Workfile is no longer what was loaded: all of it is replaced.
    alignment = Alignment(old, newLines);
    for (std::size_t i = CountLines(old); i > 0; --i) alignment.Remove();
    alignment.Add(CountLines(newLines));
  }
  for (std::size_t change = 0; change < HiddenChangeNotes.size(); ++change) {
    const LineList& lines = alignment.Hidden()[change];
    if (!lines.Empty()) notes.push_back(std::string(HiddenChangeNotes[change]).append(": ").append(lines.Describe()));
  }
  if (!dropped.empty()) {
    notes.push_back("Everything from the Ctrl-Z end-of-file mark on removed: " + std::to_string(dropped.size()) +
                    (dropped.size() == 1 ? " byte" : " bytes"));
  }
  WriteUnifiedDiff(name, newName, notes, old, newLines, alignment.Pairing(), writeLine);
  if (notesOut != nullptr) *notesOut = std::move(notes);
  return true;
}

namespace {}  // namespace

std::string DescribeLines(const std::vector<std::int64_t>& numbers) {
  LineList list;
  for (std::int64_t number : numbers) list.Add(static_cast<std::size_t>(number));
  return list.Describe();
}

bool WriteWorkfileDiff(std::string_view name, std::optional<std::string_view> oldText, const WorkBuffer& work,
                       const std::function<void(std::string_view line)>& writeLine) {
  std::string bytes = WriteBackText(work);
  std::string_view lines = bytes;
  if (work.ByteOrderMark()) lines.remove_prefix(Utf8ByteOrderMark.size());
  return WriteDiff(name, oldText, work, lines, writeLine, nullptr);
}

std::optional<std::string_view> PreviewWriteBack::SourceText(const WorkBuffer& work) {
  if (WouldBe.empty()) return std::nullopt;
  auto kept = WouldBe.find(platform::ResolvedName(work.Current.Name()));
  if (kept == WouldBe.end()) return std::nullopt;
  return kept->second;
}

void RecordedWriteBack::Changing(Reporting& report, const WorkBuffer& work, std::string_view oldBytes,
                                 std::string_view newBytes) {
  SectionRecord& record = *report.CurrentSection();
  std::string_view lines = newBytes.substr(work.ByteOrderMark() ? Utf8ByteOrderMark.size() : 0);
  WriteDiff(
      work.Current.Name(), oldBytes, work, lines,
      [&](std::string_view line) {
        if (WithDiff) record.Diff.append(line).append("\r\n");
      },
      &record.Notes);
}

WriteBackResult PreviewWriteBack::WriteBack(Reporting& report, WorkBuffer& work) {
  const platform::HeldWorkfile& file = work.Current.File();
  // The old text: what an earlier section would have left, else the file.
  std::string key = platform::ResolvedName(work.Current.Name());
  std::string bytes = WriteBackText(work);
  auto kept = WouldBe.find(key);
  std::optional<std::string> disk;
  std::optional<std::string_view> oldText;
  if (kept != WouldBe.end()) {
    oldText = kept->second;
  } else if ((disk = ReadHeldBytes(file))) {
    oldText = *disk;
  }
  // Bytes that come out the same are not written: there is nothing to show.
  if (oldText && *oldText == bytes) return WriteBackResult::Done;
  if (!file.CanReplace()) return WriteBackResult::Unwritable;
  if (!file.StillAsLoaded()) return WriteBackResult::Changed;

  std::string_view lines = std::string_view(bytes).substr(work.ByteOrderMark() ? Utf8ByteOrderMark.size() : 0);
  SectionRecord* record = report.CurrentSection();
  WriteDiff(
      work.Current.Name(), oldText, work, lines,
      [&](std::string_view line) {
        report.WriteLn(line);
        if (record != nullptr && WithDiff) record->Diff.append(line).append("\r\n");
      },
      record != nullptr ? &record->Notes : nullptr);
  if (record != nullptr) {
    record->Result = SectionResult::Changed;
    record->BytesBefore = oldText ? oldText->size() : 0;
    record->BytesAfter = bytes.size();
  }
  // A Workfile that a later section brings back to the bytes it has is no longer one that would change.
  if (kept != WouldBe.end() && (disk = ReadHeldBytes(file)) && *disk == bytes) {
    WouldBe.erase(kept);
  } else {
    WouldBe[key] = std::move(bytes);
  }
  return WriteBackResult::Done;
}

}  // namespace zubra32

#include "runtime/unified_diff.h"

#include <algorithm>
#include <cstring>

#include "runtime/text_file.h"

namespace zubra32 {

namespace {

constexpr std::size_t ContextLines = 3;

// Old lines replaced by new ones; either side may be empty. Between two
// blocks, old and new lines are the same.
struct ChangeBlock {
  std::size_t OldStart = 0;  // number of its first old line (of the next old line when it has none)
  std::size_t OldCount = 0;
  std::size_t NewStart = 0;  // the same for the new lines
  std::size_t NewCount = 0;
};

std::vector<ChangeBlock> BlocksOf(const std::vector<LineRun>& runs) {
  std::vector<ChangeBlock> blocks;
  std::size_t oldNumber = 1, newNumber = 1;
  bool open = false;
  for (const LineRun& run : runs) {
    if (run.Same) {
      open = false;
    } else {
      if (!open) blocks.push_back({oldNumber, 0, newNumber, 0});
      open = true;
      blocks.back().OldCount += run.Old;
      blocks.back().NewCount += run.New;
    }
    oldNumber += run.Old;
    newNumber += run.New;
  }
  return blocks;
}

std::vector<TextLine> LinesOf(std::string_view text) {
  std::vector<TextLine> lines;
  for (LineWalk walk(text); !walk.AtEnd();) lines.push_back(walk.Next());
  return lines;
}

// The line as a diff shows it: without its line end.
std::string_view Shown(TextLine line) {
  std::string_view text = line.Bytes;
  if (!text.empty() && text.back() == CarriageReturn) text.remove_suffix(1);
  return text;
}

// "-3,4", "-3" for one line, "-2,0" for none (the line before).
std::string HunkRange(char side, std::size_t start, std::size_t count) {
  std::string range(1, side);
  if (count == 0) return range.append(std::to_string(start - 1)).append(",0");
  range.append(std::to_string(start));
  if (count != 1) range.append(",").append(std::to_string(count));
  return range;
}

}  // namespace

TextLine LineWalk::Next() {
  TextLine line;
  std::size_t end = WholeText.find(LineFeed, CurrentOffset);
  if (end == std::string_view::npos) end = WholeText.size();
  line.Bytes = WholeText.substr(CurrentOffset, end - CurrentOffset);
  line.HasLineEnd = end < WholeText.size();
  CurrentOffset = std::min(end + 1, WholeText.size());
  return line;
}

std::size_t CountLines(std::string_view text) {
  if (text.empty()) return 0;
  // memchr: lines are long and LFs few.
  std::size_t count = 0;
  for (const char *at = text.data(), *end = text.data() + text.size();
       (at = static_cast<const char*>(std::memchr(at, LineFeed, static_cast<std::size_t>(end - at)))) != nullptr;
       ++at) {
    ++count;
  }
  return count + (text.back() == LineFeed ? 0 : 1);
}

void WriteUnifiedDiff(std::string_view oldName, std::string_view newName, const std::vector<std::string>& notes,
                      std::string_view oldText, std::string_view newText, const std::vector<LineRun>& runs,
                      const std::function<void(std::string_view line)>& writeLine) {
  writeLine(std::string("--- ").append(oldName));
  writeLine(std::string("+++ ").append(newName));
  for (const std::string& note : notes) writeLine(std::string("\\ ").append(note));
  const std::vector<ChangeBlock> blocks = BlocksOf(runs);
  if (blocks.empty()) return;
  const std::vector<TextLine> oldLines = LinesOf(oldText), newLines = LinesOf(newText);
  std::string line;
  auto write = [&](char mark, TextLine text) {
    writeLine(line.assign(1, mark).append(Shown(text)));
    if (!text.HasLineEnd && mark != ' ') writeLine("\\ No newline at end of file");
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
    std::size_t after = std::min(ContextLines, oldLines.size() + 1 - end);
    std::size_t oldStart = blocks[first].OldStart - before;
    std::size_t oldCount = end + after - oldStart;
    std::size_t newStart = blocks[first].NewStart - before;
    writeLine(std::string("@@ ")
                  .append(HunkRange('-', oldStart, oldCount))
                  .append(" ")
                  .append(HunkRange('+', newStart, oldCount - removed + added))
                  .append(" @@"));
    // Context shows the new line: the old one as it will be.
    std::size_t oldNumber = oldStart, newNumber = newStart;
    auto writeSame = [&](std::size_t until) {
      for (; oldNumber < until; ++oldNumber, ++newNumber) write(' ', newLines[newNumber - 1]);
    };
    for (std::size_t b = first; b <= last; ++b) {
      writeSame(blocks[b].OldStart);
      for (std::size_t i = 0; i < blocks[b].OldCount; ++i) write('-', oldLines[oldNumber++ - 1]);
      for (std::size_t i = 0; i < blocks[b].NewCount; ++i) write('+', newLines[newNumber++ - 1]);
    }
    writeSame(end + after);
    first = last + 1;
  }
}

}  // namespace zubra32

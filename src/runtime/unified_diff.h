// A unified diff of two texts whose line pairing the caller already knows: no
// search for a best match, so it takes linear time. Knows nothing of what the
// texts are.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zubra32 {

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
  TextLine Next();

 private:
  std::string_view WholeText;
  std::size_t CurrentOffset;
};

// The number of lines of a text: its LFs, and one more for bytes after the last.
std::size_t CountLines(std::string_view text);

// In order, `Old` lines of the old text became `New` lines of the new one;
// `Same` (one line each) shows the pair as context, with the new line's text.
struct LineRun {
  std::size_t Old = 0;
  std::size_t New = 0;
  bool Same = false;
};

// Hands `writeLine` "--- <oldName>", "+++ <newName>", each note as a line
// beginning with "\ ", then the hunks with 3 lines of context, neighbours
// that are close together as one. A line shows without its LF and the one CR
// before it; "\ No newline at end of file" follows a line that has no LF.
// The runs cover both texts; with none, no hunk is written.
void WriteUnifiedDiff(std::string_view oldName, std::string_view newName, const std::vector<std::string>& notes,
                      std::string_view oldText, std::string_view newText, const std::vector<LineRun>& runs,
                      const std::function<void(std::string_view line)>& writeLine);

}  // namespace zubra32

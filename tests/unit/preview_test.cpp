#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "deflang/directive.h"
#include "driver/preview.h"
#include "runtime/strings.h"
#include "unit_test_support.h"
#include "workfile/edit_operations.h"
#include "workfile/workfile.h"
#include "workfile/workfile_text.h"

namespace zubra32 {
namespace {

using Lines = std::vector<std::string>;

// What a preview compares: the Workfile as it is on disk, the WorkBuffer its
// load and directives left, and the bytes the write-back would write.
struct Previewed {
  std::string OldText;
  WorkBuffer Work;
  std::string NewText;
};

Previewed Preview(const std::string& oldText, const Lines& directives) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.Path("w.txt"), oldText);
  Previewed previewed{oldText, {}, {}};
  Reporting run = test::ConsoleReporting();
  FileWriteBack write;
  previewed.Work.Current.Take(dir.Path("w.txt"));
  test::CapturedOutput console;
  LoadWorkfile(run, previewed.Work, write);
  for (const std::string& line : directives) ApplyDirective(run, previewed.Work, ClassifyDirective(line));
  console.Finish();
  previewed.Work.Current.File().Release();
  WriteBackBytes(previewed.Work, [&](std::string_view bytes) { previewed.NewText.append(bytes); });
  return previewed;
}

Lines Diff(const std::string& oldText, const WorkBuffer& work, const std::string& newText) {
  Lines lines;
  bool changed = WriteWorkfileDiff("w.txt", oldText, work, [&](std::string_view line) { lines.emplace_back(line); });
  EXPECT_EQ(changed, oldText != newText);
  return lines;
}

Lines SplitLines(std::string_view text) {
  Lines lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

// Applies the hunks to the old lines as `patch` would, checking every context
// and removed line against them and the hunk headers against the hunks' own
// lines; gives the lines that result. A context line shows the line as it
// will be, so it is checked against the old line without its trailing blanks
// and carriage returns.
Lines ApplyHunks(const Lines& diff, const Lines& oldLines) {
  auto loaded = [](std::string line) {
    std::erase(line, '\r');
    return std::string(TrimmedRightView(line));
  };
  Lines result;
  std::size_t old = 0;  // old lines used so far
  for (std::size_t i = 2; i < diff.size();) {
    const std::string& header = diff[i];
    if (header.rfind("\\ ", 0) == 0) {
      ++i;
      continue;
    }
    unsigned long oldStart = 0, oldCount = 1, newStart = 0, newCount = 1;
    EXPECT_EQ(header.rfind("@@ -", 0), 0u) << header;
    const char* at = header.c_str() + 4;
    char* end = nullptr;
    oldStart = std::strtoul(at, &end, 10);
    if (*end == ',') oldCount = std::strtoul(end + 1, &end, 10);
    newStart = std::strtoul(end + 2, &end, 10);
    if (*end == ',') newCount = std::strtoul(end + 1, &end, 10);
    std::size_t firstOld = oldCount == 0 ? oldStart : oldStart - 1;
    EXPECT_EQ(result.size() + (firstOld - old), newCount == 0 ? newStart : newStart - 1) << header;
    for (; old < firstOld; ++old) result.push_back(loaded(oldLines.at(old)));
    std::size_t seenOld = 0, seenNew = 0;
    for (++i; i < diff.size() && diff[i].rfind("@@ ", 0) != 0; ++i) {
      const std::string& line = diff[i];
      std::string text = line.substr(1);
      if (line[0] == ' ') {
        EXPECT_EQ(text, loaded(oldLines.at(old))) << header;
        result.push_back(text);
        ++old, ++seenOld, ++seenNew;
      } else if (line[0] == '-') {
        EXPECT_EQ(text, oldLines.at(old)) << header;
        ++old, ++seenOld;
      } else if (line[0] == '+') {
        result.push_back(text);
        ++seenNew;
      }
    }
    EXPECT_EQ(seenOld, oldCount) << header;
    EXPECT_EQ(seenNew, newCount) << header;
  }
  for (; old < oldLines.size(); ++old) result.push_back(loaded(oldLines[old]));
  return result;
}

TEST(WorkfileDiffTest, FormsOfHunksAndNotes) {
  struct Row {
    std::string OldText;
    Lines Directives;
    Lines Expected;  // after the two header lines
  } rows[] = {
      // A change at the top: no context before it; one line shown as "-1".
      {"a\r\nb\r\n", {"a=@A"}, {"@@ -1,2 +1,2 @@", "-a", "+A", " b"}},
      // Six unchanged lines between two changes keep them in one hunk ...
      {"x\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\nx\r\n",
       {"x=@y"},
       {"@@ -1,8 +1,8 @@", "-x", "+y", " 1", " 2", " 3", " 4", " 5", " 6", "-x", "+y"}},
      // ... seven make two.
      {"x\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\nx\r\n",
       {"x=@y"},
       {"@@ -1,4 +1,4 @@", "-x", "+y", " 1", " 2", " 3", "@@ -6,4 +6,4 @@", " 5", " 6", " 7", "-x", "+y"}},
      // An empty Workfile: the old side is "-0,0".
      {"", {"END=e"}, {"@@ -0,0 +1 @@", "+e"}},
      // A changed last line without a line end says so in the hunk.
      {"a\r\nb", {"b=@c"}, {"@@ -1,2 +1,2 @@", " a", "-b", "\\ No newline at end of file", "+c"}},
      // The echo-off line far down moves up: removed there, added on top.
      {"1\r\n2\r\n3\r\n4\r\n5\r\necho off\r\n",
       {"5=+!"},
       {"@@ -1,6 +1,6 @@", "+@Echo Off", " 1", " 2", " 3", " 4", "-5", "-echo off", "+5!"}},
      // Notes name the lines whose hidden changes a kept line hides.
      {"a\nb \r\nc",
       {"a=@A"},
       {"\\ Trailing blanks removed: line 2", "\\ Line end CR LF added to the last line: line 3", "@@ -1,3 +1,3 @@",
        "-a", "+A", " b", " c"}},
  };
  for (const Row& row : rows) {
    Previewed previewed = Preview(row.OldText, row.Directives);
    Lines lines = Diff(row.OldText, previewed.Work, previewed.NewText);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Lines(lines.begin() + 2, lines.end()), row.Expected) << row.OldText;
  }
}

TEST(WorkfileDiffTest, LongListsOfLinesAreCut) {
  std::string oldText;
  for (int i = 1; i <= 60; ++i) oldText += (i % 2 == 1 ? "x \r\n" : "y\r\n");
  Previewed previewed = Preview(oldText, {"END=e"});
  Lines lines = Diff(oldText, previewed.Work, previewed.NewText);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(
      lines[2],
      "\\ Trailing blanks removed: lines 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31, 33, 35, 37, 39 "
      "and 10 more");
}

// Random Workfiles and directives: the diff, applied as a patch to the
// Workfile as it is, gives exactly the lines the write-back writes, also when
// the file on disk no longer matches what was loaded.
TEST(WorkfileDiffTest, HunksTurnTheOldLinesIntoTheNewOnes) {
  std::mt19937 random(11);
  const Lines words = {"path=c:\\dos", "rem x", "@echo off", "ECHO OFF ", "set a=b  ", "x\ty", "", "  lead", "mouse"};
  const Lines directives = {"path~=C=+;c:\\u", "rem=@REM", "x=-y",      "mouse=!m~~n", "START=s", "END=e",
                            "set= SET",        "lead=@",   "echo=echo", "a=+~~tail",   "zz=!top"};
  const Lines ends = {"\r\n", "\n", "\r\n", " \r\n", "\r\r\n"};
  for (int round = 0; round < 200; ++round) {
    std::string oldText;
    int lines = static_cast<int>(random() % 30);
    for (int i = 0; i < lines; ++i) oldText += words[random() % words.size()] + ends[random() % ends.size()];
    if (random() % 4 == 0) oldText += "last";
    if (random() % 8 == 0)
      oldText +=
          "\x1a"
          "after";
    Lines chosen;
    for (int i = static_cast<int>(random() % 4); i >= 0; --i)
      chosen.push_back(directives[random() % directives.size()]);
    Previewed previewed = Preview(oldText, chosen);
    std::string disk = oldText;
    if (round % 5 == 0) disk += "grown\r\n";  // changed since the load
    Lines diff = Diff(disk, previewed.Work, previewed.NewText);
    std::string shown = oldText;
    for (const std::string& line : diff) shown += "\n| " + line;
    std::string region = disk.substr(0, disk.find('\x1a'));
    if (disk == previewed.NewText) continue;
    EXPECT_EQ(ApplyHunks(diff, SplitLines(region)), SplitLines(previewed.NewText)) << shown;
  }
}

TEST(WorkfileDiffTest, SameBytesAndUnreadableOldText) {
  Previewed same = Preview("a\r\n", {"a=a"});
  EXPECT_EQ(Diff(same.OldText, same.Work, same.NewText),
            (Lines{"--- w.txt", "+++ w.txt (after)", "\\ Rewritten with the same bytes"}));

  Previewed gone = Preview("a\r\n", {"END=b"});
  Lines lines;
  WriteWorkfileDiff("w.txt", std::nullopt, gone.Work, [&](std::string_view line) { lines.emplace_back(line); });
  EXPECT_EQ(lines, (Lines{"--- w.txt", "+++ w.txt (after)", "\\ Can't be read now: its whole text is shown as added",
                          "@@ -0,0 +1,2 @@", "+a", "+b"}));
}

}  // namespace
}  // namespace zubra32

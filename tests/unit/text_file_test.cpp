#include "runtime/text_file.h"

#include <tuple>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "unit_test_support.h"

using namespace std::string_literals;

namespace zubra32 {
namespace {

struct ReadRow {
  std::string Name, Bytes;
  std::vector<std::string> Lines;
};

// Reads a file holding `bytes` line by line, as the read loop does, and checks
// that the end stays the end.
std::vector<std::string> ReadAllLines(const std::string& bytes) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.Path("in.txt"), bytes);
  TextFile file;
  file.OpenRead(dir.Path("in.txt"));
  std::vector<std::string> lines;
  while (!file.Eof() && lines.size() <= bytes.size()) lines.push_back(file.ReadLine());
  EXPECT_TRUE(file.Eof());
  EXPECT_EQ(file.ReadLine(), "");
  EXPECT_TRUE(file.Eof());
  EXPECT_FALSE(file.Failed());
  file.Close();
  return lines;
}

TEST(TextFileReadTest, LineFeedEndsALineCarriageReturnsVanishCtrlZEndsTheFile) {
  std::vector<ReadRow> rows = {
      {"no line end", "xyz", {"xyz"}},
      {"mixed line ends", "x\r\ny\nz", {"x", "y", "z"}},
      {"lone CR joins", "x\ry\n", {"xy"}},
      {"CRs before LF", "x\r\r\ny\r", {"x", "y"}},
      {"final LF adds no line", "x\n", {"x"}},
      {"empty lines", "\n\r\n", {"", ""}},
      {"empty file", "", {}},
      {"Ctrl-Z first",
       "\x1a"
       "abc\n",
       {}},
      {"Ctrl-Z mid-line",
       "ab\x1a"
       "cd\nef\n",
       {"ab"}},
      {"Ctrl-Z after LF",
       "ab\n\x1a"
       "cd\n",
       {"ab"}},
      {"NUL, TAB and high bytes kept", "a\0b\t\x80\xff\n"s, {"a\0b\t\x80\xff"s}},
  };
  // Each special byte at and around the end of the first block, for the
  // console's block size and for a named file's.
  for (std::size_t at : {ConsoleBufferSize - 2, ConsoleBufferSize - 1, ConsoleBufferSize, ConsoleBufferSize + 1,
                         FileBufferSize - 1, FileBufferSize, FileBufferSize + 1}) {
    const std::string a(at, 'a');
    const std::string where = " at offset " + std::to_string(at);
    rows.push_back({"LF" + where, a + "\nb", {a, "b"}});
    rows.push_back({"CR" + where, a + "\rb\n", {a + "b"}});
    rows.push_back({"CR LF" + where, a + "\r\nb", {a, "b"}});
    rows.push_back({"Ctrl-Z" + where,
                    a + "\x1a"
                        "b\n",
                    {a}});
    rows.push_back({"LF then Ctrl-Z" + where, a + "\n\x1a", {a}});
  }
  for (const ReadRow& row : rows) EXPECT_EQ(ReadAllLines(row.Bytes), row.Lines) << row.Name;
}

TEST(TextFileReadTest, AVeryLongLineComesBackWholeWithoutItsCarriageReturns) {
  std::string bytes, line;
  for (std::size_t i = 0; i < 3 * FileBufferSize + 7; ++i) {
    char byte = i % 997 == 0 ? '\r' : static_cast<char>('a' + i % 26);
    bytes.push_back(byte);
    if (byte != '\r') line.push_back(byte);
  }
  EXPECT_EQ(ReadAllLines(bytes + "\r\nnext"), (std::vector<std::string>{line, "next"}));
}

// The limit that bounds memory: a line no longer than its limit (a longer
// one fails the file), across buffer boundaries.
TEST(TextFileReadTest, ALineOverTheLimitFailsTheFile) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.Path("in.txt"), std::string(FileBufferSize + 10, 'a') + "\nbb\n");
  for (auto [limit, failed, lines] : {std::tuple{FileBufferSize + 10, false, 2}, {FileBufferSize + 9, true, 1}}) {
    SCOPED_TRACE("line limit " + std::to_string(limit));
    TextFile file;
    file.OpenRead(dir.Path("in.txt"));
    file.LimitLine(limit);
    int read = 0;
    while (!file.Eof() && !file.Failed()) {
      file.ReadLine();
      ++read;
    }
    EXPECT_EQ(file.Failed(), failed);
    EXPECT_EQ(read, lines);
  }
}

TEST(TextFileReadTest, AFileThatCannotBeOpenedReadsAsEmptyAndIsMarkedFailed) {
  test::ScratchDir dir;
  ASSERT_EQ(mkdir(dir.Path("sub").c_str(), 0755), 0);
  test::WriteFileBytes(dir.Path("one.txt"), "first\nsecond\n");
  test::WriteFileBytes(dir.Path("two.txt"), "other\n");
  for (const std::string& name : {dir.Path("missing.txt"), dir.Path("sub")}) {
    TextFile file;
    file.OpenRead(dir.Path("one.txt"));
    EXPECT_EQ(file.ReadLine(), "first");
    // Nothing of the previous file's buffer may show through.
    file.OpenRead(name);
    EXPECT_TRUE(file.Failed()) << name;
    EXPECT_TRUE(file.Eof()) << name;
    EXPECT_EQ(file.ReadLine(), "") << name;
    file.OpenRead(dir.Path("two.txt"));
    EXPECT_FALSE(file.Failed());
    EXPECT_EQ(file.ReadLine(), "other");
    EXPECT_TRUE(file.Eof());
  }
}

struct WriteRow {
  std::string Name;
  std::vector<std::string> Lines;
  std::string Bytes;
};

TEST(TextFileWriteTest, EveryLineEndsWithCrLfAndNothingOfTheOldFileRemains) {
  const WriteRow rows[] = {
      {"empty line", {""}, "\r\n"},
      {"CR LF inside", {"a\r\nb"}, "a\r\nb\r\n"},
      {"nothing written", {}, ""},
      {"several", {"x", "", "y"}, "x\r\n\r\ny\r\n"},
      {"NUL and high bytes", {"\0\xff"s}, "\0\xff\r\n"s},
      {"beyond one block", {std::string(300, 'q'), "z"}, std::string(300, 'q') + "\r\nz\r\n"},
      {"beyond a file's block",
       {std::string(FileBufferSize + 1, 'q'), "z"},
       std::string(FileBufferSize + 1, 'q') + "\r\nz\r\n"},
  };
  for (const WriteRow& row : rows) {
    test::ScratchDir dir;
    test::WriteFileBytes(dir.Path("out.txt"), std::string(1000, '#'));
    TextFile file;
    file.OpenWrite(dir.Path("out.txt"));
    for (const std::string& line : row.Lines) file.WriteLn(line);
    file.Close();
    EXPECT_FALSE(file.Failed()) << row.Name;
    EXPECT_EQ(test::ReadFileBytes(dir.Path("out.txt")), row.Bytes) << row.Name;
  }
}

TEST(TextFileWriteTest, AFileThatCannotBeCreatedIsMarkedFailedAndWritesNothing) {
  test::ScratchDir dir;
  TextFile file;
  file.OpenWrite(dir.Path("no/such/dir.txt"));
  EXPECT_TRUE(file.Failed());
  file.WriteLn("lost");
  EXPECT_FALSE(file.IsOpen());
}

}  // namespace
}  // namespace zubra32

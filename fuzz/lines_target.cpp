// Fuzz target: the line reader over arbitrary bytes delivered in chunks of
// arbitrary sizes.
//
// The input's first byte gives how many chunk sizes follow (0 to 15); each of
// those bytes is a chunk size (1 to 256, taken in turn); the rest is the
// file. Checks: the lines read are the same whatever the chunking, and they
// are what the file's format says (LF ends a line, every CR is dropped, the
// first Ctrl-Z ends the file, no line after a final LF); Eof holds exactly when
// every line has been read; writing the lines back gives each line followed
// by CR LF.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "memory_platform.h"
#include "runtime/text_file.h"

namespace {

using namespace zubra32;
using zubra32::fuzz::Check;

constexpr std::size_t MaxInputBytes = 64 * 1024;

std::vector<std::string> ModelLines(std::string_view file) {
  file = file.substr(0, file.find('\x1a'));
  std::vector<std::string> lines;
  std::size_t position = 0;
  while (position < file.size()) {
    std::size_t end = std::min(file.find('\n', position), file.size());
    std::string line;
    for (char byte : file.substr(position, end - position)) {
      if (byte != '\r') line.push_back(byte);
    }
    lines.push_back(std::move(line));
    position = end + 1;
  }
  return lines;
}

std::vector<std::string> ReadAll(std::string_view file, std::vector<std::size_t> chunks) {
  platform::ServeFromMemory(file, std::move(chunks));
  TextFile text;
  text.OpenRead("memory");
  Check(!text.Failed(), "the memory file opens");
  std::vector<std::string> lines;
  std::string line = "left over";
  while (!text.Eof()) {
    text.ReadLine(line);
    lines.push_back(line);
    Check(lines.size() <= file.size(), "every line takes at least one byte");
  }
  Check(text.ReadLine().empty(), "a read past the end gives the empty line");
  Check(text.Eof(), "the end stays the end");
  Check(!text.Failed(), "reading the memory file never fails");
  text.Close();
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > MaxInputBytes) return -1;
  std::size_t chunkCount = std::min<std::size_t>(data[0] % 16, size - 1);
  std::vector<std::size_t> chunks;
  for (std::size_t i = 1; i <= chunkCount; ++i) chunks.push_back(std::size_t{data[i]} + 1);
  std::string file(reinterpret_cast<const char*>(data) + 1 + chunkCount, size - 1 - chunkCount);

  std::vector<std::string> expected = ModelLines(file);
  Check(ReadAll(file, {}) == expected, "whole-buffer reads give the file's lines");
  Check(ReadAll(file, chunks) == expected, "the lines do not depend on the chunking");
  Check(ReadAll(file, {1}) == expected, "byte-by-byte reads give the file's lines");

  platform::ServeFromMemory({}, {});
  TextFile out;
  out.OpenWrite("sink");
  std::string joined;
  for (const std::string& line : expected) {
    out.WriteLn(line);
    joined.append(line).append("\r\n");
  }
  out.Close();
  Check(platform::WrittenToMemory() == joined, "each line written ends with CR LF");
  return 0;
}

// What a Workfile's text looks like to the load and after the write-back:
// the rules the load, the save and the preview share.
#include "workfile/workfile_text.h"

#include "runtime/strings.h"

namespace zubra32 {

namespace {

constexpr std::string_view WriteBackLineEnd = "\r\n";

}  // namespace

bool IsEchoOffLine(std::string_view line) {
  std::string_view test = TrimmedView(line);
  return EqualIgnoringCase(test, "@ECHO OFF") || EqualIgnoringCase(test, "ECHO OFF");
}

void WriteBackBytes(const WorkBuffer& work, const std::function<void(std::string_view bytes)>& write) {
  if (work.ByteOrderMark()) write(Utf8ByteOrderMark);
  WriteBackLines(work, write);
}

std::string WriteBackText(const WorkBuffer& work) {
  std::size_t size = 0;
  WriteBackBytes(work, [&size](std::string_view bytes) { size += bytes.size(); });
  std::string text;
  text.reserve(size);
  WriteBackBytes(work, [&text](std::string_view bytes) { text.append(bytes); });
  return text;
}

void WriteBackLines(const WorkBuffer& work, const std::function<void(std::string_view bytes)>& write) {
  for (const std::string& line : work.HeadLines) {
    write(line);
    write(WriteBackLineEnd);
  }
  for (std::size_t i = 0; i < work.LineCount(); ++i) {
    write(work.BodyLines.Line(i));
    write(WriteBackLineEnd);
  }
  for (const std::string& line : work.TailLines) {
    write(line);
    write(WriteBackLineEnd);
  }
}

}  // namespace zubra32

// Helpers shared by the unit tests: a controlled environment block, a scratch
// directory, whole-file byte access and a capture of the console output.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/text_file.h"

extern char** environ;

namespace zubra32::test {

// The process environment holds exactly these entries, in this order, while
// the object lives; the previous block comes back afterwards.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(std::vector<std::string> entries) : entries_(std::move(entries)) {
    for (std::string& entry : entries_) pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
    saved_ = environ;
    environ = pointers_.data();
  }
  ~ScopedEnvironment() { environ = saved_; }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
  char** saved_ = nullptr;
};

// A fresh directory under /tmp, removed with all it holds at the end.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/zubra32-unit-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sends Output() to a file until Finish(), which puts it back on standard
// output and gives every byte written in between.
class CapturedOutput {
 public:
  CapturedOutput() { Output().OpenWrite(dir_.Path("console.txt")); }
  ~CapturedOutput() {
    if (!finished_) Finish();
  }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  std::string Finish() {
    finished_ = true;
    Output().OpenWrite("");
    return ReadFileBytes(dir_.Path("console.txt"));
  }

 private:
  ScratchDir dir_;
  bool finished_ = false;
};

}  // namespace zubra32::test

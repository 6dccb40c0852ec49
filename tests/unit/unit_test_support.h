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

#include "runtime/console.h"
#include "runtime/reporting.h"
#include "runtime/text_file.h"
#include "support/file_bytes.h"

extern char** environ;

namespace zubra32::test {

// The process environment holds exactly these entries, in this order, while the object lives.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(std::vector<std::string> entries) : entries_(std::move(entries)), saved_(environ) {
    for (std::string& entry : entries_) pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
    environ = pointers_.data();
  }
  ~ScopedEnvironment() { environ = saved_; }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
  char** saved_;
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
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A run's reporting record that prints on Output(), as the driver's does.
inline Reporting ConsoleReporting() {
  Reporting report;
  report.Console = &Output();
  return report;
}

// Sends Output() to a file until Finish(), which puts it back on standard
// output and gives every byte written in between.
class CapturedOutput {
 public:
  CapturedOutput() { Output().OpenWrite(dir_.Path("console.txt")); }
  ~CapturedOutput() { Output().OpenWrite(""); }
  std::string Finish() {
    Output().OpenWrite("");
    return ReadFileBytes(dir_.Path("console.txt"));
  }

 private:
  ScratchDir dir_;
};

}  // namespace zubra32::test

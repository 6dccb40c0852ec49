// Helpers shared by the unit tests: a controlled environment block and a
// capture of the console output, besides the scratch directory and whole-file
// byte access that all the tests share.
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
#include "support/scratch_dir.h"

extern char** environ;

namespace zubra32::test {

// The process environment holds exactly these entries, in this order, while the object lives.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(std::vector<std::string> entries) : Entries(std::move(entries)), Saved(environ) {
    for (std::string& entry : Entries) Pointers.push_back(entry.data());
    Pointers.push_back(nullptr);
    environ = Pointers.data();
  }
  ~ScopedEnvironment() { environ = Saved; }

 private:
  std::vector<std::string> Entries;
  std::vector<char*> Pointers;
  char** Saved;
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
  CapturedOutput() { Output().OpenWrite(Scratch.Path("console.txt")); }
  ~CapturedOutput() { Output().OpenWrite(""); }
  std::string Finish() {
    Output().OpenWrite("");
    return ReadFileBytes(Scratch.Path("console.txt"));
  }

 private:
  ScratchDir Scratch;
};

}  // namespace zubra32::test

// What the process-level tests share: the program under test, a scratch
// directory, whole-file byte access and a description of an outcome.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "support/file_bytes.h"

namespace e2e {

inline const std::string banner =
    "\r\n Zubra32 v2.0 : The Textfile Manipulator  Copyright (C) 2026 the Zubra32 developers\r\n";

inline std::string program() {
  const char* path = std::getenv("ZUBRA32_E2E_PROGRAM");
  return path && *path ? path : ZUBRA32_E2E_PROGRAM_PATH;
}

// True when the program runs through a launcher (wine): the process tests need it direct.
inline bool through_launcher() {
  const char* launcher = std::getenv("ZUBRA32_E2E_LAUNCHER");
  return launcher && *launcher;
}

// A fresh directory under the temporary folder, removed at the end.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zubra32-process.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

using zubra32::test::ReadFileBytes;
using zubra32::test::WriteFileBytes;

// The program run on `definition_file` in the scratch directory, with an empty environment.
inline Launch launch_in(const Scratch& scratch, const std::string& definition_file) {
  Launch launch;
  launch.argv = {program(), definition_file};
  launch.cwd = scratch.dir().string();
  return launch;
}

// Every name in the directory other than the ones given.
inline std::vector<std::string> others_in(const std::filesystem::path& dir, std::initializer_list<std::string> known) {
  std::vector<std::string> others;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  }
  return others;
}

inline std::string describe(const Outcome& outcome) {
  return "exit " + std::to_string(outcome.exit_code) + ", signal " + std::to_string(outcome.signal) +
         (outcome.timed_out ? ", timed out" : "") + ", " + outcome.launch_error + "\nstdout: " + outcome.out +
         "\nstderr: " + outcome.err;
}

}  // namespace e2e

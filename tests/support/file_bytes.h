// Whole files as bytes, for the tests and the fuzz targets alike.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace zubra32::test {

// Makes the file hold exactly these bytes, creating the directories it lies in.
inline void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    throw std::runtime_error("cannot write " + path);
  }
}

// Every byte of the file; empty when it cannot be read. Read in one piece: a
// byte-by-byte copy of the kill test's 50 MB Workfile, 41 times, took that
// test past its time limit in a Debug build.
inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

}  // namespace zubra32::test

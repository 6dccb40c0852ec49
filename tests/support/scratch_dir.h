// The one scratch directory of the tests and the fuzz targets: made fresh,
// removed with everything in it when the object goes.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zubra32::test {

// A fresh directory BASE/PREFIX.XXXXXX, held by its canonical path. At the end
// its directories are opened to their owner first, so that one a test closed
// (mode 0333, 0000) goes too.
class ScratchDir {
 public:
  explicit ScratchDir(std::string_view prefix = "zubra32-test", const std::string& base = "/tmp") {
    std::string pattern = base + "/" + std::string(prefix) + ".XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    Root = std::filesystem::canonical(pattern).string();
  }
  ~ScratchDir() {
    if (Kept) return;
    OpenUp(Root);
    std::error_code ignored;
    std::filesystem::remove_all(Root, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Dir() const { return Root; }
  std::string Path(const std::string& name) const { return Root + "/" + name; }

  // Every name in the directory itself other than the ones given.
  std::vector<std::string> OtherNames(std::initializer_list<std::string> known) const {
    std::vector<std::string> others;
    for (const auto& entry : std::filesystem::directory_iterator(Root)) {
      std::string name = entry.path().filename().string();
      if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
    }
    return others;
  }

  // Leaves the directory in place at the end, to be looked at.
  void Keep() { Kept = true; }

 private:
  static void OpenUp(const std::filesystem::path& dir) {
    std::error_code ignored;
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
      if (!entry.is_symlink(ignored) && entry.is_directory(ignored)) OpenUp(entry.path());
  }

  std::string Root;
  bool Kept = false;
};

}  // namespace zubra32::test

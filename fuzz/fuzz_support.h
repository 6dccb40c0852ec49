// Helpers shared by the fuzz targets: the fixed environment they run in, the
// place of their scratch directory, the tests' scratch directory and
// whole-file byte access, and a check that ends the process loudly
// (libFuzzer then keeps the input that did it).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/file_bytes.h"
#include "support/scratch_dir.h"

extern char** environ;

namespace zubra32::fuzz {

// The variables every fuzz input sees, in this order. Some refer to
// themselves or to each other, so that expansion meets its bound; none
// holds a '/', so that no expansion can name a file outside the scratch
// directory.
inline const std::vector<std::string>& FixedEnvironment() {
  static const std::vector<std::string> entries = {
      "USERNAME=alice",
      "COMSPEC=C:\\COMMAND.COM",
      "TEMP=C:\\TEMP",
      "SELF=~%SELF~%",
      "GROW=<~%GROW~%~%GROW~%>",
      "PING=ping ~%PONG~%",
      "PONG=pong ~%PING~%",
      "HALF=~%",
      "TILDES=~~ and ~",
      "SECTION=[w]",
      "EMPTY=",
      "username=second entry, never found",
      "LONG=" + std::string(300, 'L'),
      "Mixed=mIxEd",
  };
  return entries;
}

// Makes the process environment exactly FixedEnvironment(), for good.
inline void InstallFixedEnvironment() {
  static std::vector<std::string> storage = FixedEnvironment();
  static std::vector<char*> pointers;
  for (std::string& entry : storage) pointers.push_back(entry.data());
  pointers.push_back(nullptr);
  environ = pointers.data();
}

// Where this process's scratch directory goes: $ZUBRA32_FUZZ_SCRATCH, else
// memory (/dev/shm) where there is one, else /tmp.
inline std::string ScratchBase() {
  if (const char* chosen = getenv("ZUBRA32_FUZZ_SCRATCH"); chosen != nullptr && *chosen != '\0') return chosen;
  return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

// An invariant that failed: says which and aborts, so the input is kept as a crash.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "zubra32 fuzz invariant broken: %s\n", what);
  std::abort();
}

inline void Check(bool holds, const char* what) {
  if (!holds) Broken(what);
}

}  // namespace zubra32::fuzz

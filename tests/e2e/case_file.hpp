// A case file describes one run of the program: the scratch tree it starts
// from, its arguments and environment, and what it must leave behind.
// The format is documented in tests/e2e/README.md.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

inline constexpr std::string_view CopyrightNotice = "Copyright (C) 2026 the Zubra32 developers";

// Values for the tokens that depend on the run; a token whose value is
// absent here stays literal text.
struct TokenValues {
  std::optional<std::string> Dir;      // {DIR}: scratch directory
  std::optional<std::string> Program;  // {PROGRAM}: only in stdout
  bool Copyright = false;              // {COPYRIGHT}: only in stdout
  std::optional<int> N;                // {n}: only inside `repeat`
};

// Lines of a content block, joined into bytes only when the case runs.
struct Block {
  std::vector<std::string> Lines;
  std::string Eol = "\r\n";
  bool NoEol = false;
  int Repeat = 0;  // 0: no repetition
};

struct InputFile {
  std::string Path;
  Block Content;
  std::optional<mode_t> Mode;
};

struct InputDir {
  std::string Path;
  std::optional<mode_t> Mode;
};

struct Symlink {
  std::string Path, Target;
};

struct Owner {
  uid_t Uid = 0;
  gid_t Gid = 0;
  bool operator==(const Owner&) const = default;
};

struct Case {
  std::string Title;
  std::vector<std::string> Args;  // unexpanded
  Block Env;                      // one VAR=VALUE a line
  std::vector<InputFile> Files;
  std::vector<InputDir> Dirs;
  std::vector<Symlink> Symlinks;
  std::vector<Symlink> Hardlinks;  // target: an input file of the case
  Block StdoutText;
  int ExitCode = 0;
  std::map<std::string, Block> Expect;
  std::map<std::string, mode_t> ExpectMode;
  std::map<std::string, Owner> Owners;        // given to inputs after the tree is built (needs root)
  std::map<std::string, Owner> ExpectOwners;  // checked afterwards
  std::vector<std::string> AllowExtra;
  bool RunAsNobody = false;
  bool Untouched = false;  // `=== untouched`: the whole tree stays as it was, times included
  std::string Platform;    // empty: any platform
  int TimeoutSeconds = 20;
};

// Expands the byte tokens ({CR}, {x1A}, {rep 300 x}, ...) in `text`.
std::string Expand(std::string_view text, const TokenValues& values);

// Builds the bytes of a content block.
std::string Render(const Block& block, TokenValues values);

// Parses a case file; throws std::runtime_error naming file and line.
Case ParseCase(const std::string& path);

}  // namespace e2e

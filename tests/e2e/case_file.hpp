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

inline constexpr std::string_view copyright_notice = "Copyright (C) 2026 the Zubra32 developers";

// Values for the tokens that depend on the run; a token whose value is
// absent here stays literal text.
struct TokenValues {
  std::optional<std::string> dir;      // {DIR}: scratch directory
  std::optional<std::string> program;  // {PROGRAM}: only in stdout
  bool copyright = false;              // {COPYRIGHT}: only in stdout
  std::optional<int> n;                // {n}: only inside `repeat`
};

// Lines of a content block, joined into bytes only when the case runs.
struct Block {
  std::vector<std::string> lines;
  std::string eol = "\r\n";
  bool noeol = false;
  int repeat = 0;  // 0: no repetition
};

struct InputFile {
  std::string path;
  Block content;
  std::optional<mode_t> mode;
};

struct InputDir {
  std::string path;
  std::optional<mode_t> mode;
};

struct Symlink {
  std::string path, target;
};

struct Owner {
  uid_t uid = 0;
  gid_t gid = 0;
  bool operator==(const Owner&) const = default;
};

struct Case {
  std::string title;
  std::vector<std::string> args;  // unexpanded
  Block env;                      // one VAR=VALUE a line
  std::vector<InputFile> files;
  std::vector<InputDir> dirs;
  std::vector<Symlink> symlinks;
  std::vector<Symlink> hardlinks;  // target: an input file of the case
  Block stdout_text;
  int exit_code = 0;
  std::map<std::string, Block> expect;
  std::map<std::string, mode_t> expect_mode;
  std::map<std::string, Owner> owner;         // given to inputs after the tree is built (needs root)
  std::map<std::string, Owner> expect_owner;  // checked afterwards
  std::vector<std::string> allow_extra;
  bool run_as_nobody = false;
  bool untouched = false;  // `=== untouched`: the whole tree stays as it was, times included
  std::string platform;    // empty: any platform
  int timeout_seconds = 20;
};

// Expands the byte tokens ({CR}, {x1A}, {rep 300 x}, ...) in `text`.
std::string expand(std::string_view text, const TokenValues& values);

// Builds the bytes of a content block.
std::string render(const Block& block, TokenValues values);

// Parses a case file; throws std::runtime_error naming file and line.
Case parse_case(const std::string& path);

}  // namespace e2e

// Writes one random case for the differential run into the current
// directory: Workfiles w0.txt .. w3.txt and a definition file defs.txt whose
// sections and directives edit them. The same seed gives the same case.
//
//   generate SEED
//
// The Workfiles mix what the load treats specially (CR LF and LF ends, CRs
// inside lines, trailing blanks, echo-off lines, a byte-order mark, Ctrl-Z,
// wide-text marks, long lines, the 2,500-line limit); the directives take
// their left sides from the Workfiles' own bytes in changed letter case, so
// that they match often, and use every operator, the escape, CR LF on the
// right side, variables, debug traces, missing and repeated Workfiles.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

std::mt19937 generator;

std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(generator); }
bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
template <typename T>
const T& Pick(const std::vector<T>& items) {
  return items[Below(items.size())];
}

const std::vector<std::string> Words = {"SET",   "PATH=C:\\DOS;C:\\WINDOWS",
                                        "rem",   "netx",
                                        "/ps",   "LH",
                                        "mouse", "DEVICE=C:\\DOS\\HIMEM.SYS",
                                        "Echo",  "OFF",
                                        "key",   "Key",
                                        "KEY",   "ab",
                                        "aB",    "=",
                                        "~",     "%",
                                        "[x]",   "@",
                                        "`",     "{",
                                        "}",     "\xE9",
                                        "\xC9",  "prompt",
                                        "$P$G",  "GOTO",
                                        "end",   "start",
                                        "a",     "b",
                                        "xyzzy", "\t",
                                        " ",     "  "};

std::string Word() {
  std::string word = Pick(Words);
  for (char& byte : word) {
    if (Chance(15) && ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z'))) byte ^= 0x20;
  }
  return word;
}

std::string TextLine(std::size_t maxWords) {
  std::string line;
  std::size_t words = Below(maxWords + 1);
  for (std::size_t i = 0; i < words; ++i) line += (i ? " " : "") + Word();
  if (Chance(10)) line.insert(Below(line.size() + 1), "\r");
  if (Chance(15)) line += Pick(std::vector<std::string>{" ", "  ", "\t", " \x01", "\x1f"});
  if (Chance(2)) line.insert(Below(line.size() + 1), std::string(1, static_cast<char>(Below(256))));
  return line;
}

std::string EchoOffVariant() {
  return Pick(std::vector<std::string>{"@echo off", "@ECHO OFF", "ECHO OFF", "  echo off  ", "@echo  off",
                                       "@echo off > nul", "\t@Echo Off"});
}

std::string Workfile(std::vector<std::string>& lines) {
  std::string text;
  if (Chance(5)) text += "\xEF\xBB\xBF";
  if (Chance(1)) text += Pick(std::vector<std::string>{"\xFF\xFE", "\xFE\xFF"});
  std::size_t count = Below(30);
  if (Chance(3)) count = 0;
  if (Chance(2)) count = 2498 + Below(5);
  const bool lfOnly = Chance(20);
  const std::size_t maxWords = Chance(5) ? 800 : 10;
  for (std::size_t i = 0; i < count; ++i) {
    std::string line = Chance(4) ? EchoOffVariant() : TextLine(maxWords);
    lines.push_back(line);
    text += line;
    if (i + 1 < count || !Chance(20)) text += lfOnly || Chance(5) ? "\n" : "\r\n";
  }
  if (Chance(4)) text.insert(Below(text.size() + 1), "\x1a");
  return text;
}

// A piece of a Workfile line to search for, in changed letter case.
std::string LeftSide(const std::vector<std::string>& lines) {
  std::string left;
  if (!lines.empty() && Chance(80)) {
    const std::string& line = Pick(lines);
    if (!line.empty()) {
      std::size_t at = Below(line.size());
      left = line.substr(at, 1 + Below(std::min<std::size_t>(8, line.size() - at)));
    }
  }
  if (left.empty() || Chance(10)) left += Word();
  for (char& byte : left) {
    if (Chance(30) && ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z'))) byte ^= 0x20;
  }
  // Characters the directive grammar gives a meaning are escaped on the left side.
  std::string escaped;
  for (char byte : left) {
    if (byte == '\r' || byte == '\n' || byte == '\x1a') continue;
    if ((byte == '=' || byte == '~') && Chance(90)) escaped += '~';
    escaped += byte;
  }
  return escaped;
}

std::string RightSide() {
  std::string right;
  std::size_t words = Below(4);
  for (std::size_t i = 0; i < words; ++i) right += (i ? " " : "") + Word();
  if (Chance(10)) right += "~~" + Word();
  if (Chance(5)) right += "~%ZV1~%";
  if (Chance(3)) right += "~%ZV2~%";
  if (Chance(2)) right = std::string(Below(4000), 'r');
  for (std::size_t i = 0; i < right.size(); ++i) {
    if (right[i] == '\r' || right[i] == '\n' || right[i] == '\x1a') right[i] = '.';
  }
  return right;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: generate SEED\n");
    return 2;
  }
  generator.seed(static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)));
  constexpr int Workfiles = 4;
  std::vector<std::vector<std::string>> lines(Workfiles);
  for (int w = 0; w < Workfiles; ++w) {
    std::ofstream(("w" + std::to_string(w) + ".txt").c_str(), std::ios::binary) << Workfile(lines[w]);
  }
  std::string defs;
  if (Chance(10)) defs += "' a comment\r\n";
  if (Chance(5)) defs += "end=before any section\r\n";
  std::size_t sections = 1 + Below(5);
  for (std::size_t s = 0; s < sections; ++s) {
    if (Chance(25)) defs += "[DEBUG]\r\n";
    int w = static_cast<int>(Below(Workfiles));
    if (Chance(8)) {
      defs += "[missing" + std::to_string(Below(3)) + ".txt]\r\n";
    } else if (Chance(5)) {
      defs += "[~%ZV3~%w" + std::to_string(w) + ".txt]\r\n";
    } else {
      defs += "[w" + std::to_string(w) + ".txt]\r\n";
    }
    std::size_t directives = Below(12);
    if (Chance(3)) directives = 100 + Below(10);
    for (std::size_t d = 0; d < directives; ++d) {
      std::size_t kind = Below(20);
      if (kind == 0) {
        defs += "start=" + RightSide();
      } else if (kind == 1) {
        defs += "END=" + RightSide();
      } else if (kind == 2) {
        defs += "  ' " + RightSide();
      } else {
        std::string op = Pick(std::vector<std::string>{"", "@", "-", "+", "!", "", "+", "-"});
        std::string right = RightSide();
        // "-" takes its text from the line as well, to remove something that is there.
        if (op == "-" && Chance(60)) right = LeftSide(lines[static_cast<std::size_t>(w)]);
        if (op == "" && !right.empty() && (right[0] == '@' || right[0] == '-' || right[0] == '+' || right[0] == '!')) {
          right.insert(0, "x");
        }
        defs += LeftSide(lines[static_cast<std::size_t>(w)]) + "=" + op + right;
      }
      defs += Chance(90) ? "\r\n" : "\n";
    }
  }
  std::ofstream("defs.txt", std::ios::binary) << defs;
  return 0;
}

#include "case_file.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace e2e {
namespace {

std::optional<long> ParseNumber(std::string_view s, int base, long max) {
  long value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value < 0 || value > max) return std::nullopt;
  return value;
}

// The text between the braces of one token, or nullopt if it is none.
std::optional<std::string> TokenValue(std::string_view name, const TokenValues& v) {
  if (name == "CR") return "\r";
  if (name == "LF") return "\n";
  if (name == "TAB") return "\t";
  if (name == "NUL") return std::string(1, '\0');
  if (name == "SUB") return "\x1A";
  if (name == "DIR" && v.Dir) return *v.Dir;
  if (name == "PROGRAM" && v.Program) return *v.Program;
  if (name == "COPYRIGHT" && v.Copyright) return std::string(CopyrightNotice);
  if (name == "n" && v.N) return std::to_string(*v.N);
  if (name.size() == 3 && name[0] == 'x') {
    if (auto byte = ParseNumber(name.substr(1), 16, 255)) return std::string(1, static_cast<char>(*byte));
  }
  if (name.starts_with("rep ")) {  // {rep COUNT TEXT}
    auto rest = name.substr(4);
    auto blank = rest.find(' ');
    if (blank == std::string_view::npos || blank + 1 == rest.size()) return std::nullopt;
    auto count = ParseNumber(rest.substr(0, blank), 10, 10'000'000);
    if (!count) return std::nullopt;
    const std::string text = Expand(rest.substr(blank + 1), v);
    std::string out;
    for (long i = 0; i < *count; ++i) out += text;
    return out;
  }
  return std::nullopt;
}

std::vector<std::string> SplitWords(std::string_view s) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (true) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i == s.size()) return words;
    std::size_t end;
    if (s[i] == '"') {
      end = s.find('"', i + 1);
      if (end == std::string_view::npos) throw std::runtime_error("unterminated quote");
      words.emplace_back(s.substr(i + 1, end - i - 1));
      ++end;
    } else {
      end = s.find_first_of(" \t", i);
      if (end == std::string_view::npos) end = s.size();
      words.emplace_back(s.substr(i, end - i));
    }
    i = end;
  }
}

// A path inside the scratch tree: relative, without "." or ".." steps.
std::string ScratchPath(const std::string& word) {
  std::string path = Expand(word, {});
  std::string step;
  std::istringstream steps(path);
  bool ok = !path.empty() && path.front() != '/' && path.back() != '/';
  while (ok && std::getline(steps, step, '/')) ok = !step.empty() && step != "." && step != "..";
  if (!ok) throw std::runtime_error("bad path \"" + path + "\"");
  return path;
}

mode_t ParseMode(const std::vector<std::string>& w, std::size_t i) {
  if (i >= w.size() || w[i].size() > 4) throw std::runtime_error("expected an octal mode");
  auto mode = ParseNumber(w[i], 8, 07777);
  if (!mode) throw std::runtime_error("bad mode \"" + w[i] + "\"");
  return static_cast<mode_t>(*mode);
}

// Options after the header words: crlf lf raw noeol repeat N mode M.
void ParseOptions(const std::vector<std::string>& w, std::size_t i, Block* block, std::optional<mode_t>* mode) {
  for (; i < w.size(); ++i) {
    if (block && w[i] == "crlf")
      block->Eol = "\r\n";
    else if (block && w[i] == "lf")
      block->Eol = '\n';  // not "\n": g++ 12 -O3 warns -Wrestrict falsely
    else if (block && w[i] == "raw")
      block->Eol.clear();
    else if (block && w[i] == "noeol")
      block->NoEol = true;
    else if (block && w[i] == "repeat" && i + 1 < w.size()) {
      auto n = ParseNumber(w[++i], 10, 1'000'000);
      if (!n || *n == 0) throw std::runtime_error("bad repeat count \"" + w[i] + "\"");
      block->Repeat = static_cast<int>(*n);
    } else if (mode && w[i] == "mode")
      *mode = ParseMode(w, ++i);
    else
      throw std::runtime_error("unknown option \"" + w[i] + "\"");
  }
}

// "UID:GID", both decimal.
Owner ParseOwner(const std::string& word) {
  auto colon = word.find(':');
  auto uid = ParseNumber(std::string_view(word).substr(0, colon), 10, 4'294'967'294);
  auto gid = colon == std::string::npos ? std::nullopt
                                        : ParseNumber(std::string_view(word).substr(colon + 1), 10, 4'294'967'294);
  if (!uid || !gid) throw std::runtime_error("bad owner \"" + word + "\" (expected UID:GID)");
  return {static_cast<uid_t>(*uid), static_cast<gid_t>(*gid)};
}

void NeedWords(const std::vector<std::string>& w, std::size_t n, const char* usage) {
  if (w.size() != n) throw std::runtime_error(std::string("expected: === ") + usage);
}

}  // namespace

std::string Expand(std::string_view text, const TokenValues& values) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '{') {
      std::size_t close = i + 1;  // the matching brace: {rep 3 a{CR}{LF}} nests
      for (int depth = 1; close < text.size(); ++close)
        if (text[close] == '{')
          ++depth;
        else if (text[close] == '}' && --depth == 0)
          break;
      if (close < text.size()) {
        if (auto value = TokenValue(text.substr(i + 1, close - i - 1), values)) {
          out += *value;
          i = close + 1;
          continue;
        }
      }
    }
    out += text[i++];
  }
  return out;
}

std::string Render(const Block& block, TokenValues values) {
  std::string out;
  const int reps = block.Repeat ? block.Repeat : 1;
  const std::size_t total = block.Lines.size() * static_cast<std::size_t>(reps);
  std::size_t done = 0;
  for (int n = 1; n <= reps; ++n) {
    if (block.Repeat) values.N = n;
    for (const auto& line : block.Lines) {
      out += Expand(line, values);
      if (++done < total || !block.NoEol) out += block.Eol;
    }
  }
  return out;
}

Case ParseCase(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot read");
  Case c;
  Block* content = nullptr;  // the block that takes the following lines
  std::set<std::string> seen, inputs;
  auto inputPath = [&](const std::string& word) {
    std::string path = ScratchPath(word);
    if (!inputs.insert(path).second) throw std::runtime_error(path + " is given twice");
    return path;
  };
  std::string line;
  int lineNo = 0;
  try {
    while (std::getline(in, line)) {
      ++lineNo;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.starts_with("===")) {
        if (content)
          content->Lines.push_back(line);
        else if (!line.empty() && line[0] != '#')
          throw std::runtime_error("text outside a block");
        continue;
      }
      content = nullptr;
      std::string_view rest = std::string_view(line).substr(3);
      if (!rest.starts_with(' ')) throw std::runtime_error("expected \"=== keyword\"");
      const auto start = rest.find_first_not_of(" \t");
      const auto first = rest.substr(start == std::string_view::npos ? 0 : start);
      if (auto word = first.substr(0, first.find_first_of(" \t")); word == "title" || word == "title:") {
        if (!seen.insert("title").second) throw std::runtime_error("second \"title\" block");
        auto text = first.substr(word.size());
        c.Title = text.substr(std::min(text.size(), text.find_first_not_of(" \t")));
        continue;  // the title is free text, not words
      }
      auto w = SplitWords(rest);
      if (w.empty()) throw std::runtime_error("expected \"=== keyword\"");
      std::string key = w[0];
      if (key.ends_with(':')) key.pop_back();
      bool single = key == "args" || key == "env" || key == "stdout" || key == "exit" || key == "run-as" ||
                    key == "platform" || key == "timeout" || key == "untouched";
      if (single && !seen.insert(key).second) throw std::runtime_error("second \"" + key + "\" block");

      if (key == "args") {
        c.Args.assign(w.begin() + 1, w.end());
      } else if (key == "env") {
        NeedWords(w, 1, "env");
        content = &c.Env;
      } else if (key == "file") {
        if (w.size() < 2) throw std::runtime_error("expected: === file NAME [options]");
        c.Files.push_back({inputPath(w[1]), {}, {}});
        ParseOptions(w, 2, &c.Files.back().Content, &c.Files.back().Mode);
        content = &c.Files.back().Content;
      } else if (key == "dir") {
        if (w.size() < 2) throw std::runtime_error("expected: === dir NAME [mode M]");
        c.Dirs.push_back({inputPath(w[1]), {}});
        ParseOptions(w, 2, nullptr, &c.Dirs.back().Mode);
      } else if (key == "symlink") {
        if (w.size() != 4 || w[2] != "->") throw std::runtime_error("expected: === symlink NAME -> TARGET");
        c.Symlinks.push_back({inputPath(w[1]), Expand(w[3], {})});
      } else if (key == "hardlink") {
        if (w.size() != 4 || w[2] != "->") throw std::runtime_error("expected: === hardlink NAME -> FILE");
        c.Hardlinks.push_back({inputPath(w[1]), ScratchPath(w[3])});
      } else if (key == "stdout") {
        ParseOptions(w, 1, &c.StdoutText, nullptr);
        content = &c.StdoutText;
      } else if (key == "exit" || key == "timeout") {
        NeedWords(w, 2, "exit N / timeout SECONDS");
        auto n = ParseNumber(w[1], 10, key == "exit" ? 255 : 3600);
        if (!n) throw std::runtime_error("bad number \"" + w[1] + "\"");
        (key == "exit" ? c.ExitCode : c.TimeoutSeconds) = static_cast<int>(*n);
      } else if (key == "expect") {
        if (w.size() < 2) throw std::runtime_error("expected: === expect NAME [options]");
        auto [it, fresh] = c.Expect.try_emplace(ScratchPath(w[1]));
        if (!fresh) throw std::runtime_error("second expect for " + it->first);
        ParseOptions(w, 2, &it->second, nullptr);
        content = &it->second;
      } else if (key == "expect-mode") {
        NeedWords(w, 3, "expect-mode NAME MODE");
        c.ExpectMode[ScratchPath(w[1])] = ParseMode(w, 2);
      } else if (key == "owner" || key == "expect-owner") {
        NeedWords(w, 3, "owner NAME UID:GID / expect-owner NAME UID:GID");
        std::string name = ScratchPath(w[1]);
        auto& owners = key == "owner" ? c.Owners : c.ExpectOwners;
        if (!owners.emplace(name, ParseOwner(w[2])).second) throw std::runtime_error("second " + key + " for " + name);
      } else if (key == "allow-extra") {
        if (w.size() < 2) throw std::runtime_error("expected: === allow-extra GLOB...");
        c.AllowExtra.insert(c.AllowExtra.end(), w.begin() + 1, w.end());
      } else if (key == "run-as") {
        if (w.size() != 2 || w[1] != "nobody") throw std::runtime_error("expected: === run-as nobody");
        c.RunAsNobody = true;
      } else if (key == "untouched") {
        NeedWords(w, 1, "untouched");
        c.Untouched = true;
      } else if (key == "platform") {
        if (w.size() != 2 || (w[1] != "posix" && w[1] != "windows"))
          throw std::runtime_error("expected: === platform posix|windows");
        c.Platform = w[1];
      } else {
        throw std::runtime_error("unknown block \"" + key + "\"");
      }
    }
    lineNo = 0;
    for (const auto& [name, owner] : c.Owners)
      if (!inputs.count(name)) throw std::runtime_error("owner for " + name + ", which is no input");
    if (!seen.count("stdout")) throw std::runtime_error("no \"=== stdout\" block");
    if (!seen.count("exit")) throw std::runtime_error("no \"=== exit\" block");
    for (const auto& var : c.Env.Lines)
      if (!var.empty() && var.find('=') == std::string::npos) throw std::runtime_error("env line without '=': " + var);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + (lineNo ? ":" + std::to_string(lineNo) : "") + ": " + e.what());
  }
  return c;
}

}  // namespace e2e

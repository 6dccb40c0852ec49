#include "case_file.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace e2e {
namespace {

std::optional<long> parse_number(std::string_view s, int base, long max) {
  long value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value < 0 || value > max) return std::nullopt;
  return value;
}

// The text between the braces of one token, or nullopt if it is none.
std::optional<std::string> token_value(std::string_view name, const TokenValues& v) {
  if (name == "CR") return "\r";
  if (name == "LF") return "\n";
  if (name == "TAB") return "\t";
  if (name == "NUL") return std::string(1, '\0');
  if (name == "SUB") return "\x1A";
  if (name == "DIR" && v.dir) return *v.dir;
  if (name == "PROGRAM" && v.program) return *v.program;
  if (name == "COPYRIGHT" && v.copyright) return std::string(copyright_notice);
  if (name == "n" && v.n) return std::to_string(*v.n);
  if (name.size() == 3 && name[0] == 'x') {
    if (auto byte = parse_number(name.substr(1), 16, 255)) return std::string(1, static_cast<char>(*byte));
  }
  if (name.starts_with("rep ")) {  // {rep COUNT TEXT}
    auto rest = name.substr(4);
    auto blank = rest.find(' ');
    if (blank == std::string_view::npos || blank + 1 == rest.size()) return std::nullopt;
    auto count = parse_number(rest.substr(0, blank), 10, 10'000'000);
    if (!count) return std::nullopt;
    const std::string text = expand(rest.substr(blank + 1), v);
    std::string out;
    for (long i = 0; i < *count; ++i) out += text;
    return out;
  }
  return std::nullopt;
}

std::vector<std::string> split_words(std::string_view s) {
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
std::string scratch_path(const std::string& word) {
  std::string path = expand(word, {});
  std::string step;
  std::istringstream steps(path);
  bool ok = !path.empty() && path.front() != '/' && path.back() != '/';
  while (ok && std::getline(steps, step, '/')) ok = !step.empty() && step != "." && step != "..";
  if (!ok) throw std::runtime_error("bad path \"" + path + "\"");
  return path;
}

mode_t parse_mode(const std::vector<std::string>& w, std::size_t i) {
  if (i >= w.size() || w[i].size() > 4) throw std::runtime_error("expected an octal mode");
  auto mode = parse_number(w[i], 8, 07777);
  if (!mode) throw std::runtime_error("bad mode \"" + w[i] + "\"");
  return static_cast<mode_t>(*mode);
}

// Options after the header words: crlf lf raw noeol repeat N mode M.
void parse_options(const std::vector<std::string>& w, std::size_t i, Block* block, std::optional<mode_t>* mode) {
  for (; i < w.size(); ++i) {
    if (block && w[i] == "crlf")
      block->eol = "\r\n";
    else if (block && w[i] == "lf")
      block->eol = '\n';  // not "\n": g++ 12 -O3 warns -Wrestrict falsely
    else if (block && w[i] == "raw")
      block->eol.clear();
    else if (block && w[i] == "noeol")
      block->noeol = true;
    else if (block && w[i] == "repeat" && i + 1 < w.size()) {
      auto n = parse_number(w[++i], 10, 1'000'000);
      if (!n || *n == 0) throw std::runtime_error("bad repeat count \"" + w[i] + "\"");
      block->repeat = static_cast<int>(*n);
    } else if (mode && w[i] == "mode")
      *mode = parse_mode(w, ++i);
    else
      throw std::runtime_error("unknown option \"" + w[i] + "\"");
  }
}

// "UID:GID", both decimal.
Owner parse_owner(const std::string& word) {
  auto colon = word.find(':');
  auto uid = parse_number(std::string_view(word).substr(0, colon), 10, 4'294'967'294);
  auto gid = colon == std::string::npos ? std::nullopt
                                        : parse_number(std::string_view(word).substr(colon + 1), 10, 4'294'967'294);
  if (!uid || !gid) throw std::runtime_error("bad owner \"" + word + "\" (expected UID:GID)");
  return {static_cast<uid_t>(*uid), static_cast<gid_t>(*gid)};
}

void need_words(const std::vector<std::string>& w, std::size_t n, const char* usage) {
  if (w.size() != n) throw std::runtime_error(std::string("expected: === ") + usage);
}

}  // namespace

std::string expand(std::string_view text, const TokenValues& values) {
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
        if (auto value = token_value(text.substr(i + 1, close - i - 1), values)) {
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

std::string render(const Block& block, TokenValues values) {
  std::string out;
  const int reps = block.repeat ? block.repeat : 1;
  const std::size_t total = block.lines.size() * static_cast<std::size_t>(reps);
  std::size_t done = 0;
  for (int n = 1; n <= reps; ++n) {
    if (block.repeat) values.n = n;
    for (const auto& line : block.lines) {
      out += expand(line, values);
      if (++done < total || !block.noeol) out += block.eol;
    }
  }
  return out;
}

Case parse_case(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot read");
  Case c;
  Block* content = nullptr;  // the block that takes the following lines
  std::set<std::string> seen, inputs;
  auto input_path = [&](const std::string& word) {
    std::string path = scratch_path(word);
    if (!inputs.insert(path).second) throw std::runtime_error(path + " is given twice");
    return path;
  };
  std::string line;
  int line_no = 0;
  try {
    while (std::getline(in, line)) {
      ++line_no;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.starts_with("===")) {
        if (content)
          content->lines.push_back(line);
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
        c.title = text.substr(std::min(text.size(), text.find_first_not_of(" \t")));
        continue;  // the title is free text, not words
      }
      auto w = split_words(rest);
      if (w.empty()) throw std::runtime_error("expected \"=== keyword\"");
      std::string key = w[0];
      if (key.ends_with(':')) key.pop_back();
      bool single = key == "args" || key == "env" || key == "stdout" || key == "exit" || key == "run-as" ||
                    key == "platform" || key == "timeout" || key == "untouched";
      if (single && !seen.insert(key).second) throw std::runtime_error("second \"" + key + "\" block");

      if (key == "args") {
        c.args.assign(w.begin() + 1, w.end());
      } else if (key == "env") {
        need_words(w, 1, "env");
        content = &c.env;
      } else if (key == "file") {
        if (w.size() < 2) throw std::runtime_error("expected: === file NAME [options]");
        c.files.push_back({input_path(w[1]), {}, {}});
        parse_options(w, 2, &c.files.back().content, &c.files.back().mode);
        content = &c.files.back().content;
      } else if (key == "dir") {
        if (w.size() < 2) throw std::runtime_error("expected: === dir NAME [mode M]");
        c.dirs.push_back({input_path(w[1]), {}});
        parse_options(w, 2, nullptr, &c.dirs.back().mode);
      } else if (key == "symlink") {
        if (w.size() != 4 || w[2] != "->") throw std::runtime_error("expected: === symlink NAME -> TARGET");
        c.symlinks.push_back({input_path(w[1]), expand(w[3], {})});
      } else if (key == "hardlink") {
        if (w.size() != 4 || w[2] != "->") throw std::runtime_error("expected: === hardlink NAME -> FILE");
        c.hardlinks.push_back({input_path(w[1]), scratch_path(w[3])});
      } else if (key == "stdout") {
        parse_options(w, 1, &c.stdout_text, nullptr);
        content = &c.stdout_text;
      } else if (key == "exit" || key == "timeout") {
        need_words(w, 2, "exit N / timeout SECONDS");
        auto n = parse_number(w[1], 10, key == "exit" ? 255 : 3600);
        if (!n) throw std::runtime_error("bad number \"" + w[1] + "\"");
        (key == "exit" ? c.exit_code : c.timeout_seconds) = static_cast<int>(*n);
      } else if (key == "expect") {
        if (w.size() < 2) throw std::runtime_error("expected: === expect NAME [options]");
        auto [it, fresh] = c.expect.try_emplace(scratch_path(w[1]));
        if (!fresh) throw std::runtime_error("second expect for " + it->first);
        parse_options(w, 2, &it->second, nullptr);
        content = &it->second;
      } else if (key == "expect-mode") {
        need_words(w, 3, "expect-mode NAME MODE");
        c.expect_mode[scratch_path(w[1])] = parse_mode(w, 2);
      } else if (key == "owner" || key == "expect-owner") {
        need_words(w, 3, "owner NAME UID:GID / expect-owner NAME UID:GID");
        std::string name = scratch_path(w[1]);
        auto& owners = key == "owner" ? c.owner : c.expect_owner;
        if (!owners.emplace(name, parse_owner(w[2])).second) throw std::runtime_error("second " + key + " for " + name);
      } else if (key == "allow-extra") {
        if (w.size() < 2) throw std::runtime_error("expected: === allow-extra GLOB...");
        c.allow_extra.insert(c.allow_extra.end(), w.begin() + 1, w.end());
      } else if (key == "run-as") {
        if (w.size() != 2 || w[1] != "nobody") throw std::runtime_error("expected: === run-as nobody");
        c.run_as_nobody = true;
      } else if (key == "untouched") {
        need_words(w, 1, "untouched");
        c.untouched = true;
      } else if (key == "platform") {
        if (w.size() != 2 || (w[1] != "posix" && w[1] != "windows"))
          throw std::runtime_error("expected: === platform posix|windows");
        c.platform = w[1];
      } else {
        throw std::runtime_error("unknown block \"" + key + "\"");
      }
    }
    line_no = 0;
    for (const auto& [name, owner] : c.owner)
      if (!inputs.count(name)) throw std::runtime_error("owner for " + name + ", which is no input");
    if (!seen.count("stdout")) throw std::runtime_error("no \"=== stdout\" block");
    if (!seen.count("exit")) throw std::runtime_error("no \"=== exit\" block");
    for (const auto& var : c.env.lines)
      if (!var.empty() && var.find('=') == std::string::npos) throw std::runtime_error("env line without '=': " + var);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + (line_no ? ":" + std::to_string(line_no) : "") + ": " + e.what());
  }
  return c;
}

}  // namespace e2e

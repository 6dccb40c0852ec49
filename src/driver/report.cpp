#include "driver/report.h"

#include <array>

namespace zubra32 {

namespace {

constexpr std::array<std::string_view, 10> ResultWords = {
    "unchanged", "changed",     "missing",      "too-long", "head-full",
    "tail-full", "cannot-read", "cannot-write", "locked",   "changed-by-another",
};

std::string_view WordOf(SectionResult result) { return ResultWords[static_cast<std::size_t>(result)]; }

// The length of the valid UTF-8 sequence at the start of `text`, 0 for none.
std::size_t ValidSequence(std::string_view text) {
  auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  auto continuation = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
  unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    unsigned low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    return byte(1) >= low && byte(1) <= high && continuation(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    unsigned low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    return byte(1) >= low && byte(1) <= high && continuation(2) && continuation(3) ? 4 : 0;
  }
  return 0;
}

class Json {
 public:
  void String(std::string_view text) {
    constexpr char Hex[] = "0123456789ABCDEF";
    Out.push_back('"');
    while (!text.empty()) {
      auto byte = static_cast<unsigned char>(text.front());
      std::size_t valid = ValidSequence(text);
      if (byte == '"' || byte == '\\') {
        Out.append(1, '\\').push_back(static_cast<char>(byte));
      } else if (byte < 0x20 || valid == 0) {
        // Control characters as themselves, a byte of no valid sequence as a lone low surrogate.
        Out.append(valid == 0 ? "\\uDC" : "\\u00").push_back(Hex[byte >> 4]);
        Out.push_back(Hex[byte & 0xF]);
      } else {
        Out.append(text.substr(0, valid));
      }
      text.remove_prefix(valid == 0 ? 1 : valid);
    }
    Out.push_back('"');
  }
  void Number(std::int64_t value) { Out.append(std::to_string(value)); }
  // A member's name; the value follows.
  void Key(std::string_view name) {
    Separate();
    String(name);
    Out.push_back(':');
    Fresh = true;
  }
  void Open(char bracket) {
    Separate();
    Out.push_back(bracket);
    Fresh = true;
  }
  void Close(char bracket) {
    Out.push_back(bracket);
    Fresh = false;
  }
  // Before a value in an array.
  void Item() { Separate(); }
  void Member(std::string_view name, std::string_view text) {
    Key(name);
    String(text);
    Fresh = false;
  }
  void Member(std::string_view name, std::int64_t value) {
    Key(name);
    Number(value);
    Fresh = false;
  }
  std::string Out;

 private:
  void Separate() {
    if (!Fresh) Out.push_back(',');
    Fresh = false;
  }
  bool Fresh = true;
};

}  // namespace

std::string ReportJson(const RunReport& report) {
  Json json;
  json.Open('{');
  json.Member("report_format", 1);
  json.Member("program", "zubra32");
  json.Member("version", ZUBRA32_VERSION);
  json.Member("mode", report.Mode);
  json.Member("exit_code", report.ExitCode);
  json.Member("definition_file", report.DefinitionFile);
  if (!report.Message.empty()) json.Member("message", report.Message);
  json.Key("workfiles");
  json.Open('[');
  std::array<std::int64_t, ResultWords.size()> counts{};
  for (const SectionRecord& section : report.Sections) {
    ++counts[static_cast<std::size_t>(section.Result)];
    json.Open('{');
    json.Member("section", section.Section);
    json.Member("path", section.Path);
    json.Member("line", section.Line);
    json.Member("result", WordOf(section.Result));
    if (!section.Message.empty()) json.Member("message", section.Message);
    if (section.Result == SectionResult::Changed || section.Result == SectionResult::Unchanged) {
      json.Member("bytes_before", static_cast<std::int64_t>(section.BytesBefore));
      json.Member("bytes_after", static_cast<std::int64_t>(section.BytesAfter));
    }
    if (section.Result == SectionResult::Changed) {
      json.Key("notes");
      json.Open('[');
      for (const std::string& note : section.Notes) {
        json.Item();
        json.String(note);
      }
      json.Close(']');
      if (!section.Diff.empty()) json.Member("diff", section.Diff);
      if (!section.Backup.empty()) json.Member("backup", section.Backup);
    }
    if (!section.ChangesAgain.empty()) {
      json.Key("changes_again");
      json.Open('[');
      for (std::int64_t line : section.ChangesAgain) {
        json.Item();
        json.Number(line);
      }
      json.Close(']');
    }
    json.Close('}');
  }
  json.Close(']');
  json.Key("findings");
  json.Open('[');
  for (const FindingRecord& finding : report.Findings) {
    json.Open('{');
    json.Member("line", finding.Line);
    json.Member("level", finding.Level);
    json.Member("code", finding.Code);
    json.Member("message", finding.Message);
    json.Close('}');
  }
  json.Close(']');
  json.Key("summary");
  json.Open('{');
  for (std::size_t i = 0; i < ResultWords.size(); ++i) json.Member(ResultWords[i], counts[i]);
  json.Close('}');
  json.Close('}');
  json.Out.push_back('\n');
  return json.Out;
}

}  // namespace zubra32

// Fuzz target: one definition line through trimming, variable expansion and
// directive classification, against a fixed environment whose values refer
// to themselves and to each other.
//
// Checks: expansion ends; it gives what a plain model of it gives (leftmost
// complete reference first, search again from the start, at most 1000
// replacements, names and values cut after 255 bytes, ASCII letters of names
// in any case, first entry wins); and the classified directive keeps its
// shape: START=/END= values are the rest of the line as written, a replace
// directive has a non-empty left side and no "~~" left in its right side.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "deflang/directive.h"
#include "deflang/expansion.h"
#include "fuzz_support.h"
#include "runtime/console.h"
#include "runtime/reporting.h"
#include "runtime/strings.h"

namespace {

using namespace zubra32;
using zubra32::fuzz::Check;

constexpr std::size_t MaxInputBytes = 8 * 1024;

std::string ModelLookup(std::string_view name) {
  name = name.substr(0, std::min<std::size_t>(name.size(), 255));
  for (const std::string& entry : fuzz::FixedEnvironment()) {
    if (entry.size() > name.size() && entry[name.size()] == '=' &&
        EqualIgnoringCase(entry.substr(0, name.size()), name)) {
      return entry.substr(name.size() + 1, 255);
    }
  }
  return {};
}

std::string ModelExpand(std::string line) {
  for (int count = 0; count < 1000; ++count) {
    std::size_t open = line.find("~%");
    if (open == std::string::npos) break;
    std::size_t close = line.find("~%", open + 3);
    if (close == std::string::npos) break;
    line.replace(open, close + 2 - open, ModelLookup(line.substr(open + 2, close - open - 2)));
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::InstallFixedEnvironment();
  // Traces are produced (odd-sized inputs run in debug mode) but not kept.
  Output().OpenWrite("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > MaxInputBytes) return -1;
  std::string raw(reinterpret_cast<const char*>(data), size);

  Reporting report;
  report.Console = &Output();
  report.DebugMode = size % 2 == 1;
  const std::string trimmed(TrimmedView(raw));
  std::string line = trimmed;
  ExpandVariables(line, report);
  Check(line == ModelExpand(trimmed), "expansion gives what the model gives");
  Check(line.size() <= trimmed.size() + 1000 * 255, "expansion grows a line by at most 1000 values");

  Directive directive = ClassifyDirective(line);
  switch (directive.Kind) {
    case DirectiveKind::AddAtStart:
      Check(EqualIgnoringCase(line.substr(0, 6), "START=") && directive.Value == line.substr(6),
            "START= keeps its value");
      break;
    case DirectiveKind::AddAtEnd:
      Check(EqualIgnoringCase(line.substr(0, 4), "END=") && directive.Value == line.substr(4), "END= keeps its value");
      break;
    case DirectiveKind::Replace:
      Check(!directive.LeftSide.empty(), "a replace directive has a left side");
      Check(directive.LeftSide.size() < line.size(), "the left side lies before the operator");
      Check(directive.Value.find("~~") == std::string::npos, "no ~~ is left on the right side");
      break;
    case DirectiveKind::None:
      for (std::size_t i = 1; i < line.size(); ++i) {
        Check(line[i] != '=' || line[i - 1] == '~', "a line with an unescaped '=' after its first byte is a directive");
      }
      break;
  }
  return 0;
}

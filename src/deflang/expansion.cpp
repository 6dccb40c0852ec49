#include "deflang/expansion.h"

#include <algorithm>

#include "runtime/environment.h"
#include "runtime/strings.h"

namespace zubra32 {

DelimiterPair FindDelimiterPair(std::string_view line, std::string_view delimiter) {
  DelimiterPair pair;
  pair.Open = line.find(delimiter);
  // The closing delimiter may begin no earlier than the second byte after the
  // opening one ends, so a name always has at least one byte.
  if (pair.Open != std::string_view::npos) pair.Close = line.find(delimiter, pair.Open + delimiter.size() + 1);
  return pair;
}

namespace {

// The expansion of one line: traces each replacement when `trace` is on, and
// tells `notes` (when given) what it met.
void ExpandLine(std::string& line, const Reporting* trace, ExpansionNotes* notes) {
  // Where the search for the next reference starts. Nothing before a replaced
  // reference can begin a new one, except a '~' right before it that the value
  // completes, so each search starts one byte before the last replacement:
  // a line that keeps growing at its end is not searched from its start again.
  std::size_t searchFrom = 0;
  for (int replacements = 0; replacements < MaxReplacementsPerLine; ++replacements) {
    // A delimiter that forms no complete reference stays in the line as ordinary text.
    DelimiterPair pair = FindDelimiterPair(std::string_view(line).substr(searchFrom), VariableDelimiter);
    if (pair.Open == std::string_view::npos || pair.Close == std::string_view::npos) {
      if (notes != nullptr && pair.Open != std::string_view::npos) notes->LoneDelimiter = true;
      return;
    }
    std::size_t open = searchFrom + pair.Open;
    std::size_t close = searchFrom + pair.Close;
    std::size_t nameStart = open + VariableDelimiter.size();
    std::string_view name = std::string_view(line).substr(nameStart, close - nameStart);
    std::string value = GetEnv(CutAfter(name, MaxShortString));
    if (trace != nullptr) {
      std::string text = "Env var: ";
      text.append(name).append(" replaced by ").append(value);
      trace->WriteLn(text);
    }
    if (notes != nullptr && !IsEnvSet(CutAfter(name, MaxShortString)) &&
        std::find(notes->UnsetNames.begin(), notes->UnsetNames.end(), name) == notes->UnsetNames.end()) {
      notes->UnsetNames.emplace_back(name);
    }
    line.replace(open, close + VariableDelimiter.size() - open, value);
    searchFrom = open > 0 ? open - 1 : 0;
  }
  if (notes != nullptr) {
    notes->BoundReached =
        FindDelimiterPair(std::string_view(line).substr(searchFrom), VariableDelimiter).Close != std::string_view::npos;
  }
}

}  // namespace

void ExpandVariables(std::string& line, const Reporting& report) {
  ExpandLine(line, report.DebugMode ? &report : nullptr, nullptr);
}

void ExpandVariablesNoting(std::string& line, ExpansionNotes& notes) { ExpandLine(line, nullptr, &notes); }

}  // namespace zubra32

#include <algorithm>

#include "deflang/directive.h"
#include "driver/run_state.h"
#include "runtime/strings.h"
#include "runtime/text_file.h"

namespace zubra32 {

DelimiterPair FindDelimiterPair(std::string_view line, std::string_view delimiter) {
  DelimiterPair pair;
  std::size_t first = line.find(delimiter);
  if (first == std::string_view::npos) return pair;
  pair.First = first + 1;
  // The closing delimiter may begin no earlier than the second byte after the
  // opening one ends, so a name always has at least one byte.
  std::size_t close = line.find(delimiter, first + delimiter.size() + 1);
  if (close != std::string_view::npos) pair.Close = close + 1;
  return pair;
}

std::string ReplaceAt(std::string_view text, std::size_t index, std::size_t count, std::string_view value) {
  std::string result(text);
  Delete(result, static_cast<std::int64_t>(index), static_cast<std::int64_t>(count));
  Insert(value, result, static_cast<std::int64_t>(index));
  return result;
}

namespace {

// The expansion of one line: traces each replacement when `trace` is on, and
// tells `notes` (when given) what it met.
void ExpandLine(std::string& line, bool trace, ExpansionNotes* notes) {
  // Where the search for the next reference starts. Nothing before a replaced
  // reference can begin a new one, except a '~' right before it that the value
  // completes, so each search starts one byte before the last replacement:
  // a line that keeps growing at its end is not searched from its start again.
  std::size_t searchFrom = 0;
  for (int replacements = 0; replacements < MaxReplacementsPerLine; ++replacements) {
    // A delimiter that forms no complete reference stays in the line as ordinary text.
    DelimiterPair pair = FindDelimiterPair(std::string_view(line).substr(searchFrom), VariableDelimiter);
    if (pair.First == 0 || pair.Close == 0) {
      if (notes != nullptr && pair.First != 0) notes->LoneDelimiter = true;
      return;
    }
    std::size_t open = searchFrom + pair.First - 1;
    std::size_t close = searchFrom + pair.Close - 1;
    std::size_t nameStart = open + VariableDelimiter.size();
    std::string_view name = std::string_view(line).substr(nameStart, close - nameStart);
    std::string value = GetEnv(CutAfter(name, MaxShortString));
    if (trace) {
      std::string text = "Env var: ";
      text.append(name).append(" replaced by ").append(value);
      Output().WriteLn(text);
    }
    if (notes != nullptr && !IsEnvSet(CutAfter(name, MaxShortString)) &&
        std::find(notes->UnsetNames.begin(), notes->UnsetNames.end(), name) == notes->UnsetNames.end()) {
      notes->UnsetNames.emplace_back(name);
    }
    line.replace(open, close + VariableDelimiter.size() - open, value);
    searchFrom = open > 0 ? open - 1 : 0;
  }
  if (notes != nullptr) notes->BoundReached = FindDelimiterPair(std::string_view(line).substr(searchFrom), VariableDelimiter).Close != 0;
}

}  // namespace

void ExpandVariables(RunState& run) { ExpandLine(run.CurrentLine, run.DebugMode, nullptr); }

void ExpandVariablesNoting(std::string& line, ExpansionNotes& notes) { ExpandLine(line, false, &notes); }

}  // namespace zubra32

// The seven edit operations. Each works on the WorkBuffer only; nothing reaches
// the disk before the Workfile is closed. A body line "contains" a text when the
// text, upper-cased, occurs in the upper-cased line (only a to z change case);
// the body's search compares both letter cases instead of upper-casing.
#include <array>

#include "deflang/directive.h"
#include "driver/run_state.h"
#include "runtime/strings.h"
#include "workfile/work_buffer.h"

namespace zubra32 {

namespace {

enum class ReplaceOperation { ChangeText, ReplaceLine, RemoveText, AddToLine, ForceReplace };

struct OperatorEntry {
  char OperatorCharacter;
  ReplaceOperation Operation;
};

// The operator character written after "=" selects the operation.
constexpr std::array<OperatorEntry, 5> OperatorTable = {{
    {' ', ReplaceOperation::ChangeText},
    {'@', ReplaceOperation::ReplaceLine},
    {'-', ReplaceOperation::RemoveText},
    {'+', ReplaceOperation::AddToLine},
    {'!', ReplaceOperation::ForceReplace},
}};

ReplaceOperation OperationFor(char operatorCharacter) {
  for (const OperatorEntry& entry : OperatorTable) {
    if (entry.OperatorCharacter == operatorCharacter) return entry.Operation;
  }
  return ReplaceOperation::ChangeText;
}

enum class End { Start, End };

// Appends a line to the head or the tail. A list that already holds its 100
// lines refuses it, and the Workfile is dropped as a too-long one is: nothing
// of it is written back.
bool AppendLine(RunState& run, WorkBuffer& work, End end, std::string_view text) {
  std::vector<std::string>& lines = end == End::Start ? work.HeadLines : work.TailLines;
  std::size_t capacity = end == End::Start ? MaxHeadLines : MaxTailLines;
  if (lines.size() >= capacity) {
    std::string rest = " " + work.WorkfileName + " has more than " + IntToStr(static_cast<std::int32_t>(capacity)) +
                       (end == End::Start ? " lines at start" : " lines at end");
    ReportWorkfileError(run, rest, ExitTooLong);
    work.WorkfileName.clear();
    return false;
  }
  work.WorkfileModified = true;
  lines.emplace_back(text);
  return true;
}

std::string LineNumber(std::size_t i) { return IntToStr(static_cast<std::int32_t>(i + 1)); }

}  // namespace

void ApplyDirective(RunState& run, WorkBuffer& work, const Directive& directive) {
  switch (directive.Kind) {
    case DirectiveKind::AddAtStart: return AddAtStart(run, work, directive.Value);
    case DirectiveKind::AddAtEnd: return AddAtEnd(run, work, directive.Value);
    case DirectiveKind::Replace:
      return ReplaceScan(run, work, directive.LeftSide, directive.OperatorCharacter, directive.Value);
    case DirectiveKind::None: return;
  }
}

void AddAtStart(RunState& run, WorkBuffer& work, std::string_view value) {
  if (work.WorkfileName.empty()) return;
  if (AppendLine(run, work, End::Start, value) && run.DebugMode) {
    Output().WriteLn(std::string("  Add at Start : ").append(value));
  }
}

void AddAtEnd(RunState& run, WorkBuffer& work, std::string_view value) {
  if (work.WorkfileName.empty()) return;
  if (AppendLine(run, work, End::End, value) && run.DebugMode) {
    Output().WriteLn(std::string("  Add at End : ").append(value));
  }
}

void ReplaceScan(RunState& run, WorkBuffer& work, std::string_view leftSide, char operatorCharacter,
                 std::string_view rightSide) {
  if (work.WorkfileName.empty() || work.LineCount() == 0) return;
  const bool debug = run.DebugMode;
  if (debug) Output().WriteLn(std::string(" Replace ").append(leftSide).append(" by ").append(rightSide));

  const ReplaceOperation operation = OperationFor(operatorCharacter);
  BodyText& body = work.BodyLines;
  const FoldedSearch search = body.SearchFor(leftSide);
  const FoldedSearch rightSearch = body.SearchFor(operation == ReplaceOperation::RemoveText ? rightSide : "");
  bool matched = false;
  // An empty search text occurs nowhere.
  body.ForEachHolding(search, [&](std::size_t i, std::size_t found) {
    work.WorkfileModified = true;
    switch (operation) {
      case ReplaceOperation::ReplaceLine:
      case ReplaceOperation::ForceReplace:
        body.SetLine(i, rightSide);
        matched = true;
        if (debug) Output().WriteLn("Replaced in Line : " + LineNumber(i));
        break;
      case ReplaceOperation::AddToLine:
        body.AppendToLine(i, rightSide);
        if (debug) Output().WriteLn(std::string("Added ").append(rightSide).append(" to Line : ") + LineNumber(i));
        break;
      case ReplaceOperation::RemoveText: {
        std::size_t at = rightSearch.FindIn(body.Line(i));
        if (at == FoldedSearch::npos) break;
        body.ReplaceInLine(i, at, rightSide.size(), {});
        if (debug) Output().WriteLn(std::string("Removed ").append(rightSide).append(" from Line : ") + LineNumber(i));
        break;
      }
      case ReplaceOperation::ChangeText:
        body.ReplaceInLine(i, found, leftSide.size(), rightSide);
        if (debug) {
          Output().WriteLn(std::string("Changed ").append(leftSide).append(" to ").append(rightSide).append(" at Line : ") +
                           LineNumber(i));
        }
        break;
    }
  });
  if (operation == ReplaceOperation::ForceReplace && !matched && AppendLine(run, work, End::Start, rightSide) && debug) {
    Output().WriteLn("Force Replacement not found, added to start");
  }
}

}  // namespace zubra32

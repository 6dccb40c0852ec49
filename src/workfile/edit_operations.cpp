// The seven edit operations. Each works on the WorkBuffer only; nothing reaches
// the disk before the Workfile is closed. A body line "contains" a text when the
// text, upper-cased, occurs in the upper-cased line (only a to z change case);
// the body's search compares both letter cases instead of upper-casing.
#include "workfile/edit_operations.h"

#include "runtime/strings.h"

namespace zubra32 {

namespace {

// What differs between adding a line at the start and at the end.
struct PlaceEntry {
  std::vector<std::string> WorkBuffer::*Lines;
  std::size_t Capacity;
  std::string_view Where;  // in the error line: "... has more than 100 lines at start"
  std::string_view Trace;  // in debug mode, before the line added
};

const PlaceEntry& EntryFor(AddedPlace place) {
  static const PlaceEntry Entries[] = {
      {&WorkBuffer::HeadLines, MaxHeadLines, " lines at start", "  Add at Start : "},
      {&WorkBuffer::TailLines, MaxTailLines, " lines at end", "  Add at End : "},
  };
  return Entries[place == AddedPlace::Start ? 0 : 1];
}

// Appends a line to the head or the tail. A list that already holds its 100
// lines refuses it, and the Workfile is dropped as a too-long one is: nothing
// of it is written back, and its file is let go at once.
bool AppendLine(Reporting& report, WorkBuffer& work, AddedPlace place, std::string_view text) {
  const PlaceEntry& entry = EntryFor(place);
  std::vector<std::string>& lines = work.*entry.Lines;
  if (lines.size() >= entry.Capacity) {
    std::string rest = " " + work.Current.Name() + " has more than " +
                       IntToStr(static_cast<std::int64_t>(entry.Capacity)) + std::string(entry.Where);
    report.ReportWorkfileError(rest, ExitTooLong,
                               place == AddedPlace::Start ? SectionResult::HeadFull : SectionResult::TailFull);
    work.Current.Drop();
    return false;
  }
  work.WorkfileModified = true;
  lines.emplace_back(text);
  return true;
}

std::string LineNumber(std::size_t i) { return IntToStr(static_cast<std::int64_t>(i + 1)); }

}  // namespace

void ApplyDirective(Reporting& report, WorkBuffer& work, const Directive& directive) {
  switch (directive.Kind) {
    case DirectiveKind::AddAtStart: return AddLine(report, work, AddedPlace::Start, directive.Value);
    case DirectiveKind::AddAtEnd: return AddLine(report, work, AddedPlace::End, directive.Value);
    case DirectiveKind::Replace:
      return ReplaceScan(report, work, directive.LeftSide, directive.Operation, directive.Value);
    case DirectiveKind::None: return;
  }
}

void AddLine(Reporting& report, WorkBuffer& work, AddedPlace place, std::string_view value) {
  if (work.Current.Empty()) return;
  if (AppendLine(report, work, place, value) && report.DebugMode) {
    report.WriteLn(std::string(EntryFor(place).Trace).append(value));
  }
}

void ReplaceScan(Reporting& report, WorkBuffer& work, std::string_view leftSide, ReplaceOperation operation,
                 std::string_view rightSide) {
  if (work.Current.Empty() || work.LineCount() == 0) return;
  const bool debug = report.DebugMode;
  if (debug) report.WriteLn(std::string(" Replace ").append(leftSide).append(" by ").append(rightSide));

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
        if (debug) report.WriteLn("Replaced in Line : " + LineNumber(i));
        break;
      case ReplaceOperation::AddToLine:
        body.AppendToLine(i, rightSide);
        if (debug) report.WriteLn(std::string("Added ").append(rightSide).append(" to Line : ") + LineNumber(i));
        break;
      case ReplaceOperation::RemoveText: {
        std::size_t at = rightSearch.FindIn(body.Line(i));
        if (at == FoldedSearch::npos) break;
        body.ReplaceInLine(i, at, rightSide.size(), {});
        if (debug) report.WriteLn(std::string("Removed ").append(rightSide).append(" from Line : ") + LineNumber(i));
        break;
      }
      case ReplaceOperation::ChangeText:
        body.ReplaceInLine(i, found, leftSide.size(), rightSide);
        if (debug) {
          report.WriteLn(
              std::string("Changed ").append(leftSide).append(" to ").append(rightSide).append(" at Line : ") +
              LineNumber(i));
        }
        break;
    }
  });
  if (operation == ReplaceOperation::ForceReplace && !matched &&
      AppendLine(report, work, AddedPlace::Start, rightSide) && debug) {
    report.WriteLn("Force Replacement not found, added to start");
  }
}

}  // namespace zubra32

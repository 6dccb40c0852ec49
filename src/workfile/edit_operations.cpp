// The seven edit operations. Each works on the WorkBuffer only; nothing reaches
// the disk before the Workfile is closed. A body line "contains" a text when the
// text, upper-cased, occurs in the upper-cased line (only a to z change case).
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
// of it is written back.
bool AppendLine(Reporting& report, WorkBuffer& work, AddedPlace place, std::string_view text) {
  const PlaceEntry& entry = EntryFor(place);
  std::vector<std::string>& lines = work.*entry.Lines;
  if (lines.size() >= entry.Capacity) {
    std::string rest = " " + work.WorkfileName + " has more than " +
                       IntToStr(static_cast<std::int64_t>(entry.Capacity)) + std::string(entry.Where);
    report.ReportWorkfileError(rest, ExitTooLong);
    work.WorkfileName.clear();
    return false;
  }
  work.WorkfileModified = true;
  lines.emplace_back(text);
  return true;
}

std::string LineNumber(std::size_t i) { return IntToStr(static_cast<std::int64_t>(i + 1)); }

// Pair sets pay for themselves once a body has been scanned a few times.
constexpr std::size_t ScansBeforePairSets = 8;

// Brings the body's derived copies up to date: BodyUpper (made by the load;
// here only for a body filled otherwise) and, from the ScansBeforePairSets-th
// scan of a load on, BodyPairs. True when BodyPairs is in use.
bool PrepareBodyCopies(WorkBuffer& work) {
  if (work.BodyUpper.size() != work.LineCount()) {
    work.BodyUpper.assign(work.BodyLines.begin(), work.BodyLines.end());
    for (std::string& upper : work.BodyUpper) UpperCaseInPlace(upper);
    work.BodyPairs.clear();
  }
  if (work.BodyPairs.size() == work.LineCount()) return true;
  if (++work.ScansSinceLoad < ScansBeforePairSets) return false;
  work.BodyPairs.clear();
  for (const std::string& upper : work.BodyUpper) work.BodyPairs.push_back(PairsOf(upper));
  return true;
}

}  // namespace

void ApplyDirective(Reporting& report, WorkBuffer& work, const Directive& directive) {
  switch (directive.Kind) {
    case DirectiveKind::AddAtStart: return AddLine(report, work, AddedPlace::Start, directive.Value);
    case DirectiveKind::AddAtEnd: return AddLine(report, work, AddedPlace::End, directive.Value);
    case DirectiveKind::Replace: return ReplaceScan(report, work, directive.LeftSide, directive.Operation, directive.Value);
    case DirectiveKind::None: return;
  }
}

void AddLine(Reporting& report, WorkBuffer& work, AddedPlace place, std::string_view value) {
  if (work.WorkfileName.empty()) return;
  if (AppendLine(report, work, place, value) && report.DebugMode) {
    report.WriteLn(std::string(EntryFor(place).Trace).append(value));
  }
}

void ReplaceScan(Reporting& report, WorkBuffer& work, std::string_view leftSide, ReplaceOperation operation,
                 std::string_view rightSide) {
  if (work.WorkfileName.empty() || work.LineCount() == 0) return;
  const bool debug = report.DebugMode;
  if (debug) report.WriteLn(std::string(" Replace ").append(leftSide).append(" by ").append(rightSide));

  const bool usePairs = PrepareBodyCopies(work);
  const std::string upperLeft = UpperCase(leftSide);
  const std::string upperRight = UpperCase(rightSide);
  const PairSet rightPairs = PairsOf(upperRight);
  const FixedSearch search(upperLeft, work.BodySample);
  bool matched = false;
  // An empty search text occurs nowhere.
  for (std::size_t i = 0; i < work.LineCount() && !upperLeft.empty(); ++i) {
    if (usePairs && !search.MayBeIn(work.BodyPairs[i])) continue;
    std::size_t found = search.FindIn(work.BodyUpper[i]);
    if (found == FixedSearch::npos) continue;
    work.WorkfileModified = true;
    std::string& line = work.BodyLines[i];
    std::string& upper = work.BodyUpper[i];
    switch (operation) {
      case ReplaceOperation::ReplaceLine:
      case ReplaceOperation::ForceReplace:
        line = rightSide;
        upper = upperRight;
        if (usePairs) work.BodyPairs[i] = rightPairs;
        matched = true;
        if (debug) report.WriteLn("Replaced in Line : " + LineNumber(i));
        break;
      case ReplaceOperation::AddToLine:
        line.append(rightSide);
        upper.append(upperRight);
        if (usePairs) work.BodyPairs[i] = PairsOf(upper);
        if (debug) report.WriteLn(std::string("Added ").append(rightSide).append(" to Line : ") + LineNumber(i));
        break;
      case ReplaceOperation::RemoveText: {
        std::size_t at = upperRight.empty() ? std::string::npos : upper.find(upperRight);
        if (at == std::string::npos) break;
        line.erase(at, rightSide.size());
        upper.erase(at, rightSide.size());
        if (usePairs) work.BodyPairs[i] = PairsOf(upper);
        if (debug) report.WriteLn(std::string("Removed ").append(rightSide).append(" from Line : ") + LineNumber(i));
        break;
      }
      case ReplaceOperation::ChangeText:
        line.replace(found, leftSide.size(), rightSide);
        upper.replace(found, leftSide.size(), upperRight);
        if (usePairs) work.BodyPairs[i] = PairsOf(upper);
        if (debug) {
          report.WriteLn(std::string("Changed ").append(leftSide).append(" to ").append(rightSide).append(" at Line : ") +
                           LineNumber(i));
        }
        break;
    }
  }
  if (operation == ReplaceOperation::ForceReplace && !matched && AppendLine(report, work, AddedPlace::Start, rightSide) && debug) {
    report.WriteLn("Force Replacement not found, added to start");
  }
}

}  // namespace zubra32

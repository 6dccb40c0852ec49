// Each rule names a line the run takes otherwise than it reads: ignored,
// taken as text, adding a line on every run, or naming another file than
// meant. Few false alarms beat many: a rule warns only on a form that is
// rarely written on purpose; what may well be meant is a note.
#include "deflang/check_rules.h"

#include "deflang/directive.h"
#include "deflang/expansion.h"
#include "runtime/strings.h"

namespace zubra32 {

namespace {

std::string Quoted(std::string_view text) { return std::string("\"").append(text).append("\""); }

// True when `word` is `keyword` mistyped: two neighbouring letters swapped,
// one letter left out, or one doubled; with `substitutions`, also one letter
// changed. A letter added otherwise ("ENDS") more often makes another word.
bool IsNearMiss(std::string_view word, std::string_view keyword, bool substitutions) {
  if (word == keyword) return false;
  if (word.size() == keyword.size()) {
    std::size_t first = 0;
    while (word[first] == keyword[first]) ++first;
    if (substitutions && word.substr(first + 1) == keyword.substr(first + 1)) return true;
    return first + 1 < word.size() && word[first] == keyword[first + 1] && word[first + 1] == keyword[first] &&
           word.substr(first + 2) == keyword.substr(first + 2);
  }
  std::string_view longer = word.size() > keyword.size() ? word : keyword;
  std::string_view shorter = word.size() > keyword.size() ? keyword : word;
  if (longer.size() != shorter.size() + 1) return false;
  std::size_t first = 0;
  while (first < shorter.size() && longer[first] == shorter[first]) ++first;
  if (longer.substr(first + 1) != shorter.substr(first)) return false;
  bool doubled = (first > 0 && longer[first] == longer[first - 1]) ||
                 (first + 1 < longer.size() && longer[first] == longer[first + 1]);
  return longer == keyword || doubled;
}

}  // namespace

void CheckSectionLine(CheckState& state, std::string_view line, std::int64_t lineNumber, Findings& findings) {
  std::string_view name = SectionName(line);
  state.SectionSeen = true;
  if (name.empty()) {
    findings.push_back({"section-names-nothing", "section line names no file: the run reports it as not found"});
    return;
  }
  if (line.back() != ']') {
    findings.push_back(
        {"section-unclosed",
         "section line does not end in \"]\": its last byte is cut off, the Workfile is " + Quoted(name)});
  } else if (IsBlank(name.front()) || IsBlank(name.back())) {
    findings.push_back({"name-edge-blank",
                        "Workfile name " + Quoted(name) + " begins or ends with a blank, which is part of the name"});
  }
  auto [earlier, first] = state.SectionLines.try_emplace(std::string(name), lineNumber);
  if (!first) {
    findings.push_back(
        {"section-repeated",
         "names the same Workfile as line " + IntToStr(earlier->second) + ": this section edits what that one leaves",
         FindingLevel::Note});
  }
}

namespace {

void CheckReplaceDirective(const Directive& directive, Findings& findings) {
  const std::string& left = directive.LeftSide;
  if (TrimmedView(left).empty()) {
    findings.push_back(
        {"blank-left-side", "left side holds only blanks: the directive applies to every line that holds a blank"});
    return;
  }
  // A keyword written with a blank before its "=", or misspelt, is a left side.
  std::string word = UpperCase(TrimmedRightView(left));
  bool blankBefore = word.size() != left.size();
  for (std::string_view keyword : {"START", "END"}) {
    bool meant = blankBefore ? word == keyword
                             : word.size() >= 3 && IsNearMiss(word, keyword, /*substitutions=*/keyword == "START");
    if (meant) {
      findings.push_back({"keyword-misspelt", Quoted(left) + " is not the keyword " + std::string(keyword) +
                                                  "=: the line edits the lines that hold " + Quoted(left)});
    }
  }
  // "L = @R": a blank on both sides of "=" and an operator character after it.
  const std::string& right = directive.Value;
  std::string_view afterBlanks = TrimmedView(right);
  if (directive.Operation == ReplaceOperation::ChangeText && IsBlank(left.back()) && !right.empty() &&
      IsBlank(right.front()) && !afterBlanks.empty() && OperationOfCharacter(afterBlanks.front())) {
    findings.push_back(
        {"operator-as-text", std::string("\"=\" followed by a blank and \"").append(1, afterBlanks.front()) +
                                 "\": the \"" + std::string(1, afterBlanks.front()) +
                                 "\" is text, not the operator, so the line changes the text " + Quoted(left)});
  }
}

}  // namespace

void CheckDirectiveLine(const CheckState& state, std::string_view line, Findings& findings) {
  Directive directive = ClassifyDirective(line);
  if (directive.Kind == DirectiveKind::None) {
    findings.push_back({"not-a-directive",
                        "not a comment, section line or directive (no \"=\" after the first byte that \"~\" does not "
                        "escape): ignored"});
    return;
  }
  if (!state.SectionSeen) {
    findings.push_back(
        {"before-first-section", "directive before the first section line: ignored, no Workfile is open"});
    return;
  }
  switch (directive.Kind) {
    case DirectiveKind::AddAtStart:
      findings.push_back(
          {"adds-every-run",
           "START= adds its line again on every run, so the file grows; L=!R adds it once and replaces it after",
           FindingLevel::Note});
      break;
    case DirectiveKind::AddAtEnd:
      findings.push_back(
          {"adds-every-run",
           "END= adds its line again on every run, so the file grows; L=!R adds it once (at the start) and replaces it "
           "after",
           FindingLevel::Note});
      break;
    case DirectiveKind::Replace: CheckReplaceDirective(directive, findings); break;
    case DirectiveKind::None: break;
  }
}

void CheckExpansion(const ExpansionNotes& notes, Findings& findings) {
  for (const std::string& name : notes.UnsetNames) {
    findings.push_back({"variable-unset", "variable " + name + " is not set here: ~%" + name + "~% becomes empty",
                        FindingLevel::Note});
  }
  if (notes.LoneDelimiter) findings.push_back({"lone-delimiter", "\"~%\" without a partner stays in the line as text"});
  if (notes.BoundReached) {
    findings.push_back(
        {"too-many-references",
         "more than " + IntToStr(MaxReplacementsPerLine) + " variable references: the rest stays as written",
         FindingLevel::Note});
  }
}

}  // namespace zubra32

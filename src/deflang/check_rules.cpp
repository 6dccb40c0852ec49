// Each rule names a line the run takes otherwise than it reads: ignored,
// taken as text, adding a line on every run, or naming another file than
// meant. Few false alarms beat many: a rule warns only on a form that is
// rarely written on purpose; what may well be meant is a note.
#include "deflang/check_rules.h"

#include <array>
#include <utility>

#include "deflang/directive.h"
#include "deflang/expansion.h"
#include "runtime/strings.h"

namespace zubra32 {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

std::string Quoted(std::string_view text) { return std::string("\"").append(text).append("\""); }

bool IsLetter(char byte) { return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z'); }
bool IsDigit(char byte) { return byte >= '0' && byte <= '9'; }

// A blank as a writer types it (a line's other control bytes are no slip).
bool IsTypedBlank(char byte) { return byte == ' ' || byte == '\t'; }

bool IsWord(std::string_view text) {
  for (char byte : text) {
    if (!IsLetter(byte)) return false;
  }
  return !text.empty();
}

// True when the text after "=" reads as a line to add rather than as a word to
// put in place of another: it holds a blank, a sign or a path, not letters,
// digits, ".", "-" and "_" alone.
bool ReadsAsLine(std::string_view right) {
  for (char byte : right) {
    if (!IsLetter(byte) && !IsDigit(byte) && byte != '.' && byte != '-' && byte != '_') return true;
  }
  return false;
}

// True when two capital letters lie side by side on a typewriter keyboard:
// on one row, or on neighbouring rows where each row sits a little to the
// right of the one above it.
bool AreKeyNeighbours(char a, char b) {
  constexpr std::array<std::string_view, 3> Rows = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  auto place = [&Rows](char key) {
    for (std::size_t row = 0; row < Rows.size(); ++row) {
      if (std::size_t column = Rows[row].find(key); column != std::string_view::npos) {
        return std::pair<int, int>(static_cast<int>(row), static_cast<int>(column));
      }
    }
    return std::pair<int, int>(-1, -1);
  };
  auto [rowA, columnA] = place(a);
  auto [rowB, columnB] = place(b);
  if (rowA < 0 || rowB < 0) return false;
  if (rowA == rowB) return columnA - columnB == 1 || columnB - columnA == 1;
  if (rowA > rowB) {
    std::swap(rowA, rowB);
    std::swap(columnA, columnB);
  }
  return rowB == rowA + 1 && (columnB == columnA || columnB == columnA - 1);
}

// True when `word` (capitals) is `keyword` as a slip of the fingers makes it:
// one letter left out, two neighbouring letters swapped, one letter hit
// together with or instead of a key beside it, or one letter doubled.
bool IsSlipOf(std::string_view word, std::string_view keyword) {
  if (word == keyword) return false;
  auto without = [](std::string_view text, std::size_t i) {
    return std::string(text.substr(0, i)).append(text.substr(i + 1));
  };
  if (word.size() + 1 == keyword.size()) {
    for (std::size_t i = 0; i < keyword.size(); ++i) {
      if (without(keyword, i) == word) return true;
    }
    return false;
  }
  if (word.size() == keyword.size() + 1) {
    for (std::size_t i = 0; i < word.size(); ++i) {
      if (without(word, i) != keyword) continue;
      for (std::size_t beside : {i - 1, i}) {  // the keyword's letters on either side of the extra one
        if (beside < keyword.size() && (word[i] == keyword[beside] || AreKeyNeighbours(word[i], keyword[beside])))
          return true;
      }
    }
    return false;
  }
  if (word.size() != keyword.size()) return false;
  std::size_t first = 0;
  while (word[first] == keyword[first]) ++first;
  if (word.substr(first + 1) == keyword.substr(first + 1)) return AreKeyNeighbours(word[first], keyword[first]);
  return first + 1 < word.size() && word[first] == keyword[first + 1] && word[first + 1] == keyword[first] &&
         word.substr(first + 2) == keyword.substr(first + 2);
}

// Words a writer may take for keywords of their own; the language has START= and END= only.
constexpr std::array<std::string_view, 11> LookAlikeKeywords = {
    "ADD", "APPEND", "BEGIN", "BOTTOM", "FIRST", "HEAD", "INSERT", "LAST", "PREPEND", "TAIL", "TOP"};

// The first "%NAME%" in the text, as a batch file writes a variable
// reference; empty when there is none. "~%" is this language's delimiter and
// "%%" a batch file's own escape, neither the start of one.
std::string_view PercentReference(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 2) == "~%" || text.substr(i, 2) == "%%") {
      ++i;
      continue;
    }
    if (text[i] != '%') continue;
    std::size_t end = i + 1;
    if (end >= text.size() || !(IsLetter(text[end]) || text[end] == '_')) continue;
    while (end < text.size() && (IsLetter(text[end]) || IsDigit(text[end]) || text[end] == '_')) ++end;
    if (end < text.size() && text[end] == '%') return text.substr(i, end + 1 - i);
  }
  return {};
}

// True when the text holds the word (capitals) on its own, not inside a longer one.
bool HoldsWord(std::string_view text, std::string_view word) {
  std::string upper = UpperCase(text);
  for (std::size_t at = 0; (at = upper.find(word, at)) != std::string::npos; ++at) {
    if ((at == 0 || !IsLetter(upper[at - 1])) &&
        (at + word.size() == upper.size() || !IsLetter(upper[at + word.size()])))
      return true;
  }
  return false;
}

// A batch file expands "%NAME%" itself when it runs; other files keep it as text.
bool IsBatchFile(std::string_view name) {
  std::size_t dot = name.find_last_of(".\\/:");
  if (dot == std::string_view::npos || name[dot] != '.') return false;
  std::string extension = UpperCase(name.substr(dot + 1));
  return extension == "BAT" || extension == "CMD" || extension == "BTM";
}

// True when a batch line that begins with this text is a comment.
bool IsBatchComment(std::string_view text) {
  text = TrimmedView(text);
  if (!text.empty() && text.front() == '@') text.remove_prefix(1);
  if (text.substr(0, 2) == "::") return true;
  return text.size() >= 3 && UpperCase(text.substr(0, 3)) == "REM" && (text.size() == 3 || IsBlank(text[3]));
}

void CheckPercentReference(std::string_view text, std::string_view where, Findings& findings) {
  std::string_view reference = PercentReference(text);
  if (reference.empty()) return;
  std::string name(reference.substr(1, reference.size() - 2));
  findings.push_back({"percent-reference", std::string(reference) + " stays as text " + std::string(where) +
                                               ": the variable's value is written ~%" + name + "~%"});
}

}  // namespace

void CheckSectionLine(CheckState& state, std::string_view line, std::int64_t lineNumber, Findings& findings) {
  std::string_view name = SectionName(line);
  state.SectionSeen = true;
  state.Workfile = name;
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
  } else if (IsSlipOf(UpperCase(name), "DEBUG")) {
    findings.push_back(
        {"keyword-misspelt", Quoted(line) + " is not [DEBUG]: the run opens a Workfile named " + Quoted(name)});
  }
  CheckPercentReference(name, "in a file name", findings);
  auto [earlier, first] = state.SectionLines.try_emplace(std::string(name), lineNumber);
  if (!first) {
    findings.push_back(
        {"section-repeated",
         "names the same Workfile as line " + IntToStr(earlier->second) + ": this section edits what that one leaves",
         FindingLevel::Note});
  }
}

namespace {

// The text a directive writes, as it stands after "=" or the operator character.
void CheckNewText(std::string_view after, std::string_view text, std::string_view what, Findings& findings) {
  if (text.empty()) return;
  if (text.front() == '=') {
    findings.push_back({"doubled-equals", std::string("\"=\" doubled: ") + std::string(what) +
                                              " begins with the second one; an \"=\" of the text sought is written "
                                              "\"~=\""});
  } else if (IsTypedBlank(text.front())) {
    findings.push_back({"blank-after-equals", "blank after " + Quoted(after) + ": " + std::string(what) +
                                                  " begins with it, " + Quoted(text)});
  }
}

// A left side that is a keyword with a blank before its "=", a slip of the
// fingers on one, or a keyword of the writer's own; true when it is reported.
bool CheckKeywordLookAlike(const Directive& directive, std::string_view right, Findings& findings) {
  const std::string& left = directive.LeftSide;
  std::string word = UpperCase(TrimmedRightView(left));
  bool blankBefore = word.size() != left.size();
  // A slip needs a line after the "=" as a keyword takes it: a word there,
  // or text that holds the word again ("APPEND=APPEND /X"), more likely
  // replaces the word before it.
  bool keywordShape = !blankBefore && IsWord(word) && ReadsAsLine(right) && !HoldsWord(right, word);
  for (std::string_view keyword : {"START", "END"}) {
    if (blankBefore ? word == keyword : keywordShape && IsSlipOf(word, keyword)) {
      findings.push_back({"keyword-misspelt", Quoted(left) + " is not the keyword " + std::string(keyword) +
                                                  "=: the line edits the lines that hold " + Quoted(left)});
      return true;
    }
  }
  if (keywordShape && directive.Operation == ReplaceOperation::ChangeText) {
    for (std::string_view keyword : LookAlikeKeywords) {
      if (word != keyword) continue;
      findings.push_back({"unknown-keyword", Quoted(left) +
                                                 " is no keyword (there are START= and END=): the line changes the "
                                                 "text " +
                                                 Quoted(left) + " in the lines that hold it"});
      return true;
    }
  }
  return false;
}

void CheckReplaceDirective(std::string_view line, const Directive& directive, Findings& findings) {
  const std::string& left = directive.LeftSide;
  if (TrimmedView(left).empty()) return;
  std::size_t equals = SplitPosition(line);
  std::string_view writtenLeft = line.substr(0, equals);
  std::string_view right = line.substr(equals + 1);
  if (CheckKeywordLookAlike(directive, right, findings)) return;
  // "L= @R": the operator character after a blank is text.
  std::size_t afterBlanks = right.find_first_not_of(" \t");
  if (directive.Operation == ReplaceOperation::ChangeText && afterBlanks > 0 && afterBlanks != std::string_view::npos &&
      OperationOfCharacter(right[afterBlanks])) {
    std::string character(1, right[afterBlanks]);
    findings.push_back({"operator-as-text", "\"=\" followed by a blank and \"" + character + "\": the \"" + character +
                                                "\" is text, not the operator, so the line changes the text " +
                                                Quoted(left)});
    return;
  }
  // "~ " before the "=" says the blank is meant.
  if (writtenLeft.size() >= 2 && IsTypedBlank(writtenLeft.back()) && writtenLeft[writtenLeft.size() - 2] != '~') {
    findings.push_back({"blank-before-equals", "blank before \"=\": it is part of the text sought, " + Quoted(left) +
                                                   " (written \"~ \" when meant)"});
  }
  switch (directive.Operation) {
    case ReplaceOperation::ChangeText:
      // A left side that begins with a blank may well be replaced by text that does.
      if (!IsBlank(left.front())) CheckNewText("=", right, "the new text", findings);
      break;
    case ReplaceOperation::ReplaceLine:
    case ReplaceOperation::ForceReplace:
      if (right.size() > 1 && IsTypedBlank(right[1]))
        CheckNewText(line.substr(equals, 2), right.substr(1), "the new line", findings);
      break;
    case ReplaceOperation::RemoveText:
    case ReplaceOperation::AddToLine: break;  // a blank after "=-" or "=+" is text removed or added, often meant
  }
}

// What the run does with a line that begins with a byte-order mark: the mark
// is text, so the line is no comment, section line or keyword line.
void CheckByteOrderMark(const CheckState& state, std::string_view written, std::string_view line, Findings& findings) {
  std::string_view rest = TrimmedView(written.substr(ByteOrderMark.size()));
  Directive asRead = ClassifyDirective(line);
  std::string mark = "line begins with a UTF-8 byte-order mark (bytes EF BB BF, which editors do not show)";
  if (asRead.Kind == DirectiveKind::None && (rest.empty() || rest.front() == '\'')) {
    findings.push_back(
        {"byte-order-mark", mark + ": harmless before a comment, but the run reads it as text", FindingLevel::Note});
    return;
  }
  findings.push_back({"byte-order-mark", mark + ": the run reads it as text, so the line is " +
                                             (asRead.Kind == DirectiveKind::None || !state.SectionSeen
                                                  ? std::string("ignored")
                                                  : std::string("a directive whose text sought begins with the mark")) +
                                             "; save the file without it"});
}

// The slips of a directive line as written, and "%NAME%" where it stays text.
void CheckWrittenLine(const CheckState& state, std::string_view line, const Directive& directive, Findings& findings) {
  // What the line writes into the Workfile, and whether that is a batch file's comment.
  std::string_view written;
  bool comment = false;
  if (directive.Kind == DirectiveKind::Replace) {
    CheckReplaceDirective(line, directive, findings);
    bool wholeLine =
        directive.Operation == ReplaceOperation::ReplaceLine || directive.Operation == ReplaceOperation::ForceReplace;
    written = line.substr(SplitPosition(line) + 1);
    comment = IsBatchComment(wholeLine ? written.substr(1) : std::string_view(directive.LeftSide));
  } else {
    std::size_t keyword = directive.Kind == DirectiveKind::AddAtStart ? 6 : 4;
    written = line.substr(keyword);
    CheckNewText(line.substr(0, keyword), written, "the added line", findings);
    comment = IsBatchComment(written);
  }
  // A batch file expands "%NAME%" when it runs, except in its comments.
  if (!IsBatchFile(state.Workfile)) {
    CheckPercentReference(line, "in " + Quoted(state.Workfile), findings);
  } else if (comment) {
    CheckPercentReference(written, "in a comment line", findings);
  }
}

}  // namespace

void CheckDirectiveLine(const CheckState& state, std::string_view written, std::string_view line, Findings& findings) {
  if (written.substr(0, ByteOrderMark.size()) == ByteOrderMark) {
    CheckByteOrderMark(state, written, line, findings);
    return;
  }
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
  if (directive.Kind == DirectiveKind::AddAtStart) {
    findings.push_back({"adds-every-run",
                        "START= adds its line again on every run, so the file grows; L=!R adds it once and replaces "
                        "it after",
                        FindingLevel::Note});
  } else if (directive.Kind == DirectiveKind::AddAtEnd) {
    findings.push_back({"adds-every-run",
                        "END= adds its line again on every run, so the file grows; L=!R adds it once (at the start) "
                        "and replaces it after",
                        FindingLevel::Note});
  } else if (TrimmedView(directive.LeftSide).empty()) {
    findings.push_back(
        {"blank-left-side", "left side holds only blanks: the directive applies to every line that holds a blank"});
    return;
  }
  // The slips are looked for in the line as written: a blank, an "=" or a
  // "%" that a variable brings in is meant.
  Directive asWritten = ClassifyDirective(written);
  if (asWritten.Kind == directive.Kind) CheckWrittenLine(state, written, asWritten, findings);
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

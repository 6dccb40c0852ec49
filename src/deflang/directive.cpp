#include "deflang/directive.h"

#include <algorithm>

#include "runtime/strings.h"

namespace zubra32 {

namespace {

constexpr char Tilde = '~';

// True when the line begins with the keyword ("START=", "END="), letters in any case.
bool HasKeyword(std::string_view line, std::string_view keyword) {
  return line.size() >= keyword.size() && EqualIgnoringCase(line.substr(0, keyword.size()), keyword);
}

// On the left side "~" makes the next byte ordinary. The scan runs backwards
// and skips the byte before each removed tilde, so a run of n tildes keeps n div 2.
std::string UnescapeLeftSide(std::string text) {
  for (std::size_t i = text.size() >= 2 ? text.size() - 1 : 0; i-- > 0;) {
    if (text[i] != Tilde) continue;
    text.erase(i, 1);
    if (i == 0) break;
    --i;
  }
  return text;
}

// On the right side each "~~" becomes CR LF; a lone "~" stays.
void ConvertRightSide(std::string& text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == Tilde && text[i + 1] == Tilde) {
      text[i] = '\r';
      text[i + 1] = '\n';
    }
  }
}

// Splits a line at its operator into `directive`; false when the line holds none.
bool SplitAtOperator(std::string_view line, Directive& directive) {
  std::size_t equals = SplitPosition(line);
  if (equals == std::string_view::npos) return false;

  std::string right(line.substr(equals + 1));
  if (std::optional<ReplaceOperation> operation = right.empty() ? std::nullopt : OperationOfCharacter(right.front())) {
    directive.Operation = *operation;
    right.erase(0, 1);
  }
  directive.Kind = DirectiveKind::Replace;
  directive.LeftSide = UnescapeLeftSide(std::string(line.substr(0, equals)));
  ConvertRightSide(right);
  directive.Value = std::move(right);
  return true;
}

}  // namespace

std::size_t SplitPosition(std::string_view line) {
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (line[i] == '=' && line[i - 1] != Tilde) return i;
  }
  return std::string_view::npos;
}

Directive ClassifyDirective(std::string_view line) {
  Directive directive;
  if (HasKeyword(line, "START=")) {
    directive.Kind = DirectiveKind::AddAtStart;
    directive.Value = line.substr(6);
  } else if (HasKeyword(line, "END=")) {
    directive.Kind = DirectiveKind::AddAtEnd;
    directive.Value = line.substr(4);
  } else {
    SplitAtOperator(line, directive);
  }
  return directive;
}

std::string_view SectionName(std::string_view sectionLine) {
  std::string_view name = sectionLine.substr(std::min<std::size_t>(1, sectionLine.size()));
  return name.substr(0, name.empty() ? 0 : name.size() - 1);
}

}  // namespace zubra32

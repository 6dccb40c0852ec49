#include "runtime/arguments.h"

#include "runtime/platform.h"
#include "runtime/strings.h"

namespace zubra32 {

namespace {

constexpr char Quote = '"';

bool IsSeparator(char byte) {
  auto code = static_cast<unsigned char>(byte);
  return code >= 1 && code <= 32;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  commandLine = commandLine.substr(0, commandLine.find('\0'));
  std::vector<std::string> arguments;
  std::size_t at = 0;
  const std::size_t end = commandLine.size();
  for (;;) {
    // Separators and empty quote pairs before the argument.
    for (;;) {
      while (at < end && IsSeparator(commandLine[at])) ++at;
      if (at + 1 < end && commandLine[at] == Quote && commandLine[at + 1] == Quote) {
        at += 2;
      } else {
        break;
      }
    }
    if (at == end) break;

    std::string argument;
    while (at < end && !IsSeparator(commandLine[at])) {
      if (commandLine[at] != Quote) {
        argument.push_back(commandLine[at++]);
        continue;
      }
      std::size_t close = commandLine.find(Quote, at + 1);
      if (close == std::string_view::npos) close = end;
      argument.append(commandLine.substr(at + 1, close - at - 1));
      at = close < end ? close + 1 : end;
    }
    // Only a lone quote at the very end gives an empty argument; it ends the count.
    if (argument.empty()) break;
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

int ParamCount() {
  auto count = static_cast<int>(platform::CommandLineArguments().size());
  return count > 0 ? count - 1 : 0;
}

std::string ParamStr(int index) {
  if (index == 0) return std::string(CutAfter(platform::ProgramFilePath(), MaxShortString));
  std::vector<std::string> arguments = platform::CommandLineArguments();
  if (index < 0 || static_cast<std::size_t>(index) >= arguments.size()) return {};
  return std::string(CutAfter(arguments[static_cast<std::size_t>(index)], MaxShortString));
}

}  // namespace zubra32

#include "runtime/environment.h"

#include "runtime/platform.h"
#include "runtime/strings.h"

namespace zubra32 {

namespace {

// The value of the first entry whose name matches; false when none does.
bool FindEnv(std::string_view name, std::string& value) {
  bool found = false;
  platform::VisitEnvironment([&](std::string_view entry) {
    // "NAME=value": the name must take the whole part before this '='.
    if (entry.size() <= name.size() || entry[name.size()] != '=') return false;
    if (!EqualIgnoringCase(entry.substr(0, name.size()), name)) return false;
    value = CutAfter(entry.substr(name.size() + 1), MaxShortString);
    found = true;
    return true;
  });
  return found;
}

}  // namespace

std::string GetEnv(std::string_view name) {
  std::string value;
  FindEnv(name, value);
  return value;
}

bool IsEnvSet(std::string_view name) {
  std::string value;
  return FindEnv(name, value);
}

}  // namespace zubra32

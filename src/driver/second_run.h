// Whether a definition file converges: the preview runs it a second time in
// memory, over the texts the first run would leave, and names each Workfile
// that the second run would change again. Nothing is printed and no file is
// opened for writing for it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "driver/preview.h"

namespace zubra32 {

// A Workfile a second run would change again: its name as its section gave
// it, its resolved name, and the definition lines whose directives changed
// its text in the second run.
struct ChangesAgain {
  std::string Name;
  std::string Key;
  std::vector<std::int64_t> Lines;
};

// A run of the definition file in memory: the Workfiles whose bytes at its
// end differ from where it began, in the order it meets them, and what it
// would leave in every Workfile it would write, by resolved name.
struct RunInMemory {
  std::vector<ChangesAgain> Changed;
  std::map<std::string, std::string> Texts;
};

// Runs the definition file over the texts in `start` (by resolved name; the
// files themselves for the rest).
RunInMemory RunDefinitionInMemory(std::string_view definitionFileName, const std::map<std::string, std::string>& start);

// Runs the definition file again over what `first` (the preview that has
// just run it) would leave: the Workfiles it would change again.
inline std::vector<ChangesAgain> SecondRun(std::string_view definitionFileName, const PreviewWriteBack& first) {
  return RunDefinitionInMemory(definitionFileName, first.WouldBeTexts()).Changed;
}

}  // namespace zubra32

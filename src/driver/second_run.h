// Whether a definition file converges: the preview runs it a second time in
// memory, over the texts the first run would leave, and names each Workfile
// that the second run would change again. Nothing is printed and no file is
// opened for writing for it.
#pragma once

#include <cstdint>
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

// Runs the definition file again over what `first` (the preview that has
// just run it) would leave; the Workfiles in the order the run meets them.
std::vector<ChangesAgain> SecondRun(std::string_view definitionFileName, const PreviewWriteBack& first);

}  // namespace zubra32

#include "runtime/file_system.h"

#include "runtime/platform.h"
#include "runtime/strings.h"

namespace zubra32 {

bool FileExists(std::string_view name) { return platform::ProbeName(CutAtNul(name)) == platform::EntryKind::File; }

}  // namespace zubra32

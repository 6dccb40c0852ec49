// What the program asks of the file system by name alone; everything else
// goes through the text files and the platform layer's held Workfiles.
#pragma once

#include <string_view>

namespace zubra32 {

// True when the name (cut at its first NUL) is an existing file and not a
// directory; a name with * or ? is a pattern whose first match decides.
bool FileExists(std::string_view name);

}  // namespace zubra32

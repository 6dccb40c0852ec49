// The check (/T): the definition file looked over on its own.
#pragma once

#include <cstdint>
#include <string_view>

namespace zubra32 {

// Prints a warning line for each line of the definition file that probably
// does not do what it seems to, then the count. Gives the number of warnings,
// or -1 when the definition file cannot be read.
std::int32_t CheckDefinitionFile(std::string_view definitionFileName);

}  // namespace zubra32

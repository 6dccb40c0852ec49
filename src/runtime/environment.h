// The process environment, read through variable names; never changed.
#pragma once

#include <string>
#include <string_view>

namespace zubra32 {

// The value of an environment variable: names matched with ASCII letters
// case-insensitive, the first entry in the environment's order wins, the value
// cut after 255 bytes; empty when no entry matches.
std::string GetEnv(std::string_view name);

// True when the environment holds a variable of that name (matched as by GetEnv),
// even one whose value is empty.
bool IsEnvSet(std::string_view name);

}  // namespace zubra32

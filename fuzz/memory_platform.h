// The memory platform's controls (see memory_platform.cpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/platform.h"

namespace zubra32::platform {

// From now on the file "memory" reads as `bytes`, each read giving at most
// the next of `chunks` bytes (taken in turn, each at least 1; the reader's
// whole buffer when `chunks` is empty). Forgets what was written.
void ServeFromMemory(std::string_view bytes, std::vector<std::size_t> chunks);

// Every byte written to any file since ServeFromMemory.
const std::string& WrittenToMemory();

}  // namespace zubra32::platform

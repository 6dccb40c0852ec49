// The console: standard output as a text file, and the end of the process.
#pragma once

#include <cstdint>

#include "runtime/text_file.h"

namespace zubra32 {

// Standard output, opened for writing when the process starts.
TextFile& Output();

// Closes Output and ends the process with the exit code.
[[noreturn]] void Halt(std::uint32_t exitCode);

}  // namespace zubra32

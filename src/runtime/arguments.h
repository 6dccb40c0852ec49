// Taking a whole command line apart into its arguments, for platforms that
// hand the program one string (Windows' GetCommandLineA) instead of a list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zubra32 {

// The arguments of `commandLine`, the program as the line spells it first.
// Runs of the bytes 1 to 32 separate arguments and a NUL byte ends the line.
// A double quote opens a stretch, ended by the next double quote or the end of
// the line, in which those bytes belong to the argument; the quotes themselves
// are dropped, and a stretch may stand anywhere in an argument. Two quotes side
// by side at the start of an argument are skipped, so an empty quoted argument
// is no argument. No byte escapes another. A quote left open at the very end
// would give an empty argument: nothing after it counts, so it is left out.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace zubra32

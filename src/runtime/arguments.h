// The command-line arguments: counted and handed out as the program takes
// them, and a whole command line taken apart, for platforms that hand the
// program one string (Windows' GetCommandLineA) instead of a list.
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

// Number of command-line arguments after the program's own name.
int ParamCount();

// The argument with that index, cut after 255 bytes; index 0 is the full path
// of the program file; the empty string past the last argument.
std::string ParamStr(int index);

}  // namespace zubra32

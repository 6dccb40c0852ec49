// The run that both fault walks (POSIX and Windows) repeat, once for every
// platform call with that call failing: a definition file over a missing
// Workfile and four real ones, with the lines each is loaded and closed on.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace zubra32::test {

// Lines of a file, each ended by CR LF.
inline std::string CrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text.append(line).append("\r\n");
  return text;
}

// A Workfile long enough (~150 KB) to take several reads and writes of the text-file buffer.
inline std::string BigWalkWorkfile() {
  std::vector<std::string> big;
  for (int i = 1; i <= 2400; ++i)
    big.push_back("line " + std::to_string(i) + " of a file of about 150 KB, several buffers long");
  return CrLf(big);
}

// The definition file, its Workfiles in `folder` (which ends with the
// separator). Line numbers matter: a failed load is reported on its section
// line, a failed write-back on the line that closes the Workfile.
inline std::string WalkDefinition(const std::string& folder) {
  return CrLf({
      "' A start-up script's edits, one section per Workfile.",  // 1
      "[" + folder + "missing.txt]",                             // 2: not found, status 2 before the rest
      "END=ignored",                                             // 3
      "[" + folder + "autoexec.bat]",                            // 4
      "START=rem Start-up file of ~%USERNAME~%",                 // 5
      "SET TEMP~==!SET TEMP=C:\\TEMP~~SET TMP=C:\\TEMP",         // 6
      "ctmouse.exe=@LH C:\\MOUSE\\CTMOUSE.EXE /R4",              // 7
      "END=rem Changed by ~%USERNAME~%",                         // 8
      "[" + folder + "unchanged.ini]",                           // 9: loaded, nothing applies
      "no such text=@never",                                     // 10
      "[" + folder + "config.sys]",                              // 11
      "DEVICE~=C:\\DOS\\HIMEM.SYS=- /TESTMEM:OFF",               // 12
      "END=DEVICEHIGH=C:\\DOS\\ANSI.SYS",                        // 13
      "[" + folder + "big.txt]",                                 // 14
      "of a long=+ (edited)",                                    // 15
      "END=the end",                                             // 16
  });
}

// The definition line each Workfile is loaded on, and the one that closes it.
inline const std::map<std::string, int> WalkSectionLine = {
    {"autoexec.bat", 4}, {"unchanged.ini", 9}, {"config.sys", 11}, {"big.txt", 14}};
inline const std::map<std::string, int> WalkCloseLine = {
    {"autoexec.bat", 9}, {"unchanged.ini", 11}, {"config.sys", 14}, {"big.txt", 16}};

}  // namespace zubra32::test

// The preview (/L): the run goes exactly as an ordinary one, but where it
// would write a Workfile back it prints a unified diff of the Workfile's bytes
// against the bytes it would write, and keeps those bytes for a later section
// that names the same Workfile. Nothing is written, created, renamed or flushed.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "runtime/reporting.h"
#include "runtime/text_file.h"
#include "workfile/work_buffer.h"

namespace zubra32 {

// The texts the write-backs of a preview would have left, for later sections
// that name the same Workfile. Each is kept as the lines its WorkBuffer held,
// moved out of it, so keeping it copies nothing.
struct WouldBeTexts {
  std::map<std::string, WorkBuffer> Workfiles;  // by ResolvedName: head, body and tail lines to write
  std::string LoadingName;                      // the Workfile whose text Loading holds
  std::string Loading;                          // its bytes, while a section loads and previews it
};

// What a preview keeps over the run; the WorkBuffer points to it in a preview.
// Workfiles are known by ResolvedName (platform.h), so that two spellings of
// one file meet.
struct PreviewState {
  std::set<std::string> ChangedWorkfiles;  // Workfiles whose bytes would differ
  WouldBeTexts Texts;                      // what the write-backs would have left
};

// Stands in for the write-back of the current Workfile in a preview, once the
// caller has seen that the write-back would not fail: prints the diff of the
// held file's bytes against the would-be text and keeps that text.
void PreviewWriteBack(Reporting& report, WorkBuffer& work);

// In a preview, when an earlier section would have written the current
// Workfile back, gives true and the text it would have left in `text` (valid
// until the Workfile's write-back); otherwise gives false.
bool FindWouldBeText(const WorkBuffer& work, std::string_view& text);

// Hands `writeLine` the diff's lines: "--- name", "+++ name (after)", note
// lines beginning with "\ " for what a diff of the lines cannot show (line
// ends becoming CR LF, trailing blanks removed, a line end added to the last
// line, a Ctrl-Z and what follows it dropped), then the hunks with 3 lines of
// context. `oldText` is the Workfile as it is (nullopt: it cannot be read);
// the new text is what WriteBackBytes gives for `work`, taken as it comes
// without being joined. The WorkBuffer tells which old line became which new
// ones, so the diff takes linear time. True when the texts differ.
bool WriteWorkfileDiff(std::string_view name, std::optional<std::string_view> oldText, const WorkBuffer& work,
                       const std::function<void(std::string_view line)>& writeLine);

}  // namespace zubra32

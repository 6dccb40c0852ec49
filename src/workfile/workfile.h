// The Workfile's life: named by its section line, held and loaded whole into
// the WorkBuffer, closed and written back when the next section begins or the
// run ends.
#pragma once

#include <string_view>

#include "runtime/reporting.h"
#include "workfile/work_buffer.h"

namespace zubra32 {

// A section line: closes the current Workfile, then takes the name between the
// brackets (first and last byte cut, whatever they are) and loads that file.
void SwitchWorkfile(Reporting& report, WorkBuffer& work, std::string_view sectionLine);

// Traces the close in debug mode and writes the Workfile back if it changed.
void CloseWorkfile(Reporting& report, WorkBuffer& work);

// Takes hold of the Workfile named by WorkfileName and reads it into the
// buffer, the first echo-off line into the head; refuses anything but a
// regular file, a file in UTF-16 or UTF-32, one of more than 1 GiB and one of
// more than 2500 body lines.
void LoadWorkfile(Reporting& report, WorkBuffer& work);

// Replaces the Workfile by its byte-order mark, if it had one, then head, body
// and tail lines, each ended by CR LF, in one atomic step; reports a Workfile
// that cannot be written or that another program changed since the load.
void SaveWorkfile(Reporting& report, WorkBuffer& work);

}  // namespace zubra32

// The seven edit operations that the directives apply to the WorkBuffer.
// Nothing reaches the disk before the Workfile is closed.
#pragma once

#include <string_view>

#include "deflang/directive.h"
#include "runtime/reporting.h"
#include "workfile/work_buffer.h"

namespace zubra32 {

// Carries out one classified directive on the current Workfile.
void ApplyDirective(Reporting& report, WorkBuffer& work, const Directive& directive);

// Where an added line goes: before the Workfile's own lines ("START=") or after them ("END=").
enum class AddedPlace { Start, End };

// Adds a line at the start or the end; the 101st there drops the Workfile.
void AddLine(Reporting& report, WorkBuffer& work, AddedPlace place, std::string_view value);

// The five operations that search the body for the left side, each line
// that holds it being changed at most once.
void ReplaceScan(Reporting& report, WorkBuffer& work, std::string_view leftSide, ReplaceOperation operation,
                 std::string_view rightSide);

}  // namespace zubra32

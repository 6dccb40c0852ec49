// What a Workfile's text looks like to the load and after the write-back:
// the rules the load, the save and the preview share.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "workfile/work_buffer.h"

namespace zubra32 {

// True when the line, trimmed at both ends, is "@ECHO OFF" or "ECHO OFF" in
// any letter case: the line a load takes into the head.
bool IsEchoOffLine(std::string_view line);

// Hands `write` the bytes that writing the WorkBuffer back puts in the
// Workfile, in order: the UTF-8 byte-order mark if the file had one, then
// every head, body and tail line followed by CR LF. The save and the preview
// both take the Workfile's new text from here.
void WriteBackBytes(const WorkBuffer& work, const std::function<void(std::string_view bytes)>& write);

// The same bytes in one string.
std::string WriteBackText(const WorkBuffer& work);

// The same without the byte-order mark: the lines alone.
void WriteBackLines(const WorkBuffer& work, const std::function<void(std::string_view bytes)>& write);

}  // namespace zubra32

// Zubra32 v2.0 : The Textfile Manipulator. Edits text files in batch as a
// definition file, named by the one argument, says.
#include <new>
#include <stdexcept>

#include "driver/command_line.h"
#include "driver/read_loop.h"
#include "runtime/console.h"
#include "runtime/platform.h"
#include "runtime/reporting.h"

int main(int argc, char** argv) {
  using namespace zubra32;
  platform::Initialize(argc, argv);
  try {
    Output().OpenWrite("");
    RunDefinitionFile(ReadCommandLine());
  } catch (const std::bad_alloc&) {
    ReportUnexpectedFailure("EOutOfMemory", "Out of memory");
  } catch (const std::length_error&) {
    ReportUnexpectedFailure("EOutOfMemory", "Out of memory");
  } catch (const std::exception& failure) {
    ReportUnexpectedFailure("EUnexpectedFailure", failure.what());
  } catch (...) {
    ReportUnexpectedFailure("EUnexpectedFailure", "Unexpected failure");
  }
  platform::ExitProcess(ExitUnexpectedFailure);
}

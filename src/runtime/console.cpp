#include "runtime/console.h"

#include "runtime/platform.h"

namespace zubra32 {

TextFile& Output() {
  static TextFile console;
  return console;
}

void Halt(std::uint32_t exitCode) {
  if (Output().IsOpen()) Output().Close();
  platform::ExitProcess(exitCode);
}

}  // namespace zubra32

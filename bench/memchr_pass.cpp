// The floor of bench/run.sh: reads a file whole, then makes N passes of
// memchr over it, each for a byte it does not hold, as a search that finds
// nothing must look at every byte.
//
//   memchr_pass FILE N
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: memchr_pass FILE N\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary | std::ios::ate);
  const auto size = static_cast<std::size_t>(file.tellg());
  std::unique_ptr<char[]> bytes(new char[size + 1]);
  file.seekg(0);
  file.read(bytes.get(), static_cast<std::streamsize>(size));
  long passes = std::strtol(argv[2], nullptr, 10);
  std::size_t found = 0;
  for (long pass = 0; pass < passes; ++pass) {
    // A byte the generated Workfiles never hold; volatile, so that no pass is left out.
    volatile int wanted = 0x01 + static_cast<int>(pass % 2) * 0x02;
    if (std::memchr(bytes.get(), wanted, size) != nullptr) ++found;
  }
  std::printf("%zu bytes, %ld passes, %zu found\n", size, passes, found);
  return 0;
}

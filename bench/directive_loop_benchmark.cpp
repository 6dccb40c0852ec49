// In-process timings of the directive loop: definition lines through every
// stage of the read loop (trim, expansion, classification, edit) on a loaded
// WorkBuffer, and the load itself. No process start and no disk flush: those
// are what bench/run.sh adds.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "driver/read_loop.h"
#include "runtime/platform.h"
#include "workfile/workfile.h"

// Every allocation of the process is counted, so that a benchmark can tell
// how many a step makes.
std::atomic<std::uint64_t> allocationCount{0};

void* operator new(std::size_t size) {
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
// The deletes hand back what the new above took from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace zubra32 {
namespace {

// Batch-file words; KEYnnnn keys in mixed letter case are spread over them.
std::vector<std::string> BodyLines(std::size_t count, std::size_t width, std::size_t keys, unsigned seed) {
  static const char* const words[] = {"SET",
                                      "PATH=C:\\DOS;C:\\WINDOWS",
                                      "LH",
                                      "C:\\DOS\\SMARTDRV.EXE",
                                      "/X",
                                      "PROMPT",
                                      "$P$G",
                                      "IF",
                                      "EXIST",
                                      "GOTO",
                                      "DEVICEHIGH=C:\\DOS\\ANSI.SYS",
                                      "echo",
                                      "Booting",
                                      "MODE",
                                      "CON",
                                      "CODEPAGE",
                                      "FILES=40",
                                      "rem",
                                      "NOEMS",
                                      "CD",
                                      "\\TEMP",
                                      "LOADHIGH"};
  std::mt19937 random(seed);
  auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < count; ++i) {
    std::string line = words[below(std::size(words))];
    for (int k = 0; k < 2; ++k) {
      char key[16];
      std::snprintf(key, sizeof key, below(2) ? " KEY%04zu" : " key%04zu", below(keys) + 1);
      line += key;
    }
    while (line.size() < width) line.append(" ").append(words[below(std::size(words))]);
    line.resize(width);
    if (line.back() == ' ') line.back() = 'X';
    lines.push_back(line);
  }
  return lines;
}

// One directive per key, the four edits of the replace family in turn.
std::vector<std::string> Directives(std::size_t count) {
  std::vector<std::string> lines;
  for (std::size_t d = 1; d <= count; ++d) {
    char line[64];
    switch (d % 4) {
      case 1: std::snprintf(line, sizeof line, "key%04zu=Val%04zu", d, d); break;
      case 2: std::snprintf(line, sizeof line, "Key%04zu=+ /K:%04zu", d, d); break;
      case 3: std::snprintf(line, sizeof line, "key%04zu=-c:\\dos", d); break;
      default: std::snprintf(line, sizeof line, "KEY%04zu=@REM line %04zu replaced", d, d); break;
    }
    lines.emplace_back(line);
  }
  return lines;
}

// The lines in a scratch file with CR LF ends, removed at the end.
class ScratchWorkfile {
 public:
  explicit ScratchWorkfile(const std::vector<std::string>& lines) {
    int fd = mkstemp(path_);
    std::string bytes;
    for (const std::string& line : lines) bytes.append(line).append("\r\n");
    platform::ErrorCode error = 0;
    platform::WriteBytes(fd, bytes.data(), bytes.size(), error);
    platform::CloseFile(fd, error);
  }
  ~ScratchWorkfile() { std::remove(path_); }
  ScratchWorkfile(const ScratchWorkfile&) = delete;
  ScratchWorkfile& operator=(const ScratchWorkfile&) = delete;

  WorkBuffer Load() const {
    RunState run;
    WorkBuffer work;
    FileWriteBack write;
    work.Current.Take(path_);
    LoadWorkfile(run.Report, work, write);
    // Let go of the file, or the next load of it waits for the lock to time out.
    work.Current.File().Release();
    return work;
  }

 private:
  char path_[32] = "/tmp/zubra32-benchmark-XXXXXX";
};

// Every definition line through the read loop's stages, on a fresh copy of the body.
void DirectiveLoop(benchmark::State& state, std::size_t width, std::size_t directives) {
  const WorkBuffer loaded = ScratchWorkfile(BodyLines(MaxBodyLines, width, directives, 2)).Load();
  const std::vector<std::string> definition = Directives(directives);
  for (auto _ : state) {
    state.PauseTiming();
    WorkBuffer work = loaded;
    RunState run;
    state.ResumeTiming();
    for (const std::string& line : definition) {
      run.CurrentLine = line;
      ProcessLine(run, work);
    }
    benchmark::DoNotOptimize(work.BodyLines.Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * directives * MaxBodyLines * width));
}

// W2 of bench/run.sh: 1,000 directives on 2,500 lines of 80 bytes.
void BM_DirectiveLoopHeavy(benchmark::State& state) { DirectiveLoop(state, 80, 1000); }
// W4 of bench/run.sh: 10 directives on 2,500 lines of 4,000 bytes.
void BM_DirectiveLoopLongLines(benchmark::State& state) { DirectiveLoop(state, 4000, 10); }

void BM_LoadWorkfile(benchmark::State& state) {
  const auto width = static_cast<std::size_t>(state.range(0));
  const ScratchWorkfile file(BodyLines(MaxBodyLines, width, 1000, 3));
  std::uint64_t allocations = 0;
  for (auto _ : state) {
    std::uint64_t before = allocationCount.load(std::memory_order_relaxed);
    WorkBuffer work = file.Load();
    allocations += allocationCount.load(std::memory_order_relaxed) - before;
    benchmark::DoNotOptimize(work.BodyLines.Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MaxBodyLines * (width + 2)));
  // Whatever the width and the number of lines, the load makes the same few allocations.
  state.counters["allocations"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_DirectiveLoopHeavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectiveLoopLongLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadWorkfile)->Arg(80)->Arg(4000)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zubra32

BENCHMARK_MAIN();

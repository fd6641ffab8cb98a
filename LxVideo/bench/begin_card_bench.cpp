// How long opening a card takes: BeginLxCard against a private machine
// (fast clock, one card), each open ended again outside the timing. The
// peer is one register read through the public API, so the result also
// reads as "an open costs this many register requests".
#include <benchmark/benchmark.h>

#include "lx/video_card.h"
#include "machine_benchmark_main.h"

namespace {

constexpr char kOneCard[] = "[clock]\nfactor = 20\n";

void BeginLxCardThenEnd(benchmark::State& state) {
  for (auto _ : state) {
    LxCardHandle handle = nullptr;
    if (BeginLxCard(1, &handle) != LX_OK) {
      state.SkipWithError("BeginLxCard failed");
      break;
    }
    state.PauseTiming();
    EndLxCard(handle);
    state.ResumeTiming();
  }
}
BENCHMARK(BeginLxCardThenEnd)->Repetitions(20)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);

void OneRegisterRead(benchmark::State& state) {
  LxCardHandle handle = nullptr;
  if (BeginLxCard(1, &handle) != LX_OK) {
    state.SkipWithError("BeginLxCard failed");
    return;
  }
  int32_t value = 0;
  for (auto _ : state) {
    LxGet32BitParam(handle, 0x0D4, &value);
    benchmark::DoNotOptimize(value);
  }
  EndLxCard(handle);
}
BENCHMARK(OneRegisterRead)->Repetitions(20)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return lxbench::runAgainstMachine(kOneCard, argc, argv); }

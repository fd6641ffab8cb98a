// The benchmark programs that run against a private machine: the machine is
// booted first and the benchmarks run in a child process (machine_first.h).
#pragma once

#include <benchmark/benchmark.h>

#include "machine_first.h"

namespace lxbench {

inline int runBenchmarks(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

inline int runAgainstMachine(const char* config, int argc, char** argv) {
  return terncard::testing::runAfterBooting(config, argc, argv, runBenchmarks);
}

}  // namespace lxbench

// The benchmark programs that run against a private machine: the machine is
// booted first and the benchmarks run in a child process (machine_first.h).
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "machine_first.h"

namespace lxbench {

inline int runBenchmarks(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Peers compared by ratio in one run have their repetitions interleaved at
// random, so that a change in the shared processors' load falls on both.
// `reporter`: null for the console's.
inline int runInterleaved(int argc, char** argv, benchmark::BenchmarkReporter* reporter) {
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.push_back(interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (reporter != nullptr) {
    benchmark::RunSpecifiedBenchmarks(reporter);
  } else {
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  return 0;
}

inline int runInterleaved(int argc, char** argv) { return runInterleaved(argc, argv, nullptr); }

inline int runAgainstMachine(const char* config, int argc, char** argv) {
  return terncard::testing::runAfterBooting(config, argc, argv, runBenchmarks);
}

}  // namespace lxbench

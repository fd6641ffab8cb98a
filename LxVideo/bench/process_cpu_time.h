// Processor time of the benchmark program and of the machine it runs
// against, for benchmarks that report what a path costs the processor as
// well as how fast it is.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "machine_first.h"
#include "process_stat.h"

namespace lxbench {

// User and system time of a process (0: this one), in seconds; 0 when unknown.
inline double processCpuSeconds(int pid) {
  return static_cast<double>(lxtest::processCpuTicks(pid)) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The machine's process, from its status report; 0 when unknown.
inline int machinePid() {
  const std::string json = terncard::testing::MachineControl().statusJson();
  const size_t machine = json.find("\"machine\":{");
  const size_t pid = machine == std::string::npos ? machine : json.find("\"pid\":", machine);
  return pid == std::string::npos ? 0 : std::atoi(json.c_str() + pid + 6);
}

}  // namespace lxbench

// Processor time of the benchmark program and of the machine it runs
// against, for benchmarks that report what a path costs the processor as
// well as how fast it is.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "machine_first.h"

namespace lxbench {

// User and system time of a process (0: this one), in seconds; 0 when unknown.
inline double processCpuSeconds(int pid) {
  const std::string path = pid == 0 ? "/proc/self/stat" : "/proc/" + std::to_string(pid) + "/stat";
  std::ifstream stat(path);
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t at = text.rfind(')');
  if (at == std::string::npos) return 0;
  std::istringstream fields(text.substr(at + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  uint64_t user = 0, system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The machine's process, from its status report; 0 when unknown.
inline int machinePid() {
  const std::string json = terncard::testing::MachineControl().statusJson();
  const size_t machine = json.find("\"machine\":{");
  const size_t pid = machine == std::string::npos ? machine : json.find("\"pid\":", machine);
  return pid == std::string::npos ? 0 : std::atoi(json.c_str() + pid + 6);
}

}  // namespace lxbench

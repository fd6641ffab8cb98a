// What /proc says of a process's processor time and memory, for tests and
// benchmarks that bound what the machine or a program costs.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace lxtest {

// User plus system time of a process (0: this one), in clock ticks; 0 when unknown.
inline uint64_t processCpuTicks(int pid) {
  std::ifstream stat(pid == 0 ? std::string("/proc/self/stat") : "/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t at = text.rfind(')');  // the name may hold spaces and parentheses
  if (at == std::string::npos) return 0;
  std::istringstream fields(text.substr(at + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  uint64_t user = 0, system = 0;
  fields >> user >> system;
  return user + system;
}

// A "kB" field of /proc/PID/status (VmRSS, VmHWM, ...); 0 when unknown.
inline uint64_t processStatusKilobytes(int pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1));
  return 0;
}

}  // namespace lxtest

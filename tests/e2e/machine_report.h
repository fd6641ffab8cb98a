// What the tests read from `lxmachine status --json`: the first capture
// card's DMA engine and how many processes the kernel knows.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace e2e {

struct EngineState {
  bool found = false;
  bool running = false;
  uint32_t programStart = 0;
  uint32_t errorBits = 0;
  uint64_t fieldNumber = 0;
};

inline EngineState firstEngine(const std::string& json) {
  EngineState engine;
  const size_t at = json.find("\"engine\":{");
  if (at == std::string::npos) return engine;
  const size_t end = json.find('}', at);
  auto field = [&](const char* key) -> const char* {
    const size_t where = json.find(std::string("\"") + key + "\":", at);
    if (where == std::string::npos || where > end) return nullptr;
    const char* value = json.c_str() + where + std::strlen(key) + 3;
    return *value == '"' ? value + 1 : value;
  };
  const char* running = field("running");
  const char* start = field("programStart");
  const char* errors = field("errorBits");
  const char* number = field("fieldNumber");
  if (!running || !start || !errors || !number) return engine;
  engine.found = true;
  engine.running = std::strncmp(running, "true", 4) == 0;
  engine.programStart = static_cast<uint32_t>(std::strtoul(start, nullptr, 16));
  engine.errorBits = static_cast<uint32_t>(std::strtoul(errors, nullptr, 16));
  engine.fieldNumber = std::strtoull(number, nullptr, 10);
  return engine;
}

// Processes the kernel reports (those holding handles, blocks or views).
inline size_t processCount(const std::string& json) {
  size_t count = 0;
  const size_t from = json.find("\"processes\":[");
  for (size_t at = json.find("{\"pid\":", from); from != std::string::npos && at != std::string::npos;
       at = json.find("{\"pid\":", at + 1))
    ++count;
  return count;
}

}  // namespace e2e

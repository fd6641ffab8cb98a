#include "machine_first.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "stack_machine.h"

extern char** environ;

namespace terncard::testing {

namespace {
constexpr char kChildMark[] = "LX_MACHINE_FIRST_CHILD";

std::string machineDirectory() {
  const char* directory = std::getenv("LX_MACHINE");
  return directory != nullptr ? directory : "";
}
}  // namespace

int runAfterBooting(const char* config, int argc, char** argv, int (*inChild)(int, char**)) {
  if (std::getenv(kChildMark) != nullptr) {
    return inChild(argc, argv);
  }
  // Powered off when this scope ends, after the child.
  hmbtest::StackMachine booted(config);
  if (!booted.booted()) {
    std::fprintf(stderr, "the private machine did not boot\n");
    return 1;
  }
  ::setenv(kChildMark, "1", 1);
  pid_t child = -1;
  if (::posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, environ) != 0) {
    return 1;
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

lxm::testing::ToolResult MachineControl::run(std::vector<std::string> arguments) const {
  arguments.insert(arguments.begin(), LX_MACHINE_TOOL);
  arguments.push_back("--dir");
  arguments.push_back(machineDirectory());
  return lxm::testing::runProgram(arguments);
}

std::string MachineControl::statusJson() const {
  lxm::testing::ToolResult result = run({"status", "--json"});
  return result.exitStatus == 0 ? result.output : std::string();
}

void MachineControl::writeConfig(const std::string& text) const {
  std::ofstream out(machineDirectory() + "/machine.toml", std::ios::trunc);
  out << lxm::testing::withVerifier(text);
}

}  // namespace terncard::testing

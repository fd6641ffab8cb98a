// Programs whose libraries attach to the machine when they load: the program
// boots a private machine first, then runs its real work in a child process
// of itself, which loads its libraries with the machine already up.
#pragma once

#include <string>
#include <vector>

#include "private_machine.h"

namespace terncard::testing {

// One card with the bars on input 3, a 1024 x 768 x 32 screen, and a clock
// 20 times fast (PAL: 1,000 fields a second).
inline constexpr char kFastBarsCard[] =
    "[clock]\nfactor = 20\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n"
    "[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"bars\"]\n";

// Defined by each test program: the machine it runs against.
const char* machineConfig();

// In the parent: boots a private machine with `config`, runs this program
// again as a child (where `inChild` is called) and powers the machine off.
// Returns the child's exit status.
int runAfterBooting(const char* config, int argc, char** argv, int (*inChild)(int, char**));

// The running machine as the child reaches it: through the lxmachine tool
// on the parent's machine directory ($LX_MACHINE).
class MachineControl {
 public:
  lxm::testing::ToolResult run(std::vector<std::string> arguments) const;
  bool shutdown() const { return run({"shutdown"}).exitStatus == 0; }
  bool boot() const { return run({"boot"}).exitStatus == 0; }
  bool setDisplay(const std::string& mode) const { return run({"display", mode}).exitStatus == 0; }
  std::string statusJson() const;
  void writeConfig(const std::string& text) const;
};

}  // namespace terncard::testing

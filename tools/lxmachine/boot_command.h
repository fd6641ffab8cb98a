// Starting and stopping the daemon of a machine directory.
#pragma once

#include <string>

#include "lxmachine/daemon.h"

namespace lxm {

// Starts the daemon in the background; returns once the machine has booted
// (0) or with the reason it did not (non-zero, nothing left running).
int bootMachine(const std::string& directory, const std::string& configFile, const KernelBoot& bootKernel);
// Asks the daemon to power off and waits until it has exited.
int shutdownMachine(const std::string& directory);

}  // namespace lxm

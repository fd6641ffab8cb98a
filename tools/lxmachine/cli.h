// The lxmachine command: boot, shutdown, reboot, status, plug, unplug, display.
#pragma once

#include "lxmachine/daemon.h"

namespace lxm {

// Runs one command line; returns the process exit status. `bootKernel` is
// the kernel the daemon powers on (the real one, or a test kernel).
int runLxmachine(int argc, char** argv, const KernelBoot& bootKernel);

}  // namespace lxm

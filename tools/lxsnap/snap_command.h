// lxsnap (default): snaps a counted series of frames into the static memory
// and writes each one into a file.
#pragma once

#include "command_line.h"

namespace lxsnap {

// Returns the exit code.
int runSnap(const Options& options);

}  // namespace lxsnap

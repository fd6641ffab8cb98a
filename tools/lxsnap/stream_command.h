// lxsnap --stream: continuous snapping through the snap-ex library, with a
// live line of frames/s, skipped frames and callback latency.
#pragma once

#include "command_line.h"

namespace lxsnap {

// Returns the exit code.
int runStream(const Options& options);

}  // namespace lxsnap

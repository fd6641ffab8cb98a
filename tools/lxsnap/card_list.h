// lxsnap --list: every card with its type, slot, signature and revision, and
// the inputs it accepts with whether each carries a signal.
#pragma once

namespace lxsnap {

// Returns the exit code.
int runList();

}  // namespace lxsnap

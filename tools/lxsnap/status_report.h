// How lxsnap reports a refusal: what it was doing, the status text of the
// API, and for the statuses a person can act on, what to do.
#pragma once

#include <string>

#include "lx/status.h"

namespace lxsnap {

// Exit code after a refusal by the card, the API or the machine.
inline constexpr int kFailureExit = 1;

// Prints "lxsnap: <what>: <status text> (<code>)" and a hint; returns kFailureExit.
int reportFailure(const std::string& what, LxStatus status);
// The hint printed for a status, or "" when there is none.
std::string hintFor(LxStatus status);

// Prints what to do when no card is found: no machine runs, or it has no card.
// Returns kFailureExit.
int reportNoCard();

}  // namespace lxsnap

// Live capture that is running when the output window changes.
#pragma once

#include "lx/internal/tern_card_context.h"

namespace terncard {

// Stops the DMA engine, rebuilds the display program for the stored window
// and starts it again; false when the program buffer cannot be had or the
// engine does not start (it then stays stopped and `capturing` is cleared).
bool rebuildRunningCapture(TernCardContext* context);

}  // namespace terncard

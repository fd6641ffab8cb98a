#include "running_capture.h"

#include "dma_control.h"
#include "dma_program.h"

namespace terncard {

bool rebuildRunningCapture(TernCardContext* context) {
  StopDma(context);
  constexpr ProgramTarget kDisplayFrame{false, 0, false, false, false, false};
  bool running = EnsureProgramBuffer(context, ProgramWords(context, false, 0, false, 1) * 4);
  if (running) {
    BuildDmaProgram(context, kDisplayFrame, 1, 0);
    running = StartDma(context);
  }
  // A capture that could not be restarted is over: the flag must not claim
  // an engine that is stopped.
  context->capturing = running ? 1 : 0;
  return running;
}

}  // namespace terncard

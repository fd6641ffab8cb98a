#include "running_capture.h"

#include "dma_control.h"
#include "dma_program.h"

namespace terncard {

bool rebuildRunningCapture(TernCardContext* context) {
  StopDma(context);
  if (!EnsureProgramBuffer(context, ProgramWords(context, false, 0, false, 1) * 4)) {
    return false;
  }
  constexpr ProgramTarget kDisplayFrame{false, 0, false, false, false, false};
  BuildDmaProgram(context, kDisplayFrame, 1, 0);
  return StartDma(context);
}

}  // namespace terncard

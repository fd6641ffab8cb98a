// Live capture into the output window of the screen, and a single frame there.
#include "card_handle.h"
#include "dma_control.h"
#include "dma_program.h"
#include "lx/terncard_capture.h"
#include "process_display.h"

using namespace terncard;

namespace {

constexpr int32_t kNoDisplayInformation = -1;
constexpr int32_t kNoDisplayAddress = -2;

constexpr ProgramTarget kDisplayFrame{false, 0, false, false, false, false};

// One display frame in the program buffer, started.
bool startDisplayFrame(TernCardContext* context) {
  if (!EnsureProgramBuffer(context, ProgramWords(context, false, 0, false, 1) * 4)) {
    return false;
  }
  BuildDmaProgram(context, kDisplayFrame, 1, 0);
  return StartDma(context);
}

}  // namespace

LX_EXPORT int32_t TernCardCapture(uint64_t handle, uint32_t enable) {
  LockedContext context(handle);
  if (!processDisplay().available) {
    // Stopping is also how a ring in memory ends; it must not keep running
    // on a machine without a described display.
    if (context && enable == 0) {
      StopDma(context.get());
    }
    return kNoDisplayInformation;
  }
  if (!context) {
    return 0;
  }
  if (enable != 0) {
    if (context->displayAddress == 0) {
      return kNoDisplayAddress;
    }
    if (!startDisplayFrame(context.get())) {
      return 0;
    }
  } else {
    StopDma(context.get());
  }
  context->capturing = enable != 0 ? 1 : 0;
  return 1;
}

LX_EXPORT int32_t TernCardSnap(uint64_t handle) {
  if (!processDisplay().available) {
    return kNoDisplayInformation;
  }
  LockedContext context(handle);
  if (!context) {
    return 0;
  }
  if (context->displayAddress == 0) {
    return kNoDisplayAddress;
  }
  if (context->capturing != 0) {
    StopDma(context.get());
  }
  context->capturing = 0;
  if (!startDisplayFrame(context.get())) {
    return 0;
  }
  // Without field syncs no frame arrives: stop and report it.
  const bool arrived = waitTwoFields(context.get()) && waitFrameEnd(context.get());
  StopDma(context.get());
  return arrived ? 1 : 0;
}

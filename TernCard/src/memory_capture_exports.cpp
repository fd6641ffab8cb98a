// Frames into the static memory: a counted series through a two-slot ring
// whose slots are re-targeted as the card leaves them, and rings of frames
// left running for the caller to poll.
#include <algorithm>

#include "card_handle.h"
#include "dma_control.h"
#include "dma_program.h"
#include "lx/terncard_capture.h"
#include "register_access.h"
#include "register_map.h"

using namespace terncard;

namespace {

ProgramTarget memoryTarget(uint32_t address, uint32_t mode) {
  return {true, address, (mode & TERN_MODE_SEPARATE_FIELDS) != 0, (mode >> TERN_MODE_FLIP_SHIFT) != 0, false};
}

// Builds `frames` memory frames from word 0 and starts them; then the two
// field waits. False (DMA stopped) when the buffer, the start or a wait fails.
bool startMemoryRing(TernCardContext* context, const ProgramTarget& target, uint32_t frames, uint32_t bufferFrames) {
  StopDma(context);
  context->capturing = 0;
  if (!EnsureProgramBuffer(context, ProgramWords(context, true, target.address, target.separateFields, bufferFrames) * 4)) {
    return false;
  }
  BuildDmaProgram(context, target, frames, 0);
  if (!StartDma(context)) {
    return false;
  }
  if (!waitTwoFields(context)) {
    StopDma(context);
    return false;
  }
  return true;
}

// Waits until the low two bits of the field counter read `value`: 3 while
// the card fills the second slot of a two-frame ring, 1 while it fills the
// first. False when the bound passed.
bool waitFieldCount(TernCardContext* context, uint32_t value) {
  const FieldDeadline deadline;
  while ((readRegister(context, REG_FIELD_COUNT) & 3) != value) {
    if (deadline.passed()) {
      return false;
    }
  }
  return true;
}

// A series of `fit` frames (3 or more) through the two-slot ring. Returns
// the frames handed over.
uint32_t captureThroughRing(TernCardContext* context, const ProgramTarget& target, uint32_t fit, uint32_t extraWaits) {
  if (!startMemoryRing(context, target, 2, 2)) {
    return 0;
  }
  writeRegister(context, REG_FIELD_COUNT, 0);
  const uint64_t frameBytes = frameBytesOf(context);
  uint32_t slotOneStart = 0;
  uint32_t handedOver = 0;
  while (handedOver < fit) {
    const bool slotZeroLeft = handedOver % 2 == 0;
    if (!waitFieldCount(context, slotZeroLeft ? 3 : 1)) {
      break;
    }
    // The slot just left takes frame n + 2; once no frame needs it, it
    // writes nothing, so the ring cannot overwrite a frame handed over.
    ProgramTarget slot = target;
    const uint32_t next = handedOver + 2;
    if (next < fit) {
      slot.address = static_cast<uint32_t>(target.address + next * frameBytes);
    } else {
      slot.writesNothing = true;
    }
    BuildDmaProgram(context, slot, 1, slotZeroLeft ? 0 : slotOneStart);
    if (slotZeroLeft) {
      slotOneStart = static_cast<uint32_t>(context->programEnd);
    }
    ++handedOver;
    if (!waitExtraFields(context, extraWaits)) {
      break;
    }
  }
  return handedOver;
}

}  // namespace

LX_EXPORT int32_t TernCardCaptureToMem(uint64_t handle, uint32_t target, uint32_t size, uint16_t extraWaits,
                                       uint32_t mode, uint16_t frames) {
  ValidatedContext context(handle);
  if (!context || frames == 0) {
    return 0;
  }
  const uint64_t frameBytes = frameBytesOf(context.get());
  // Refused up front: memory for fewer frames than the program writes
  // (the ring always writes two).
  const uint32_t written = std::min<uint32_t>(frames, 2);
  if (frameBytes == 0 || written * frameBytes > size) {
    return 0;
  }
  const ProgramTarget ring = memoryTarget(target, mode);
  uint32_t handedOver = 0;
  if (frames <= 2) {
    if (startMemoryRing(context.get(), ring, frames, 2)) {
      for (; handedOver < frames; ++handedOver) {
        if (!waitFrameEnd(context.get()) || !waitExtraFields(context.get(), extraWaits)) {
          break;
        }
      }
    }
  } else {
    const uint32_t fit = static_cast<uint32_t>(std::min<uint64_t>(frames, size / frameBytes));
    handedOver = captureThroughRing(context.get(), ring, fit, extraWaits);
  }
  StopDma(context.get());
  context->capturing = 0;
  return static_cast<int32_t>(handedOver);
}

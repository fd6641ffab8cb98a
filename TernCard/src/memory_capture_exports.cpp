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
  return {true, address, (mode & TERN_MODE_SEPARATE_FIELDS) != 0, (mode >> TERN_MODE_FLIP_SHIFT) != 0, false, false};
}

// Which slot of the two-slot ring the card executes (or waits in), from
// its program counter. False when the counter lies before the program.
bool readSlot(TernCardContext* context, uint32_t slotOneBytes, uint32_t* slot) {
  const uint32_t counter = readRegister(context, REG_PROGRAM_COUNTER);
  const uint32_t start = context->programBuffer.PhysicalAddress;
  if (counter < start) {
    return false;
  }
  *slot = counter - start >= slotOneBytes ? 1 : 0;
  return true;
}

bool waitForSlot(TernCardContext* context, uint32_t slotOneBytes, uint32_t wanted) {
  const FieldDeadline deadline;
  for (;;) {
    uint32_t slot = 0;
    if (readSlot(context, slotOneBytes, &slot) && slot == wanted) {
      // A halted engine never leaves its slot; one that faulted on the way
      // out has not handed the frame over whole.
      return !dmaFaulted(context);
    }
    if (deadline.passed()) {
      return false;
    }
    FieldDeadline::pauseBetweenPolls();
  }
}

// The two slots of a series: slot 0 from word 0, slot 1 right after it.
// Slot 0 ends with the jump to the start written over slot 1's first
// instruction, and slot 1 ends with a jump to its own first instruction:
// once the card is in one slot it stays there, frame after frame, until
// the library rebuilds the slot it left. A late rebuild costs a frame,
// never a frame already handed over.
void buildSlot(TernCardContext* context, ProgramTarget slot, uint32_t index, uint32_t slotOneStart) {
  slot.loopsOnItself = index == 1;
  BuildDmaProgram(context, slot, 1, index == 0 ? 0 : slotOneStart);
}

// A series of `fit` frames through the two-slot ring. The card has handed
// over frame n when it has left the slot holding it; that slot then takes
// frame n + 2, or nothing once no frame needs it. Which slot the card is in
// comes from its program counter: with slots that hold the card the field
// counter no longer tells them apart. A series of one or two frames takes
// the same way, so no late stop can overwrite them. Returns the frames
// handed over.
uint32_t captureThroughRing(TernCardContext* context, const ProgramTarget& target, uint32_t fit, uint32_t extraWaits) {
  StopDma(context);
  context->capturing = 0;
  if (!EnsureProgramBuffer(context, ProgramWords(context, true, target.address, target.separateFields, 2) * 4)) {
    return 0;
  }
  // Both slots have the same length; the buffer check bounds it to 32 bits.
  const auto slotWords = static_cast<uint32_t>(ProgramWords(context, true, target.address, target.separateFields, 1) - 2);
  const uint64_t frameBytes = frameBytesOf(context);
  ProgramTarget second = target;
  second.address = static_cast<uint32_t>(target.address + frameBytes);
  second.writesNothing = fit < 2;
  buildSlot(context, target, 0, slotWords);
  buildSlot(context, second, 1, slotWords);
  if (!StartDma(context)) {
    return 0;
  }
  if (!waitTwoFields(context)) {
    StopDma(context);
    return 0;
  }
  writeRegister(context, REG_FIELD_COUNT, 0);
  uint32_t handedOver = 0;
  while (handedOver < fit) {
    const uint32_t left = handedOver % 2;  // the slot that holds frame n
    if (!waitForSlot(context, slotWords * 4, 1 - left)) {
      break;
    }
    ProgramTarget slot = target;
    const uint32_t next = handedOver + 2;
    if (next < fit) {
      slot.address = static_cast<uint32_t>(target.address + next * frameBytes);
    } else {
      slot.writesNothing = true;  // the ring cannot overwrite a frame handed over
    }
    buildSlot(context, slot, left, slotWords);
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
  // Refused up front: memory for fewer frames than the two slots write
  // (frames 0 and 1, or frame 0 alone for a single frame).
  const uint32_t written = std::min<uint32_t>(frames, 2);
  if (frameBytes == 0 || written * frameBytes > size) {
    return 0;
  }
  const uint32_t fit = static_cast<uint32_t>(std::min<uint64_t>(frames, size / frameBytes));
  const uint32_t handedOver = captureThroughRing(context.get(), memoryTarget(target, mode), fit, extraWaits);
  StopDma(context.get());
  context->capturing = 0;
  return static_cast<int32_t>(handedOver);
}

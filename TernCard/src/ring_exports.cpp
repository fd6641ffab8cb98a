// Rings of frames left running in the static memory, and what the caller
// polls while the card writes them.
#include "card_handle.h"
#include "dma_control.h"
#include "dma_program.h"
#include "lx/terncard_capture.h"
#include "register_access.h"
#include "register_map.h"

using namespace terncard;

namespace {

// Builds a ring of `frames` frames at `target`, starts it, makes the two
// field waits and clears the field counter. False (DMA stopped) otherwise.
bool startRing(TernCardContext* context, uint32_t target, uint32_t mode, uint32_t frames) {
  StopDma(context);
  context->capturing = 0;
  const ProgramTarget ring{true, target, (mode & TERN_MODE_SEPARATE_FIELDS) != 0, (mode >> TERN_MODE_FLIP_SHIFT) != 0,
                           false, false};
  if (!EnsureProgramBuffer(context, ProgramWords(context, true, target, ring.separateFields, frames) * 4)) {
    return false;
  }
  BuildDmaProgram(context, ring, frames, 0);
  if (!StartDma(context)) {
    return false;
  }
  if (!waitTwoFields(context)) {
    StopDma(context);
    return false;
  }
  writeRegister(context, REG_FIELD_COUNT, 0);
  return true;
}

}  // namespace

LX_EXPORT int32_t TernCardSnapOneToMem(uint64_t handle, uint32_t target, uint32_t size, uint32_t mode) {
  ValidatedContext context(handle);
  if (!context || uint64_t{2} * frameBytesOf(context.get()) > size) {
    return 0;
  }
  return startRing(context.get(), target, mode, 2) ? 1 : 0;
}

LX_EXPORT int32_t TernCardSnapToMem(uint64_t handle, uint32_t target, uint32_t size, uint32_t mode, uint32_t frames) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  const uint32_t ringFrames = frames & 0xFFFF;
  const uint32_t fieldsPerFrame = context->scanMode == 0 ? 2 : 1;
  const uint64_t bytes = uint64_t{lineBytesOf(context.get())} * context->outputHeight * ringFrames * fieldsPerFrame;
  // A ring of no frames would leave the card jumping on the spot; more
  // field blocks than the 16-bit bookkeeping counts would be misreported.
  if (ringFrames == 0 || ringFrames * fieldsPerFrame > 0xFFFF || bytes > size) {
    return 0;
  }
  const uint64_t words = ProgramWords(context.get(), true, target, (mode & TERN_MODE_SEPARATE_FIELDS) != 0, ringFrames);
  const auto entries = static_cast<uint16_t>(ringFrames * fieldsPerFrame);
  storeShared(context->ringFrames, entries);
  context->fieldCountMask = static_cast<uint16_t>((ringFrames * 2 - 1) & 0xFF);
  storeShared(context->frameProgramBytes, static_cast<uint32_t>((words - 2) / entries * 4));
  return startRing(context.get(), target, mode, ringFrames) ? 1 : 0;
}

LX_EXPORT int32_t TernCardGetSnappingStatus(uint64_t handle, uint32_t* status) {
  ValidatedContext context(handle);
  if (!context || status == nullptr) {
    return 0;
  }
  *status = readRegister(context.get(), REG_FIELD_COUNT) & 3;
  return 1;
}

LX_EXPORT int32_t TernCardGetSnapToMemNumber(uint64_t handle, int32_t* number) {
  ValidatedContext context(handle);
  if (!context || number == nullptr) {
    return 0;
  }
  const uint32_t start = context->programBuffer.PhysicalAddress;
  const uint32_t blockBytes = loadShared(context->frameProgramBytes);
  const uint32_t entries = loadShared(context->ringFrames);
  if (blockBytes == 0) {
    return 0;  // no ring was built
  }
  // A ring whose engine faulted has stopped turning: no number to give.
  if (dmaFaulted(context.get())) {
    return 0;
  }
  // The counter may sit outside the ring for a moment (or for good, when
  // the engine stopped elsewhere): ask again, within the bound.
  const FieldDeadline deadline;
  for (;;) {
    const uint32_t counter = readRegister(context.get(), REG_PROGRAM_COUNTER);
    if (counter >= start) {
      const uint32_t index = (counter - start) / blockBytes;
      if (index <= entries) {
        *number = static_cast<int32_t>(index == entries ? index - 1 : index);
        return 1;
      }
    }
    if (deadline.passed()) {
      return 0;
    }
    FieldDeadline::pauseBetweenPolls();
  }
}

LX_EXPORT int32_t TernCardGetSnapToMemStatus(uint64_t handle, int32_t* status) {
  ValidatedContext context(handle);
  if (!context || status == nullptr) {
    return 0;
  }
  int32_t value = static_cast<int32_t>(context->fieldCountMask & readRegister(context.get(), REG_FIELD_COUNT)) - 1;
  if (context->scanMode != 0) {
    value /= 2;
  }
  *status = value;
  return 1;
}

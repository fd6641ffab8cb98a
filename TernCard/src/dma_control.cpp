#include "dma_control.h"

#include "lx/hmbseapi.h"
#include "register_access.h"
#include "register_map.h"

namespace terncard {

namespace {

constexpr uint32_t kFieldIndicator = 1u << 5;
constexpr uint32_t kDmaErrorBits = 0x000FF000;
constexpr uint32_t kDmaFaultBits = 0x0000F000;  // the errors that halt the engine
// A card whose error bits survive this many clears is not started.
constexpr int kErrorClearAttempts = 16;

// Polls until the field indicator reads `secondField` with a picture present.
bool waitIndicator(TernCardContext* context, bool secondField, const FieldDeadline& deadline) {
  for (;;) {
    const uint32_t status = readRegister(context, REG_VIDEO_STATUS);
    if ((status & kVideoSignalPresent) != 0 && ((status & kFieldIndicator) != 0) == secondField) {
      return true;
    }
    if (deadline.passed()) {
      return false;
    }
    FieldDeadline::pauseBetweenPolls();
  }
}

}  // namespace

bool EnsureProgramBuffer(TernCardContext* context, uint64_t bytes) {
  if (context->programAllocated != 0 && context->programBuffer.Size >= bytes) {
    return true;
  }
  if (bytes > UINT32_MAX) {
    return false;
  }
  if (context->programAllocated != 0) {
    StopDma(context);
    HmbDynamicMemFree(&context->programBuffer);
  }
  context->programBuffer = DynamicMemBlock{};
  context->programBuffer.Size = static_cast<uint32_t>(bytes);
  const bool allocated = HmbDynamicMemAlloc(&context->programBuffer) != 0;
  if (allocated && context->programBuffer.UserAddress == 0) {
    // A success without memory holds nothing to free.
    context->programAllocated = 0;
    return false;
  }
  context->programAllocated = allocated ? 1 : 0;
  return allocated && context->programBuffer.Size >= bytes;
}

bool StartDma(TernCardContext* context) {
  bool clear = false;
  for (int attempt = 0; attempt < kErrorClearAttempts && !clear; ++attempt) {
    if ((readRegister(context, REG_INT_STATUS) & kDmaErrorBits) == 0) {
      clear = true;
    } else {
      writeRegister(context, REG_INT_STATUS, kDmaErrorBits);
    }
  }
  if (!clear) {
    return false;
  }
  // Always written: a raw write of the register (Set32BitParam) does not
  // reach the shadow, so the shadow cannot tell whether the card still
  // points at the program buffer.
  RegSetField(context, REG_PROGRAM_START, 0xFFFFFFFF, context->programBuffer.PhysicalAddress, 0);
  RegSetField(context, REG_CAPTURE_CONTROL, 3, 3, 0);
  RegSetField(context, REG_DMA_CONTROL, 3, 3, 0);
  if (dmaFaulted(context)) {
    StopDma(context);
    return false;
  }
  return true;
}

bool dmaFaulted(TernCardContext* context) {
  if ((shadowValue(context, shadowCellOf(REG_DMA_CONTROL)) & 3) == 0) {
    return false;
  }
  return (readRegister(context, REG_INT_STATUS) & kDmaFaultBits) != 0;
}

void StopDma(TernCardContext* context) {
  RegSetField(context, REG_CAPTURE_CONTROL, 3, 0, 0);
  RegSetField(context, REG_DMA_CONTROL, 3, 0, 0);
}

bool waitOddField(TernCardContext* context) {
  const FieldDeadline deadline;
  return waitIndicator(context, true, deadline) && waitIndicator(context, false, deadline) && !dmaFaulted(context);
}

bool waitEvenField(TernCardContext* context) {
  const FieldDeadline deadline;
  return waitIndicator(context, false, deadline) && waitIndicator(context, true, deadline) && !dmaFaulted(context);
}

bool waitTwoFields(TernCardContext* context) {
  if (context->scanMode == 2) {
    return waitEvenField(context) && waitEvenField(context);
  }
  return waitOddField(context) && waitOddField(context);
}

bool waitFrameEnd(TernCardContext* context) {
  return context->scanMode == 1 ? waitEvenField(context) : waitOddField(context);
}

bool waitExtraFields(TernCardContext* context, uint32_t count) {
  for (uint32_t wait = 0; wait < count; ++wait) {
    if (!(context->scanMode == 2 ? waitEvenField(context) : waitOddField(context))) {
      return false;
    }
  }
  return true;
}

}  // namespace terncard

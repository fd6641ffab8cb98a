#include "dma_control.h"

#include "lx/hmbseapi.h"
#include "register_access.h"
#include "register_map.h"

namespace terncard {

namespace {

constexpr uint32_t kFieldIndicator = 1u << 5;
constexpr uint32_t kDmaErrorBits = 0x000FF000;
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
  RegSetField(context, REG_CAPTURE_CONTROL, 3, 3, 0);
  RegSetField(context, REG_DMA_CONTROL, 3, 3, 0);
  return true;
}

void StopDma(TernCardContext* context) {
  RegSetField(context, REG_CAPTURE_CONTROL, 3, 0, 0);
  RegSetField(context, REG_DMA_CONTROL, 3, 0, 0);
}

bool waitOddField(TernCardContext* context) {
  const FieldDeadline deadline;
  return waitIndicator(context, true, deadline) && waitIndicator(context, false, deadline);
}

bool waitEvenField(TernCardContext* context) {
  const FieldDeadline deadline;
  return waitIndicator(context, false, deadline) && waitIndicator(context, true, deadline);
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

// Field waits, pixel masks and the overlay switch.
#include "card_handle.h"
#include "dma_control.h"
#include "lx/terncard_capture.h"

using namespace terncard;

LX_EXPORT int32_t TernCardWaitOddVSync(uint64_t handle) {
  ValidatedContext context(handle);
  return context && waitOddField(context.get()) ? 1 : 0;
}

LX_EXPORT int32_t TernCardWaitEvenVSync(uint64_t handle) {
  ValidatedContext context(handle);
  return context && waitEvenField(context.get()) ? 1 : 0;
}

LX_EXPORT int32_t TernCardSetMask(uint64_t handle, uint8_t kind, void* bitmap) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  if (kind == 0) {
    context->maskFirst = static_cast<uint8_t*>(bitmap);
  } else if (kind == 1) {
    context->maskSecond = static_cast<uint8_t*>(bitmap);
  }
  return 1;
}

LX_EXPORT int32_t TernCardEnableOverlay(uint64_t handle, int32_t enable) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  context->maskEnabled = enable;
  return 1;
}

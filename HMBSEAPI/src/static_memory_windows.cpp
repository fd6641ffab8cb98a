// Windows of the static memory: lock, unlock and fill.
#include "lx/hmbseapi.h"
#include "service_device.h"

using hmb::sendServiceRequest;

LX_EXPORT int32_t HmbStaticMemLock(StaticMemBlock* block) {
  if (block == nullptr) {
    return 0;
  }
  // The driver rewrites the whole block, also when it maps nothing.
  if (!sendServiceRequest(IOCTL_HMB_STATIC_LOCK, block, sizeof *block, block, sizeof *block)) {
    return 0;
  }
  return block->UserAddress != 0 ? 1 : 0;
}

LX_EXPORT int32_t HmbStaticMemUnlock(const StaticMemBlock* block) {
  if (block == nullptr) {
    return 0;
  }
  return sendServiceRequest(IOCTL_HMB_STATIC_UNLOCK, block, sizeof *block, nullptr, 0) ? 1 : 0;
}

LX_EXPORT int32_t HmbFillStaticMem(uint32_t offset, uint32_t length, uint8_t value) {
  StaticFillRequest request{offset, length, value, {0, 0, 0}};
  return sendServiceRequest(IOCTL_HMB_STATIC_FILL, &request, sizeof request, nullptr, 0) ? 1 : 0;
}

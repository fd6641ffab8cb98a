// Dynamic contiguous blocks, mapped into the caller.
#include "lx/hmbseapi.h"
#include "service_device.h"

using hmb::sendServiceRequest;

LX_EXPORT int32_t HmbDynamicMemAlloc(DynamicMemBlock* block) {
  if (block == nullptr) {
    return 0;
  }
  // The request carries only the size; the driver answers the whole block.
  const uint32_t size = block->Size;
  return sendServiceRequest(IOCTL_HMB_DYNAMIC_ALLOC, &size, sizeof size, block, sizeof *block) ? 1 : 0;
}

LX_EXPORT int32_t HmbDynamicMemFree(const DynamicMemBlock* block) {
  if (block == nullptr) {
    return 0;
  }
  return sendServiceRequest(IOCTL_HMB_DYNAMIC_FREE, block, sizeof *block, nullptr, 0) ? 1 : 0;
}

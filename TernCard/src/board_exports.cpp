// Board access shared by every card library: slot information, raw 32-bit
// registers and I2C transfers.
#include "card_handle.h"
#include "driver_channel.h"
#include "driver_protocol.h"
#include "i2c_bus.h"
#include "lx/terncard.h"
#include "register_access.h"
#include "register_map.h"

using namespace terncard;

namespace {

// The driver reaches whatever offset it is given inside its mapped window,
// so only aligned registers inside the window are passed on.
bool isRegisterOffset(uint32_t offset) { return offset % 4 == 0 && offset <= kRegisterWindowBytes - 4; }

}  // namespace

LX_EXPORT int32_t GetSlotInfo(uint64_t handle, void* slotInfo) {
  if (slotInfo == nullptr) {
    return 0;
  }
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  return sendDeviceControl(deviceHandleOf(context.get()), IOCTL_TERN_SLOT_INFO, nullptr, 0, slotInfo, sizeof(SlotInfo),
                           nullptr);
}

LX_EXPORT int32_t Get32BitParam(uint64_t handle, uint32_t offset, uint32_t* value) {
  ValidatedContext context(handle);
  if (!context || value == nullptr || !isRegisterOffset(offset)) {
    return 0;
  }
  RegRead(context.get(), static_cast<uint16_t>(offset), value);
  return 1;
}

LX_EXPORT int32_t Set32BitParam(uint64_t handle, uint32_t offset, uint32_t value) {
  ValidatedContext context(handle);
  if (!context || !isRegisterOffset(offset)) {
    return 0;
  }
  RegWrite(context.get(), static_cast<uint16_t>(offset), &value);
  return 1;
}

LX_EXPORT int32_t GetI2CParam(uint64_t handle, uint16_t device, uint8_t subAddress, uint8_t* data, int32_t count) {
  LockedContext context(handle);
  if (!context) {
    return 0;
  }
  return I2cRead(context.get(), static_cast<uint8_t>(device), subAddress, data, static_cast<uint8_t>(count)) == 0
             ? 1
             : 0;
}

LX_EXPORT int32_t SetI2CParam(uint64_t handle, uint16_t device, uint8_t subAddress, uint8_t* data, int32_t count) {
  LockedContext context(handle);
  if (!context) {
    return 0;
  }
  return I2cWrite(context.get(), static_cast<uint8_t>(device), subAddress, data, static_cast<uint8_t>(count)) == 0
             ? 1
             : 0;
}

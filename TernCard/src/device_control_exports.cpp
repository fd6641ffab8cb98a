// Device control of the on-board controller: its reply block and its reset.
#include <array>

#include "card_handle.h"
#include "controller_channel.h"
#include "i2c_bus.h"
#include "i2c_bus_lock.h"
#include "lx/terncard_command.h"

using namespace terncard;

namespace {

enum DeviceControlType : uint32_t {
  kPresent = 0,
  kOperationCounter = 1,
  kReplyBlock = 2,
  kResetController = 3,
};

constexpr uint8_t kResetRequest = 0xFF;

bool readOperationCounter(TernCardContext* context, uint8_t* output, uint32_t* size) {
  std::array<uint8_t, kReplyBlockBytes> reply{};
  *size = 1;
  if (I2cRead(context, kControllerAddress, kSubReplyBlock, reply.data(), kReplyBlockBytes) != 0) {
    return false;
  }
  *output = reply[kReplySequenceByte];
  return true;
}

bool resetController(TernCardContext* context) {
  const I2cBusLock bus(context);
  return I2cWrite(context, kControllerAddress, kSubResetRequest, &kResetRequest, 1) == 0 &&
         controllerAccepted(context);
}

}  // namespace

LX_EXPORT int32_t TernCardDeviceControl(uint64_t handle, uint32_t type, uint8_t* output, uint32_t* size) {
  LockedContext context(handle);
  if (!context || output == nullptr || size == nullptr) {
    return 0;
  }
  switch (type) {
    case kPresent:
      *output = 1;
      *size = 1;
      return 1;
    case kOperationCounter:
      return readOperationCounter(context.get(), output, size) ? 1 : 0;
    case kReplyBlock:
      return I2cRead(context.get(), kControllerAddress, kSubReplyBlock, output, static_cast<uint8_t>(*size)) == 0
                 ? 1
                 : 0;
    case kResetController:
      return resetController(context.get()) ? 1 : 0;
    default:
      *size = 0;
      return 0;
  }
}

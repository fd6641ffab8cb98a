// Board information: identity data of the on-board controller and the
// board switch on the general-purpose lines.
#include "card_handle.h"
#include "i2c_bus.h"
#include "lx/terncard.h"
#include "register_access.h"
#include "register_map.h"

using namespace terncard;

namespace {

enum BoardInfoKind : uint8_t {
  kSignature = 0,
  kIdentityBlock = 1,
  kSwitchExchanged = 2,
  kSecondBlock = 3,
  kRevisionLow = 4,
  kRevisionHigh = 5,
  kExtraByte = 6,
  kSwitch = 7,
};

int32_t resultOf(uint32_t i2cStatus) { return i2cStatus == 0 ? 1 : static_cast<int32_t>(i2cStatus); }

int32_t readController(TernCardContext* context, uint8_t sub, uint8_t* buffer, uint8_t count) {
  return resultOf(I2cRead(context, kControllerAddress, sub, buffer, count));
}

// One nibble of the revision byte; the buffer is written only when the read worked.
int32_t readRevisionNibble(TernCardContext* context, uint8_t* buffer, bool high) {
  uint8_t revision = 0;
  const uint32_t status = I2cRead(context, kControllerAddress, kSubRevision, &revision, 1);
  if (status == 0) {
    buffer[0] = high ? static_cast<uint8_t>(revision >> 4) : static_cast<uint8_t>(revision & 0x0F);
  }
  return resultOf(status);
}

uint8_t boardSwitch(TernCardContext* context) { return static_cast<uint8_t>(readRegister(context, REG_GPIO_DATA) & 3); }

}  // namespace

LX_EXPORT int32_t TernCardGetBoardInfos(uint64_t handle, uint8_t kind, void* buffer) {
  LockedContext context(handle);
  if (!context || buffer == nullptr) {
    return 0;
  }
  auto* bytes = static_cast<uint8_t*>(buffer);
  switch (kind) {
    case kSignature:
      return readController(context.get(), kSubSignature, bytes, 2);
    case kIdentityBlock:
      return readController(context.get(), kSubIdentityBlock, bytes, 12);
    case kSwitchExchanged: {
      static constexpr uint8_t kExchanged[4] = {0, 2, 1, 3};
      bytes[0] = kExchanged[boardSwitch(context.get())];
      return 1;
    }
    case kSecondBlock:
      return readController(context.get(), kSubSecondBlock, bytes, 5);
    case kRevisionLow:
      return readRevisionNibble(context.get(), bytes, false);
    case kRevisionHigh:
      return readRevisionNibble(context.get(), bytes, true);
    case kExtraByte:
      return readController(context.get(), kSubExtraByte, bytes, 1);
    case kSwitch:
      bytes[0] = boardSwitch(context.get());
      return 1;
    default:
      return 0;
  }
}

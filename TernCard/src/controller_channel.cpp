#include "controller_channel.h"

#include <windows.h>

#include "i2c_bus.h"
#include "register_access.h"
#include "register_map.h"

namespace terncard {

namespace {
constexpr DWORD kStatusSettleMs = 10;
constexpr uint8_t kStatusPreset = 0x12;  // anything but '<', so a read that stores nothing fails
}  // namespace

bool controllerAccepted(TernCardContext* context) {
  writeRegister(context, REG_GPIO_ENABLE, 0);
  Sleep(kStatusSettleMs);
  uint8_t status = kStatusPreset;
  return I2cRead(context, kControllerAddress, kSubStatus, &status, 1) == 0 && status == kStatusAccepted;
}

}  // namespace terncard

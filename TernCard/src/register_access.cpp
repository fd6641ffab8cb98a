#include "register_access.h"

#include "driver_channel.h"
#include "driver_protocol.h"
#include "register_map.h"

namespace terncard {

void RegWrite(TernCardContext* context, uint16_t offset, const uint32_t* value) {
  if (value == nullptr) {
    return;
  }
  RegisterRequest request{TERN_REG_WRITE_WORD, offset, *value};
  sendDeviceControl(deviceHandleOf(context), IOCTL_TERN_REG_ACCESS, &request, sizeof request, &request, sizeof request,
                    nullptr);
}

bool tryReadRegister(TernCardContext* context, uint16_t offset, uint32_t* value) {
  RegisterRequest request{TERN_REG_READ_WORD, offset, 0};
  uint32_t answer = 0;
  DWORD returned = 0;
  if (!sendDeviceControl(deviceHandleOf(context), IOCTL_TERN_REG_ACCESS, &request, sizeof request, &answer,
                         sizeof answer, &returned) ||
      returned != sizeof answer) {
    return false;
  }
  *value = answer;
  return true;
}

void RegRead(TernCardContext* context, uint16_t offset, uint32_t* destination) {
  if (destination != nullptr) {
    tryReadRegister(context, offset, destination);
  }
}

void writeRegister(TernCardContext* context, uint16_t offset, uint32_t value) { RegWrite(context, offset, &value); }

uint32_t readRegister(TernCardContext* context, uint16_t offset) {
  uint32_t value = 0;
  RegRead(context, offset, &value);
  return value;
}

void RegSetFieldInCell(TernCardContext* context, uint16_t offset, uint32_t* cell, uint32_t mask, uint32_t value,
                       uint32_t shift) {
  storeShared(*cell, (*cell & ~mask) | (value << (shift % 32)));
  RegWrite(context, offset, cell);
}

void RegSetField(TernCardContext* context, uint16_t offset, uint32_t mask, uint32_t value, uint32_t shift) {
  const int cell = shadowCellOf(offset);
  // Only the registers of the initial table have a shadow cell by offset.
  if (cell >= kTableRegisterCount) {
    return;
  }
  RegSetFieldInCell(context, offset, &context->registerShadow[cell], mask, value, shift);
}

}  // namespace terncard

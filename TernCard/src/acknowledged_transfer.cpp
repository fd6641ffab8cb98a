#include "acknowledged_transfer.h"

#include "i2c_bus.h"
#include "i2c_bus_lock.h"
#include "i2c_step.h"
#include "register_map.h"

namespace terncard {

namespace {

bool acknowledged(TernCardContext* context, uint32_t command, uint32_t pollLimit, Clearing clearing) {
  const StepOutcome step = runStep(context, command, pollLimit, clearing);
  return step.done && (step.lastStatus & kI2cAcknowledged) != 0;
}

uint32_t startCommand(uint8_t device, uint8_t sub) {
  return (uint32_t{device} << 24) | (uint32_t{sub} << 16) | kStartWithSubAddress;
}

uint32_t byteCommand(uint8_t byte, uint32_t code) { return (uint32_t{byte} << 24) | code; }

// Receives count (at least 1) bytes after a repeated start, as I2cRead does.
bool receive(TernCardContext* context, uint8_t device, uint8_t* buffer, uint8_t count) {
  const uint32_t readAddress = (uint32_t{device} << 24) | kReadAddressBit;
  if (count == 1) {
    if (!acknowledged(context, readAddress | kReadOneByteStop, kReadAddressPollLimit, Clearing::AfterPolling)) {
      return false;
    }
    buffer[0] = receivedByte(context);
    return true;
  }
  if (!acknowledged(context, readAddress | kReadFirstOfSeveral, kReadAddressPollLimit, Clearing::AfterPolling)) {
    return false;
  }
  buffer[0] = receivedByte(context);
  for (uint8_t k = 1; k + 1 < count; ++k) {
    if (!acknowledged(context, kNextByte, kMiddleBytePollLimit, Clearing::Immediate)) {
      return false;
    }
    buffer[k] = receivedByte(context);
  }
  if (!acknowledged(context, kReadLastByteStop, kStepPollLimit, Clearing::AfterPolling)) {
    return false;
  }
  buffer[count - 1] = receivedByte(context);
  return true;
}

}  // namespace

uint32_t AckedWrite(TernCardContext* context, uint8_t device, uint8_t sub, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) {
    return kTransferFailed;
  }
  const I2cBusLock bus(context);
  if (!acknowledged(context, startCommand(device, sub), kStepPollLimit, Clearing::Immediate)) {
    return kTransferFailed;
  }
  for (size_t k = 0; k + 1 < bytes.size(); ++k) {
    if (!acknowledged(context, byteCommand(bytes[k], kNextByte), kStepPollLimit, Clearing::Immediate)) {
      return kTransferFailed;
    }
  }
  return acknowledged(context, byteCommand(bytes.back(), kLastByteStop), kStepPollLimit, Clearing::Immediate)
             ? 0
             : kTransferFailed;
}

uint32_t AckedWriteThenRead(TernCardContext* context, uint8_t device, uint8_t sub, const std::vector<uint8_t>& bytes,
                            uint8_t* buffer, uint8_t count) {
  if (count == 0 || buffer == nullptr) {
    return kTransferFailed;
  }
  const I2cBusLock bus(context);
  if (!acknowledged(context, startCommand(device, sub), kStepPollLimit, Clearing::AfterPolling)) {
    return kTransferFailed;
  }
  for (uint8_t byte : bytes) {
    if (!acknowledged(context, byteCommand(byte, kNextByte), kStepPollLimit, Clearing::Immediate)) {
      return kTransferFailed;
    }
  }
  return receive(context, device, buffer, count) ? 0 : kTransferFailed;
}

}  // namespace terncard

#include "i2c_bus.h"

#include "i2c_bus_lock.h"
#include "i2c_step.h"
#include "register_access.h"
#include "register_map.h"

namespace terncard {

namespace {

constexpr uint8_t kSignature[2] = {'K', 'Z'};

}  // namespace

StepOutcome runStep(TernCardContext* context, uint32_t command, uint32_t pollLimit, Clearing clearing) {
  writeRegister(context, REG_I2C, command);
  StepOutcome outcome{false, 0, 0};
  while (outcome.polls < pollLimit) {
    outcome.lastStatus = readRegister(context, REG_INT_STATUS);
    ++outcome.polls;
    if ((outcome.lastStatus & kI2cStepDone) != 0) {
      outcome.done = true;
      break;
    }
  }
  if (outcome.done || clearing == Clearing::AfterPolling) {
    writeRegister(context, REG_INT_STATUS, kI2cStepDone);
  }
  return outcome;
}

uint8_t receivedByte(TernCardContext* context) { return static_cast<uint8_t>(readRegister(context, REG_I2C) >> 8); }

namespace {

// The last status word, unless it reads like a success: 0 is the
// primitives' own success and 1 the board-information export's, and bit 0
// (a field started) alone is set on a card every field.
uint32_t failureValue(const StepOutcome& outcome) {
  return outcome.lastStatus > 1 ? outcome.lastStatus : kI2cFailed;
}

uint32_t startCommand(uint8_t device, uint8_t sub) {
  return (uint32_t{device} << 24) | (uint32_t{sub} << 16) | kStartWithSubAddress;
}

}  // namespace

uint32_t I2cWrite(TernCardContext* context, uint8_t device, uint8_t sub, const uint8_t* data, uint8_t count) {
  if (count == 0 || data == nullptr) {
    return kI2cFailed;
  }
  const I2cBusLock bus(context);
  StepOutcome step = runStep(context, startCommand(device, sub), kStepPollLimit, Clearing::Immediate);
  if (!step.done) {
    return failureValue(step);
  }
  // A byte whose step timed out may not have reached the device: stop there
  // rather than report the transfer as done.
  for (uint8_t k = 0; k + 1 < count; ++k) {
    step = runStep(context, (uint32_t{data[k]} << 24) | kNextByte, kStepPollLimit, Clearing::Immediate);
    if (!step.done) {
      return failureValue(step);
    }
  }
  step = runStep(context, (uint32_t{data[count - 1]} << 24) | kLastByteStop, kStepPollLimit, Clearing::Immediate);
  return step.done ? 0 : failureValue(step);
}

uint32_t I2cRead(TernCardContext* context, uint8_t device, uint8_t sub, uint8_t* buffer, uint8_t count) {
  if (count == 0 || buffer == nullptr) {
    return kI2cFailed;
  }
  const I2cBusLock bus(context);
  StepOutcome step = runStep(context, startCommand(device, sub), kStepPollLimit, Clearing::AfterPolling);
  if (!step.done) {
    return failureValue(step);
  }
  const uint32_t readAddress = (uint32_t{device} << 24) | kReadAddressBit;
  if (count == 1) {
    step = runStep(context, readAddress | kReadOneByteStop, kReadAddressPollLimit, Clearing::AfterPolling);
    if (!step.done) {
      return failureValue(step);
    }
    buffer[0] = receivedByte(context);
    return 0;
  }
  step = runStep(context, readAddress | kReadFirstOfSeveral, kReadAddressPollLimit, Clearing::AfterPolling);
  if (!step.done) {
    return failureValue(step);
  }
  buffer[0] = receivedByte(context);
  for (uint8_t k = 1; k + 1 < count; ++k) {
    step = runStep(context, kNextByte, kMiddleBytePollLimit, Clearing::Immediate);
    if (!step.done) {
      return failureValue(step);
    }
    buffer[k] = receivedByte(context);
  }
  step = runStep(context, kReadLastByteStop, kStepPollLimit, Clearing::AfterPolling);
  if (!step.done) {
    return failureValue(step);
  }
  buffer[count - 1] = receivedByte(context);
  return 0;
}

bool boardHasSignature(TernCardContext* context) {
  uint8_t letters[2] = {0, 0};
  return I2cRead(context, kControllerAddress, kSubSignature, letters, 2) == 0 && letters[0] == kSignature[0] &&
         letters[1] == kSignature[1];
}

}  // namespace terncard

// One step of the card's I2C engine: a command word written to REG_I2C, then
// polls of REG_INT_STATUS for the step-done bit. Shared by the plain
// primitives and the acknowledged transfers of the command channel.
#pragma once

#include <cstdint>

#include "lx/internal/tern_card_context.h"

namespace terncard {

// Control codes of REG_I2C bits 7..0.
inline constexpr uint32_t kStartWithSubAddress = 0xAB;
inline constexpr uint32_t kNextByte = 0xBF;
inline constexpr uint32_t kLastByteStop = 0x9F;
inline constexpr uint32_t kReadOneByteStop = 0x8B;
inline constexpr uint32_t kReadFirstOfSeveral = 0xAF;
inline constexpr uint32_t kReadLastByteStop = 0x9B;
inline constexpr uint32_t kReadAddressBit = 0x01000000;

enum class Clearing { Immediate, AfterPolling };

struct StepOutcome {
  bool done;
  uint32_t polls;       // polls made, including the one that saw the bit
  uint32_t lastStatus;  // last REG_INT_STATUS word read
};

// Issues one command word and polls for the step-done bit at most pollLimit
// times. With Immediate clearing the bit is cleared as soon as it is seen;
// with AfterPolling the clearing word is written once polling has ended,
// whatever its outcome.
StepOutcome runStep(TernCardContext* context, uint32_t command, uint32_t pollLimit, Clearing clearing);

// The byte the last read step received (REG_I2C bits 15..8).
uint8_t receivedByte(TernCardContext* context);

}  // namespace terncard

// The card's I2C engine, driven one step at a time through REG_I2C and the
// step-done bit of REG_INT_STATUS.
#pragma once

#include <cstdint>

#include "lx/internal/tern_card_context.h"

namespace terncard {

// Bus address of the on-board controller and the sub-addresses the library reads.
inline constexpr uint8_t kControllerAddress = 126;
inline constexpr uint8_t kSubIdentityBlock = 0;     // 12 bytes
inline constexpr uint8_t kSubSignature = 12;        // 2 bytes, "KZ" on boards that carry it
inline constexpr uint8_t kSubSecondBlock = 14;      // 5 bytes
inline constexpr uint8_t kSubRevision = 21;         // low and high revision nibbles
inline constexpr uint8_t kSubExtraByte = 22;

// Poll limits per step (one poll = one read of REG_INT_STATUS).
inline constexpr uint32_t kStepPollLimit = 65536;
inline constexpr uint32_t kReadAddressPollLimit = 4096;  // read-address step of I2cRead
inline constexpr uint32_t kMiddleBytePollLimit = 4095;   // middle bytes of I2cRead: 4096 polls is too many

// Both return 0 on success. On a failure they return the last status word
// read, or kI2cFailed when that word was 0 or 1, so a failure never reads
// as a success of the primitives (0) or of the exports built on them (1).
inline constexpr uint32_t kI2cFailed = 0xFFFFFFFFu;

// Writes count bytes to sub-address `sub` of `device` (read bit clear).
// A count of 0 fails at once without bus activity.
uint32_t I2cWrite(TernCardContext* context, uint8_t device, uint8_t sub, const uint8_t* data, uint8_t count);
// Reads count bytes from sub-address `sub`. A count of 0 fails at once.
uint32_t I2cRead(TernCardContext* context, uint8_t device, uint8_t sub, uint8_t* buffer, uint8_t count);

// True when the board carries the two-letter signature at sub-address 12
// (read again on every call; a failed read counts as no signature).
bool boardHasSignature(TernCardContext* context);

}  // namespace terncard

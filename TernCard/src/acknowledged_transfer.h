// I2C transactions of the command channel: the steps of the plain
// primitives, but every step must also show that the device acknowledged
// (REG_INT_STATUS bit 25). A missing acknowledge or a step that times out
// ends the transaction at once.
#pragma once

#include <cstdint>
#include <vector>

#include "lx/internal/tern_card_context.h"

namespace terncard {

inline constexpr uint32_t kTransferFailed = 255;

// Start, device and sub-address, then `bytes` (at least one), the last with
// stop. 0 on success, kTransferFailed otherwise (nothing is sent for an
// empty list).
uint32_t AckedWrite(TernCardContext* context, uint8_t device, uint8_t sub, const std::vector<uint8_t>& bytes);

// Start, device, sub-address and `bytes` without stop, then a repeated start
// with the read address and `count` bytes received into `buffer` (the last
// with stop). 0 on success, kTransferFailed otherwise; a count of 0 fails
// without bus activity.
uint32_t AckedWriteThenRead(TernCardContext* context, uint8_t device, uint8_t sub, const std::vector<uint8_t>& bytes,
                            uint8_t* buffer, uint8_t count);

}  // namespace terncard

// The command channel of the on-board controller: its sub-addresses and the
// status byte that tells whether it accepted the last operation.
#pragma once

#include <cstdint>

#include "lx/internal/tern_card_context.h"

namespace terncard {

inline constexpr uint8_t kSubCommandMessage = 80;
inline constexpr uint8_t kSubAddressedWrite = 81;
inline constexpr uint8_t kSubAddressedRead = 82;
inline constexpr uint8_t kSubStatus = 83;
inline constexpr uint8_t kSubReplyBlock = 84;    // 255 bytes
inline constexpr uint8_t kSubResetRequest = 85;  // takes the byte 0xFF

inline constexpr uint8_t kStatusAccepted = '<';
inline constexpr uint8_t kReplyBlockBytes = 255;
inline constexpr int kReplySequenceByte = 129;

// Switches every general-purpose line to input, gives the controller 10 ms,
// then reads its status byte: true when the read worked and it is '<'.
bool controllerAccepted(TernCardContext* context);

}  // namespace terncard

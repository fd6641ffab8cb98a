// What LxGetSlotInfo and LxGetBoardInfo write: the slot record and, for each
// board-information kind, how many bytes land in the caller's buffer. The
// bytes are raw controller data: no kind writes a terminating NUL, so a
// buffer that is to be printed as text needs one more byte of its own.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lx/portable.h"

// Where a card sits on the PCI bus (LxGetSlotInfo), 12 bytes.
typedef struct LxSlotInfo {
  uint16_t deviceNumber;    // PCI device
  uint16_t functionNumber;  // PCI function
  uint32_t busNumber;
  uint32_t slotNumber;      // the slot number the system shows the user
} LxSlotInfo;
LX_STATIC_ASSERT(sizeof(LxSlotInfo) == 12, "LxSlotInfo layout");
LX_STATIC_ASSERT(offsetof(LxSlotInfo, deviceNumber) == 0, "LxSlotInfo layout");
LX_STATIC_ASSERT(offsetof(LxSlotInfo, functionNumber) == 2, "LxSlotInfo layout");
LX_STATIC_ASSERT(offsetof(LxSlotInfo, busNumber) == 4, "LxSlotInfo layout");
LX_STATIC_ASSERT(offsetof(LxSlotInfo, slotNumber) == 8, "LxSlotInfo layout");

// Board-information kinds of LxGetBoardInfo, with the bytes each one writes.
// Kinds 0, 1 and 3 to 6 are read from the board's controller; 2 and 7 come
// from the board switch on two general-purpose lines.
LX_ENUM(LxBoardInfoKind){
    LX_BOARD_INFO_SIGNATURE = 0,        // 2 bytes: the letters "KZ" on boards that carry them; no NUL
    LX_BOARD_INFO_IDENTITY = 1,         // 12 bytes: the controller's identity block
    LX_BOARD_INFO_SWITCH_EXCHANGED = 2, // 1 byte: the switch (0..3) with values 1 and 2 exchanged
    LX_BOARD_INFO_SECOND_BLOCK = 3,     // 5 bytes: the controller's second data block
    LX_BOARD_INFO_REVISION_LOW = 4,     // 1 byte: minor revision, 0..15
    LX_BOARD_INFO_REVISION_HIGH = 5,    // 1 byte: major revision, 0..15
    LX_BOARD_INFO_EXTRA_BYTE = 6,       // 1 byte: the controller's extra data byte
    LX_BOARD_INFO_SWITCH = 7,           // 1 byte: the switch (0..3) as the lines read
};

#define LX_BOARD_INFO_KIND_COUNT 8
// The most any kind writes: a buffer of this size suits every kind.
#define LX_BOARD_INFO_MAX_BYTES 12

// Bytes that a kind writes into the buffer; 0 for a value that is no kind.
#ifdef __cplusplus
constexpr
#else
static
#endif
    inline int32_t
    LxBoardInfoBytes(int32_t kind) {
  return kind == LX_BOARD_INFO_SIGNATURE        ? 2
         : kind == LX_BOARD_INFO_IDENTITY       ? 12
         : kind == LX_BOARD_INFO_SECOND_BLOCK   ? 5
         : kind >= 0 && kind < LX_BOARD_INFO_KIND_COUNT ? 1
                                                        : 0;
}

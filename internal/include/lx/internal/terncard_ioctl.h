// The requests between the TernCard library and its driver TernCardVI:
// control codes, the register request and the slot record. Both sides
// include this header, so they agree byte for byte. Control codes are
// device type 0x8000, buffered transfer, any access.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lx/board_info.h"

#define TERN_CONTROL_CODE(function) ((uint32_t)((0x8000u << 16) | ((function) << 2)))

// in RegisterRequest (12); out 4 for reads (the word, or the byte in the
// first position), writes pass the request's 12 bytes and get nothing back.
inline constexpr uint32_t IOCTL_TERN_REG_ACCESS = TERN_CONTROL_CODE(0x804);
// in none, out SlotInfo (12)
inline constexpr uint32_t IOCTL_TERN_SLOT_INFO = TERN_CONTROL_CODE(0x811);
// in none, out a 32-bit word that is always 0 (4)
inline constexpr uint32_t IOCTL_TERN_QUERY_WORD = TERN_CONTROL_CODE(0x810);
// Accepted without data in either direction, completed with success.
inline constexpr uint32_t IOCTL_TERN_NO_DATA_A = TERN_CONTROL_CODE(0x802);
inline constexpr uint32_t IOCTL_TERN_NO_DATA_B = TERN_CONTROL_CODE(0x806);
inline constexpr uint32_t IOCTL_TERN_NO_DATA_C = TERN_CONTROL_CODE(0x808);
inline constexpr uint32_t IOCTL_TERN_NO_DATA_D = TERN_CONTROL_CODE(0x809);

static_assert(IOCTL_TERN_REG_ACCESS == 0x80002010u);
static_assert(IOCTL_TERN_SLOT_INFO == 0x80002044u);
static_assert(IOCTL_TERN_QUERY_WORD == 0x80002040u);
static_assert(IOCTL_TERN_NO_DATA_A == 0x80002008u);
static_assert(IOCTL_TERN_NO_DATA_B == 0x80002018u);
static_assert(IOCTL_TERN_NO_DATA_C == 0x80002020u);
static_assert(IOCTL_TERN_NO_DATA_D == 0x80002024u);

// RegisterRequest.operation
inline constexpr uint32_t TERN_REG_READ_BYTE = 0;
inline constexpr uint32_t TERN_REG_WRITE_BYTE = 1;  // writes the low byte of value
inline constexpr uint32_t TERN_REG_READ_WORD = 2;
inline constexpr uint32_t TERN_REG_WRITE_WORD = 3;

// Input of IOCTL_TERN_REG_ACCESS, little-endian.
struct RegisterRequest {
    uint32_t operation;
    uint32_t offset;  // byte offset in the card's register window
    uint32_t value;   // written by the write operations; unused by reads
};
static_assert(sizeof(RegisterRequest) == 12);
static_assert(offsetof(RegisterRequest, operation) == 0);
static_assert(offsetof(RegisterRequest, offset) == 4);
static_assert(offsetof(RegisterRequest, value) == 8);

// Output of IOCTL_TERN_SLOT_INFO: where the card sits, the record that
// LxGetSlotInfo hands to applications.
typedef LxSlotInfo SlotInfo;

// The card's device interface class {8B0B849E-5BA2-4DAE-88DA-CF4AC99DAA37},
// as an initialiser for either side's GUID type.
#define TERNCARD_INTERFACE_GUID_INIT \
    {0x8B0B849E, 0x5BA2, 0x4DAE, {0x88, 0xDA, 0xCF, 0x4A, 0xC9, 0x9D, 0xAA, 0x37}}

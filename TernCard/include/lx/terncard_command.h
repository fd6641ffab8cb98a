// Audio lines and the command channel of the on-board controller (I2C
// address 126) in the TernCard card library.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lx/export.h"

// Command types of TernCardCommand.
#define TERN_COMMAND_MESSAGE 0u        // command message to sub-address 80
#define TERN_COMMAND_WRITE 1u          // write into controller memory (81)
#define TERN_COMMAND_READ 2u           // read from controller memory (82)

// The record TernCardCommand takes; the caller passes its size, 32.
struct TernCardCommandRecord {
  const uint8_t* header;  // header bytes (may be null when headerCount is 0)
  uint32_t headerCount;   // low 8 bits used
  uint32_t address;       // 16-bit controller memory address (write and read)
  uint8_t* data;          // bytes to send, or the buffer of a read
  uint32_t dataCount;     // low 8 bits used; at least 1
  uint32_t unused;
};
static_assert(sizeof(TernCardCommandRecord) == 32);
static_assert(offsetof(TernCardCommandRecord, header) == 0);
static_assert(offsetof(TernCardCommandRecord, headerCount) == 8);
static_assert(offsetof(TernCardCommandRecord, address) == 12);
static_assert(offsetof(TernCardCommandRecord, data) == 16);
static_assert(offsetof(TernCardCommandRecord, dataCount) == 24);
static_assert(offsetof(TernCardCommandRecord, unused) == 28);

// Pulses the audio reset twice. 0 for a rejected or unusable handle, else 1.
LX_EXPORT int32_t TernCardResetAudio(uint64_t handle);
// Drives the low two bits of `range` on general-purpose lines 2 and 3 and
// makes them outputs. 0 for a rejected or unusable handle, else 1.
LX_EXPORT int32_t TernCardSetAudioRange(uint64_t handle, uint8_t range);

// Types 0 to 2 with *size = 32: 1 when the controller took the command
// (for a read: the data is in the buffer), else 0. Other types set *size to
// 0 and return 1. 0 for an unusable handle, a null record or size, a header
// count without header bytes, a null data buffer or a data count of 0 (these
// send nothing). Types 1 and 2 leave the general-purpose levels at 0x7FFFFF
// and every line an input; TernCardSetAudioRange drives lines 2 and 3 again.
LX_EXPORT int32_t TernCardCommand(uint64_t handle, uint32_t type, void* record, uint32_t* size);

// type 0: *output = 1, *size = 1, no card access; 1.
// type 1: the operation counter of the reply block (byte 129) into *output,
//         *size = 1; 1 when the read worked (*output unchanged otherwise).
// type 2: the first (*size & 0xFF) bytes of the reply block into output; 1
//         when the read worked.
// type 3: asks the controller to reset; 1 when it accepted.
// other:  *size = 0; 0.
// 0 for an unusable handle or a null output or size.
LX_EXPORT int32_t TernCardDeviceControl(uint64_t handle, uint32_t type, uint8_t* output, uint32_t* size);

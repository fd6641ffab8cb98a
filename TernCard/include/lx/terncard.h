// Card library of the TernCard capture card ("TernCard.dll"). The device
// manager and the public video API bind these exports by name.
//
// Card handles: BeginTernCard returns the context block's handle as a 32-bit
// value (zero-extended to 64 bits), or 1 to 4 for a failure. Every other
// export takes that value (as the 64-bit context word of the card record),
// uses its low 32 bits, and locks the context for the duration of the call.
// Exports that validate handles reject 0, 1, 2, 3 and 0xFFFFFFFF.
// Results: 1 (or another nonzero value) for success, 0 for failure, unless a
// comment says otherwise.
#pragma once

#include <stdint.h>

#include "lx/export.h"
#include "lx/static_mem_records.h"

// Number of cards present: members of the card interface class that open.
LX_EXPORT int32_t TernCardGetCardNumber(void);

// Bring-up and release of one card (card numbers count from 1).
// Failure results: 1 no such card, 2 card does not answer, 3 no memory for
// the context or the DMA program buffer, 4 no screen device context.
LX_EXPORT uint64_t BeginTernCard(int32_t cardNumber);
LX_EXPORT int32_t EndTernCard(uint64_t handle);
// Board information from the on-board controller and the general-purpose
// lines; kinds 0 to 7. 1 on success, the I2C failure value when a read
// failed, 0 for other kinds or an unusable handle.
LX_EXPORT int32_t TernCardGetBoardInfos(uint64_t handle, uint8_t kind, void* buffer);

// Board access shared by every card library (unprefixed names).
LX_EXPORT int32_t GetSlotInfo(uint64_t handle, void* slotInfo);
LX_EXPORT int32_t Get32BitParam(uint64_t handle, uint32_t offset, uint32_t* value);
LX_EXPORT int32_t Set32BitParam(uint64_t handle, uint32_t offset, uint32_t value);
LX_EXPORT int32_t GetI2CParam(uint64_t handle, uint16_t device, uint8_t subAddress, uint8_t* data, int32_t count);
LX_EXPORT int32_t SetI2CParam(uint64_t handle, uint16_t device, uint8_t subAddress, uint8_t* data, int32_t count);

// Video parameters. Each stores the parameter in the context and reprograms
// every register that depends on it.
LX_EXPORT int32_t TernCardSetADParam(uint64_t handle, uint8_t kind, uint8_t value);
LX_EXPORT int32_t TernCardDirectSetADParam(uint64_t handle);
LX_EXPORT int32_t TernCardSetInpVideoWindow(uint64_t handle, int32_t x, int32_t y, int32_t width, int32_t height);
LX_EXPORT int32_t TernCardSetDispWindow(uint64_t handle, int32_t x, int32_t y, int32_t width, int32_t height);
LX_EXPORT int32_t TernCardSetVideoStandard(uint64_t handle, uint16_t standard);
LX_EXPORT int32_t TernCardSetPLLFreqParam(uint64_t handle, uint8_t value);
LX_EXPORT int32_t TernCardSetDelay(uint64_t handle, uint16_t x, uint16_t y);
LX_EXPORT int32_t TernCardSetDispMode(uint64_t handle, int32_t mode);
LX_EXPORT int32_t TernCardSetColorSpace(uint64_t handle, uint8_t code);
LX_EXPORT int32_t TernCardSetVideoDecimation(uint64_t handle, uint8_t value);
LX_EXPORT int32_t TernCardVideoPresent(uint64_t handle, int32_t* present);

// Static memory, passed through to the static-memory service (unprefixed
// names, like the board access above).
LX_EXPORT int32_t StaticMemLock(uint32_t offset, uint32_t length, uint64_t* mappingHandle, void** userAddress);
LX_EXPORT int32_t StaticMemUnlock(uint64_t mappingHandle, void* userAddress);
LX_EXPORT int32_t GetStaticMem(uint32_t* requiredPages, uint32_t* physicalAddress);
LX_EXPORT int32_t SetStaticMem(uint32_t pages);

// Register access through the driver, with the shadow copy of the registers
// the library programs field by field.
#pragma once

#include <cstdint>

#include <windows.h>

#include "lx/internal/tern_card_context.h"
#include "shared_field.h"

namespace terncard {

// The driver handle every request of a card is sent on.
inline HANDLE deviceHandleOf(const TernCardContext* context) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(context->device));
}

// Writes a 32-bit register; a null value sends nothing. The outcome of the
// request is not reported (a failed write is lost).
void RegWrite(TernCardContext* context, uint16_t offset, const uint32_t* value);
// Reads a 32-bit register into *destination; a failed read leaves it as it
// was, so callers clear it first. A null destination sends nothing.
void RegRead(TernCardContext* context, uint16_t offset, uint32_t* destination);

// Convenience forms of the two.
void writeRegister(TernCardContext* context, uint16_t offset, uint32_t value);
uint32_t readRegister(TernCardContext* context, uint16_t offset);  // 0 when the read fails
// For answers that must not mistake a card that is gone for a 0 in the
// register: false when the request fails.
bool tryReadRegister(TernCardContext* context, uint16_t offset, uint32_t* value);

// cell = (cell & ~mask) | (value << shift mod 32), then the cell is written to
// the register. The value is not clipped to the mask.
void RegSetField(TernCardContext* context, uint16_t offset, uint32_t mask, uint32_t value, uint32_t shift);
// The same with an explicit shadow cell (REG_GPIO_DATA has cell 72).
void RegSetFieldInCell(TernCardContext* context, uint16_t offset, uint32_t* cell, uint32_t mask, uint32_t value,
                       uint32_t shift);

// A shadow cell as the snap-ex polling thread may read it: it asks whether
// DMA runs while the application's thread may be stopping it, so cells are
// stored atomically too.
inline uint32_t shadowValue(const TernCardContext* context, int cell) {
  return loadShared(context->registerShadow[cell]);
}

}  // namespace terncard

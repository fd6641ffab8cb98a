// Instruction words of the card's DMA program, as the engine decodes them.
// An instruction is one or two 32-bit words in physical memory:
//   bits 31..28 operation: 0x8 sync, 0x1 write, 0x2 skip, 0x7 jump
//   write/skip: bit 27 first piece of a line, bit 26 last piece,
//               bits 11..0 byte count, bits 25..12 zero;
//               a write has the target address as its second word
//   sync: exactly SYNC_FIRST, SYNC_SECOND (each with a second word) or SYNC_DATA
//   jump: exactly 0x7C000000 with the target address as second word
// Anything else is an unknown instruction.
#pragma once

#include <cstdint>

namespace lxhw::tern::dma {

constexpr uint32_t kSyncFirst = 0x80008004;
constexpr uint32_t kSyncSecond = 0x8000800C;
constexpr uint32_t kSyncData = 0x80000006;
constexpr uint32_t kJump = 0x7C000000;

constexpr uint32_t kOpMask = 0xF0000000;
constexpr uint32_t kOpWrite = 0x10000000;
constexpr uint32_t kOpSkip = 0x20000000;
constexpr uint32_t kFirstPiece = 1u << 27;
constexpr uint32_t kLastPiece = 1u << 26;
constexpr uint32_t kReservedBits = 0x03FFF000;
constexpr uint32_t kCountMask = 0x00000FFF;

constexpr uint32_t kWriteLine = kOpWrite | kFirstPiece | kLastPiece;  // 0x1C000000
constexpr uint32_t kSkipLine = kOpSkip | kFirstPiece | kLastPiece;    // 0x2C000000

}  // namespace lxhw::tern::dma

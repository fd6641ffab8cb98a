// The card's DMA program: 32-bit instruction words in the program buffer
// that tell the card, field by field and line by line, where each line (or
// each run of pixels of a masked line) goes.
#pragma once

#include <cstdint>

#include "lx/internal/tern_card_context.h"

namespace terncard {

inline constexpr uint32_t kSyncFirst = 0x80008004;   // opens a first-field block
inline constexpr uint32_t kSyncSecond = 0x8000800C;  // opens a second-field block
inline constexpr uint32_t kSyncData = 0x80000006;    // follows each field sync
inline constexpr uint32_t kWritePiece = 0x10000000;  // + bytes, then the address
inline constexpr uint32_t kSkipPiece = 0x20000000;   // + bytes
inline constexpr uint32_t kFirstPiece = 1u << 27;
inline constexpr uint32_t kLastPiece = 1u << 26;
inline constexpr uint32_t kWriteLine = kWritePiece | kFirstPiece | kLastPiece;  // 0x1C000000
inline constexpr uint32_t kSkipLine = kSkipPiece | kFirstPiece | kLastPiece;    // 0x2C000000
inline constexpr uint32_t kJump = 0x7C000000;

// Words of a field block besides its lines: the sync pair and the SYNC_DATA pair.
inline constexpr uint32_t kBlockHeaderWords = 4;
inline constexpr uint32_t kJumpWords = 2;

// Where display programs write: the screen's pitch and the display origin.
struct DisplayGeometry {
  uint32_t pitchPixels;  // screen width + pitch surplus
  int32_t originX;
  int32_t originY;
};
// The process-wide display description as the capture operations use it.
DisplayGeometry processDisplayGeometry();

// What one build writes.
struct ProgramTarget {
  bool toMemory;
  uint32_t address;      // first frame in memory (ignored for the display)
  bool separateFields;   // frame mode: the second field after the first, not interleaved
  bool flip;             // lines bottom-up
  bool writesNothing;    // every line skipped, with the word count of a writing build
  bool loopsOnItself;    // the final JUMP goes to this build's first word, not the program start
};

// Geometry of one frame in memory.
uint32_t lineBytesOf(const TernCardContext* context);
uint32_t frameBytesOf(const TernCardContext* context);  // both fields in frame mode

// Number of words a program of `frames` frames needs, the final JUMP
// included (counted in 64 bits: a huge masked ring must not wrap around).
uint64_t ProgramWords(const TernCardContext* context, bool toMemory, uint32_t target, bool separateFields,
                      uint32_t frames);

// Writes `frames` frames from word `start` of the program buffer, then the
// JUMP to the program start; updates programEnd (the word after the last
// frame) and REG_PROGRAM_START. The buffer must hold the words (see
// EnsureProgramBuffer). A running card may reach the words being written:
// the build's first instruction is stored last, and each JUMP operand
// before its opcode, so the card only ever meets a complete build.
void BuildDmaProgram(TernCardContext* context, const ProgramTarget& target, uint32_t frames, uint32_t start,
                     const DisplayGeometry& display);
// The same with the process's display.
void BuildDmaProgram(TernCardContext* context, const ProgramTarget& target, uint32_t frames, uint32_t start);

}  // namespace terncard

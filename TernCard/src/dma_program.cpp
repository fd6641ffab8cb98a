#include "dma_program.h"

#include "mask_runs.h"
#include "register_access.h"
#include "register_map.h"

namespace terncard {

namespace {

uint32_t bytesPerPixelOf(const TernCardContext* context) {
  return context->bitsPerPixel > 0 ? static_cast<uint32_t>(context->bitsPerPixel) / 8 : 0;
}

bool hasFirstBlock(const TernCardContext* context) { return context->scanMode != 2; }
bool hasSecondBlock(const TernCardContext* context) { return context->scanMode == 0 || context->scanMode == 2; }
bool masksOn(const TernCardContext* context) { return context->maskEnabled != 0; }

uint32_t lineWords(const uint8_t* maskLine, uint32_t width) {
  uint32_t words = 0;
  forEachMaskRun(maskLine, width, [&](uint16_t run, bool, bool) { words += (run & kRunVisible) != 0 ? 2 : 1; });
  return words;
}

uint32_t blockWords(const TernCardContext* context, const uint8_t* mask) {
  const uint32_t lines = context->outputHeight;
  if (!masksOn(context)) {
    return kBlockHeaderWords + 2 * lines;
  }
  uint32_t words = kBlockHeaderWords;
  for (uint32_t line = 0; line < lines; ++line) {
    words += lineWords(maskLineOf(mask, line), context->outputWidth);
  }
  return words;
}

// Stores words into the program buffer while the card may be reading it:
// each word is written whole. The build's first instruction (the first
// block's sync pair) is left out until everything else is in place.
class ProgramWriter {
 public:
  ProgramWriter(uint32_t* words, uint32_t index) : words_(words), index_(index), first_(index) {}
  void put(uint32_t word) { __atomic_store_n(&words_[index_++], word, __ATOMIC_RELAXED); }
  void put(uint32_t word, uint32_t operand) {
    put(word);
    put(operand);
  }
  // The first instruction: held back, its place kept.
  void holdFirst(uint32_t word, uint32_t operand) {
    held_[0] = word;
    held_[1] = operand;
    holding_ = true;
    index_ += 2;
  }
  // The held instruction, opcode first (a sync ignores its second word, so
  // the pair is valid at every moment).
  void storeFirst() {
    if (holding_) {
      __atomic_store_n(&words_[first_], held_[0], __ATOMIC_RELEASE);
      __atomic_store_n(&words_[first_ + 1], held_[1], __ATOMIC_RELEASE);
      holding_ = false;
    }
  }
  // A JUMP that a running card may already fetch: operand, then opcode.
  void putJump(uint32_t target) {
    __atomic_store_n(&words_[index_ + 1], target, __ATOMIC_RELAXED);
    __atomic_store_n(&words_[index_], kJump, __ATOMIC_RELEASE);
    index_ += 2;
  }
  uint32_t index() const { return index_; }
  // Direct access for the line loop: a local cursor the stores cannot alias.
  uint32_t* cursor() const { return words_ + index_; }
  void advanceTo(const uint32_t* cursor) { index_ = static_cast<uint32_t>(cursor - words_); }

 private:
  uint32_t* words_;
  uint32_t index_;
  const uint32_t first_;
  uint32_t held_[2] = {0, 0};
  bool holding_ = false;
};

// What every line of a build needs, read once from the context.
struct LineShape {
  uint32_t width;
  uint32_t bytesPerPixel;
  bool masked;
  bool writesNothing;
};

inline void store(uint32_t*& out, uint32_t word) { __atomic_store_n(out++, word, __ATOMIC_RELAXED); }

// One piece of a masked line with its first and last marks; returns the
// address after it.
template <bool WritesNothing>
inline uint32_t emitPiece(uint32_t*& out, uint16_t run, uint32_t marks, uint32_t bytesPerPixel, uint32_t address) {
  const uint32_t bytes = (run & kRunLengthMask) * bytesPerPixel;
  const uint32_t first = marks & kFirstPiece;
  const uint32_t last = marks & kLastPiece;
  if ((run & kRunVisible) == 0) {
    store(out, kSkipPiece | first | last | bytes);
  } else if (WritesNothing) {
    store(out, kSkipPiece | first | bytes);
    store(out, kSkipPiece | last);
  } else {
    store(out, kWritePiece | first | last | bytes);
    store(out, address);
  }
  return address + bytes;
}

// The pieces of a masked line, one per run at consecutive addresses,
// emitted as the mask line is scanned.
template <bool WritesNothing>
uint32_t* emitPieces(uint32_t* out, const uint8_t* maskLine, const LineShape& shape, uint32_t address) {
  forEachMaskRun(maskLine, shape.width, [&](uint16_t run, bool first, bool last) {
    const uint32_t marks = (first ? kFirstPiece : 0) | (last ? kLastPiece : 0);
    address = emitPiece<WritesNothing>(out, run, marks, shape.bytesPerPixel, address);
  });
  return out;
}

// One line: a whole-line write, or with masks one piece per run at
// consecutive addresses. A line that writes nothing keeps the word count
// of the writing form (a write piece becomes a skip piece and an empty
// one), so the blocks after it stay where they are.
uint32_t* emitLine(uint32_t* out, const LineShape shape, const uint8_t* maskLine, uint32_t address) {
  if (!shape.masked) {
    const uint32_t bytes = shape.width * shape.bytesPerPixel;
    if (shape.writesNothing) {
      store(out, kSkipPiece | kFirstPiece | bytes);
      store(out, kSkipPiece | kLastPiece);
    } else {
      store(out, kWriteLine | bytes);
      store(out, address);
    }
    return out;
  }
  return shape.writesNothing ? emitPieces<true>(out, maskLine, shape, address)
                             : emitPieces<false>(out, maskLine, shape, address);
}

enum class Field { First, Second };

// Line i of a field block as a line of the frame area (units of the line step
// P pixels): interleaved in frame mode, one field after the other when
// separate, one field alone in the single-field modes; flipped, each field
// starts at the last line of the lines it occupies.
uint32_t frameLineOf(const TernCardContext* context, bool separateFields, bool flip, Field field, uint32_t i) {
  const uint32_t lines = context->outputHeight;
  if (context->scanMode == 0 && !separateFields) {
    const uint32_t parity = field == Field::First ? 0 : 1;
    return flip ? 2 * lines - 1 - parity - 2 * i : 2 * i + parity;
  }
  const uint32_t area = context->scanMode == 0 && field == Field::Second ? lines : 0;
  return area + (flip ? lines - 1 - i : i);
}

// `opensBuild`: the block's sync is the build's first instruction.
void emitBlock(ProgramWriter& writer, const TernCardContext* context, const ProgramTarget& target, Field field,
               uint32_t frameBase, uint32_t pitchBytes, bool opensBuild) {
  const uint8_t* mask = field == Field::First ? context->maskFirst : context->maskSecond;
  const uint32_t sync = field == Field::First ? kSyncFirst : kSyncSecond;
  if (opensBuild) {
    writer.holdFirst(sync, 0);
  } else {
    writer.put(sync, 0);
  }
  writer.put(kSyncData, 0);
  const LineShape shape{context->outputWidth, bytesPerPixelOf(context), masksOn(context), target.writesNothing};
  const uint32_t lines = context->outputHeight;
  uint32_t* out = writer.cursor();
  for (uint32_t i = 0; i < lines; ++i) {
    const uint32_t frameLine = frameLineOf(context, target.separateFields, target.flip, field, i);
    out = emitLine(out, shape, maskLineOf(mask, i), frameBase + frameLine * pitchBytes);
  }
  writer.advanceTo(out);
}

}  // namespace

uint32_t lineBytesOf(const TernCardContext* context) { return bytesPerPixelOf(context) * context->outputWidth; }

uint32_t frameBytesOf(const TernCardContext* context) {
  return lineBytesOf(context) * context->outputHeight * (context->scanMode == 0 ? 2 : 1);
}

uint64_t ProgramWords(const TernCardContext* context, bool, uint32_t, bool, uint32_t frames) {
  uint64_t frameWords = 0;
  if (hasFirstBlock(context)) {
    frameWords += blockWords(context, context->maskFirst);
  }
  if (hasSecondBlock(context)) {
    frameWords += blockWords(context, context->maskSecond);
  }
  return kJumpWords + uint64_t{frames} * frameWords;
}

void BuildDmaProgram(TernCardContext* context, const ProgramTarget& target, uint32_t frames, uint32_t start,
                     const DisplayGeometry& display) {
  const uint32_t bytesPerPixel = bytesPerPixelOf(context);
  const uint32_t pitch = target.toMemory ? context->outputWidth : display.pitchPixels;
  const uint32_t pitchBytes = bytesPerPixel * pitch;
  // The output window's first pixel on the screen (physical addresses are 32-bit).
  uint32_t windowOffset = 0;
  if (!target.toMemory) {
    const int64_t pixel = (int64_t{context->outputY} + display.originY) * pitch + context->outputX - display.originX;
    windowOffset = static_cast<uint32_t>(pixel * bytesPerPixel);
  }
  uint32_t frameBase = (target.toMemory ? target.address : context->displayAddress) + windowOffset;
  auto* words = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(context->programBuffer.UserAddress));
  ProgramWriter writer(words, start);
  for (uint32_t frame = 0; frame < frames; ++frame) {
    if (hasFirstBlock(context)) {
      emitBlock(writer, context, target, Field::First, frameBase, pitchBytes, frame == 0);
    }
    if (hasSecondBlock(context)) {
      emitBlock(writer, context, target, Field::Second, frameBase, pitchBytes, frame == 0 && !hasFirstBlock(context));
    }
    frameBase += frameBytesOf(context);
  }
  context->programEnd = static_cast<int32_t>(writer.index());
  writer.storeFirst();
  writer.putJump(context->programBuffer.PhysicalAddress + (target.loopsOnItself ? start * 4 : 0));
  // A slot rebuilt during a series leaves the start as it is: no request
  // to the card on the way of a hand-over.
  if (shadowValue(context, shadowCellOf(REG_PROGRAM_START)) != context->programBuffer.PhysicalAddress) {
    RegSetField(context, REG_PROGRAM_START, 0xFFFFFFFF, context->programBuffer.PhysicalAddress, 0);
  }
}

}  // namespace terncard

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
  uint16_t runs[kMaxRunsPerLine];
  const uint32_t count = maskLineRuns(maskLine, width, runs);
  uint32_t words = 0;
  for (uint32_t r = 0; r < count; ++r) {
    words += (runs[r] & kRunVisible) != 0 ? 2 : 1;
  }
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
// each word is written whole.
class ProgramWriter {
 public:
  ProgramWriter(uint32_t* words, uint32_t index) : words_(words), index_(index), first_(index) {}
  void put(uint32_t word) {
    if (index_ - first_ < 2 && !firstStored_) {
      held_[index_ - first_] = word;  // the first instruction waits for the rest
      ++index_;
      return;
    }
    store(index_++, word);
  }
  void put(uint32_t word, uint32_t operand) {
    put(word);
    put(operand);
  }
  // The held first instruction, after everything else: its opcode first (a
  // sync ignores its second word, so the pair is valid at every moment).
  void storeFirst() {
    if (!firstStored_ && index_ - first_ >= 2) {
      __atomic_store_n(&words_[first_], held_[0], __ATOMIC_RELEASE);
      __atomic_store_n(&words_[first_ + 1], held_[1], __ATOMIC_RELEASE);
      firstStored_ = true;
    }
  }
  // A JUMP that a running card may already fetch: operand, then opcode.
  void putJump(uint32_t target) {
    store(index_ + 1, target);
    __atomic_store_n(&words_[index_], kJump, __ATOMIC_RELEASE);
    index_ += 2;
  }
  uint32_t index() const { return index_; }

 private:
  void store(uint32_t index, uint32_t word) { __atomic_store_n(&words_[index], word, __ATOMIC_RELAXED); }

  uint32_t* words_;
  uint32_t index_;
  const uint32_t first_;
  uint32_t held_[2] = {0, 0};
  bool firstStored_ = false;
};

// One line: a whole-line write, or with masks one piece per run at
// consecutive addresses. A line that writes nothing keeps the word count
// of the writing form (a write piece becomes a skip piece and an empty
// one), so the blocks after it stay where they are.
void emitLine(ProgramWriter& writer, const TernCardContext* context, const uint8_t* mask, uint32_t line,
              uint32_t address, bool writesNothing) {
  const uint32_t bytesPerPixel = bytesPerPixelOf(context);
  uint16_t runs[kMaxRunsPerLine];
  uint32_t count = 1;
  if (masksOn(context)) {
    count = maskLineRuns(maskLineOf(mask, line), context->outputWidth, runs);
  } else {
    runs[0] = static_cast<uint16_t>(kRunVisible | (context->outputWidth & kRunLengthMask));
  }
  for (uint32_t r = 0; r < count; ++r) {
    const uint32_t first = r == 0 ? kFirstPiece : 0;
    const uint32_t last = r + 1 == count ? kLastPiece : 0;
    const uint32_t pixels = masksOn(context) ? (runs[r] & kRunLengthMask) : context->outputWidth;
    const uint32_t bytes = pixels * bytesPerPixel;
    if ((runs[r] & kRunVisible) == 0) {
      writer.put(kSkipPiece | first | last | bytes);
    } else if (writesNothing) {
      writer.put(kSkipPiece | first | bytes);
      writer.put(kSkipPiece | last);
    } else {
      writer.put(kWritePiece | first | last | bytes, address);
    }
    address += bytes;
  }
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

void emitBlock(ProgramWriter& writer, const TernCardContext* context, const ProgramTarget& target, Field field,
               uint32_t frameBase, uint32_t pitchBytes) {
  const uint8_t* mask = field == Field::First ? context->maskFirst : context->maskSecond;
  writer.put(field == Field::First ? kSyncFirst : kSyncSecond, 0);
  writer.put(kSyncData, 0);
  for (uint32_t i = 0; i < context->outputHeight; ++i) {
    const uint32_t frameLine = frameLineOf(context, target.separateFields, target.flip, field, i);
    emitLine(writer, context, mask, i, frameBase + frameLine * pitchBytes, target.writesNothing);
  }
}

}  // namespace

uint32_t lineBytesOf(const TernCardContext* context) { return bytesPerPixelOf(context) * context->outputWidth; }

uint32_t frameBytesOf(const TernCardContext* context) {
  return lineBytesOf(context) * context->outputHeight * (context->scanMode == 0 ? 2 : 1);
}

uint32_t ProgramWords(const TernCardContext* context, bool, uint32_t, bool, uint32_t frames) {
  uint32_t frameWords = 0;
  if (hasFirstBlock(context)) {
    frameWords += blockWords(context, context->maskFirst);
  }
  if (hasSecondBlock(context)) {
    frameWords += blockWords(context, context->maskSecond);
  }
  return kJumpWords + frames * frameWords;
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
      emitBlock(writer, context, target, Field::First, frameBase, pitchBytes);
    }
    if (hasSecondBlock(context)) {
      emitBlock(writer, context, target, Field::Second, frameBase, pitchBytes);
    }
    frameBase += frameBytesOf(context);
  }
  context->programEnd = static_cast<int32_t>(writer.index());
  writer.storeFirst();
  writer.putJump(context->programBuffer.PhysicalAddress + (target.loopsOnItself ? start * 4 : 0));
  RegSetField(context, REG_PROGRAM_START, 0xFFFFFFFF, context->programBuffer.PhysicalAddress, 0);
}

}  // namespace terncard

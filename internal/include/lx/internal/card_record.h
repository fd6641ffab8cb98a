// LxCardRecord: the record inside a card handle (a movable global memory
// block). The public video API owns it; the snap-ex library reads and writes
// it at these byte positions, so the layout is a contract between the two.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lx/static_mem_records.h"

struct LxCardRecord {
  uint64_t context;               // card library's context handle from its start function
  int32_t cardTypeIndex;          // LxCardTypeIndex
  int32_t state;                  // LxCaptureState
  int32_t cardIndex;              // global 1-based card number
  uint8_t* maskBuffer;            // mask bitmap (LX_MASK_BYTES), null when none
  DynamicMemBlock dynamicMemory;  // the dynamic memory that holds the mask
  int32_t maskEnabled;
  int32_t maskBitOrder;           // 0: pixel x is bit x%8; 1: bit 7-(x%8)
  int32_t monitorMethod;
  int32_t bytesPerPixel;          // of the current video format
  int32_t outputX;
  int32_t outputY;
  int32_t outputWidth;
  int32_t outputFieldHeight;      // half the frame height given to LxSetOutputWindow
  int32_t scanMode;               // LxScanMode
  int32_t screenWidth;
  int32_t screenHeight;
  // In the record's padding: marks the block as a card handle from its open
  // to its end, so that a block of another kind is refused (handle_kinds.h).
  uint32_t kindTag;
};
static_assert(sizeof(void*) == 8, "the card record assumes 64-bit pointers");
// Fields end at 108 (the tag fills the padding); the 8-byte members round the record up to 112.
static_assert(sizeof(LxCardRecord) == 112);
static_assert(offsetof(LxCardRecord, context) == 0);
static_assert(offsetof(LxCardRecord, cardTypeIndex) == 8);
static_assert(offsetof(LxCardRecord, state) == 12);
static_assert(offsetof(LxCardRecord, cardIndex) == 16);
static_assert(offsetof(LxCardRecord, maskBuffer) == 24);
static_assert(offsetof(LxCardRecord, dynamicMemory) == 32);
static_assert(offsetof(LxCardRecord, maskEnabled) == 64);
static_assert(offsetof(LxCardRecord, maskBitOrder) == 68);
static_assert(offsetof(LxCardRecord, monitorMethod) == 72);
static_assert(offsetof(LxCardRecord, bytesPerPixel) == 76);
static_assert(offsetof(LxCardRecord, outputX) == 80);
static_assert(offsetof(LxCardRecord, outputY) == 84);
static_assert(offsetof(LxCardRecord, outputWidth) == 88);
static_assert(offsetof(LxCardRecord, outputFieldHeight) == 92);
static_assert(offsetof(LxCardRecord, scanMode) == 96);
static_assert(offsetof(LxCardRecord, screenWidth) == 100);
static_assert(offsetof(LxCardRecord, screenHeight) == 104);
static_assert(offsetof(LxCardRecord, kindTag) == 108);

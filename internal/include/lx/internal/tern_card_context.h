// TernCardContext: the card library's per-card record behind the 32-bit
// handle that BeginTernCard returns. The public video API reads scanMode, the
// output window and maskEnabled at fixed byte positions right after opening a
// card, so field order and widths are shared between the two libraries.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lx/static_mem_records.h"

inline constexpr int TERN_REGISTER_SHADOW_CELLS = 73;  // 72 table registers + GPIO data

struct TernCardContext {
  uint64_t device;           // driver handle
  uint16_t cardNumber;       // number given to BeginTernCard
  uint32_t reserved1;        // unused, 0
  uint16_t reserved2;        // unused, 976
  uint32_t displayAddress;   // physical address of the primary surface, 0 when unknown
  int32_t bitsPerPixel;      // of the selected pixel format
  int32_t programEnd;        // 32-bit word index reached by the last DMA program build
  uint32_t registerShadow[TERN_REGISTER_SHADOW_CELLS];
  uint16_t videoStandard;    // 0 PAL, anything else NTSC
  uint8_t pllParam;
  uint8_t decimation;
  uint8_t videoSource;       // input selection code
  uint8_t brightness;
  uint8_t contrast;
  uint8_t hue;
  uint8_t saturation;
  uint8_t saturationU;
  uint8_t saturationV;
  uint8_t pixelFormat;       // 0..6
  int32_t scanMode;          // LxScanMode
  uint16_t delayX;
  uint16_t delayY;           // stored halved
  uint16_t inputX;
  uint16_t inputY;           // per field
  uint16_t inputWidth;
  uint16_t inputHeight;      // per field
  uint16_t outputX;
  uint16_t outputY;
  uint16_t outputWidth;
  uint16_t outputHeight;     // per field
  int32_t capturing;         // live capture into the display is running
  int32_t maskEnabled;       // DMA programs honour the pixel masks
  uint8_t* maskSecond;       // mask bitmap of the second field program
  uint8_t* maskFirst;        // mask bitmap of the first field program
  uint8_t audioRange;        // 2-bit value on general-purpose lines 2 and 3
  int32_t programAllocated;  // the DMA program buffer is held
  DynamicMemBlock programBuffer;
  uint8_t boardRevisionFlag;
  uint16_t ringFrames;       // entries in the snap-to-memory ring
  uint16_t fieldCountMask;
  uint32_t frameProgramBytes;  // DMA program bytes per ring entry
  // The card library's mark of a live context (in what was padding, so
  // nothing moves): its exports tell a context from a block of another
  // kind by this and the block's size.
  uint32_t kindTag;
};
static_assert(sizeof(void*) == 8, "the card context assumes 64-bit pointers");
static_assert(offsetof(TernCardContext, device) == 0);
static_assert(offsetof(TernCardContext, cardNumber) == 8);
static_assert(offsetof(TernCardContext, reserved1) == 12);
static_assert(offsetof(TernCardContext, reserved2) == 16);
static_assert(offsetof(TernCardContext, displayAddress) == 20);
static_assert(offsetof(TernCardContext, bitsPerPixel) == 24);
static_assert(offsetof(TernCardContext, programEnd) == 28);
static_assert(offsetof(TernCardContext, registerShadow) == 32);
static_assert(offsetof(TernCardContext, videoStandard) == 324);
static_assert(offsetof(TernCardContext, pllParam) == 326);
static_assert(offsetof(TernCardContext, decimation) == 327);
static_assert(offsetof(TernCardContext, videoSource) == 328);
static_assert(offsetof(TernCardContext, brightness) == 329);
static_assert(offsetof(TernCardContext, contrast) == 330);
static_assert(offsetof(TernCardContext, hue) == 331);
static_assert(offsetof(TernCardContext, saturation) == 332);
static_assert(offsetof(TernCardContext, saturationU) == 333);
static_assert(offsetof(TernCardContext, saturationV) == 334);
static_assert(offsetof(TernCardContext, pixelFormat) == 335);
static_assert(offsetof(TernCardContext, scanMode) == 336);
static_assert(offsetof(TernCardContext, delayX) == 340);
static_assert(offsetof(TernCardContext, delayY) == 342);
static_assert(offsetof(TernCardContext, inputX) == 344);
static_assert(offsetof(TernCardContext, inputY) == 346);
static_assert(offsetof(TernCardContext, inputWidth) == 348);
static_assert(offsetof(TernCardContext, inputHeight) == 350);
static_assert(offsetof(TernCardContext, outputX) == 352);
static_assert(offsetof(TernCardContext, outputY) == 354);
static_assert(offsetof(TernCardContext, outputWidth) == 356);
static_assert(offsetof(TernCardContext, outputHeight) == 358);
static_assert(offsetof(TernCardContext, capturing) == 360);
static_assert(offsetof(TernCardContext, maskEnabled) == 364);
static_assert(offsetof(TernCardContext, maskSecond) == 368);
static_assert(offsetof(TernCardContext, maskFirst) == 376);
static_assert(offsetof(TernCardContext, audioRange) == 384);
static_assert(offsetof(TernCardContext, programAllocated) == 388);
static_assert(offsetof(TernCardContext, programBuffer) == 392);
static_assert(offsetof(TernCardContext, boardRevisionFlag) == 424);
static_assert(offsetof(TernCardContext, ringFrames) == 426);
static_assert(offsetof(TernCardContext, fieldCountMask) == 428);
static_assert(offsetof(TernCardContext, frameProgramBytes) == 432);
static_assert(offsetof(TernCardContext, kindTag) == 436);
static_assert(sizeof(TernCardContext) == 440);

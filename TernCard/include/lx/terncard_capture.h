// Capture and snap exports of the TernCard card library: live capture into
// the display, single frames, counted series and rings of frames in the
// static memory, the field waits, the pixel masks and the read-back.
//
// Every wait on the card is bounded (200 ms of host time, ten real-time PAL
// fields, per wait or hand-over); a card without a picture makes these
// exports fail (0, or 0 frames) instead of waiting for ever.
#pragma once

#include <stdint.h>

#include "lx/export.h"

#ifndef HDC_DEFINED
#define HDC_DEFINED
typedef struct HDC__* HDC;
#endif

// Mode word of the memory exports: bit 0 stores the two fields of a frame
// one after the other; a nonzero value in bits 16-31 writes lines bottom-up.
#define TERN_MODE_SEPARATE_FIELDS 0x00000001u
#define TERN_MODE_FLIP_SHIFT 16

// Live capture into the output window of the screen. -1 no display
// information, -2 enabling without a display address, 0 no program buffer
// (or the DMA engine would not start), 1 done.
LX_EXPORT int32_t TernCardCapture(uint64_t handle, uint32_t enable);
// One frame into the output window; results as TernCardCapture.
LX_EXPORT int32_t TernCardSnap(uint64_t handle);

// `frames` frames into consecutive memory from `target`; the number handed over.
LX_EXPORT int32_t TernCardCaptureToMem(uint64_t handle, uint32_t target, uint32_t size, uint16_t extraWaits,
                                       uint32_t mode, uint16_t frames);
// A two-frame ring left running at `target`; 1 when it runs.
LX_EXPORT int32_t TernCardSnapOneToMem(uint64_t handle, uint32_t target, uint32_t size, uint32_t mode);
// A ring of `frames` frames left running at `target`; 1 when it runs.
LX_EXPORT int32_t TernCardSnapToMem(uint64_t handle, uint32_t target, uint32_t size, uint32_t mode, uint32_t frames);

LX_EXPORT int32_t TernCardGetSnappingStatus(uint64_t handle, uint32_t* status);
// The field block of the ring the card is filling (two per frame in frame mode).
LX_EXPORT int32_t TernCardGetSnapToMemNumber(uint64_t handle, int32_t* number);
LX_EXPORT int32_t TernCardGetSnapToMemStatus(uint64_t handle, int32_t* status);
// Frame `index` of memory at `base` (a user address, `size` bytes), copied
// bottom-up into `destination`.
LX_EXPORT int32_t TernCardReadFromMem(uint64_t handle, const void* base, uint32_t size, uint16_t index,
                                      void* destination);

// 1 after a first field began (Odd) or a second field began (Even); 0 for a
// rejected handle or when no such field began within the bound.
LX_EXPORT int32_t TernCardWaitOddVSync(uint64_t handle);
LX_EXPORT int32_t TernCardWaitEvenVSync(uint64_t handle);

// kind 0: mask of first-field blocks, 1: second-field blocks; others change nothing.
LX_EXPORT int32_t TernCardSetMask(uint64_t handle, uint8_t kind, void* bitmap);
LX_EXPORT int32_t TernCardEnableOverlay(uint64_t handle, int32_t enable);

// The rectangle of a device context, bottom-up without gaps: one byte (green)
// per pixel on an 8-bit context, else blue, green, red.
LX_EXPORT int32_t ReadDispWindow(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height, void* destination);

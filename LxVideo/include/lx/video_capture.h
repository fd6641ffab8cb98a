// Public video API: live capture into the display, frames into the static
// memory, field waits and the overlay mask. Every function returns an LxStatus.
#pragma once

#include <stdint.h>

#include "lx/export.h"
#include "lx/status.h"
#include "lx/video_card.h"

// ---- capture and snap -------------------------------------------------------
// Live capture into the output window on the screen (1 starts, 0 stops).
LX_EXPORT LxStatus LxCapture(LxCardHandle handle, uint32_t enable);
// One frame into the output window.
LX_EXPORT LxStatus LxCaptureShot(LxCardHandle handle);
// `frames` frames into the static memory from byte `start`; `waits` extra
// field waits after each frame; interleave 0 stores a frame's fields one
// after the other. LX_SNAP_SHOT_TIME_OUT when fewer frames arrived.
LX_EXPORT LxStatus LxSnapShot(LxCardHandle handle, uint32_t start, uint16_t waits, int32_t interleave,
                              uint16_t frames);
// A ring of `frames` frames at `start`, kept turning until LxStopSnap.
LX_EXPORT LxStatus LxStartSnap(LxCardHandle handle, uint32_t start, int32_t interleave, uint16_t frames);
LX_EXPORT LxStatus LxStopSnap(LxCardHandle handle);
// The field block of the ring being filled (two per frame in frame mode).
LX_EXPORT LxStatus LxGetSnappingNumber(LxCardHandle handle, int32_t* number);
LX_EXPORT LxStatus LxWaitVSync(LxCardHandle handle);
LX_EXPORT LxStatus LxWaitOddVSync(LxCardHandle handle);
LX_EXPORT LxStatus LxWaitEvenVSync(LxCardHandle handle);

// The same mechanisms under their own states, for the snap-ex library.
LX_EXPORT LxStatus LxCaptureExInt(LxCardHandle handle, uint8_t enable);
LX_EXPORT LxStatus LxStartSnapExInt(LxCardHandle handle, uint32_t start, int32_t interleave, uint16_t frames);
LX_EXPORT LxStatus LxStopSnapExInt(LxCardHandle handle);
LX_EXPORT LxStatus LxGetSnappingNumberExInt(LxCardHandle handle, int32_t* number);

// ---- overlay mask -----------------------------------------------------------
// Idle only; the card honours the mask from the next capture it starts.
LX_EXPORT LxStatus LxEnableMask(LxCardHandle handle, int32_t enable);
// fill nonzero: every pixel shows video; 0: none does.
LX_EXPORT LxStatus LxFlushMask(LxCardHandle handle, int fill);
// Pixel (x, y) of the output window: hide nonzero keeps the screen's own
// content there. x 0..767; y 0..575 in frame mode, 0..287 in the field modes.
LX_EXPORT LxStatus LxSetPixelMask(LxCardHandle handle, uint32_t x, uint32_t y, int hide);

// Snap-ex: continuous snapping into a ring of frames in the static memory,
// with a callback on a thread of this library each time a frame of the ring
// is complete. Every function returns an LxStatus.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lx/export.h"
#include "lx/status.h"
#include "lx/video_card.h"

// Handed to the callback by address; valid only during the call.
struct SnapExInfo {
  LxCardHandle handle;
  int32_t cardIndex;   // the card's global number
  int32_t frameIndex;  // ring entry of the frame just completed
  void* context;       // as given to LxOpenSnapEx
};
static_assert(sizeof(void*) == 8, "SnapExInfo assumes 64-bit pointers");
static_assert(sizeof(SnapExInfo) == 24);
static_assert(offsetof(SnapExInfo, handle) == 0);
static_assert(offsetof(SnapExInfo, cardIndex) == 8);
static_assert(offsetof(SnapExInfo, frameIndex) == 12);
static_assert(offsetof(SnapExInfo, context) == 16);

// The result is ignored. Runs on the card's delivery thread, never on the
// caller's; it must not close snap-ex for its own card.
typedef int32_t (*SnapExCallback)(struct SnapExInfo* info);

// Order per card: open, any number of start/stop pairs, close.
// callback may be null (nothing is called).
LX_EXPORT LxStatus LxOpenSnapEx(LxCardHandle handle, SnapExCallback callback, void* context);
// A ring of `frames` frames at byte `start` of the static memory; interleave 0
// stores a frame's fields one after the other. A start while snapping does
// nothing and succeeds.
LX_EXPORT LxStatus LxStartSnapEx(LxCardHandle handle, uint32_t start, int32_t interleave, uint16_t frames);
LX_EXPORT LxStatus LxStopSnapEx(LxCardHandle handle);
// Stops the card if it still snaps; returns once no callback of the card
// runs or will run.
LX_EXPORT LxStatus LxCloseSnapEx(LxCardHandle handle);

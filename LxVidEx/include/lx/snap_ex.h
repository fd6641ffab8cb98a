// Snap-ex: continuous snapping into a ring of frames in the static memory,
// with a callback on a thread of this library each time a frame of the ring
// is complete. Every function returns an LxStatus.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lx/export.h"
#include "lx/portable.h"
#include "lx/status.h"
#include "lx/video_card.h"

// Handed to the callback by address; valid only during the call. A caller
// that knows only the first four fields reads a prefix of the record.
typedef struct SnapExInfo {
  LxCardHandle handle;
  int32_t cardIndex;   // the card's global number
  int32_t frameIndex;  // ring entry of the frame just completed
  void* context;       // as given to LxOpenSnapEx
  // When the frame was complete: CLOCK_MONOTONIC nanoseconds of the field end
  // that completed it, from the card's field clock (for a card without one,
  // the moment the library saw the frame).
  uint64_t timestampNs;
  // Frames the card completed since the start (ring entries, one a field,
  // when a frame's fields are stored apart), this one included.
  uint32_t sequence;
  uint32_t skipped;  // completed since the previous callback (or the start) and not told
} SnapExInfo;
LX_STATIC_ASSERT(sizeof(void*) == 8, "SnapExInfo assumes 64-bit pointers");
LX_STATIC_ASSERT(sizeof(SnapExInfo) == 40, "SnapExInfo layout");
LX_STATIC_ASSERT(offsetof(SnapExInfo, timestampNs) == 24, "SnapExInfo layout");
LX_STATIC_ASSERT(offsetof(SnapExInfo, sequence) == 32, "SnapExInfo layout");
LX_STATIC_ASSERT(offsetof(SnapExInfo, skipped) == 36, "SnapExInfo layout");
LX_STATIC_ASSERT(offsetof(SnapExInfo, handle) == 0, "SnapExInfo layout");
LX_STATIC_ASSERT(offsetof(SnapExInfo, cardIndex) == 8, "SnapExInfo layout");
LX_STATIC_ASSERT(offsetof(SnapExInfo, frameIndex) == 12, "SnapExInfo layout");
LX_STATIC_ASSERT(offsetof(SnapExInfo, context) == 16, "SnapExInfo layout");

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

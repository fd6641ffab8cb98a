// The delivery thread: one per card. Every millisecond it checks whether the
// polling thread has seen the card move to a new frame and, if so, calls
// the application back with the ring entry just completed. A slow callback
// delays only its own card; frames it misses are skipped, the newest is told.
#include "frame_rules.h"
#include "snap_ex_manager.h"

namespace lxvidex {

DWORD WINAPI deliveryThreadMain(LPVOID parameter) {
  auto* slot = static_cast<SnapExSlot*>(parameter);
  uint32_t run = slot->run;
  while (slot->stopped == 0) {
    Sleep(1);
    if (slot->paused != 0) {
      continue;
    }
    if (const uint32_t current = slot->run; current != run) {
      // A new snap numbers its ring from the start again.
      run = current;
      slot->lastDelivered = -1;
    }
    if (slot->ready == 0) {
      continue;
    }
    const int32_t number = slot->number;
    const RingShape ring{slot->scanMode, slot->interleave, slot->frames};
    if (!isNewFrame(number, slot->lastDelivered, ring)) {
      continue;  // ready stays set
    }
    slot->lastDelivered = number;
    SnapExInfo info{slot->handle, slot->cardIndex, frameIndexOf(number, ring), slot->context};
    if (slot->callback != nullptr && info.frameIndex >= 0) {
      slot->callback(&info);
    }
    slot->ready = 0;
  }
  return 0;
}

}  // namespace lxvidex

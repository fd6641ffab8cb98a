// The delivery thread: one per card. Every millisecond it checks whether the
// polling thread has seen the card move to a new frame and, if so, calls
// the application back with the ring entry just completed. A slow callback
// delays only its own card; frames it misses are skipped, the newest is told.
#include "frame_rules.h"
#include "snap_ex_manager.h"

namespace lxvidex {
namespace {

thread_local int32_t tDeliveringCard = 0;

}  // namespace

int32_t deliveringCard() { return tDeliveringCard; }

DWORD WINAPI deliveryThreadMain(LPVOID parameter) {
  auto* slot = static_cast<SnapExSlot*>(parameter);
  tDeliveringCard = slot->cardIndex;
  uint32_t run = slot->run;
  uint32_t lastSequence = 0;
  while (slot->stopped == 0) {
    Sleep(1);
    if (slot->paused != 0) {
      continue;
    }
    if (const uint32_t current = slot->run; current != run) {
      // A new snap numbers its ring from the start again.
      run = current;
      slot->lastDelivered = -1;
      lastSequence = 0;
    }
    if (slot->ready == 0) {
      continue;
    }
    SnapExSlot::Observation seen;
    {
      std::lock_guard<std::mutex> lock(slot->observationMutex);
      seen = slot->observation;
    }
    const int32_t number = seen.number;
    const RingShape ring{slot->scanMode, slot->interleave, slot->frames};
    if (!isNewFrame(number, slot->lastDelivered, ring)) {
      continue;  // ready stays set
    }
    slot->lastDelivered = number;
    // Counted in the units frameIndex names: frames, or field entries when a
    // frame's fields are stored apart.
    const uint32_t sequence =
        static_cast<uint32_t>(seen.completedNumbers / (countsFieldPairs(ring) ? 2 : 1));
    const uint32_t skipped = sequence > lastSequence ? sequence - lastSequence - 1 : 0;
    lastSequence = sequence;
    SnapExInfo info{slot->handle, slot->cardIndex, frameIndexOf(number, ring), slot->context,
                    seen.frameEndNs,  sequence,          skipped};
    // Announced before `paused` is looked at again: a stop that sets it
    // either stops this callback or sees it running and waits for it.
    slot->inCallback = 1;
    if (slot->callback != nullptr && info.frameIndex >= 0 && slot->paused == 0 && slot->run == run) {
      slot->callback(&info);
    }
    slot->inCallback = 0;
    slot->ready = 0;
  }
  return 0;
}

}  // namespace lxvidex

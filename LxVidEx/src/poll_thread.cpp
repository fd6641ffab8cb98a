// The polling thread: one for all cards. Every millisecond it reads the
// snapping number of each card that snaps, counts how far the card moved
// round its ring, and hands both, with the time the newest frame was
// complete, to that card's delivery thread.

#include "frame_rules.h"
#include "lx/card_type.h"
#include "lx/internal/monotonic_clock.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "snap_ex_manager.h"

namespace lxvidex {
namespace {

// The card library's field clock (registers of the TernCard cards).
constexpr uint16_t kFieldEndTimeLo = 0x0E0;
constexpr uint16_t kFieldEndTimeHi = 0x0E4;

// When the card's newest field ended: from its field clock where the card has
// one (reading the low word latches the high word), else now.
uint64_t frameEndTime(const SnapExSlot& slot) {
  if (slot.cardTypeIndex == LX_CARD_TYPE_TERNCARD) {
    int32_t low = 0, high = 0;
    if (LxGet32BitParam(slot.handle, kFieldEndTimeLo, &low) == LX_OK &&
        LxGet32BitParam(slot.handle, kFieldEndTimeHi, &high) == LX_OK && (low != 0 || high != 0)) {
      return uint64_t{static_cast<uint32_t>(high)} << 32 | static_cast<uint32_t>(low);
    }
  }
  return lxclock::monotonicNs();
}

// Counts the numbers the card moved past since the last look (the ring turns
// far slower than once a millisecond) and publishes what was seen.
void observe(SnapExSlot& slot, uint32_t run, int32_t number) {
  const RingShape ring{slot.scanMode, slot.interleave, slot.frames};
  const int32_t range = numberRange(ring);
  if (slot.pollRun != run) {
    slot.pollRun = run;
    slot.pollNumber = -1;
    slot.pollCompleted = 0;
    slot.pollFrameEndNs = 0;
  }
  if (number != slot.pollNumber && number >= 0 && number < range) {
    const int32_t from = slot.pollNumber < 0 ? 0 : slot.pollNumber;
    slot.pollCompleted += static_cast<uint64_t>((number - from + range) % range);
    slot.pollNumber = number;
    slot.pollFrameEndNs = frameEndTime(slot);
  }
  std::lock_guard<std::mutex> lock(slot.observationMutex);
  slot.observation = {number, slot.pollCompleted, slot.pollFrameEndNs};
}

}  // namespace

DWORD WINAPI pollThreadMain(LPVOID parameter) {
  auto* snapEx = static_cast<SnapExManager*>(parameter);
  while (snapEx->pollStopped == 0) {
    Sleep(1);
    for (const auto& slot : snapEx->openSlots()) {  // in card order
      if (slot->paused != 0 || slot->stopped != 0) {
        continue;
      }
      const uint32_t run = slot->run;
      int32_t number = 0;
      // A failed query is skipped; the next pass asks again.
      if (LxGetSnappingNumberExInt(slot->handle, &number) != LX_OK) {
        continue;
      }
      // Stopped (or stopped and started again) while asking: the number
      // belongs to a snap that is over.
      if (slot->paused != 0 || slot->run != run) {
        continue;
      }
      observe(*slot, run, number);
      slot->number = number;
      slot->ready = 1;
    }
  }
  return 0;
}

}  // namespace lxvidex

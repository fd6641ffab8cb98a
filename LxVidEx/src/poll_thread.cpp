// The polling thread: one for all cards. Every millisecond it reads the
// snapping number of each card that snaps and hands it to that card's
// delivery thread.
#include "lx/video_capture.h"
#include "snap_ex_manager.h"

namespace lxvidex {

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
      slot->number = number;
      slot->ready = 1;
    }
  }
  return 0;
}

}  // namespace lxvidex

// The four snap-ex entry points. Each holds its own section for its whole
// run (the sections do not exclude one another) and reaches the card only
// through the public API's ExInt operations.
#include <exception>
#include <memory>

#include "lx/internal/card_record.h"
#include "lx/internal/handle_kinds.h"
#include "lx/video_capture.h"
#include "frame_rules.h"
#include "snap_ex_manager.h"

using namespace lxvidex;

namespace {

// Runs an entry point's body; nothing thrown leaves the library.
template <typename Body>
LxStatus guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  } catch (...) {
    return LX_INTERNAL_ERROR;
  }
}

// Whether an entry point may run on the delivery thread of its own card.
enum class FromOwnCallback { Allowed, Refused };

// What every entry point does first: a handle, the card record pinned, a card
// number that names a slot, and the entry point's own section held for the
// rest of the call (on a delivery thread, waited for within a bound, since
// the application may hold it while it waits for that thread). `body` gets
// the manager, the card and its number.
template <typename Body>
LxStatus entryPoint(LxCardHandle handle, CRITICAL_SECTION SnapExManager::*section, FromOwnCallback own, Body body) {
  if (handle == nullptr) {
    return LX_CARD_HANDLE_INVALID;
  }
  return guarded([&] {
    SnapExManager& snapEx = manager();
    lxkinds::CardRecordLock card(handle);
    if (!card) {
      return LX_CARD_HANDLE_INVALID;
    }
    const int32_t cardIndex = card->cardIndex;
    if (!validCardIndex(cardIndex)) {
      return LX_INTERNAL_ERROR;
    }
    if (own == FromOwnCallback::Refused && deliveringCard() == cardIndex) {
      return LX_IN_WORK;  // it would wait for its own thread
    }
    SectionLock held(snapEx.*section);
    if (!held.entered()) {
      return LX_IN_WORK;
    }
    return body(snapEx, card, cardIndex);
  });
}

}  // namespace

LX_EXPORT LxStatus LxOpenSnapEx(LxCardHandle handle, SnapExCallback callback, void* context) {
  return entryPoint(handle, &SnapExManager::openSection, FromOwnCallback::Allowed,
                    [&](SnapExManager& snapEx, lxkinds::CardRecordLock& card, int32_t cardIndex) {
    if (snapEx.slot(cardIndex)) {
      return LX_IN_WORK;
    }
    return snapEx.openSlot(handle, cardIndex, card->cardTypeIndex, callback, context);
  });
}

LX_EXPORT LxStatus LxStartSnapEx(LxCardHandle handle, uint32_t start, int32_t interleave, uint16_t frames) {
  return entryPoint(
      handle, &SnapExManager::startSection, FromOwnCallback::Allowed,
      [&](SnapExManager& snapEx, lxkinds::CardRecordLock& card, int32_t cardIndex) {
        const auto slot = snapEx.slot(cardIndex);
        if (!slot) {
          return LX_NOT_OPEN_SNAP_EX;
        }
        snapEx.runPollThread();
        const HANDLE deliveryThread = slot->deliveryThread;
        if (deliveryThread == nullptr) {
          return LX_NOT_OPEN_SNAP_EX;
        }
        if (slot->stopped == 1) {
          slot->stopped = 0;
          if (ResumeThread(deliveryThread) == static_cast<DWORD>(-1)) {
            // No thread would deliver: start no snap that nothing can report.
            slot->stopped = 1;
            return LX_INTERNAL_ERROR;
          }
          slot->paused = 1;
        }
        if (slot->paused == 0) {
          return LX_OK;  // already snapping
        }
        const int32_t scanMode = card->scanMode;
        // A ring whose numbers cannot move never tells a second frame from
        // the first: refused rather than started and never reported.
        if (frames != 0 && distinctNumbers(RingShape{scanMode, interleave, frames}) < 2) {
          return LX_PARAMETER_INVALID;
        }
        if (const LxStatus status = LxStartSnapExInt(handle, start, interleave, frames); status != LX_OK) {
          return status;
        }
        if (frames == 0) {
          return LX_OK;  // an empty ring starts nothing; the slot stays paused
        }
        // The ring's shape is in place, and the last snap's numbers are gone,
        // before the threads see the slot snapping.
        slot->scanMode = scanMode;
        slot->frames = frames;
        slot->interleave = interleave;
        slot->ready = 0;
        slot->number = -1;
        {
          std::lock_guard<std::mutex> lock(slot->observationMutex);
          slot->observation = SnapExSlot::Observation{};
        }
        ++slot->run;
        slot->paused = 0;
        return LX_OK;
      });
}

LX_EXPORT LxStatus LxStopSnapEx(LxCardHandle handle) {
  std::shared_ptr<SnapExSlot> paused;
  const LxStatus status = entryPoint(handle, &SnapExManager::stopSection, FromOwnCallback::Allowed,
                                     [&](SnapExManager& snapEx, lxkinds::CardRecordLock&, int32_t cardIndex) {
                                       const auto slot = snapEx.slot(cardIndex);
                                       if (!slot || slot->deliveryThread == nullptr) {
                                         return LX_NOT_OPEN_SNAP_EX;
                                       }
                                       if (slot->stopped == 1) {
                                         return LX_NOT_START_SNAP_EX;
                                       }
                                       slot->paused = 1;  // the delivery thread stays, idle
                                       paused = slot;
                                       return LxStopSnapExInt(handle);
                                     });
  // Outside the section, which a callback of another card may need: once
  // this returns no callback of the card runs, so the caller may free what
  // its callback uses.
  if (paused) {
    waitForCallback(*paused);
  }
  return status;
}

LX_EXPORT LxStatus LxCloseSnapEx(LxCardHandle handle) {
  // From the card's own callback the wait for its thread would never end:
  // refused before any section is taken.
  return entryPoint(handle, &SnapExManager::closeSection, FromOwnCallback::Refused,
                    [&](SnapExManager& snapEx, lxkinds::CardRecordLock&, int32_t cardIndex) {
    const auto slot = snapEx.slot(cardIndex);
    if (!slot) {
      return LX_NOT_OPEN_SNAP_EX;
    }
    if (const HANDLE thread = slot->deliveryThread; thread != nullptr) {
      // Also a delivery thread that never ran: it is started to end.
      endThread(thread, slot->stopped);
      CloseHandle(thread);
      slot->deliveryThread = nullptr;
    }
    slot->paused = 0;
    // Acts only while the card is still in SnapEx; a close that fails here
    // keeps the slot, and closing again retries the stop.
    if (const LxStatus status = LxStopSnapExInt(handle); status != LX_OK) {
      return status;
    }
    snapEx.removeSlot(cardIndex);
    return LX_OK;
  });
}

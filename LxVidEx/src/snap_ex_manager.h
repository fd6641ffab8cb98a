// The process-wide snap-ex manager: one slot per card with snap-ex open, the
// polling thread shared by all cards, and the four entry-point sections.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "lx/snap_ex.h"

namespace lxvidex {

constexpr int32_t kMaxCardIndex = 128;  // global card numbers 1 to 128

inline bool validCardIndex(int32_t cardIndex) { return cardIndex >= 1 && cardIndex <= kMaxCardIndex; }

// Flags and numbers that the polling thread, the delivery thread and the
// entry points share are atomics; the rest is set at open and only read
// afterwards, or belongs to one thread.
struct SnapExSlot {
  std::atomic<HANDLE> deliveryThread{nullptr};  // null once closed
  DWORD deliveryThreadId = 0;
  LxCardHandle handle = nullptr;
  int32_t cardIndex = 0;
  std::atomic<uint8_t> ready{0};    // polling thread sets, delivery thread clears
  std::atomic<uint8_t> stopped{1};  // the delivery thread runs while 0
  std::atomic<uint8_t> paused{1};   // 1 while no snap runs on the card
  std::atomic<int32_t> number{-1};  // last snapping number read
  int32_t lastDelivered = -1;       // delivery thread only
  SnapExCallback callback = nullptr;
  void* context = nullptr;
  std::atomic<int32_t> scanMode{0};
  std::atomic<int32_t> interleave{1};
  std::atomic<int32_t> frames{0};
  // Counts starts, so that numbers read before a stop are never taken for
  // numbers of the next snap.
  std::atomic<uint32_t> run{0};
  // 1 from just before the delivery thread's last check of `paused` until
  // its callback returned: a stop waits for it to clear.
  std::atomic<uint8_t> inCallback{0};
  int32_t cardTypeIndex = 0;  // from the card record at open

  // What the polling thread saw last, handed to the delivery thread whole.
  struct Observation {
    int32_t number = -1;
    uint64_t completedNumbers = 0;  // numbers the card moved past since the start
    uint64_t frameEndNs = 0;        // field end of the newest completed frame
  };
  std::mutex observationMutex;
  Observation observation;  // under observationMutex
  // The polling thread's own: the run it counts for and the number it saw last.
  uint32_t pollRun = 0;
  int32_t pollNumber = -1;
  uint64_t pollCompleted = 0;
  uint64_t pollFrameEndNs = 0;
};

// The card whose delivery thread the calling thread is, or 0.
int32_t deliveringCard();

// Waits until no callback of the slot runs, pumping the calling thread's
// messages; returns at once on the slot's own delivery thread.
void waitForCallback(const SnapExSlot& slot);

// Ends `thread` at its next check and waits for it, removing and dispatching
// the calling thread's messages meanwhile (a callback may be sending to it).
// A thread created suspended and never resumed starts, sees its flag set
// and ends at once. The handle stays open.
void endThread(HANDLE thread, std::atomic<uint8_t>& stopFlag);

DWORD WINAPI pollThreadMain(LPVOID manager);
DWORD WINAPI deliveryThreadMain(LPVOID slot);

class SnapExManager {
 public:
  SnapExManager();
  ~SnapExManager();
  SnapExManager(const SnapExManager&) = delete;
  SnapExManager& operator=(const SnapExManager&) = delete;

  std::shared_ptr<SnapExSlot> slot(int32_t cardIndex);
  std::vector<std::shared_ptr<SnapExSlot>> openSlots();

  // Creates the polling thread (suspended) if there is none, then opens a
  // slot for the card with a suspended delivery thread.
  LxStatus openSlot(LxCardHandle handle, int32_t cardIndex, int32_t cardTypeIndex, SnapExCallback callback,
                    void* context);
  // Lets the polling thread run (it is created suspended).
  void runPollThread();
  // Forgets the card's slot; the last one ends the polling thread.
  void removeSlot(int32_t cardIndex);
  // At unload: ends the threads still running, within a bound each.
  bool endThreadsAtUnload();

  // One per entry point; each held for its entry point's whole run.
  CRITICAL_SECTION openSection;
  CRITICAL_SECTION closeSection;
  CRITICAL_SECTION startSection;
  CRITICAL_SECTION stopSection;

  std::atomic<uint8_t> pollStopped{1};  // the polling thread runs while 0

 private:
  bool anySlot() const;
  void endPollThread();

  // The polling thread walks the table while entry points add and remove
  // slots; a slot lives on while the polling thread still uses it.
  mutable std::mutex tableMutex_;
  std::array<std::shared_ptr<SnapExSlot>, kMaxCardIndex + 1> slots_;  // entry n for card n
  // Guards the polling thread's handle together with the decision to create
  // or end it: an open of one card may meet the close of the last other one.
  // Never held by the polling thread, so a close may wait for it.
  std::mutex pollMutex_;
  HANDLE pollThread_ = nullptr;
  DWORD pollThreadId_ = 0;
  // A reference to the module that holds this code (wherever it was loaded
  // from), held while the polling thread exists.
  HMODULE pin_ = nullptr;
};

// The instance built when the library is loaded.
SnapExManager& manager();

// How long a callback waits for an entry point's section before it gives up
// with LX_IN_WORK: the application may hold the section while it waits for
// that very callback to return (a close of the callback's card).
constexpr DWORD kCallbackSectionWaitMs = 1000;

// Holds a critical section for one scope. On a delivery thread the wait for
// it is bounded by kCallbackSectionWaitMs; entered() tells whether it was
// taken.
class SectionLock {
 public:
  explicit SectionLock(CRITICAL_SECTION& section);
  ~SectionLock() {
    if (entered_) {
      LeaveCriticalSection(&section_);
    }
  }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;
  bool entered() const { return entered_; }

 private:
  CRITICAL_SECTION& section_;
  bool entered_ = false;
};

}  // namespace lxvidex

#include "snap_ex_manager.h"

#include <new>

namespace lxvidex {
namespace {

SnapExManager* gManager = nullptr;

// A thread still running at unload is asked to end and given this long.
constexpr DWORD kUnloadWaitMs = 2000;

bool endForUnload(HANDLE thread, std::atomic<uint8_t>& stopFlag) {
  stopFlag = 1;
  ResumeThread(thread);
  return WaitForSingleObject(thread, kUnloadWaitMs) == WAIT_OBJECT_0;
}

}  // namespace

SnapExManager& manager() { return *gManager; }

SnapExManager::SnapExManager() {
  InitializeCriticalSection(&openSection);
  InitializeCriticalSection(&closeSection);
  InitializeCriticalSection(&startSection);
  InitializeCriticalSection(&stopSection);
}

SnapExManager::~SnapExManager() {
  DeleteCriticalSection(&openSection);
  DeleteCriticalSection(&closeSection);
  DeleteCriticalSection(&startSection);
  DeleteCriticalSection(&stopSection);
}

// The library stays loaded while a slot is open, so this runs with threads
// only when the process exits with snap-ex still open. The threads are asked
// to end and given a bounded time; the cards are left as they are (the
// libraries that reach them may be gone already). False when a thread is
// still running: then nothing it uses may be freed.
bool SnapExManager::endThreadsAtUnload() {
  bool ended = true;
  if (pollThread_ != nullptr) {  // first: it asks the cards for their numbers
    ended = endForUnload(pollThread_, pollStopped);
    CloseHandle(pollThread_);
    pollThread_ = nullptr;
  }
  for (auto& entry : slots_) {
    if (!entry) {
      continue;
    }
    if (HANDLE thread = entry->deliveryThread.exchange(nullptr)) {
      if (!endForUnload(thread, entry->stopped)) {
        ended = false;
        new std::shared_ptr<SnapExSlot>(entry);  // still in use: never freed
      }
      CloseHandle(thread);
    }
    entry.reset();
  }
  return ended;
}

std::shared_ptr<SnapExSlot> SnapExManager::slot(int32_t cardIndex) {
  std::lock_guard<std::mutex> lock(tableMutex_);
  return validCardIndex(cardIndex) ? slots_[cardIndex] : nullptr;
}

std::vector<std::shared_ptr<SnapExSlot>> SnapExManager::openSlots() {
  std::vector<std::shared_ptr<SnapExSlot>> open;
  std::lock_guard<std::mutex> lock(tableMutex_);
  for (int32_t n = 1; n <= kMaxCardIndex; ++n) {
    if (slots_[n]) {
      open.push_back(slots_[n]);
    }
  }
  return open;
}

bool SnapExManager::anySlot() const {
  std::lock_guard<std::mutex> lock(tableMutex_);
  for (const auto& entry : slots_) {
    if (entry) {
      return true;
    }
  }
  return false;
}

LxStatus SnapExManager::openSlot(LxCardHandle handle, int32_t cardIndex, int32_t cardTypeIndex,
                                 SnapExCallback callback, void* context) {
  std::lock_guard<std::mutex> pollLock(pollMutex_);
  if (pollThread_ == nullptr) {
    // Threads run the library's code: it must not unload under them, even
    // when the application releases it with snap-ex still open.
    if (pin_ == nullptr &&
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&pollThreadMain), &pin_)) {
      return LX_INTERNAL_ERROR;  // without the pin a release could unmap the threads' code
    }
    pollStopped = 1;
    pollThread_ = CreateThread(nullptr, 0, pollThreadMain, this, CREATE_SUSPENDED, &pollThreadId_);
    if (pollThread_ == nullptr) {
      if (pin_ != nullptr) {
        FreeLibrary(pin_);
        pin_ = nullptr;
      }
      return LX_NOT_ENOUGH_SYSTEM_MEMORY;
    }
  }
  std::shared_ptr<SnapExSlot> slot(new (std::nothrow) SnapExSlot);
  HANDLE thread = nullptr;
  if (slot) {
    slot->handle = handle;
    slot->cardIndex = cardIndex;
    slot->cardTypeIndex = cardTypeIndex;
    slot->callback = callback;
    slot->context = context;
    thread = CreateThread(nullptr, 0, deliveryThreadMain, slot.get(), CREATE_SUSPENDED, &slot->deliveryThreadId);
  }
  if (thread == nullptr) {
    // A polling thread made for this open only must not stay behind.
    if (!anySlot()) {
      endPollThread();
    }
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
  slot->deliveryThread = thread;
  // The threads read the card record while the slot is open: the handle is
  // held locked until the close, and the card cannot be ended meanwhile.
  GlobalLock(handle);
  std::lock_guard<std::mutex> lock(tableMutex_);
  slots_[cardIndex] = std::move(slot);
  return LX_OK;
}

void SnapExManager::runPollThread() {
  std::lock_guard<std::mutex> pollLock(pollMutex_);
  if (pollThread_ != nullptr && pollStopped == 1) {
    pollStopped = 0;
    if (ResumeThread(pollThread_) == static_cast<DWORD>(-1)) {
      pollStopped = 1;
    }
  }
}

void SnapExManager::removeSlot(int32_t cardIndex) {
  std::lock_guard<std::mutex> pollLock(pollMutex_);
  {
    std::lock_guard<std::mutex> lock(tableMutex_);
    if (slots_[cardIndex]) {
      GlobalUnlock(slots_[cardIndex]->handle);
    }
    slots_[cardIndex].reset();
  }
  if (!anySlot()) {
    endPollThread();
  }
}

void SnapExManager::endPollThread() {
  if (pollThread_ == nullptr) {
    return;
  }
  endThread(pollThread_, pollStopped);
  CloseHandle(pollThread_);
  pollThread_ = nullptr;
  pollThreadId_ = 0;
  // Called from an entry point, whose caller holds its own reference: this
  // is never the last one.
  if (pin_ != nullptr) {
    FreeLibrary(pin_);
    pin_ = nullptr;
  }
}

SectionLock::SectionLock(CRITICAL_SECTION& section) : section_(section) {
  if (deliveringCard() == 0) {
    EnterCriticalSection(&section_);
    entered_ = true;
    return;
  }
  for (DWORD waited = 0; !(entered_ = TryEnterCriticalSection(&section_) != FALSE) && waited < kCallbackSectionWaitMs;
       ++waited) {
    Sleep(1);
  }
}

namespace {

// Takes one message of the calling thread, if any, and dispatches it.
void pumpOneMessage() {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace

void waitForCallback(const SnapExSlot& slot) {
  if (GetCurrentThreadId() == slot.deliveryThreadId) {
    return;  // the callback itself
  }
  while (slot.inCallback != 0) {
    Sleep(1);
    pumpOneMessage();
  }
}

void endThread(HANDLE thread, std::atomic<uint8_t>& stopFlag) {
  stopFlag = 1;
  // Starts a thread that was never resumed; a running one is not affected.
  ResumeThread(thread);
  for (;;) {
    Sleep(1);
    DWORD code = 0;
    if (!GetExitCodeThread(thread, &code) || code != STILL_ACTIVE) {
      return;
    }
    pumpOneMessage();
  }
}

}  // namespace lxvidex

// Library attach and detach: the manager lives from the first load to the
// last release of the library.
namespace {

__attribute__((constructor)) void attachSnapEx() { lxvidex::gManager = new lxvidex::SnapExManager; }

__attribute__((destructor)) void detachSnapEx() {
  if (lxvidex::gManager->endThreadsAtUnload()) {
    delete lxvidex::gManager;
  }
  lxvidex::gManager = nullptr;
}

}  // namespace

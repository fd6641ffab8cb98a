// The open-count map: created at library attach (zeroed by the process that
// created it) and kept past detach while any counter is not zero. The attach
// does not boot a machine (a program that links the library but never opens
// a card must not start one); when no machine ran then, the first card open
// creates the map.
#include "open_count_map.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include <windows.h>

#include "win32/autoboot.h"

namespace lxvideo {

namespace {

constexpr const char* kMapName = "OpenCountMap";
constexpr uint32_t kZeroedBytes = 512;

std::atomic<HANDLE> creationHandle{nullptr};

// The map opened and mapped for one use; undone on every path.
class MappedCounters {
 public:
  MappedCounters() : mapping_(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kMapName)) {
    if (mapping_ != nullptr) {
      view_ = static_cast<uint32_t*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, kOpenCountMapBytes));
    }
  }
  ~MappedCounters() {
    if (view_ != nullptr) {
      UnmapViewOfFile(view_);
    }
    if (mapping_ != nullptr) {
      CloseHandle(mapping_);
    }
  }
  MappedCounters(const MappedCounters&) = delete;
  MappedCounters& operator=(const MappedCounters&) = delete;

  bool valid() const { return view_ != nullptr; }
  // Counters are shared with other processes: every access is atomic.
  std::atomic_ref<uint32_t> counter(int cardIndex) const { return std::atomic_ref<uint32_t>(view_[cardIndex - 1]); }

  bool anyOpen() const {
    for (int k = 1; k <= kMostCardIndex; ++k) {
      if (counter(k).load() != 0) {
        return true;
      }
    }
    return false;
  }

 private:
  HANDLE mapping_;
  uint32_t* view_ = nullptr;
};

bool isCardIndex(int cardIndex) { return cardIndex >= 1 && cardIndex <= kMostCardIndex; }

// Serialises creations: the creator zeroes the map, which must not happen
// after another thread of this process has counted an open in it.
std::mutex creationMutex;

void createOpenCountMap() {
  std::lock_guard lock(creationMutex);
  if (creationHandle.load() != nullptr) {
    return;
  }
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kOpenCountMapBytes, kMapName);
  if (mapping == nullptr) {
    return;
  }
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    if (void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kOpenCountMapBytes)) {
      std::memset(view, 0, kZeroedBytes);
      UnmapViewOfFile(view);
    }
  }
  creationHandle.store(mapping);
}

__attribute__((constructor)) void attachOpenCountMap() {
  Win32SuspendAutoBoot();
  createOpenCountMap();
  Win32ResumeAutoBoot();
}

__attribute__((destructor)) void detachOpenCountMap() {
  HANDLE mapping = creationHandle.load();
  if (mapping == nullptr) {
    return;
  }
  MappedCounters counters;
  if (counters.valid() && counters.anyOpen()) {
    return;  // the map outlives this detach
  }
  creationHandle.store(nullptr);
  CloseHandle(mapping);
}

}  // namespace

bool addOpenCount(int cardIndex) {
  if (creationHandle.load() == nullptr) {
    createOpenCountMap();
  }
  MappedCounters counters;
  if (!counters.valid() || !isCardIndex(cardIndex)) {
    return false;
  }
  counters.counter(cardIndex).fetch_add(1);
  return true;
}

bool dropOpenCount(int cardIndex) {
  MappedCounters counters;
  if (!counters.valid() || !isCardIndex(cardIndex)) {
    return false;
  }
  std::atomic_ref<uint32_t> count = counters.counter(cardIndex);
  uint32_t held = count.load();
  while (held > 0 && !count.compare_exchange_weak(held, held - 1)) {
  }
  return true;
}

bool readOpenCount(int cardIndex, uint32_t* count) {
  MappedCounters counters;
  if (!counters.valid() || !isCardIndex(cardIndex)) {
    return false;
  }
  *count = counters.counter(cardIndex).load();
  return true;
}

}  // namespace lxvideo

// What the fake card libraries and the fake static-memory service see of the
// world: configured card counts, a "registry" and a reserved static-memory
// block, and counters of what was asked of them. It lives in a library that
// the test program links, so it outlives every load and unload of the fakes.
#pragma once

#include <stdint.h>

#include "lx/export.h"

inline constexpr uint32_t kFakeStaticMemBytes = 16 * 4096;
inline constexpr uint32_t kFakeStaticMemBase = 0x10000000;
inline constexpr uint32_t kFakeDynamicMemBase = 0x20000000;

struct FakeModuleEvents {
  int32_t attaches;
  int32_t detaches;
};

struct FakeHost {
  // Card libraries.
  int32_t ternCardCount;
  int32_t heronCount;
  int32_t ternCardCountCalls;
  int32_t heronCountCalls;
  FakeModuleEvents ternCard;
  FakeModuleEvents heron;
  FakeModuleEvents staticMemLibrary;

  // Static-memory service: RequiredMemorySize, ReturnValue, the reserved block.
  uint32_t requiredPages;
  uint32_t reservationValid;
  int32_t getStaticMemCalls;
  int32_t setStaticMemCalls;
  int32_t lockCalls;
  int32_t unlockCalls;
  int32_t fillCalls;
  int32_t dynamicAllocCalls;
  int32_t dynamicFreeCalls;
  bool failSetStaticMem;
  bool failMapping;  // lock finds the window but cannot map it
  bool failUnlock;
  bool failDynamicAlloc;
  bool failDynamicFree;
  void* refusedBlock;  // the last block whose free was refused: still allocated
  uint8_t staticMemory[kFakeStaticMemBytes];
};

LX_EXPORT FakeHost* fakeHost();

// A card library with the second context layout, built twice: as the Egret
// library ("Egretd32.dll") and as the Stork library ("Storkd32.dll"). It has
// one card; its start function answers a result the test sets, or a
// context holding known values at the layout's byte positions. Unlike the
// card library of this stack it never loads the static-memory library, so a
// process using it holds that library only while the device manager does.
#include <stdint.h>
#include <string.h>

#include <windows.h>

#include "lx/export.h"

#define CONCAT_(a, b) a##b
#define CONCAT(a, b) CONCAT_(a, b)
#define PREFIXED(name) CONCAT(FAKE_PREFIX, name)

namespace {
uint64_t nextBeginResult = 0;
bool beginResultSet = false;
uint64_t maskAddresses[2] = {0, 0};
int32_t maskCalls = 0;
int32_t oscillator = -1;
uint32_t snapAddress = 0;
int32_t snapFrames = 0;
}  // namespace

// Test controls.
LX_EXPORT void PREFIXED(FakeSetBeginResult)(uint64_t result) {
  nextBeginResult = result;
  beginResultSet = true;
}
LX_EXPORT int32_t PREFIXED(FakeMaskCalls)(uint64_t* first, uint64_t* second) {
  *first = maskAddresses[0];
  *second = maskAddresses[1];
  return maskCalls;
}
LX_EXPORT int32_t PREFIXED(FakeOscillator)() { return oscillator; }
LX_EXPORT int32_t PREFIXED(FakeSnap)(uint32_t* address) {
  *address = snapAddress;
  return snapFrames;
}

LX_EXPORT int32_t PREFIXED(GetCardNumber)() { return 1; }

LX_EXPORT uint64_t CONCAT(Begin, FAKE_PREFIX)(int32_t) {
  if (beginResultSet) {
    beginResultSet = false;
    return nextBeginResult;
  }
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 128);
  auto* context = static_cast<uint8_t*>(GlobalLock(block));
  const int32_t values[] = {2, 11, 22, 333, 144, 5};
  const size_t positions[] = {28, 60, 64, 68, 72, 76};
  for (int k = 0; k < 6; ++k) {
    memcpy(context + positions[k], &values[k], 4);
  }
  GlobalUnlock(block);
  return reinterpret_cast<uintptr_t>(block);
}

LX_EXPORT int32_t CONCAT(End, FAKE_PREFIX)(uint64_t context) {
  return GlobalFree(reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(context))) == nullptr ? 1 : 0;
}

LX_EXPORT int32_t PREFIXED(SetMask)(uint64_t, uint8_t kind, void* address) {
  ++maskCalls;
  if (kind < 2) {
    maskAddresses[kind] = reinterpret_cast<uintptr_t>(address);
  }
  return 1;
}

// A snap that hands over every frame asked for, at the address it was given.
LX_EXPORT int32_t PREFIXED(CaptureToMem)(uint64_t, uint32_t address, uint32_t, uint16_t, uint32_t, uint16_t frames) {
  snapAddress = address;
  snapFrames = frames;
  return frames;
}

LX_EXPORT int32_t PREFIXED(SelectCryOSC)(uint64_t, uint8_t value) {
  oscillator = value;
  return 1;
}

// A fake TernCard card library: counts the cards the host configures, and
// exports one function of each name form. Like the real one it imports the
// static-memory service library, so an open card keeps that library loaded.
#include <stdint.h>

#include "fake_host.h"

extern "C" int32_t HmbGetStaticMem(uint32_t* requiredPages, uint32_t* physicalAddress);

namespace {
__attribute__((constructor)) void attach() { ++fakeHost()->ternCard.attaches; }
__attribute__((destructor)) void detach() { ++fakeHost()->ternCard.detaches; }
}  // namespace

LX_EXPORT int32_t TernCardGetCardNumber() {
  ++fakeHost()->ternCardCountCalls;
  return fakeHost()->ternCardCount;
}

LX_EXPORT uint64_t BeginTernCard(int32_t) { return 0x7E510001; }
LX_EXPORT int32_t EndTernCard(uint64_t) { return 0x7E510002; }
LX_EXPORT int32_t TernCardCapture(uint64_t) { return 0x7E510003; }
LX_EXPORT int32_t GetI2CParam(uint64_t) { return 0x7E510004; }

// The longest name that composition can form: "TernCard" + 91 characters,
// 99 in all.
LX_EXPORT int32_t
TernCardXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX() {
  return 0x7E510099;
}

LX_EXPORT int32_t TernCardStaticMemPages() {
  uint32_t pages = 0;
  uint32_t base = 0;
  HmbGetStaticMem(&pages, &base);
  return static_cast<int32_t>(pages);
}

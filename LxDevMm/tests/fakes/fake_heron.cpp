// A fake library of the Heron card type, so that counting and the global
// card numbers can be checked across two types.
#include <stdint.h>

#include "fake_host.h"

namespace {
__attribute__((constructor)) void attach() { ++fakeHost()->heron.attaches; }
__attribute__((destructor)) void detach() { ++fakeHost()->heron.detaches; }
}  // namespace

LX_EXPORT int32_t HeronGetCardNumber() {
  ++fakeHost()->heronCountCalls;
  return fakeHost()->heronCount;
}

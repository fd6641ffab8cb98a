#include "fake_host.h"

namespace {
FakeHost gHost;
}

LX_EXPORT FakeHost* fakeHost() { return &gHost; }

// A fake stack library for the module tests. Its attach and detach (constructor
// and destructor functions) report to the test program, which exports the two
// callbacks; FAKE_NAME and FAKE_ID come from the build.
#include <lx/export.h>

extern "C" void lxTestModuleAttached(const char* name) __attribute__((weak));
extern "C" void lxTestModuleDetached(const char* name) __attribute__((weak));

#ifdef FAKE_IMPORTS
extern "C" int FakeImportedValue();
#endif

namespace {
__attribute__((constructor)) void attach() {
  if (lxTestModuleAttached) lxTestModuleAttached(FAKE_NAME);
}
__attribute__((destructor)) void detach() {
  if (lxTestModuleDetached) lxTestModuleDetached(FAKE_NAME);
}
}  // namespace

LX_EXPORT int FakeModuleId() { return FAKE_ID; }

#ifdef FAKE_IMPORTS
LX_EXPORT int FakeImporterValue() { return FakeImportedValue() + 1; }
#else
LX_EXPORT int FakeImportedValue() { return 100 * FAKE_ID; }
#endif

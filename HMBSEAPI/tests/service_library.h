// "Hmbseapi.dll" loaded by name for one scope, as a card library holds it,
// with its exports resolved.
#pragma once

#include <windows.h>

#include "lx/hmbseapi.h"

class ServiceLibrary {
  // First: the exports below are resolved from it as they are initialised.
  HMODULE module_;

 public:
  ServiceLibrary() : module_(LoadLibraryA("Hmbseapi.dll")) {}
  ~ServiceLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  ServiceLibrary(const ServiceLibrary&) = delete;
  ServiceLibrary& operator=(const ServiceLibrary&) = delete;

  bool loaded() const { return module_ != nullptr; }

  template <typename Function>
  Function get(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }

  decltype(&HmbStaticMemLock) lock = get<decltype(&HmbStaticMemLock)>("HmbStaticMemLock");
  decltype(&HmbStaticMemUnlock) unlock = get<decltype(&HmbStaticMemUnlock)>("HmbStaticMemUnlock");
  decltype(&HmbGetStaticMem) getStaticMem = get<decltype(&HmbGetStaticMem)>("HmbGetStaticMem");
  decltype(&HmbSetStaticMem) setStaticMem = get<decltype(&HmbSetStaticMem)>("HmbSetStaticMem");
  decltype(&HmbDynamicMemAlloc) allocate = get<decltype(&HmbDynamicMemAlloc)>("HmbDynamicMemAlloc");
  decltype(&HmbDynamicMemFree) release = get<decltype(&HmbDynamicMemFree)>("HmbDynamicMemFree");
  decltype(&HmbGetDisplayInfo) displayInfo = get<decltype(&HmbGetDisplayInfo)>("HmbGetDisplayInfo");
  decltype(&HmbTransformMem) transform = get<decltype(&HmbTransformMem)>("HmbTransformMem");
  decltype(&HmbFillStaticMem) fill = get<decltype(&HmbFillStaticMem)>("HmbFillStaticMem");
};

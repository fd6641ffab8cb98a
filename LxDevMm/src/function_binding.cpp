#include "function_binding.h"

#include <cstdio>

#include <windows.h>

#include "card_type_table.h"

namespace lxdevmm {

bool composeExportName(char (&buffer)[kExportNameBytes], const char* prefix, const char* name, bool composeName,
                       bool prefixFirst) {
  int length;
  if (!composeName) {
    length = std::snprintf(buffer, sizeof buffer, "%s", name);
  } else if (prefixFirst) {
    length = std::snprintf(buffer, sizeof buffer, "%s%s", prefix, name);
  } else {
    length = std::snprintf(buffer, sizeof buffer, "%s%s", name, prefix);
  }
  // A truncated name could resolve a different, shorter export; refuse it.
  return length >= 0 && static_cast<size_t>(length) < sizeof buffer;
}

LxStatus bindCardFunction(int cardTypeIndex, const char* name, LxDevProc* out, bool composeName, bool prefixFirst) {
  const CardTypeEntry& type = kCardTypeTable[cardTypeIndex];
  HMODULE module = GetModuleHandleA(type.moduleFileName);
  if (module == nullptr) {
    return LX_OPEN_DRIVER_FAILED;
  }
  char exportName[kExportNameBytes];
  if (!composeExportName(exportName, type.prefix, name, composeName, prefixFirst)) {
    *out = nullptr;
    return LX_NOT_SUPPORT_INTERFACE;
  }
  *out = reinterpret_cast<LxDevProc>(GetProcAddress(module, exportName));
  return *out != nullptr ? LX_OK : LX_NOT_SUPPORT_INTERFACE;
}

}  // namespace lxdevmm

LX_EXPORT LxStatus LxDevGetFuncAddr(int cardTypeIndex, const char* name, LxDevProc* out, uint8_t composeName,
                                    uint8_t prefixFirst) {
  if (!LxIsCardTypeIndex(cardTypeIndex) || name == nullptr || out == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  return lxdevmm::bindCardFunction(cardTypeIndex, name, out, composeName != 0, prefixFirst != 0);
}

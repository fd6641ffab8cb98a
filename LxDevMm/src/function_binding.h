// Binding of card-library functions by composed export names.
#pragma once

#include "lx/devmm.h"

namespace lxdevmm {

inline constexpr size_t kExportNameBytes = 100;

// Composes the export name: name alone, prefix + name, or name + prefix.
// Returns false when the result would not fit in kExportNameBytes with its
// terminator; the buffer then holds nothing usable.
bool composeExportName(char (&buffer)[kExportNameBytes], const char* prefix, const char* name, bool composeName,
                       bool prefixFirst);

// Resolves a function of the type's card library if that library is already
// loaded in the process. LX_OPEN_DRIVER_FAILED leaves *out alone;
// LX_NOT_SUPPORT_INTERFACE sets it to null. cardTypeIndex must be valid.
LxStatus bindCardFunction(int cardTypeIndex, const char* name, LxDevProc* out, bool composeName, bool prefixFirst);

}  // namespace lxdevmm

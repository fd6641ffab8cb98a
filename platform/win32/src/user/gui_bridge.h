// The registered GUI bridge, for the layer's window services.
#pragma once

#include <windows.h>
#include <win32/gui_bridge.h>

namespace lx::win32::user {

// The registered table, or null; a table stays valid for the process's life.
const Win32GuiBridge* guiBridge();

}  // namespace lx::win32::user

// Device contexts of toolkit devices (win32/gui_bridge.h): a printer's page,
// a print preview, an image. Their drawing goes to the device's functions.
// All functions run under gdiMutex().
#pragma once

#include <windows.h>
#include <win32/gui_bridge.h>

namespace lx::win32::gdi {

bool isDeviceDc(HDC dc);
// False for a value that is not an open toolkit device context.
bool findDeviceDc(HDC dc, Win32DrawDevice* device);

}  // namespace lx::win32::gdi

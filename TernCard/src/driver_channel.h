// The one path of every request from the library to the card's driver.
// The library sends with DeviceIoControl; the unit tests put a register file
// in its place so that register traffic can be checked without a machine.
#pragma once

#include <windows.h>

namespace terncard {

using DeviceControlFunction = BOOL (*)(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                                       DWORD outBytes, LPDWORD returned, LPOVERLAPPED overlapped);

// A synchronous device control request on the card's handle.
BOOL sendDeviceControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                       DWORD* returned);

// Replaces DeviceIoControl (null restores it). For tests only.
void setDeviceControlForTesting(DeviceControlFunction function);

}  // namespace terncard

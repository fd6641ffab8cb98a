// Internal: NT status to Win32 error, as the Windows user-mode libraries map
// them, and the calling thread's last NT status.
#pragma once

#include <windows.h>

#include <cstdint>

namespace lx::win32::client {

DWORD win32ErrorFromNtStatus(int32_t status);
// Records the status of a finished request and sets the Win32 last error
// from it; returns TRUE for a success status (NT_SUCCESS).
BOOL finishWithNtStatus(int32_t status);
// The machine could not be reached: the device is not connected.
BOOL failMachineUnreachable();

}  // namespace lx::win32::client

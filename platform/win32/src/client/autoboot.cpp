// Win32SuspendAutoBoot / Win32ResumeAutoBoot: a library's attach connects
// only to a machine that runs.
#include <windows.h>

#include "machine_session.h"
#include "win32/autoboot.h"

WIN32_API void WINAPI Win32SuspendAutoBoot(void) { lx::win32::client::suspendAutoBoot(); }
WIN32_API void WINAPI Win32ResumeAutoBoot(void) { lx::win32::client::resumeAutoBoot(); }

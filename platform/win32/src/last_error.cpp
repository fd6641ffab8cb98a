// GetLastError / SetLastError: one value per thread.
#include <windows.h>

namespace {
thread_local DWORD tlsLastError = ERROR_SUCCESS;
}

WIN32_API DWORD WINAPI GetLastError(void) { return tlsLastError; }

WIN32_API void WINAPI SetLastError(DWORD error) { tlsLastError = error; }

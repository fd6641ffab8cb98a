// Win32 subset: access tokens and privileges, and ExitWindowsEx.
//
// Every process of the machine runs as its one user, whose token holds the
// shutdown privilege (disabled until enabled, as on Windows) and no other.
// ExitWindowsEx asks the machine to restart or power off, as
// `lxmachine reboot` and `lxmachine shutdown` do; the processes attached to
// the machine lose it, as programs end on a real restart.
#pragma once

#include "windows.h"

#define TOKEN_ADJUST_PRIVILEGES 0x0020u
#define TOKEN_QUERY 0x0008u

#define SE_PRIVILEGE_ENABLED 0x00000002u
#define SE_SHUTDOWN_NAME "SeShutdownPrivilege"

#ifndef ERROR_NOT_ALL_ASSIGNED
#define ERROR_NOT_ALL_ASSIGNED 1300L
#endif
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_PRIVILEGE_NOT_HELD 1314L
#ifndef ERROR_NOT_READY
#define ERROR_NOT_READY 21L
#endif

#define EWX_LOGOFF 0x00000000u
#define EWX_SHUTDOWN 0x00000001u
#define EWX_REBOOT 0x00000002u
#define EWX_FORCE 0x00000004u
#define EWX_POWEROFF 0x00000008u

typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES;

typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

#ifdef __cplusplus
static_assert(sizeof(LUID) == 8, "LUID layout");
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12, "LUID_AND_ATTRIBUTES layout");
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "TOKEN_PRIVILEGES layout");
#endif

// The pseudo-handle of the calling process.
WIN32_API HANDLE WINAPI GetCurrentProcess(void);
// Only the calling process's token (process (HANDLE)-1 or GetCurrentProcess);
// another handle gives ERROR_INVALID_HANDLE. Closed with CloseHandle.
WIN32_API BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
// system must be null (this computer); an unknown name gives
// ERROR_NO_SUCH_PRIVILEGE.
WIN32_API BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid);
// Enables or disables the listed privileges. As on Windows, TRUE also when a
// privilege the token does not hold was asked for; GetLastError then says
// ERROR_NOT_ALL_ASSIGNED, else ERROR_SUCCESS. Needs TOKEN_ADJUST_PRIVILEGES.
WIN32_API BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                            DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                            PDWORD returnLength);
// EWX_REBOOT restarts the machine, EWX_SHUTDOWN and EWX_POWEROFF power it off
// (EWX_FORCE is accepted and changes nothing); the request is sent and the
// call returns without waiting for it. Needs the shutdown privilege enabled
// in the process's token (ERROR_PRIVILEGE_NOT_HELD); EWX_LOGOFF is refused
// with ERROR_INVALID_PARAMETER; ERROR_NOT_READY when no machine answers.
WIN32_API BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason);

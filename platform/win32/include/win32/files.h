// Win32 subset: CreateFileA, DeviceIoControl, ReadFile, WriteFile on device
// handles. Device paths ("\\.\NAME" and device-interface paths "\\?\...")
// are opened in the machine's kernel; every request is synchronous, runs on
// the calling thread's connection to the machine and may be cancelled by
// CloseHandle of the same handle on another thread. Other paths are files of
// the host.
#pragma once

#include "windows.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u

#define ERROR_BAD_COMMAND 22L
#define ERROR_BAD_LENGTH 24L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_EOF 38L
#define ERROR_NOT_READY 21L
#define ERROR_DEV_NOT_EXIST 55L
#define ERROR_FILE_EXISTS 80L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_BUSY 170L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_INVALID_ADDRESS 487L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_PENDING 997L
#define ERROR_NOACCESS 998L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_NO_SYSTEM_RESOURCES 1450L
#define ERROR_DEVICE_REMOVED 1617L
#define ERROR_INVALID_USER_BUFFER 1784L

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

WIN32_API HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                    LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                                    DWORD flagsAndAttributes, HANDLE templateFile);
// Synchronous only: an OVERLAPPED pointer is refused with ERROR_INVALID_PARAMETER.
// A failing NT status is mapped to a Win32 error as Windows maps it; output of
// a warning status (STATUS_BUFFER_OVERFLOW) is still copied, with FALSE and
// ERROR_MORE_DATA.
WIN32_API BOOL WINAPI DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                                      LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                                      LPOVERLAPPED overlapped);
WIN32_API BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD numberOfBytesToRead, LPDWORD numberOfBytesRead,
                               LPOVERLAPPED overlapped);
WIN32_API BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD numberOfBytesToWrite,
                                LPDWORD numberOfBytesWritten, LPOVERLAPPED overlapped);

// Not Win32: the NT status of the calling thread's last request to the
// machine's kernel (0 after a success), for tests and diagnostics.
WIN32_API LONG WINAPI LxGetLastNtStatus(void);

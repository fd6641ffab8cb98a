// The Win32 subset the stack is written against, on Linux.
// Names, types and documented behaviour follow Win32; the functions live in
// the compat layer library (libwin32.so). Further declarations are split by
// area into the win32/*.h headers included at the end.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define WIN32_EXTERN extern "C"
#else
#define WIN32_EXTERN extern
#endif
#define WINAPI
#define WIN32_API WIN32_EXTERN __attribute__((visibility("default")))

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int INT;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef uint16_t USHORT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t SIZE_T;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef HANDLE* LPHANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef HANDLE HGLOBAL;
typedef LONG_PTR LRESULT;
typedef int (*FARPROC)(void);
typedef BOOL* LPBOOL;
typedef LONG* PLONG;

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER;
typedef LARGE_INTEGER* PLARGE_INTEGER;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INFINITE 0xFFFFFFFFu
#define MAX_PATH 260

// ---- Error codes (GetLastError) ------------------------------------------
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_DISCARDED 157L
#define ERROR_NOT_LOCKED 158L
#define ERROR_BAD_EXE_FORMAT 193L

// ---- Modules -------------------------------------------------------------
// "X.dll" (or "X") loads libX.so from the directories of $LX_MODULE_PATH
// (colon separated), then from the stack's library directory (the directory
// holding libwin32.so). The file name maps as given, case included. A name
// with a slash is a path. HMODULE is the dlopen handle; dlopen reference
// counts are the Win32 reference counts, so library attach/detach
// (constructor/destructor functions) run at the first load and at the last
// FreeLibrary. Errors: ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND,
// ERROR_BAD_EXE_FORMAT, ERROR_INVALID_PARAMETER.
WIN32_API HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
WIN32_API HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
WIN32_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
WIN32_API BOOL WINAPI FreeLibrary(HMODULE module);
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, moduleName is an address inside
// the module (a library finds itself wherever it was loaded from). Unless
// GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT is given, a reference is added
// that FreeLibrary releases; GET_MODULE_HANDLE_EX_FLAG_PIN keeps the module
// until the process ends.
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u
WIN32_API BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module);

// ---- Handles and waiting ---------------------------------------------------
// Kernel-object handles (threads, device files, file mappings, mutexes ...)
// are values of one per-process table: never 0, multiples of 4, below 2^31, and
// a closed value is not handed out again for a long time.
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

// Closes a handle of any kind; FALSE with ERROR_INVALID_HANDLE for a value
// that is not an open handle. The pseudo-handles (HANDLE)-1 (the current
// process, also INVALID_HANDLE_VALUE) and (HANDLE)-2 (the current thread)
// close successfully without effect, as on Windows.
WIN32_API BOOL WINAPI CloseHandle(HANDLE object);
// Waits until the object is signalled (a thread: has ended) or the timeout in
// milliseconds (INFINITE: none) passes: WAIT_OBJECT_0, WAIT_TIMEOUT, or
// WAIT_FAILED with ERROR_INVALID_HANDLE for a bad or non-waitable handle.
WIN32_API DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);

// ---- Errors --------------------------------------------------------------
WIN32_API DWORD WINAPI GetLastError(void);
WIN32_API void WINAPI SetLastError(DWORD error);

// ---- Further areas ---------------------------------------------------------
#include "win32/memory.h"
#include "win32/threads.h"
#include "win32/files.h"
#include "win32/setupapi.h"
#include "win32/registry.h"
#include "win32/namedobjects.h"
#include "win32/version.h"
#include "win32/gdi.h"
#include "win32/gdi_drawing.h"
#include "win32/messages.h"
#include "win32/windows_ui.h"
#include "win32/profile.h"
#include "win32/security.h"

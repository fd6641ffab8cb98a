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

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INFINITE 0xFFFFFFFFu
#define MAX_PATH 260

// ---- Modules -------------------------------------------------------------
// "X.dll" loads libX.so from the directories of $LX_MODULE_PATH (colon
// separated), then from the stack's library directory.
WIN32_API HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
WIN32_API HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
WIN32_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
WIN32_API BOOL WINAPI FreeLibrary(HMODULE module);

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

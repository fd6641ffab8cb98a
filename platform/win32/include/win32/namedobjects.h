// Win32 subset: file mappings (page-file backed) and mutexes. Named objects
// live in the machine's object manager and are shared by every process of
// the machine; an object exists while any process holds a handle to it.
// Handles are closed with CloseHandle; a mutex handle is waited on with
// WaitForSingleObject (WAIT_ABANDONED when its owner ended without releasing it).
#pragma once

#include "windows.h"

#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define PAGE_WRITECOPY 0x08u

#define FILE_MAP_COPY 0x0001u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

#define MUTEX_ALL_ACCESS 0x001F0001u
#define SYNCHRONIZE 0x00100000u

#ifndef ERROR_ALREADY_EXISTS
#define ERROR_ALREADY_EXISTS 183L
#endif
#define ERROR_NOT_OWNER 288L
#define ERROR_MAPPED_ALIGNMENT 1132L

// Only page-file backed mappings: file must be INVALID_HANDLE_VALUE.
WIN32_API HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                                           DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCSTR name);
WIN32_API HANDLE WINAPI OpenFileMappingA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
WIN32_API LPVOID WINAPI MapViewOfFile(HANDLE fileMappingObject, DWORD desiredAccess, DWORD fileOffsetHigh,
                                      DWORD fileOffsetLow, SIZE_T numberOfBytesToMap);
WIN32_API BOOL WINAPI UnmapViewOfFile(LPCVOID baseAddress);

WIN32_API HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
WIN32_API HANDLE WINAPI OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
WIN32_API BOOL WINAPI ReleaseMutex(HANDLE mutex);

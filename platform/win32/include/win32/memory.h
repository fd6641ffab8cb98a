// Win32 subset: GlobalAlloc family.
// GMEM_FIXED blocks are plain pointers. GMEM_MOVEABLE blocks are handles from a
// handle table: the values fit in 31 bits, are never 0 to 4 or 0xFFFFFFFF, so
// (HGLOBAL)(uintptr_t)(uint32_t)h and a sign-extending round trip both give the
// handle back, and a freed handle value is not handed out again until about
// 2^29 further moveable allocations have been made. All functions are thread
// safe.
#pragma once

#include "windows.h"

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

// GlobalFlags results.
#define GMEM_LOCKCOUNT 0x00FFu
#define GMEM_DISCARDED 0x4000u
#define GMEM_INVALID_HANDLE 0x8000u

// Other flag bits (GMEM_DDESHARE, GMEM_NOCOMPACT, ...) are accepted and
// ignored. A moveable block of size 0 is a discarded block: it cannot be locked.
WIN32_API HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
// Moveable: increments the lock count (saturating at 255) and returns the
// block's address; null for a freed, foreign or discarded handle.
WIN32_API LPVOID WINAPI GlobalLock(HGLOBAL mem);
// Returns non-zero while the block stays locked; zero with
// GetLastError() == NO_ERROR when the count reaches 0, ERROR_NOT_LOCKED when
// it was not locked, ERROR_INVALID_HANDLE for a bad handle.
WIN32_API BOOL WINAPI GlobalUnlock(HGLOBAL mem);
// Returns NULL on success (locked blocks are freed too), the handle on failure.
WIN32_API HGLOBAL WINAPI GlobalFree(HGLOBAL mem);
// Lock count in the low byte, GMEM_DISCARDED for a size-0 moveable block,
// GMEM_INVALID_HANDLE for a bad handle; 0 for a fixed block.
WIN32_API UINT WINAPI GlobalFlags(HGLOBAL mem);
// Requested size in bytes; 0 for a bad handle (ERROR_INVALID_HANDLE).
WIN32_API SIZE_T WINAPI GlobalSize(HGLOBAL mem);

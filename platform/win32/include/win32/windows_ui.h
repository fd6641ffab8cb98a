// Win32 subset: windows, window timers and repainting. Windows belong to the
// program's GUI toolkit; a program registers a GUI bridge (win32/gui_bridge.h)
// that answers for them. Without a bridge no window exists: every call fails
// with ERROR_INVALID_WINDOW_HANDLE.
//
// Screen coordinates are those of the machine's screen, one to one with the
// host window system's: pixel (x, y) of the host screen is pixel (x, y) of the
// display adapter's video memory. What lies beyond the adapter's mode shows no
// video.
#pragma once

#include "windows.h"

#ifndef HWND_DEFINED
#define HWND_DEFINED
typedef struct HWND__* HWND;
#endif
#ifndef RECT_DEFINED
#define RECT_DEFINED
typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *PRECT, *LPRECT;
#endif
typedef struct HRGN__* HRGN;
typedef uintptr_t UINT_PTR;

#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_NOT_ENOUGH_QUOTA 1816L

#define WM_PAINT 0x000Fu
#define WM_TIMER 0x0113u

typedef void (*TIMERPROC)(HWND window, UINT message, UINT_PTR id, DWORD time);

// TRUE while the handle names a window that has not been destroyed.
WIN32_API BOOL WINAPI IsWindow(HWND window);
// The window's outer rectangle in screen coordinates.
WIN32_API BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
// The client area in client coordinates: (0, 0, width, height).
WIN32_API BOOL WINAPI GetClientRect(HWND window, LPRECT rect);
// A client point made a screen point.
WIN32_API BOOL WINAPI ClientToScreen(HWND window, LPPOINT point);
// The window and all its ancestors are shown (it may still be covered).
WIN32_API BOOL WINAPI IsWindowVisible(HWND window);

#define RDW_INVALIDATE 0x0001u
#define RDW_INTERNALPAINT 0x0002u
#define RDW_ERASE 0x0004u
#define RDW_VALIDATE 0x0008u
#define RDW_NOINTERNALPAINT 0x0010u
#define RDW_NOERASE 0x0020u
#define RDW_NOCHILDREN 0x0040u
#define RDW_ALLCHILDREN 0x0080u
#define RDW_UPDATENOW 0x0100u
#define RDW_ERASENOW 0x0200u
#define RDW_FRAME 0x0400u
#define RDW_NOFRAME 0x0800u

// Invalidates a rectangle (client coordinates of window; screen coordinates
// when window is null: every top-level window under it) and, with
// RDW_UPDATENOW, repaints it before returning when called on the window's
// thread (from another thread the repaint is queued to it). region must be
// null.
WIN32_API BOOL WINAPI RedrawWindow(HWND window, const RECT* rect, HRGN region, UINT flags);

// A timer of window with the caller's identifier (an existing one of the same
// window and identifier is replaced); elapse below 10 ms counts as 10 ms.
// Every elapse the procedure runs on the window's thread, from its event loop
// (a Win32 message loop or the toolkit's own); with no procedure a WM_TIMER
// message is posted to that thread. Returns the identifier, 0 on failure
// (window null, unknown, or owned by another thread). When the window is
// destroyed its timers end, each procedure running one last time with the
// handle that no longer names a window (IsWindow is FALSE), so that its
// owner can let go of the window.
WIN32_API UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure);
// After it returns the procedure of that timer is not called again.
WIN32_API BOOL WINAPI KillTimer(HWND window, UINT_PTR id);

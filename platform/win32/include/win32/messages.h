// Win32 subset: thread message queues. Messages posted to a thread wait in
// its queue until it removes them; window services (window procedures,
// window messages) come from a GUI bridge that a program registers
// (win32/gui_bridge.h); a window message carries its window in hwnd.
#pragma once

#include "windows.h"

#ifndef HWND_DEFINED
#define HWND_DEFINED
typedef struct HWND__* HWND;
#endif

typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;  // GetTickCount when it was posted
  POINT pt;    // always 0, 0: no cursor here
} MSG, *PMSG, *LPMSG;

#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u

#define WM_NULL 0x0000u
#define WM_QUIT 0x0012u
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#define ERROR_INVALID_THREAD_ID 1444L

// A thread gets its queue at its first PeekMessageA, as a Windows thread does
// at its first user-interface call; posting to a thread without one gives
// FALSE with ERROR_INVALID_THREAD_ID. The queue goes with the thread.
WIN32_API BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// The oldest message of the calling thread's queue whose number lies in
// filterMin..filterMax (0, 0: any), copied to *msg; PM_REMOVE also takes it
// off the queue. FALSE when none waits. Never blocks. A window filter other
// than null matches that window's messages only; (HWND)-1 asks for thread
// messages only, as on Windows. With a GUI bridge, the toolkit's waiting
// events of the calling thread (timers, repaints) run first.
WIN32_API BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
// Posts to the queue of the window's thread (null: the calling thread's).
WIN32_API BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Waits for a message (running the toolkit's events meanwhile) and removes
// it: FALSE for WM_QUIT, -1 for a null msg.
WIN32_API BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
// No keyboard messages exist to translate: always FALSE.
WIN32_API BOOL WINAPI TranslateMessage(const MSG* msg);
// A WM_TIMER message with a timer procedure in lParam calls it; the
// toolkit's widgets have no window procedures, so other messages do nothing.
WIN32_API LRESULT WINAPI DispatchMessageA(const MSG* msg);

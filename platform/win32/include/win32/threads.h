// Win32 subset: threads, critical sections, Sleep, tick count, performance
// counter, process and thread identifiers.
#pragma once

#include "windows.h"

// ---- Threads ---------------------------------------------------------------
typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID parameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define CREATE_SUSPENDED 0x00000004u
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000u
#define STILL_ACTIVE 259u

#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

// A POSIX thread behind a handle. With CREATE_SUSPENDED the thread exists
// (its identifier is valid, its priority can be set) but the start routine
// runs only once ResumeThread brings the suspend count to 0. The stack is at
// least stackSize bytes. The handle is signalled when the routine returns;
// its return value is the exit code. Closing the handle does not stop the
// thread. Security attributes are ignored.
WIN32_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                     LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                                     DWORD creationFlags, LPDWORD threadId);
// Returns the previous suspend count (0 for a running thread), or (DWORD)-1
// with ERROR_INVALID_HANDLE.
WIN32_API DWORD WINAPI ResumeThread(HANDLE thread);
// STILL_ACTIVE while the thread has not ended (suspended included).
WIN32_API BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
// Only a thread that has not started its routine yet (created suspended and
// never resumed) can be terminated: it never runs and ends with exitCode.
// A running thread gives FALSE with ERROR_NOT_SUPPORTED; an ended one TRUE.
WIN32_API BOOL WINAPI TerminateThread(HANDLE thread, DWORD exitCode);
// THREAD_PRIORITY_IDLE runs the thread under SCHED_IDLE; every other level
// runs it under SCHED_OTHER (leaving SCHED_IDLE needs CAP_SYS_NICE or a
// sufficient RLIMIT_NICE, else FALSE with ERROR_ACCESS_DENIED). An undefined
// level gives FALSE with ERROR_INVALID_PARAMETER.
WIN32_API BOOL WINAPI SetThreadPriority(HANDLE thread, int priority);
// The level last set (THREAD_PRIORITY_NORMAL initially), or
// THREAD_PRIORITY_ERROR_RETURN with ERROR_INVALID_HANDLE.
WIN32_API int WINAPI GetThreadPriority(HANDLE thread);
// The pseudo-handle (HANDLE)-2 of the calling thread, accepted by
// SetThreadPriority, GetThreadPriority and GetExitCodeThread.
WIN32_API HANDLE WINAPI GetCurrentThread(void);
// The kernel thread id (gettid), equal to the id CreateThread reported.
WIN32_API DWORD WINAPI GetCurrentThreadId(void);
WIN32_API DWORD WINAPI GetCurrentProcessId(void);

// ---- Critical sections -------------------------------------------------------
// Recursive, as on Windows. The caller owns the storage, which holds a
// pthread recursive mutex (40 bytes on x86-64, as the Windows x64 structure).
#if defined(__x86_64__)
#define LX_CRITICAL_SECTION_BYTES 40
#else
#define LX_CRITICAL_SECTION_BYTES 64
#endif
typedef struct _RTL_CRITICAL_SECTION {
  union {
    void* alignment;
    long long alignment64;
    unsigned char bytes[LX_CRITICAL_SECTION_BYTES];
  } opaque;
} CRITICAL_SECTION, *PCRITICAL_SECTION, *LPCRITICAL_SECTION;

WIN32_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
WIN32_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
WIN32_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
WIN32_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
WIN32_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

// ---- Time ------------------------------------------------------------------
// Sleep(0) yields; Sleep(INFINITE) never returns.
WIN32_API void WINAPI Sleep(DWORD milliseconds);
// Milliseconds of the monotonic clock (since boot); wraps at 32 bits.
WIN32_API DWORD WINAPI GetTickCount(void);
WIN32_API ULONGLONG WINAPI GetTickCount64(void);
// The monotonic clock in units of 100 ns: the frequency is 10 000 000.
WIN32_API BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
WIN32_API BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// Critical sections (pthread recursive mutexes in caller-owned storage),
// Sleep, tick counts and the performance counter.
#include <windows.h>

#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION),
              "CRITICAL_SECTION must hold a pthread mutex");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION),
              "CRITICAL_SECTION must be aligned for a pthread mutex");
#if defined(__x86_64__)
static_assert(sizeof(CRITICAL_SECTION) == 40, "the Windows x64 size");
#endif

namespace {
pthread_mutex_t* mutexOf(LPCRITICAL_SECTION section) {
  return reinterpret_cast<pthread_mutex_t*>(section->opaque.bytes);
}

ULONGLONG monotonicNanoseconds() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000000000ull + static_cast<ULONGLONG>(ts.tv_nsec);
}
}  // namespace

WIN32_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutexattr_t attr;
  ::pthread_mutexattr_init(&attr);
  ::pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  ::pthread_mutex_init(new (section->opaque.bytes) pthread_mutex_t, &attr);
  ::pthread_mutexattr_destroy(&attr);
}

WIN32_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
  ::pthread_mutex_lock(mutexOf(section));
}

WIN32_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
  ::pthread_mutex_unlock(mutexOf(section));
}

WIN32_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return ::pthread_mutex_trylock(mutexOf(section)) == 0 ? TRUE : FALSE;
}

WIN32_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
  ::pthread_mutex_destroy(mutexOf(section));
}

WIN32_API void WINAPI Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    ::sched_yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) ::pause();
  }
  struct timespec request;
  request.tv_sec = milliseconds / 1000;
  request.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &request, &request) == EINTR) {
  }
}

WIN32_API DWORD WINAPI GetTickCount(void) {
  return static_cast<DWORD>(monotonicNanoseconds() / 1000000ull);
}

WIN32_API ULONGLONG WINAPI GetTickCount64(void) { return monotonicNanoseconds() / 1000000ull; }

WIN32_API BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (count == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  count->QuadPart = static_cast<LONGLONG>(monotonicNanoseconds() / 100ull);
  return TRUE;
}

WIN32_API BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  frequency->QuadPart = 10000000;
  return TRUE;
}

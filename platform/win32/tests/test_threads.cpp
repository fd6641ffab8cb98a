// Threads, waiting, handles, critical sections and time.
#include <windows.h>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::atomic<int> gRuns{0};

DWORD WINAPI returnParameter(LPVOID parameter) {
  ++gRuns;
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

struct Gate {
  std::atomic<bool> open{false};
  std::atomic<bool> entered{false};
  std::atomic<DWORD> id{0};
  std::atomic<int> policy{-1};
  std::atomic<bool> left{false};  // the routine's last access to the gate
};

DWORD WINAPI waitAtGate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  gate->id = GetCurrentThreadId();
  gate->policy = sched_getscheduler(0);
  gate->entered = true;
  while (!gate->open) Sleep(1);
  gate->left = true;
  return 7;
}

bool waitUntil(const std::atomic<bool>& flag, int ms = 5000) {
  for (int i = 0; i < ms && !flag; ++i) Sleep(1);
  return flag;
}

}  // namespace

TEST(Threads, RunsAndReportsExitCode) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, returnParameter, reinterpret_cast<LPVOID>(uintptr_t{42}), 0, &id);
  ASSERT_NE(nullptr, thread);
  EXPECT_NE(0u, id);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(thread) & 3u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(thread), reinterpret_cast<uintptr_t>(thread) & 0x7FFFFFFFu);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(42u, code);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));  // stays signalled
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, SuspendedThreadStartsOnlyWhenResumed) {
  Gate gate;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, waitAtGate, &gate, CREATE_SUSPENDED, &id);
  ASSERT_NE(nullptr, thread);
  EXPECT_NE(0u, id);
  Sleep(50);
  EXPECT_FALSE(gate.entered);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(STILL_ACTIVE, code);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 0));

  EXPECT_EQ(1u, ResumeThread(thread));  // previous suspend count
  ASSERT_TRUE(waitUntil(gate.entered));
  EXPECT_EQ(id, gate.id.load());
  EXPECT_EQ(0u, ResumeThread(thread));  // running: count was already 0
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(STILL_ACTIVE, code);

  gate.open = true;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(7u, code);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, WaitTimesOutWhileRunning) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, waitAtGate, &gate, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  ULONGLONG before = GetTickCount64();
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 100));
  ULONGLONG elapsed = GetTickCount64() - before;
  EXPECT_GE(elapsed, 99u);
  EXPECT_LT(elapsed, 2000u);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 0));
  gate.open = true;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, ClosingTheHandleLeavesTheThreadRunning) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, waitAtGate, &gate, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  ASSERT_TRUE(waitUntil(gate.entered));
  EXPECT_TRUE(CloseHandle(thread));
  // The value is no longer a handle.
  SetLastError(0);
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(thread, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(static_cast<DWORD>(-1), ResumeThread(thread));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(thread));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  gate.open = true;  // lets it end
  EXPECT_TRUE(waitUntil(gate.left));
}

TEST(Threads, TerminateBeforeStartNeverRunsTheRoutine) {
  const int runsBefore = gRuns;
  HANDLE thread = CreateThread(nullptr, 0, returnParameter, nullptr, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_TRUE(TerminateThread(thread, 99));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 1000));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(99u, code);
  EXPECT_EQ(1u, ResumeThread(thread));  // the count is kept; the routine does not run
  Sleep(20);
  EXPECT_EQ(runsBefore, gRuns.load());
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, TerminateOfRunningThreadIsRefused) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, waitAtGate, &gate, 0, nullptr);
  ASSERT_TRUE(waitUntil(gate.entered));
  EXPECT_FALSE(TerminateThread(thread, 1));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
  gate.open = true;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, IdlePriorityRunsUnderSchedIdle) {
  Gate gate;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, waitAtGate, &gate, CREATE_SUSPENDED, &id);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(thread));
  EXPECT_EQ(SCHED_OTHER, sched_getscheduler(static_cast<pid_t>(id)));
  ASSERT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_IDLE));
  EXPECT_EQ(THREAD_PRIORITY_IDLE, GetThreadPriority(thread));
  EXPECT_EQ(SCHED_IDLE, sched_getscheduler(static_cast<pid_t>(id)));
  ResumeThread(thread);
  ASSERT_TRUE(waitUntil(gate.entered));
  EXPECT_EQ(SCHED_IDLE, gate.policy.load());  // seen by the thread itself

  // Back to normal: SCHED_OTHER, when the process may leave SCHED_IDLE.
  if (SetThreadPriority(thread, THREAD_PRIORITY_NORMAL)) {
    EXPECT_EQ(SCHED_OTHER, sched_getscheduler(static_cast<pid_t>(id)));
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(thread));
  } else {
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(THREAD_PRIORITY_IDLE, GetThreadPriority(thread));
  }
  gate.open = true;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL));  // ended: stored only
  EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, GetThreadPriority(thread));
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, PriorityErrors) {
  HANDLE thread = CreateThread(nullptr, 0, returnParameter, nullptr, CREATE_SUSPENDED, nullptr);
  SetLastError(0);
  EXPECT_FALSE(SetThreadPriority(thread, 5));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_TRUE(TerminateThread(thread, 0));
  EXPECT_TRUE(CloseHandle(thread));
  SetLastError(0);
  EXPECT_FALSE(SetThreadPriority(thread, THREAD_PRIORITY_IDLE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_EQ(THREAD_PRIORITY_ERROR_RETURN, GetThreadPriority(thread));
}

TEST(Threads, CurrentThreadPseudoHandle) {
  std::thread other([] {
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE));
    EXPECT_EQ(SCHED_IDLE, sched_getscheduler(0));
    EXPECT_EQ(THREAD_PRIORITY_IDLE, GetThreadPriority(GetCurrentThread()));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
    EXPECT_EQ(STILL_ACTIVE, code);
  });
  other.join();
  EXPECT_TRUE(CloseHandle(GetCurrentThread()));
}

TEST(Threads, Identifiers) {
  EXPECT_EQ(static_cast<DWORD>(getpid()), GetCurrentProcessId());
  EXPECT_EQ(static_cast<DWORD>(syscall(SYS_gettid)), GetCurrentThreadId());
  DWORD other = 0;
  std::thread t([&] { other = GetCurrentThreadId(); });
  t.join();
  EXPECT_NE(GetCurrentThreadId(), other);
}

TEST(Threads, LargeStackIsHonoured) {
  auto probe = [](LPVOID) -> DWORD {
    volatile char buffer[12 * 1024 * 1024];
    buffer[0] = 1;
    buffer[sizeof(buffer) - 1] = 2;
    return buffer[0] + buffer[sizeof(buffer) - 1];
  };
  HANDLE thread = CreateThread(nullptr, 16 * 1024 * 1024, probe, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(3u, code);
  CloseHandle(thread);
}

TEST(Handles, InvalidValues) {
  for (uintptr_t v : {uintptr_t{0}, uintptr_t{4}, uintptr_t{0x12345678}, uintptr_t{0x7FFF8000}}) {
    HANDLE h = reinterpret_cast<HANDLE>(v);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(h)) << v;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(h, 0));
  }
  EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE));  // the current-process pseudo-handle
  EXPECT_EQ(nullptr, CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(Handles, ValuesAreNotReusedRightAway) {
  HANDLE first = CreateThread(nullptr, 0, returnParameter, nullptr, 0, nullptr);
  WaitForSingleObject(first, INFINITE);
  CloseHandle(first);
  for (int i = 0; i < 50; ++i) {
    HANDLE next = CreateThread(nullptr, 0, returnParameter, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, next);
    EXPECT_NE(first, next);
    WaitForSingleObject(next, INFINITE);
    CloseHandle(next);
  }
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(first, 0));
}

TEST(CriticalSections, AreRecursive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  std::atomic<int> otherGot{-1};
  std::thread other([&] { otherGot = TryEnterCriticalSection(&cs); });
  other.join();
  EXPECT_EQ(FALSE, otherGot.load());  // owned by this thread
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread other2([&] { otherGot = TryEnterCriticalSection(&cs); });
  other2.join();
  EXPECT_EQ(FALSE, otherGot.load());  // still held once
  LeaveCriticalSection(&cs);
  std::thread other3([&] {
    otherGot = TryEnterCriticalSection(&cs);
    if (otherGot) LeaveCriticalSection(&cs);
  });
  other3.join();
  EXPECT_EQ(TRUE, otherGot.load());
  DeleteCriticalSection(&cs);
}

TEST(CriticalSections, ExcludeOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        EnterCriticalSection(&cs);
        EnterCriticalSection(&cs);
        ++counter;
        LeaveCriticalSection(&cs);
        LeaveCriticalSection(&cs);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(80000, counter);
  DeleteCriticalSection(&cs);
}

TEST(Time, SleepAndTickCount) {
  ULONGLONG before64 = GetTickCount64();
  DWORD before = GetTickCount();
  Sleep(50);
  ULONGLONG elapsed64 = GetTickCount64() - before64;
  DWORD elapsed = GetTickCount() - before;  // unsigned difference survives the wrap
  EXPECT_GE(elapsed64, 49u);
  EXPECT_LT(elapsed64, 1000u);
  EXPECT_GE(elapsed, 49u);
  EXPECT_LT(elapsed, 1000u);
  ULONGLONG now64 = GetTickCount64();
  DWORD now32 = GetTickCount();
  EXPECT_LE(static_cast<DWORD>(now32 - static_cast<DWORD>(now64)), 1u);  // the low 32 bits
  Sleep(0);
}

TEST(Time, PerformanceCounter) {
  LARGE_INTEGER frequency, a, b;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(10000000, frequency.QuadPart);
  ASSERT_TRUE(QueryPerformanceCounter(&a));
  Sleep(20);
  ASSERT_TRUE(QueryPerformanceCounter(&b));
  LONGLONG us = (b.QuadPart - a.QuadPart) * 1000000 / frequency.QuadPart;
  EXPECT_GE(us, 19000);
  EXPECT_LT(us, 1000000);
  EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

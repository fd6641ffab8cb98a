// Threads: CreateThread, ResumeThread, GetExitCodeThread, TerminateThread,
// thread priorities, thread and process identifiers.
//
// Every thread is a detached POSIX thread that holds a reference to its
// ThreadObject; the handle table holds another. The new thread publishes its
// kernel id, then parks until its suspend count is 0 (or it is terminated
// before it started), runs the start routine, and records the exit code.
#include "handle_table.h"

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>

namespace lx::win32 {
namespace {

const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(intptr_t{-2});

pid_t currentKernelThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

class ThreadObject : public KernelObject {
 public:
  ThreadObject(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD suspendCount)
      : KernelObject(HandleKind::Thread), start_(start), parameter_(parameter),
        suspendCount_(suspendCount) {}

  DWORD wait(DWORD milliseconds) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (milliseconds == INFINITE) {
      cv_.wait(lock, [this] { return finished_; });
      return WAIT_OBJECT_0;
    }
    bool done = cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return finished_; });
    return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

  // Body of the POSIX thread.
  void run(const std::shared_ptr<ThreadObject>& self);

  pid_t waitForId() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return tid_ != 0; });
    return tid_;
  }

  DWORD resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD previous = suspendCount_;
    if (suspendCount_ > 0 && --suspendCount_ == 0) cv_.notify_all();
    return previous;
  }

  DWORD exitCode() {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_ ? exitCode_ : STILL_ACTIVE;
  }

  BOOL terminate(DWORD code) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return TRUE;
    if (started_) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    terminated_ = true;
    finished_ = true;
    exitCode_ = code;
    cv_.notify_all();
    return TRUE;
  }

  BOOL setPriority(int priority) {
    std::lock_guard<std::mutex> lock(mutex_);
    // While finished_ is false the thread cannot leave (it takes this mutex
    // first), so its kernel id still names it.
    if (!finished_ && !applyPriority(tid_, priority)) return FALSE;
    priority_ = priority;
    return TRUE;
  }

  int priority() {
    std::lock_guard<std::mutex> lock(mutex_);
    return priority_;
  }

  static bool applyPriority(pid_t tid, int priority) {
    struct sched_param param {};
    param.sched_priority = 0;
    int policy = priority == THREAD_PRIORITY_IDLE ? SCHED_IDLE : SCHED_OTHER;
    if (::sched_getscheduler(tid) == policy) return true;
    if (::sched_setscheduler(tid, policy, &param) != 0) {
      SetLastError(errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
      return false;
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  const LPTHREAD_START_ROUTINE start_;
  const LPVOID parameter_;
  DWORD suspendCount_;
  pid_t tid_ = 0;
  bool started_ = false;
  bool finished_ = false;
  bool terminated_ = false;
  DWORD exitCode_ = STILL_ACTIVE;
  int priority_ = THREAD_PRIORITY_NORMAL;
};

// The ThreadObject of the calling thread when CreateThread made it.
thread_local ThreadObject* tlsCurrentThread = nullptr;
// The priority level of a thread that CreateThread did not make.
thread_local int tlsForeignPriority = THREAD_PRIORITY_NORMAL;

void ThreadObject::run(const std::shared_ptr<ThreadObject>& self) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    tid_ = currentKernelThreadId();
    cv_.notify_all();
    cv_.wait(lock, [this] { return suspendCount_ == 0 || terminated_; });
    if (terminated_) return;
    started_ = true;
  }
  tlsCurrentThread = self.get();
  DWORD code = start_(parameter_);
  tlsCurrentThread = nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  exitCode_ = code;
  finished_ = true;
  cv_.notify_all();
}

void* threadMain(void* arg) {
  // Own the reference that CreateThread passed; the object lives at least as
  // long as the thread.
  std::shared_ptr<ThreadObject> self(std::move(*static_cast<std::shared_ptr<ThreadObject>*>(arg)));
  delete static_cast<std::shared_ptr<ThreadObject>*>(arg);
  self->run(self);
  return nullptr;
}

bool validPriority(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
      return true;
    default:
      return false;
  }
}

std::shared_ptr<ThreadObject> lookupThread(HANDLE handle) {
  return lookupHandleAs<ThreadObject>(handle, HandleKind::Thread);
}

}  // namespace
}  // namespace lx::win32

using namespace lx::win32;

WIN32_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize,
                                     LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                                     DWORD creationFlags, LPDWORD threadId) {
  if (startAddress == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = std::make_shared<ThreadObject>(startAddress, parameter,
                                               (creationFlags & CREATE_SUSPENDED) ? 1u : 0u);
  HANDLE handle = insertHandle(object);
  if (handle == nullptr) return nullptr;

  pthread_attr_t attr;
  ::pthread_attr_init(&attr);
  ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  size_t defaultStack = 0;
  ::pthread_attr_getstacksize(&attr, &defaultStack);
  if (stackSize > defaultStack) {
    long page = ::sysconf(_SC_PAGESIZE);
    size_t rounded = (stackSize + page - 1) / page * page;
    ::pthread_attr_setstacksize(&attr, rounded);
  }
  auto* arg = new std::shared_ptr<ThreadObject>(object);
  pthread_t thread;
  int rc = ::pthread_create(&thread, &attr, &threadMain, arg);
  ::pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete arg;
    removeHandle(handle);
    SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD id = static_cast<DWORD>(object->waitForId());
  if (threadId != nullptr) *threadId = id;
  return handle;
}

WIN32_API DWORD WINAPI ResumeThread(HANDLE thread) {
  auto object = lookupThread(thread);
  if (!object) return static_cast<DWORD>(-1);
  return object->resume();
}

WIN32_API BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  if (exitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (thread == kCurrentThreadPseudoHandle) {
    *exitCode = STILL_ACTIVE;
    return TRUE;
  }
  auto object = lookupThread(thread);
  if (!object) return FALSE;
  *exitCode = object->exitCode();
  return TRUE;
}

WIN32_API BOOL WINAPI TerminateThread(HANDLE thread, DWORD exitCode) {
  auto object = lookupThread(thread);
  if (!object) return FALSE;
  return object->terminate(exitCode);
}

WIN32_API BOOL WINAPI SetThreadPriority(HANDLE thread, int priority) {
  if (!validPriority(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (thread == kCurrentThreadPseudoHandle) {
    if (tlsCurrentThread != nullptr) return tlsCurrentThread->setPriority(priority);
    if (!ThreadObject::applyPriority(currentKernelThreadId(), priority)) return FALSE;
    tlsForeignPriority = priority;
    return TRUE;
  }
  auto object = lookupThread(thread);
  if (!object) return FALSE;
  return object->setPriority(priority);
}

WIN32_API int WINAPI GetThreadPriority(HANDLE thread) {
  if (thread == kCurrentThreadPseudoHandle)
    return tlsCurrentThread != nullptr ? tlsCurrentThread->priority() : tlsForeignPriority;
  auto object = lookupThread(thread);
  if (!object) return THREAD_PRIORITY_ERROR_RETURN;
  return object->priority();
}

WIN32_API HANDLE WINAPI GetCurrentThread(void) { return kCurrentThreadPseudoHandle; }

WIN32_API DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(currentKernelThreadId()); }

WIN32_API DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(::getpid()); }

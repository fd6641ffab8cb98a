// Thread message queues: PostThreadMessageA, PostMessageA, PeekMessageA,
// GetMessageA, TranslateMessage, DispatchMessageA. With a GUI bridge the
// pump also runs the toolkit's events of the calling thread, so window timers
// and repaints happen inside a Win32 message loop.
//
// One queue per thread that has asked for messages, found by kernel thread
// id in a process-wide table. The thread's thread-local owner removes the
// entry when the thread ends, so a later thread that reuses the id starts
// without a queue.
#include <windows.h>

#include "user/gui_bridge.h"

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct MessageQueue {
  std::mutex mutex;
  std::deque<MSG> messages;
};

struct QueueTable {
  std::mutex mutex;
  std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> queues;
};

// Never destroyed: threads may end (and drop their queues) during exit.
QueueTable& table() {
  static QueueTable* instance = new QueueTable;
  return *instance;
}

std::shared_ptr<MessageQueue> queueOf(DWORD threadId) {
  QueueTable& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.queues.find(threadId);
  return it == t.queues.end() ? nullptr : it->second;
}

// Owns the calling thread's entry in the table for the thread's life.
class ThreadQueueOwner {
 public:
  ~ThreadQueueOwner() {
    if (queue_ == nullptr) return;
    QueueTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.queues.find(id_);
    if (it != t.queues.end() && it->second == queue_) t.queues.erase(it);
  }

  MessageQueue& queue() {
    if (queue_ == nullptr) {
      id_ = GetCurrentThreadId();
      queue_ = std::make_shared<MessageQueue>();
      QueueTable& t = table();
      std::lock_guard<std::mutex> lock(t.mutex);
      t.queues[id_] = queue_;
    }
    return *queue_;
  }

 private:
  DWORD id_ = 0;
  std::shared_ptr<MessageQueue> queue_;
};

thread_local ThreadQueueOwner tlsQueue;

bool matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
  const HWND threadOnly = reinterpret_cast<HWND>(intptr_t{-1});
  if (window != nullptr && window != threadOnly && msg.hwnd != window) return false;
  if (window == threadOnly && msg.hwnd != nullptr) return false;
  if (filterMin == 0 && filterMax == 0) return true;
  return msg.message >= filterMin && msg.message <= filterMax;
}

}  // namespace

namespace {

BOOL post(DWORD threadId, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<MessageQueue> queue = queueOf(threadId);
  if (queue == nullptr) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  MSG msg{};
  msg.hwnd = window;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = GetTickCount();
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->messages.push_back(msg);
  return TRUE;
}

BOOL takeMessage(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  MessageQueue& queue = tlsQueue.queue();
  std::lock_guard<std::mutex> lock(queue.mutex);
  for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
    if (!matches(*it, window, filterMin, filterMax)) continue;
    *msg = *it;
    if (removeFlags & PM_REMOVE) queue.messages.erase(it);
    return TRUE;
  }
  return FALSE;
}

void runToolkitEvents(DWORD milliseconds) {
  const Win32GuiBridge* bridge = lx::win32::user::guiBridge();
  if (bridge != nullptr) {
    bridge->processEvents(milliseconds);
  } else if (milliseconds != 0) {
    Sleep(1);
  }
}

}  // namespace

WIN32_API BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  return post(threadId, nullptr, message, wParam, lParam);
}

WIN32_API BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window == nullptr) {
    return post(GetCurrentThreadId(), nullptr, message, wParam, lParam);
  }
  const Win32GuiBridge* bridge = lx::win32::user::guiBridge();
  const DWORD thread = bridge != nullptr && bridge->isWindow(window) ? bridge->windowThread(window) : 0;
  if (thread == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return post(thread, window, message, wParam, lParam);
}

WIN32_API BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  tlsQueue.queue();  // the queue exists before toolkit events may post into it
  runToolkitEvents(0);
  return takeMessage(msg, window, filterMin, filterMax, removeFlags);
}

WIN32_API BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  tlsQueue.queue();
  for (;;) {
    runToolkitEvents(0);
    if (takeMessage(msg, window, filterMin, filterMax, PM_REMOVE)) {
      return msg->message == WM_QUIT ? FALSE : TRUE;
    }
    runToolkitEvents(5);  // sleeps in the toolkit's wait while nothing arrives
  }
}

WIN32_API BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

WIN32_API LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  // A timer message carrying a procedure runs it, as on Windows.
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    auto procedure = reinterpret_cast<TIMERPROC>(msg->lParam);
    procedure(msg->hwnd, WM_TIMER, static_cast<UINT_PTR>(msg->wParam), msg->time);
  }
  return 0;
}

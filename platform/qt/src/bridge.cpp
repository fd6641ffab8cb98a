// The table of window services the compat layer calls, over the window table,
// Qt timers and Qt's event loop.
#include "lxqt/bridge.h"

#include <win32/gui_bridge.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "window_table.h"

namespace lxqt {
namespace {

RECT toRect(const QRect& r) {
  return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

bool onGuiThread() {
  return QCoreApplication::instance() != nullptr && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Runs `work` on the GUI thread: at once when called there, else queued.
template <typename Work>
void onGui(Work work) {
  if (onGuiThread()) {
    work();
  } else {
    QMetaObject::invokeMethod(&WindowTable::instance(), std::move(work), Qt::QueuedConnection);
  }
}

// ---- timers -----------------------------------------------------------------

struct WindowTimer {
  QPointer<QTimer> timer;  // owned by the window's widget, so it dies with it
  std::shared_ptr<std::atomic<bool>> live;
  TIMERPROC procedure;
};

std::mutex timersMutex;
std::map<std::pair<HWND, UINT_PTR>, WindowTimer>& timers() {
  static auto* all = new std::map<std::pair<HWND, UINT_PTR>, WindowTimer>;
  return *all;
}

void retire(WindowTimer& entry) {
  entry.live->store(false);
  QPointer<QTimer> timer = entry.timer;
  onGui([timer] {
    if (timer) timer->deleteLater();
  });
}

// A destroyed window's timers end with it; each procedure runs one last
// time, with a handle that no longer names a window, so that whoever relies
// on the timer learns that the window is gone.
void endTimersOf(HWND window) {
  std::vector<std::pair<UINT_PTR, TIMERPROC>> last;
  {
    std::lock_guard lock(timersMutex);
    for (auto it = timers().begin(); it != timers().end();) {
      if (it->first.first != window) {
        ++it;
        continue;
      }
      if (it->second.live->exchange(false) && it->second.procedure != nullptr) {
        last.emplace_back(it->first.second, it->second.procedure);
      }
      it = timers().erase(it);
    }
  }
  for (const auto& [id, procedure] : last) procedure(window, WM_TIMER, id, GetTickCount());
}

// ---- the table's functions -----------------------------------------------------

BOOL isWindow(HWND window) {
  WindowRecord record;
  return WindowTable::instance().find(window, &record);
}

BOOL windowRect(HWND window, RECT* rect) {
  WindowRecord record;
  if (!WindowTable::instance().find(window, &record)) return FALSE;
  *rect = toRect(record.frame);
  return TRUE;
}

BOOL clientRect(HWND window, RECT* rect) {
  WindowRecord record;
  if (!WindowTable::instance().find(window, &record)) return FALSE;
  *rect = RECT{0, 0, record.client.width(), record.client.height()};
  return TRUE;
}

BOOL clientOrigin(HWND window, POINT* point) {
  WindowRecord record;
  if (!WindowTable::instance().find(window, &record)) return FALSE;
  *point = POINT{record.client.left(), record.client.top()};
  return TRUE;
}

BOOL isVisible(HWND window) {
  WindowRecord record;
  return WindowTable::instance().find(window, &record) && record.visible;
}

DWORD windowThread(HWND window) {
  WindowRecord record;
  return WindowTable::instance().find(window, &record) ? record.thread : 0;
}

void repaint(QWidget* widget, const QRect& area, UINT flags) {
  if (area.isEmpty()) return;
  if (flags & RDW_UPDATENOW) {
    widget->repaint(area);
  } else {
    widget->update(area);
  }
}

BOOL redraw(HWND window, const RECT* rect, UINT flags) {
  if ((flags & (RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_UPDATENOW)) == 0) return TRUE;
  const bool whole = rect == nullptr;
  const QRect area = whole ? QRect() : QRect(QPoint(rect->left, rect->top), QPoint(rect->right - 1, rect->bottom - 1));
  if (window == nullptr) {
    onGui([whole, area, flags] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        const QRect mine(top->mapToGlobal(QPoint(0, 0)), top->size());
        const QRect hit = whole ? mine : (mine & area);
        repaint(top, hit.translated(-mine.topLeft()), flags);
      }
    });
    return TRUE;
  }
  WindowRecord record;
  if (!WindowTable::instance().find(window, &record)) return FALSE;
  QPointer<QWidget> widget = record.widget;
  onGui([widget, whole, area, flags] {
    if (widget) repaint(widget, whole ? widget->rect() : (widget->rect() & area), flags);
  });
  return TRUE;
}

UINT_PTR setTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure) {
  QWidget* widget = WindowTable::instance().widgetOf(window);
  if (widget == nullptr) return 0;
  std::lock_guard lock(timersMutex);
  auto key = std::make_pair(window, id);
  auto found = timers().find(key);
  if (found != timers().end()) {
    retire(found->second);
    timers().erase(found);
  }
  auto live = std::make_shared<std::atomic<bool>>(true);
  auto* timer = new QTimer(widget);
  QObject::connect(timer, &QTimer::timeout, timer, [window, id, procedure, live] {
    if (!live->load()) return;
    if (procedure != nullptr) {
      procedure(window, WM_TIMER, id, GetTickCount());
    } else {
      PostMessageA(window, WM_TIMER, id, 0);
    }
  });
  timer->start(static_cast<int>(elapse));
  timers()[key] = WindowTimer{timer, live, procedure};
  return id;
}

BOOL killTimer(HWND window, UINT_PTR id) {
  std::lock_guard lock(timersMutex);
  auto found = timers().find(std::make_pair(window, id));
  if (found == timers().end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  retire(found->second);
  timers().erase(found);
  return TRUE;
}

void processEvents(DWORD milliseconds) {
  if (!onGuiThread()) {
    if (milliseconds != 0) Sleep(1);
    return;
  }
  if (milliseconds == 0) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return;
  }
  // Waits for the next event, woken at the latest by this timer.
  QTimer wake;
  wake.setSingleShot(true);
  wake.start(static_cast<int>(milliseconds));
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

int visibleRegion(HWND window, RECT* rects, int capacity) {
  QRegion region;
  if (!WindowTable::instance().visibleRegion(window, &region)) return -1;
  int count = 0;
  for (const QRect& r : region) {
    if (count < capacity) rects[count] = toRect(r);
    ++count;
  }
  return count;
}

}  // namespace

bool installBridge(QApplication& app) {
  WindowTable& table = WindowTable::instance();
  app.installEventFilter(&table);
  table.setOnDestroyed(endTimersOf);
  Win32GuiBridge bridge{};
  bridge.size = sizeof bridge;
  bridge.isWindow = isWindow;
  bridge.windowRect = windowRect;
  bridge.clientRect = clientRect;
  bridge.clientOrigin = clientOrigin;
  bridge.isVisible = isVisible;
  bridge.windowThread = windowThread;
  bridge.redraw = redraw;
  bridge.setTimer = setTimer;
  bridge.killTimer = killTimer;
  bridge.processEvents = processEvents;
  bridge.visibleRegion = visibleRegion;
  return Win32RegisterGuiBridge(&bridge) != FALSE;
}

HWND hwndOf(QWidget* widget) { return WindowTable::instance().handleOf(widget); }

QWidget* widgetOf(HWND window) { return WindowTable::instance().widgetOf(window); }

void pumpMessages(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    const qint64 left = milliseconds - clock.elapsed();
    if (left > 0) processEvents(static_cast<DWORD>(left < 5 ? left : 5));
  } while (clock.elapsed() < milliseconds);
}

}  // namespace lxqt

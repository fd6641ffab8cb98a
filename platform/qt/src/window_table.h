// The bridge's record of the program's windows: every widget with a handle
// and every top-level widget, with their screen geometry and stacking. The
// GUI thread keeps it current from the widgets' events; any thread reads it
// (a monitoring thread asks for clip lists while the GUI thread runs).
#pragma once

#include <windows.h>

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QRegion>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

class QWidget;

namespace lxqt {

struct WindowRecord {
  QPointer<QWidget> widget;   // GUI thread only
  const QWidget* key = nullptr;
  const QWidget* topLevel = nullptr;
  QRect frame;           // outer rectangle, screen coordinates
  QRect client;          // client area, screen coordinates
  QRect clippedClient;   // client area inside all its ancestors
  bool visible = false;  // it and its ancestors shown
  DWORD thread = 0;
  unsigned long nativeTopLevel = 0;  // the window system's id of its top-level window, 0 for none
};

struct TopLevelRecord {
  const QWidget* key = nullptr;
  QRect frame;
  bool visible = false;
  uint64_t stackStamp = 0;  // higher is nearer the viewer
};

class WindowTable : public QObject {
 public:
  static WindowTable& instance();

  HWND handleOf(QWidget* widget);
  QWidget* widgetOf(HWND window);

  // Snapshot reads, any thread.
  bool find(HWND window, WindowRecord* record) const;
  // The visible part of the window's client area: its client area within
  // its ancestors, less every shown top-level window stacked above its own
  // (on X11 the windows of all clients, in the X stacking order; elsewhere
  // the program's own).
  bool visibleRegion(HWND window, QRegion* region) const;

  // Recomputes the snapshot from the widgets (GUI thread).
  void refresh();

  // Called on the GUI thread when a window with a handle is destroyed, after
  // its handle stopped naming a window.
  void setOnDestroyed(std::function<void(HWND)> hook) { onDestroyed_ = std::move(hook); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  WindowTable() = default;
  void forget(const QObject* object);
  void scheduleRefresh();

  mutable std::mutex mutex_;
  std::map<HWND, WindowRecord> windows_;
  std::map<const QWidget*, HWND> handles_;
  std::map<const QWidget*, uint64_t> stackStamps_;  // GUI thread only
  std::vector<TopLevelRecord> topLevels_;
  uintptr_t nextHandle_ = 0x10010;
  uint64_t nextStamp_ = 1;
  bool refreshQueued_ = false;
  std::function<void(HWND)> onDestroyed_;
};

}  // namespace lxqt

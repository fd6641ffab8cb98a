#include "window_table.h"

#include <QApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>
#include <QWidget>

#ifdef LXQT_HAS_X11
#include "x11_stacking.h"
#endif

namespace lxqt {

WindowTable& WindowTable::instance() {
  // Lives as long as the process: other threads may read it during exit.
  static WindowTable* table = new WindowTable;
  return *table;
}

HWND WindowTable::handleOf(QWidget* widget) {
  if (widget == nullptr) return nullptr;
  HWND handle = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(widget);
    if (it != handles_.end()) return it->second;
    // Handles are small numbers in steps of 16, never reused.
    handle = reinterpret_cast<HWND>(nextHandle_);
    nextHandle_ += 16;
    handles_[widget] = handle;
    WindowRecord record;
    record.widget = widget;
    record.key = widget;
    record.thread = GetCurrentThreadId();
    windows_[handle] = record;
  }
  QObject::connect(widget, &QObject::destroyed, this, [this](QObject* object) { forget(object); },
                   Qt::DirectConnection);
  refresh();
  return handle;
}

QWidget* WindowTable::widgetOf(HWND window) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.widget.data();
}

bool WindowTable::find(HWND window, WindowRecord* record) const {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  if (it == windows_.end()) return false;
  *record = it->second;
  return true;
}

bool WindowTable::visibleRegion(HWND window, QRegion* region) const {
#ifdef LXQT_HAS_X11
  WindowRecord own;
  if (!find(window, &own)) return false;
  std::vector<QRect> above;
  if (own.nativeTopLevel != 0 && x11::occludersAbove(own.nativeTopLevel, &above)) {
    QRegion visible = own.visible ? QRegion(own.clippedClient) : QRegion();
    for (const QRect& r : above) visible -= r;
    *region = visible;
    return true;
  }
#endif
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  if (it == windows_.end()) return false;
  const WindowRecord& record = it->second;
  *region = QRegion();
  if (!record.visible) return true;
  uint64_t ownStamp = 0;
  for (const TopLevelRecord& top : topLevels_) {
    if (top.key == record.topLevel) ownStamp = top.stackStamp;
  }
  QRegion visible(record.clippedClient);
  for (const TopLevelRecord& top : topLevels_) {
    if (top.visible && top.key != record.topLevel && top.stackStamp > ownStamp) visible -= top.frame;
  }
  *region = visible;
  return true;
}

void WindowTable::forget(const QObject* object) {
  HWND gone = nullptr;
  {
    std::lock_guard lock(mutex_);
    const auto* widget = static_cast<const QWidget*>(object);
    stackStamps_.erase(widget);
    auto it = handles_.find(widget);
    if (it != handles_.end()) {
      gone = it->second;
      windows_.erase(it->second);
      handles_.erase(it);
    }
    std::erase_if(topLevels_, [widget](const TopLevelRecord& top) { return top.key == widget; });
  }
  if (gone != nullptr && onDestroyed_) onDestroyed_(gone);
}

void WindowTable::refresh() {
  std::vector<TopLevelRecord> tops;
  const QWidgetList widgets = QApplication::topLevelWidgets();
  for (QWidget* widget : widgets) {
    if (!stackStamps_.contains(widget)) {
      stackStamps_[widget] = nextStamp_++;
      // A top-level window that goes away leaves the stacking with it.
      QObject::connect(widget, &QObject::destroyed, this, [this](QObject* object) { forget(object); },
                       Qt::DirectConnection);
    }
    tops.push_back({widget, widget->frameGeometry(), widget->isVisible(), stackStamps_[widget]});
  }
  std::lock_guard lock(mutex_);
  topLevels_ = std::move(tops);
  for (auto& [handle, record] : windows_) {
    QWidget* widget = record.widget.data();
    if (widget == nullptr) {
      record.visible = false;
      continue;
    }
    const QWidget* top = widget->window();
    record.topLevel = top;
    record.visible = widget->isVisible();
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    record.client = QRect(origin, widget->size());
    record.frame = widget->isWindow() ? widget->frameGeometry() : record.client;
    QRect clipped = record.client;
    for (const QWidget* parent = widget->parentWidget(); parent != nullptr; parent = parent->parentWidget()) {
      clipped &= QRect(parent->mapToGlobal(QPoint(0, 0)), parent->size());
      if (parent->isWindow()) break;
    }
    record.clippedClient = clipped;
#ifdef LXQT_HAS_X11
    if (x11::available() && top->internalWinId() != 0) record.nativeTopLevel = top->internalWinId();
#endif
  }
}

void WindowTable::scheduleRefresh() {
  if (refreshQueued_) return;
  refreshQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    refreshQueued_ = false;
    refresh();
  });
}

bool WindowTable::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::ZOrderChange:
      if (watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) {
        stackStamps_[static_cast<QWidget*>(watched)] = nextStamp_++;  // now on top
      }
      [[fallthrough]];
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Hide:
    case QEvent::ParentChange:
    case QEvent::WindowStateChange:
      if (watched->isWidgetType()) {
        refresh();
        scheduleRefresh();  // geometry the window system settles after the event
      }
      break;
    default:
      break;
  }
  return false;
}

}  // namespace lxqt

#include "lxqt/video_view.h"

#include <win32/gui_bridge.h>

#include <QPaintEvent>
#include <QPainter>
#include <QScreen>

namespace lxqt {
namespace {

constexpr int kIdleInterval = 100;  // ms between looks at an unchanged screen

}  // namespace

VideoView::VideoView(QWidget* parent) : QWidget(parent) {
  // The picture covers the whole widget: nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
  hwndOf(this);  // the window device context is there from the start
}

VideoView::~VideoView() = default;

int VideoView::refreshInterval() const {
  const QScreen* host = screen();
  const double rate = host != nullptr && host->refreshRate() >= 10 ? host->refreshRate() : 60.0;
  return qMax(1, static_cast<int>(1000.0 / rate));
}

void VideoView::poll() {
  const QPoint at = mapToGlobal(QPoint(0, 0));
  if (picture_.size() != size() || at != pictureAt_) {
    picture_ = QImage(size(), QImage::Format_RGB32);
    pictureAt_ = at;
    fingerprint_ = 0;  // a new rectangle: take it whatever it holds
  }
  int taken = -1;
  if (!picture_.isNull()) {
    taken = Win32ReadScreen(at.x(), at.y(), picture_.width(), picture_.height(),
                            reinterpret_cast<DWORD*>(picture_.bits()), static_cast<int>(picture_.bytesPerLine()),
                            &fingerprint_);
  }
  if (taken == 1) {
    ++framesTaken_;
    unchangedPolls_ = 0;
    if (timer_.interval() != refreshInterval()) timer_.setInterval(refreshInterval());
    update();
    return;
  }
  if (taken < 0 && fingerprint_ != 0) {
    picture_.fill(Qt::black);  // the screen went away: show none
    fingerprint_ = 0;
    update();
  }
  if (++unchangedPolls_ * timer_.interval() >= 1000 && timer_.interval() != kIdleInterval) {
    timer_.setInterval(kIdleInterval);
  }
}

void VideoView::paintPicture(QPainter& painter, const QRect& area) const {
  if (picture_.size() == size()) {
    painter.drawImage(area, picture_, area);
  } else {
    painter.fillRect(area, Qt::black);
  }
}

void VideoView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  paintPicture(painter, event->rect());
}

void VideoView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  unchangedPolls_ = 0;
  timer_.start(refreshInterval());
  poll();
}

void VideoView::hideEvent(QHideEvent* event) {
  timer_.stop();
  QWidget::hideEvent(event);
}

void VideoView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (isVisible()) poll();
}

void VideoView::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (isVisible()) poll();
}

}  // namespace lxqt

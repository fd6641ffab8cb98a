// A widget that shows the machine's screen under itself: the video memory of
// the rectangle it covers on the (one to one mapped) screen, so that live
// video the card writes there, and whatever a program draws on the widget's
// window device context (GetDC(hwndOf(view))), appear in it. Pixels beyond
// the machine's display mode are black.
//
// It polls that rectangle at the host screen's refresh rate while the
// pixels change and repaints only when they did; after a second without a
// change it looks ten times a second until they change again. A hidden view
// does not look at all.
//
// As the viewport of a QAbstractScrollArea, its paint events go to the
// area's paintEvent (Qt routes them so): there, call paintPicture with a
// painter on the viewport.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <cstdint>

#include "lxqt/bridge.h"

namespace lxqt {

class LXQT_API VideoView : public QWidget {
 public:
  explicit VideoView(QWidget* parent = nullptr);
  ~VideoView() override;

  // How many changed pictures of the screen the view has taken.
  quint64 framesTaken() const { return framesTaken_; }
  // The polling period now: the refresh period while pixels change, the
  // idle period after a second without change.
  int pollInterval() const { return timer_.interval(); }

  // Paints the part `area` (widget coordinates) of the latest picture; black
  // where it has none. paintEvent does this.
  void paintPicture(QPainter& painter, const QRect& area) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  void poll();
  int refreshInterval() const;

  QTimer timer_;
  QImage picture_;
  QPoint pictureAt_;
  ULONGLONG fingerprint_ = 0;
  int unchangedPolls_ = 0;
  quint64 framesTaken_ = 0;
};

}  // namespace lxqt

#include "lxperf_view.h"

#include <windows.h>

#include <QEvent>
#include <QGridLayout>
#include <QMouseEvent>
#include <QScrollBar>

#if __has_include("lxqt/video_view.h")
#include "lxqt/video_view.h"
#define LXPERF_HAS_VIDEO_VIEW 1
#endif

namespace lxperf {

namespace {

QWidget* makeClient(QWidget* parent) {
#ifdef LXPERF_HAS_VIDEO_VIEW
  return new lxqt::VideoView(parent);
#else
  return new QWidget(parent);
#endif
}

demo::ScrollCode codeOf(int action) {
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return demo::ScrollCode::LineUp;
    case QAbstractSlider::SliderSingleStepAdd: return demo::ScrollCode::LineDown;
    case QAbstractSlider::SliderPageStepSub: return demo::ScrollCode::PageUp;
    case QAbstractSlider::SliderPageStepAdd: return demo::ScrollCode::PageDown;
    case QAbstractSlider::SliderToMinimum: return demo::ScrollCode::Top;
    case QAbstractSlider::SliderToMaximum: return demo::ScrollCode::Bottom;
    default: return demo::ScrollCode::ThumbTrack;
  }
}

}  // namespace

CLxPerfView::CLxPerfView(QWidget* parent) : QWidget(parent) {
  client_ = makeClient(this);
  client_->setObjectName("client");
  client_->setMinimumSize(4, 2);
  client_->installEventFilter(this);
  horizontal_ = new QScrollBar(Qt::Horizontal, this);
  vertical_ = new QScrollBar(Qt::Vertical, this);
  horizontal_->setObjectName("horizontal");
  vertical_->setObjectName("vertical");
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(0);
  grid->addWidget(client_, 0, 0);
  grid->addWidget(vertical_, 0, 1);
  grid->addWidget(horizontal_, 1, 0);
  connectBar(horizontal_, true);
  connectBar(vertical_, false);
}

void CLxPerfView::connectBar(QScrollBar* bar, bool horizontal) {
  // The origin moves when the thumb is let go, as with the framework's
  // thumb-position code; while tracking it stays.
  bar->setTracking(false);
  connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar, horizontal](int action) {
    if (action == QAbstractSlider::SliderMove || action == QAbstractSlider::SliderNoAction) return;
    // Undo Qt's own step; the frame sets the position by its rules.
    const int track = bar->sliderPosition();
    bar->setSliderPosition(bar->value());
    if (hooks_.scroll) hooks_.scroll(horizontal, codeOf(action), track);
  });
  connect(bar, &QAbstractSlider::sliderReleased, this, [this, bar, horizontal] {
    const int track = bar->sliderPosition();
    if (hooks_.scroll) hooks_.scroll(horizontal, demo::ScrollCode::ThumbPosition, track);
  });
}

RECT CLxPerfView::clientOnScreen() const {
  const QPoint origin = client_->mapToGlobal(QPoint(0, 0));
  return RECT{origin.x(), origin.y(), origin.x() + client_->width(), origin.y() + client_->height()};
}

bool CLxPerfView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_) {
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && hooks_.leftButtonDown)
      hooks_.leftButtonDown();
    else if (event->type() == QEvent::Paint && hooks_.paint)
      hooks_.paint();
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace lxperf

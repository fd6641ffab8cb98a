#include "view.h"

#include <windows.h>

#include <QMouseEvent>

#include "lxqt/bridge.h"
#include "main_frame.h"

namespace lxmperf {

CLxMPerfView::CLxMPerfView(CMainFrame* frame) : VideoView(frame), frame_(frame) {
  setMinimumSize(64, 32);
}

void CLxMPerfView::paintEvent(QPaintEvent* event) {
  VideoView::paintEvent(event);
  frame_->setWindowTitle("Lx Multi Performance");
  if (frame_->state != 0 && frame_->state != 5) return;
  HWND window = lxqt::hwndOf(this);
  HDC dc = GetDC(window);
  if (!dc) return;
  frame_->DrawTiles(dc, 1.0);
  ReleaseDC(window, dc);
}

void CLxMPerfView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) frame_->OnLeftButtonDown();
  VideoView::mousePressEvent(event);
}

}  // namespace lxmperf

// CLxMPerfView: the view that fills the main frame. It shows the screen
// under it, where live video lands and snap-ex frames are drawn; it paints the cards' images into their tiles when idle
// or playing back, and a left click steps playback.
#pragma once

#include "lxqt/video_view.h"

namespace lxmperf {

class CMainFrame;

class CLxMPerfView : public lxqt::VideoView {
  Q_OBJECT
 public:
  explicit CLxMPerfView(CMainFrame* frame);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  CMainFrame* frame_;
};

}  // namespace lxmperf

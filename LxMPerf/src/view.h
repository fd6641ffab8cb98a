// CLxMPerfView: the view that fills the main frame. Live video lands in the
// screen under it; it paints the cards' images into their tiles when idle
// or playing back, and a left click steps playback.
#pragma once

#include <QWidget>

namespace lxmperf {

class CMainFrame;

class CLxMPerfView : public QWidget {
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

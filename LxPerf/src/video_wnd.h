// CVideoWnd: the frame window that owns the card (CVideo) and keeps live
// video placed in its view: the position constraint on every geometry, the
// scroll bars, the card's input and output windows, the three display paths
// (live capture, capture shot, snap-ex) and the frame-rate title.
#pragma once

#include <QMainWindow>

#include <atomic>
#include <memory>
#include <string>

#include "democommon/geometry.h"
#include "democommon/video.h"
#include "lxperf_view.h"

namespace lxperf {

class CVideoWnd : public QMainWindow {
  Q_OBJECT
 public:
  explicit CVideoWnd(QWidget* parent = nullptr);
  ~CVideoWnd() override;

  // Creation after the window exists: screen, settings, card.
  virtual bool Create();

  virtual void PlaceVideo();
  virtual void MeasureBorders();
  virtual void OnSnapFrame(int frameIndex);

  void UpdateScrollBars(const RECT& client);
  void SetVideoWindows(const RECT& client);
  // The position constraint applied to the frame's current geometry.
  void ApplyPositionConstraint();

  // Display paths (commands Capture, Capture Shot, Snap).
  void ToggleCapture();
  void CaptureShot();
  void ToggleSnap();
  // Scroll of the view's bars in clip mode: moves the input window.
  void ScrollView(bool horizontal, demo::ScrollCode code, int track);

  demo::CVideo& video() { return *video_; }
  CLxPerfView* view() const { return view_; }
  HWND viewWindow() const;

  // Window-level state, in the order of the program's documentation.
  int playbackActive = 0;
  int interline = 1;
  uint32_t snapOffset = 0;
  int snapBufferCount = 2;
  int imageCount = 0;
  int playbackIndex = 0;
  int stepMode = 1;
  int fromFiles = 0;
  std::string seriesBaseName;
  // The snap-ex callback counts on its thread; the GUI thread restarts it.
  std::atomic<int> frameCounter{0};
  std::atomic<uint32_t> startTick{0};
  int skipNextPositionChange = 0;
  int clip = 1;
  int screenWidth = 0, screenHeight = 0, screenDepth = 0;
  demo::Borders borders;

 protected:
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

  // Reads the view's image after a capture into the display image.
  void ReadBackDisplay();
  void PaintMaskAreas();
  void SelectGreyPaletteForCapture(bool select);
  // The view repaints: the image 1:1 when idle or playing back.
  virtual void OnDraw();
  void DrawImageNow();
  // The frame and its view repaint (the framework's invalidation of the frame).
  void InvalidateFrame();

  std::unique_ptr<demo::CVideo> video_;
  CLxPerfView* view_ = nullptr;

 private:
  static int32_t SnapCallback(SnapExInfo* info);
  void restartSnapEx();
  void showFrameRate();

  bool constraining_ = false;
};

}  // namespace lxperf

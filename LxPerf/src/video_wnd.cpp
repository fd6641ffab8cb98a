#include "video_wnd.h"

#include <windows.h>

#include <QEvent>
#include <QMetaObject>
#include <QScrollBar>
#include <QWindowStateChangeEvent>

#include "democommon/message_box.h"
#include "democommon/palette.h"
#include "democommon/video_formats.h"
#include "lx/data_transform.h"
#include "lx/monitored_capture.h"
#include "lxqt/bridge.h"

namespace lxperf {

namespace {

// The view's device context for the length of one operation.
class ViewDc {
 public:
  explicit ViewDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~ViewDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  ViewDc(const ViewDc&) = delete;
  ViewDc& operator=(const ViewDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

bool greyFormat(int format) { return format == 5 || format == 6; }

}  // namespace

CVideoWnd::CVideoWnd(QWidget* parent) : QMainWindow(parent), video_(std::make_unique<demo::CVideo>(1)) {
  view_ = new CLxPerfView(this);
  setCentralWidget(view_);
}

CVideoWnd::~CVideoWnd() = default;

HWND CVideoWnd::viewWindow() const { return lxqt::hwndOf(view_->client()); }

bool CVideoWnd::Create() {
  HDC screen = GetDC(nullptr);
  screenWidth = GetDeviceCaps(screen, HORZRES);
  screenHeight = GetDeviceCaps(screen, VERTRES);
  screenDepth = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
  if (screen) ReleaseDC(nullptr, screen);
  video_->SetFormatByDepth(screenDepth);
  return true;
}

void CVideoWnd::MeasureBorders() {
  const RECT client = view_->clientOnScreen();
  const QRect frame = frameGeometry();
  borders.left = client.left - frame.left();
  borders.top = client.top - frame.top();
  borders.right = frame.left() + frame.width() - client.right;
  borders.bottom = frame.top() + frame.height() - client.bottom;
}

void CVideoWnd::ApplyPositionConstraint() {
  if (constraining_) return;
  const QRect frame = frameGeometry();
  demo::FrameGeometry g{frame.x(), frame.y(), frame.width(), frame.height()};
  const demo::WindowShow show = isMinimized()   ? demo::WindowShow::Minimised
                                : isMaximized() ? demo::WindowShow::Maximised
                                                : demo::WindowShow::Normal;
  demo::constrainFrame(&g, show, borders, screenWidth, screenHeight, video_->videoStandard, video_->scanMode,
                       &skipNextPositionChange);
  if (show == demo::WindowShow::Minimised) return;
  if (g.x == frame.x() && g.y == frame.y() && g.width == frame.width() && g.height == frame.height()) return;
  constraining_ = true;
  if (show == demo::WindowShow::Maximised) {
    // A maximised window keeps its place; only its size is limited.
    setMaximumSize(g.width - (frame.width() - width()), g.height - (frame.height() - height()));
  } else {
    move(g.x, g.y);
    resize(g.width - (frame.width() - width()), g.height - (frame.height() - height()));
  }
  constraining_ = false;
}

void CVideoWnd::UpdateScrollBars(const RECT& client) {
  QScrollBar* h = view_->horizontalBar();
  QScrollBar* v = view_->verticalBar();
  if (!clip) {
    h->hide();
    v->hide();
    return;
  }
  const int hMax = demo::horizontalScrollMax(video_->videoStandard, client.right - client.left);
  const int vMax = demo::verticalScrollMax(video_->videoStandard, video_->scanMode, client.bottom - client.top);
  h->setPageStep(4);
  v->setPageStep(2);
  h->setEnabled(hMax > 0);
  if (hMax > 0) h->setRange(0, hMax);
  v->setEnabled(vMax > 0);
  if (vMax > 0) v->setRange(0, vMax);
}

void CVideoWnd::SetVideoWindows(const RECT& client) {
  demo::CVideo& v = *video_;
  if (v.videoState == 4) v.StopSnapEx();
  const bool field = v.scanMode == 1 || v.scanMode == 2;
  RECT output = client;
  if (field) output.bottom = 2 * output.bottom - output.top;
  RECT input{0, 0, demo::frameWidthOf(v.videoStandard), demo::frameHeightOf(v.videoStandard)};
  if (clip) {
    // The picture's part under the scroll bars' origin, so that moving the
    // window does not jump back to the top-left corner.
    const int x = view_->horizontalBar()->isEnabled() ? view_->horizontalBar()->value() : 0;
    const int y = view_->verticalBar()->isEnabled() ? view_->verticalBar()->value() : 0;
    const int height = (client.bottom - client.top) * (field ? 2 : 1);
    input = RECT{x, y, x + client.right - client.left, y + height};
  }
  v.SetInputWindow(input.left, input.top, input.right, input.bottom);
  v.SetOutputWindow(output.left, output.top, output.right, output.bottom);
  if (v.videoState == 4) restartSnapEx();
}

void CVideoWnd::restartSnapEx() {
  demo::CVideo& v = *video_;
  v.FillStaticMem(snapOffset, v.FrameBytes() * static_cast<uint32_t>(snapBufferCount), 0xFF);
  v.StartSnapEx(snapOffset, interline, snapBufferCount);
}

void CVideoWnd::PlaceVideo() {
  ApplyPositionConstraint();
  const RECT client = view_->clientOnScreen();
  UpdateScrollBars(client);
  SetVideoWindows(client);
}

void CVideoWnd::ScrollView(bool horizontal, demo::ScrollCode code, int track) {
  if (!clip) return;
  QScrollBar* bar = horizontal ? view_->horizontalBar() : view_->verticalBar();
  const int origin =
      demo::viewScrollOrigin(code, horizontal, bar->value(), bar->minimum(), bar->maximum(), bar->pageStep(), track);
  bar->setValue(origin);
  demo::CVideo& v = *video_;
  if (v.videoState == 4) v.StopSnapEx();
  const int x = horizontal ? origin : v.inputX;
  const int y = horizontal ? v.inputY : origin;
  v.SetInputWindow(x, y, x + v.inputWidth, y + v.inputHeight);
  v.SetOutputWindow(v.outputX, v.outputY, v.outputX + v.outputWidth, v.outputY + v.outputHeight);
  if (v.videoState == 4) restartSnapEx();
}

void CVideoWnd::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  ApplyPositionConstraint();
  SetVideoWindows(view_->clientOnScreen());
}

void CVideoWnd::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ApplyPositionConstraint();
  const RECT client = view_->clientOnScreen();
  UpdateScrollBars(client);
  SetVideoWindows(client);
  frameCounter = 0;
  startTick = GetTickCount();
}

void CVideoWnd::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) {
    if (isMinimized()) skipNextPositionChange = 1;
    if (!isMaximized()) setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    ApplyPositionConstraint();
  }
}

void CVideoWnd::SelectGreyPaletteForCapture(bool select) {
  demo::CVideo& v = *video_;
  if (!v.greyPalette || !greyFormat(v.videoFormat)) return;
  ViewDc dc(viewWindow());
  if (select)
    v.savedPalette = demo::selectPalette(dc.get(), v.greyPalette);
  else
    demo::selectPalette(dc.get(), v.savedPalette);
}

void CVideoWnd::PaintMaskAreas() {
  if (!video_->maskEnabled) return;
  ViewDc dc(viewWindow());
  demo::fillBackground(dc.get(), 50, 50, 50, 50);
  demo::fillBackground(dc.get(), 100, 150, 100, 1);
}

void CVideoWnd::ReadBackDisplay() {
  demo::CVideo& v = *video_;
  const std::lock_guard imageLock(v.image.mutex);
  if (!v.image.pixels) return;
  const int height = v.scanMode != 0 ? v.outputHeight / 2 : v.outputHeight;
  // The image holds at most one frame of the largest size; a wider output
  // window (set by hand) is not read past the buffer.
  if (static_cast<uint64_t>(v.outputWidth) * static_cast<uint64_t>(height) * 4 > demo::kImageBufferBytes) return;
  ViewDc dc(viewWindow());
  int32_t bits = v.image.bitCount();
  if (LxGetDisplayBits(dc.get(), 0, 0, v.outputWidth, height, &bits, v.image.pixels.get()) == LX_OK) {
    v.image.header.info.biBitCount = static_cast<WORD>(bits);
    v.image.header.info.biWidth = v.outputWidth;
    v.image.header.info.biHeight = height;
  }
}

void CVideoWnd::ToggleCapture() {
  demo::CVideo& v = *video_;
  if (v.videoState == 0) {
    v.image.fillWhite();
    InvalidateFrame();
    SelectGreyPaletteForCapture(true);
    const LxStatus status = LxCaptureEx(v.handle(), viewWindow(), 1);
    if (status != LX_OK) {
      demo::showStatusError(status);
      return;
    }
    v.videoState = 2;
  } else if (v.videoState == 2) {
    SelectGreyPaletteForCapture(false);
    const LxStatus status = LxCaptureEx(v.handle(), viewWindow(), 0);
    if (status != LX_OK) {
      demo::showStatusError(status);
      return;
    }
    v.videoState = 0;
    SelectGreyPaletteForCapture(true);
    LxCaptureShot(v.handle());
    PaintMaskAreas();
    ReadBackDisplay();
    SelectGreyPaletteForCapture(false);
  }
}

void CVideoWnd::CaptureShot() {
  demo::CVideo& v = *video_;
  v.image.fillWhite();
  InvalidateFrame();
  SelectGreyPaletteForCapture(true);
  const LxStatus status = LxCaptureShot(v.handle());
  if (status != LX_OK) demo::showStatusError(status);
  PaintMaskAreas();
  ReadBackDisplay();
  SelectGreyPaletteForCapture(false);
}

void CVideoWnd::ToggleSnap() {
  demo::CVideo& v = *video_;
  if (v.videoState == 0) {
    v.image.fillWhite();
    InvalidateFrame();
    if (v.OpenSnapEx(&CVideoWnd::SnapCallback, this) != LX_OK) return;  // not reported
    v.FillStaticMem(snapOffset, v.FrameBytes() * static_cast<uint32_t>(snapBufferCount), 0xFF);
    const LxStatus status = v.StartSnapEx(snapOffset, interline, snapBufferCount);
    if (status != LX_OK) demo::showStatusError(status);
    startTick = GetTickCount();
    frameCounter = 0;
    imageCount = 0;
    fromFiles = 0;
  } else if (v.videoState == 4) {
    v.CloseSnapEx();
    InvalidateFrame();
  }
}

int32_t CVideoWnd::SnapCallback(SnapExInfo* info) {
  if (info && info->context) static_cast<CVideoWnd*>(info->context)->OnSnapFrame(info->frameIndex);
  return 1;
}

void CVideoWnd::OnSnapFrame(int frameIndex) {
  // On the snap-ex delivery thread: the frame into the image here; drawing
  // and the title belong to the GUI thread, which gets them queued (a queued
  // call to a window that is gone is dropped).
  video_->TransformFrame(snapOffset, frameIndex);
  ++frameCounter;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (video_->videoState != 4) return;
        DrawImageNow();
        showFrameRate();
      },
      Qt::QueuedConnection);
}

void CVideoWnd::showFrameRate() {
  const uint32_t elapsed = GetTickCount() - startTick.load();
  const float rate = static_cast<float>(frameCounter.load()) * 1000.0f / static_cast<float>(elapsed + 1);
  setWindowTitle(QString::asprintf("Lx Performance [%d x %d]  %f(fps) ", video_->image.width(),
                                   video_->image.height(), static_cast<double>(rate)));
}

void CVideoWnd::DrawImageNow() {
  ViewDc dc(viewWindow());
  demo::drawImage(dc.get(), video_->image, video_->greyPalette);
}

void CVideoWnd::InvalidateFrame() {
  update();
  view_->client()->update();
}

void CVideoWnd::OnDraw() {
  if (video_->videoState == 0 || playbackActive) DrawImageNow();
  if (video_->videoState != 4)
    setWindowTitle(QString::asprintf("Lx Performance [%d x %d]", video_->outputWidth, video_->outputHeight));
}

}  // namespace lxperf

// Creation of the main frame, the parameter dialogs, printing and the Help links.
#include <windows.h>

#include <QApplication>
#include <QDesktopServices>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QUrl>

#include "democommon/about_dialog.h"
#include "democommon/adjust_dialog.h"
#include "democommon/allocate_dialog.h"
#include "democommon/delay_dialog.h"
#include "democommon/message_box.h"
#include "democommon/palette.h"
#include "democommon/restart.h"
#include "democommon/source_dialog.h"
#include "main_frame.h"

#if __has_include("lxqt/painter_dc.h")
#include "lxqt/painter_dc.h"
#define LXPERF_HAS_PAINTER_DC 1
#endif

namespace lxperf {

bool CMainFrame::Create() {
  CVideoWnd::Create();
  LoadSettings();
  demo::CVideo& v = *video_;
  if (v.Open() != LX_OK) {
    const LxStatus status = v.Open();
    if (status != LX_OK) demo::showStatusError(status);
  }
  if (v.maskEnabled) {
    const bool ntsc = v.videoStandard == 1;
    v.SetMaskRect(0, 0, ntsc ? 640 : 768, ntsc ? 480 : 576, 0);
    v.SetMaskRect(50, 50, 50, 50, 1);
    v.SetMaskRect(100, 150, 100, 1, 1);
  }
  return true;
}

int CMainFrame::execDialog(QDialog& dialog) {
  if (runDialog_) return runDialog_(dialog);
  return dialog.exec();
}

void CMainFrame::OnVideoSourceDialog() {
  demo::CVideo& v = *video_;
  demo::SourceDialog dialog(
      v.sourceKind, v.sourceNumber, [&v](int flat) { return static_cast<int>(v.SetSourceByFlat(flat)); },
      [&v](int kind, int number) { return static_cast<int>(v.SetSource(kind, number)); }, this);
  execDialog(dialog);
}

void CMainFrame::OnAdjustDialog() {
  demo::CVideo& v = *video_;
  const demo::AdjustDialog::Values opening{v.brightness, v.contrast, v.hue, v.saturation, v.pll};
  demo::AdjustDialog dialog(
      opening,
      [&v](int row, int value) {
        switch (row) {
          case demo::AdjustDialog::Brightness: v.SetBrightness(value); break;
          case demo::AdjustDialog::Contrast: v.SetContrast(value); break;
          case demo::AdjustDialog::Hue: v.SetHue(value); break;
          case demo::AdjustDialog::Saturation: v.SetSaturation(value); break;
          default: v.SetPll(value); break;
        }
      },
      this);
  execDialog(dialog);
}

void CMainFrame::OnDelayDialog() {
  demo::CVideo& v = *video_;
  demo::DelayDialog dialog(v.delayX, v.delayY, [&v](int x, int y) { v.SetDelay(x, y); }, this);
  execDialog(dialog);
}

void CMainFrame::OnAllocateDialog() {
  demo::AllocateDialog dialog([this] { return demo::restartComputer(os_, "LxPerf"); }, "LxPerf", this);
  execDialog(dialog);
  if (dialog.restarting()) {
    // The machine restarts: the program ends as on a real restart, its
    // window closed (settings written) and its loop left.
    restartRequested_ = true;
    close();
    QApplication::exit(0);
  }
}

void CMainFrame::OnHelpLink(bool web) {
  const std::string address = web ? demo::kMakerWebPage : demo::kMakerSupportMail;
  const bool opened = openUrl_ ? openUrl_(address) : QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
  if (!opened)
    demo::showWarning(web ? "Sorry: cannot access web location" : "Sorry: cannot access email", "LxPerf");
}

void CMainFrame::OnPrint(bool preview) {
  QPrinter printer(QPrinter::HighResolution);
  // The whole image at 96 pixels an inch of paper, from the page's origin.
  auto paint = [this](QPrinter* target) {
    QPainter painter(target);
#ifdef LXPERF_HAS_PAINTER_DC
    HDC dc = lxqt::beginPainterDC(&painter);
    const demo::DisplayImage& image = video_->image;
    const int width = image.width() * target->logicalDpiX() / 96;
    const int height = image.height() * target->logicalDpiY() / 96;
    demo::drawImageScaled(dc, image, video_->greyPalette, 0, 0, width, height);
    lxqt::endPainterDC(dc);
#endif
  };
  if (preview) {
    QPrintPreviewDialog dialog(&printer, this);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, paint);
    execDialog(dialog);
    // The end of a preview places the video again, as a resize would.
    PlaceVideo();
    return;
  }
  QPrintDialog dialog(&printer, this);
  if (execDialog(dialog) == QDialog::Accepted) paint(&printer);
}

}  // namespace lxperf

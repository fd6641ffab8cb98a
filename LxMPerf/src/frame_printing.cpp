// Printing and print preview of the view: every card's image at its tile's
// place, positions and sizes scaled from the screen's 96 pixels per inch to
// the printer's.
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "lxqt/painter_dc.h"
#include "main_frame.h"

namespace lxmperf {

void CMainFrame::PrintTo(QPrinter* printer) {
  QPainter painter(printer);
  if (!painter.isActive()) return;
  HDC dc = lxqt::beginPainterDC(&painter);
  if (!dc) return;
  const double scale = GetDeviceCaps(dc, LOGPIXELSX) / 96.0;
  // Printing shows the images whatever runs, as the view would when idle.
  const int running = state;
  state = 0;
  DrawTiles(dc, scale);
  state = running;
  lxqt::endPainterDC(dc);
}

void CMainFrame::print(bool preview) {
  QPrinter printer(QPrinter::HighResolution);
  if (preview) {
    QPrintPreviewDialog dialog(&printer, this);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* target) { PrintTo(target); });
    dialog.exec();
    // The preview covered the view: place the video again.
    Place();
    return;
  }
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() == QDialog::Accepted) PrintTo(&printer);
}

}  // namespace lxmperf

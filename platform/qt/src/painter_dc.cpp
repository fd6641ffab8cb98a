// Painter device contexts: the compat layer's toolkit device functions over a
// QPainter. The layer has already turned DIBs into plain colours.
#include "lxqt/painter_dc.h"

#include <win32/gui_bridge.h>

#include <QImage>
#include <QPaintDevice>
#include <QPainter>

namespace lxqt {
namespace {

QPainter* painterOf(void* context) { return static_cast<QPainter*>(context); }

QRect toQRect(const RECT* r) { return QRect(r->left, r->top, r->right - r->left, r->bottom - r->top); }

int deviceCaps(void* context, int index) {
  const QPaintDevice* device = painterOf(context)->device();
  if (device == nullptr) return 0;
  switch (index) {
    case HORZRES: return device->width();
    case VERTRES: return device->height();
    case LOGPIXELSX: return device->logicalDpiX();
    case LOGPIXELSY: return device->logicalDpiY();
    case BITSPIXEL: return device->depth();
    case PLANES: return 1;
    default: return 0;
  }
}

BOOL drawImage(void* context, const RECT* destination, const DWORD* pixels, int width, int height, int stride,
               int stretchMode) {
  QPainter* painter = painterOf(context);
  if (!painter->isActive()) return FALSE;
  // The words are 0x00RRGGBB, which is RGB32's layout; the image only borrows them.
  const QImage image(reinterpret_cast<const uchar*>(pixels), width, height, stride, QImage::Format_RGB32);
  const bool smooth = painter->testRenderHint(QPainter::SmoothPixmapTransform);
  painter->setRenderHint(QPainter::SmoothPixmapTransform, stretchMode == HALFTONE);
  painter->drawImage(toQRect(destination), image);
  painter->setRenderHint(QPainter::SmoothPixmapTransform, smooth);
  return TRUE;
}

BOOL fillRect(void* context, const RECT* rect, DWORD colour) {
  QPainter* painter = painterOf(context);
  if (!painter->isActive()) return FALSE;
  painter->fillRect(toQRect(rect), QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour)));
  return TRUE;
}

}  // namespace

HDC beginPainterDC(QPainter* painter) {
  if (painter == nullptr || !painter->isActive()) return nullptr;
  Win32DrawDevice device{};
  device.size = sizeof device;
  device.context = painter;
  device.deviceCaps = deviceCaps;
  device.drawImage = drawImage;
  device.fillRect = fillRect;
  return Win32CreateDeviceDC(&device);
}

void endPainterDC(HDC dc) {
  if (dc != nullptr) Win32DeleteDeviceDC(dc);
}

}  // namespace lxqt

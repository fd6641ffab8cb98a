// Device contexts that draw with a QPainter: printing and print preview
// (a QPrinter's painter), or an image (a QImage's). StretchDIBits,
// SetDIBitsToDevice, FillRect and BitBlt on such a context draw with the
// painter, in its device's pixels; GetDeviceCaps answers HORZRES, VERTRES,
// LOGPIXELSX, LOGPIXELSY, BITSPIXEL and PLANES from the paint device.
#pragma once

#include <windows.h>

#include "lxqt/bridge.h"

class QPainter;

namespace lxqt {

// A device context for an active painter; null for null or an inactive
// painter. Use it on the painter's thread, while the painter is active.
LXQT_API HDC beginPainterDC(QPainter* painter);
// Ends a context of beginPainterDC; nothing for null or an ended one.
LXQT_API void endPainterDC(HDC dc);

}  // namespace lxqt

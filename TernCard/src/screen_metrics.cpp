// The screen's device context, read at bring-up.
#include <windows.h>

#include "process_display.h"

namespace terncard {

bool readScreenMetrics(ScreenMetrics* metrics) {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) {
    return false;
  }
  metrics->width = GetDeviceCaps(screen, HORZRES);
  metrics->height = GetDeviceCaps(screen, VERTRES);
  metrics->bitsPerPixel = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  return true;
}

}  // namespace terncard

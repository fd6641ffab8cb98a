#include "democommon/geometry.h"

#include <algorithm>

#include "democommon/video_formats.h"

namespace demo {

int maxVideoWidth(int standard) { return frameWidthOf(standard); }

int maxVideoHeight(int standard, int scanMode) {
  const int frame = frameHeightOf(standard);
  return scanMode == 0 ? frame : frame / 2;
}

void constrainFrame(FrameGeometry* g, WindowShow show, const Borders& b, int screenWidth, int screenHeight,
                    int standard, int scanMode, int* skipNext) {
  const int maxW = maxVideoWidth(standard);
  const int maxH = maxVideoHeight(standard, scanMode);
  if (show == WindowShow::Minimised) {
    *skipNext = 1;
    return;
  }
  if (show == WindowShow::Maximised) {
    g->width = b.left + b.right + maxW;
    g->height = b.top + b.bottom + maxH;
  }
  if (*skipNext) {
    *skipNext = 0;
    return;
  }
  if (g->x + b.left < 0) g->x = -b.left;
  if (g->x - b.right + g->width > screenWidth) g->x = screenWidth - g->width + b.right;
  // Modulo of a negative column (a frame wider than the screen) still aligns upward.
  const int column = g->x + b.left;
  const int misalign = ((column % 4) + 4) % 4;
  if (misalign != 0) g->x = g->x - misalign + 4;
  if (g->width - b.left - b.right > maxW) g->width = b.left + b.right + maxW;
  g->width -= (((g->width - b.left - b.right) % 4) + 4) % 4;

  if (g->y + b.top < 0) g->y = -b.top;
  if (g->y - b.bottom + g->height > screenHeight) g->y = screenHeight - g->height + b.bottom;
  if (((g->y + b.top) % 2 + 2) % 2 != 0) g->y += 1;
  if (g->height - b.top - b.bottom > maxH) g->height = b.top + b.bottom + maxH;
  if (((g->height - b.top - b.bottom) % 2 + 2) % 2 != 0) g->height -= 1;
}

int horizontalScrollMax(int standard, int clientWidth) { return frameWidthOf(standard) - clientWidth; }

int verticalScrollMax(int standard, int scanMode, int clientHeight) {
  return frameHeightOf(standard) - (scanMode == 0 ? clientHeight : 2 * clientHeight);
}

int viewScrollOrigin(ScrollCode code, bool horizontal, int origin, int minimum, int maximum, int page, int track) {
  const int step = horizontal ? 4 : 2;
  switch (code) {
    case ScrollCode::LineUp: return std::max(origin - step, minimum);
    case ScrollCode::LineDown: return std::min(origin + step, maximum);
    case ScrollCode::PageUp: return std::max(origin - page, minimum);
    case ScrollCode::PageDown: return std::min(origin + page, maximum);
    case ScrollCode::ThumbPosition: return track / step * step;
    case ScrollCode::Top: return minimum;
    case ScrollCode::Bottom: return maximum;
    default: return origin;
  }
}

int dialogScrollPosition(ScrollCode code, int position, int minimum, int maximum, int track) {
  int next = position;
  switch (code) {
    case ScrollCode::LineUp: next = position - 1; break;
    case ScrollCode::LineDown: next = position + 1; break;
    case ScrollCode::PageUp: next = position - 10; break;
    case ScrollCode::PageDown: next = position + 10; break;
    case ScrollCode::ThumbPosition:
    case ScrollCode::ThumbTrack: next = track; break;
    default: break;
  }
  return std::clamp(next, minimum, maximum);
}

std::string trimBitmapSuffix(const std::string& path) {
  const size_t keep = path.find_last_not_of(".bmp");
  return keep == std::string::npos ? std::string() : path.substr(0, keep + 1);
}

std::string seriesBaseOf(const std::string& firstFile) {
  std::string base = trimBitmapSuffix(firstFile);
  if (base.empty()) return base;
  const char last = base.back();
  const size_t keep = base.find_last_not_of(last);
  return keep == std::string::npos ? std::string() : base.substr(0, keep + 1);
}

std::string seriesFileName(const std::string& base, int number) { return base + std::to_string(number) + ".bmp"; }

}  // namespace demo

#include "grid.h"

#include <algorithm>
#include <cmath>

namespace lxmperf {

GridShape gridShape(int cardCount) {
  if (cardCount < 1) return {};
  const int rows = static_cast<int>(std::sqrt(static_cast<double>(cardCount)) + 0.5);
  return {rows, (cardCount + rows - 1) / rows};
}

Rect tileRect(const Rect& client, int cardCount, int index) {
  const GridShape shape = gridShape(cardCount);
  if (shape.rows == 0 || index < 0 || index >= cardCount) return {};
  const int w = client.width() / shape.columns;
  const int h = client.height() / shape.rows;
  const int x = client.left + w * (index % shape.columns);
  const int y = client.top + h * (index / shape.columns);
  return {x, y, x + w - 1, y + h - 1};
}

namespace {
int roundUp(int value, int step) { return value % step == 0 ? value : value + (step - value % step); }
int roundDown(int value, int step) { return value - value % step; }
}  // namespace

Rect outputRect(const Rect& tile, int screenWidth, int screenHeight, int frameWidth, int frameHeight) {
  Rect r = tile;
  r.left = std::max(r.left, 0);
  r.right = std::max(r.right, 0);
  r.top = std::max(r.top, 0);
  r.bottom = std::max(r.bottom, 0);
  // A tile that runs off the screen ends at the screen's edge: the card would
  // otherwise write past the end of the screen's lines into the next ones.
  r.right = std::min(r.right, screenWidth);
  r.bottom = std::min(r.bottom, screenHeight);
  if (r.right - r.left > frameWidth) r.right = r.left + frameWidth;
  if (r.bottom - r.top > frameHeight) r.bottom = r.top + frameHeight;
  r.left = roundUp(r.left, 4);
  r.right = roundDown(r.right, 4);
  r.top = roundUp(r.top, 2);
  r.bottom = roundDown(r.bottom, 2);
  if (r.right <= r.left || r.bottom <= r.top) return {r.left, r.top, r.left, r.top};
  return r;
}

void keepFrameOnScreen(int* x, int* y, int width, int height, int screenWidth, int screenHeight) {
  if (*x + width > screenWidth) *x = screenWidth - width;
  if (*y + height > screenHeight) *y = screenHeight - height;
  if (*x < 0) *x = 0;
  if (*y < 0) *y = 0;
}

}  // namespace lxmperf

// The grid of tiles that divides the view among the cards, and where each
// card may write its video inside its tile. Pure functions.
#pragma once

namespace lxmperf {

// Windows' rectangle: left, top, right, bottom.
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

struct GridShape {
  int rows = 0, columns = 0;
};

// rows = integer part of (sqrt(n) + 0.5), columns = (n + rows - 1) / rows:
// 3 and 4 cards 2 x 2, 5 cards 2 rows of 3. No cards: no rows, no columns.
GridShape gridShape(int cardCount);

// The grid cell of card i in the view's client rectangle (screen
// coordinates): it spans x .. x + w - 1 and y .. y + h - 1, so right and
// bottom are the cell's last column and row. Empty without cards.
Rect tileRect(const Rect& client, int cardCount, int index);

// The screen rectangle the card writes to: its tile, on the screen, at most
// one full picture large, left and right on multiples of 4, top and bottom
// even. Never wider or taller than what is left of the screen (right and
// bottom stay within it); an empty rectangle when nothing of the tile is
// on the screen.
Rect outputRect(const Rect& tile, int screenWidth, int screenHeight, int frameWidth, int frameHeight);

// Proposed frame positions stay on the screen (unless maximised): x and y
// raised to 0, and lowered so the frame ends within the screen.
void keepFrameOnScreen(int* x, int* y, int width, int height, int screenWidth, int screenHeight);

}  // namespace lxmperf

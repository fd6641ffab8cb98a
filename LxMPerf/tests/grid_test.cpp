#include <gtest/gtest.h>

#include "grid.h"

namespace lxmperf {
namespace {

TEST(GridShape, RowsAreTheRoundedRootAndColumnsHoldTheRest) {
  EXPECT_EQ(gridShape(1).rows, 1);
  EXPECT_EQ(gridShape(1).columns, 1);
  EXPECT_EQ(gridShape(2).rows, 1);  // sqrt 2 + 0.5 = 1.91
  EXPECT_EQ(gridShape(2).columns, 2);
  EXPECT_EQ(gridShape(3).rows, 2);
  EXPECT_EQ(gridShape(3).columns, 2);
  EXPECT_EQ(gridShape(4).rows, 2);
  EXPECT_EQ(gridShape(4).columns, 2);
  EXPECT_EQ(gridShape(5).rows, 2);
  EXPECT_EQ(gridShape(5).columns, 3);
  EXPECT_EQ(gridShape(6).rows, 2);  // sqrt 6 + 0.5 = 2.95
  EXPECT_EQ(gridShape(6).columns, 3);
  EXPECT_EQ(gridShape(7).rows, 3);
  EXPECT_EQ(gridShape(7).columns, 3);
  EXPECT_EQ(gridShape(128).rows, 11);
  EXPECT_EQ(gridShape(128).columns, 12);
  // No cards: no grid (the rule would divide by zero rows).
  EXPECT_EQ(gridShape(0).rows, 0);
  EXPECT_EQ(gridShape(0).columns, 0);
  EXPECT_EQ(tileRect(Rect{0, 0, 800, 600}, 0, 0), Rect{});
}

TEST(TileRect, CellsRunAlongRowsAndEndOneBeforeTheNext) {
  const Rect client{100, 50, 901, 651};  // 801 x 601: the remainder is left over
  // 5 cards: 3 columns of 267, 2 rows of 300.
  EXPECT_EQ(tileRect(client, 5, 0), (Rect{100, 50, 366, 349}));
  EXPECT_EQ(tileRect(client, 5, 2), (Rect{634, 50, 900, 349}));
  EXPECT_EQ(tileRect(client, 5, 3), (Rect{100, 350, 366, 649}));
  EXPECT_EQ(tileRect(client, 5, 4), (Rect{367, 350, 633, 649}));
  // 3 cards: the fourth cell of the 2 x 2 grid stays empty.
  EXPECT_EQ(tileRect(client, 3, 2), (Rect{100, 350, 499, 649}));
  EXPECT_EQ(tileRect(client, 3, 3), Rect{});
}

TEST(OutputRect, AlignedToFourColumnsAndEvenRows) {
  // Left up to a multiple of 4, right down; top up to even, bottom down.
  EXPECT_EQ(outputRect(Rect{101, 51, 367, 349}, 1024, 768, 768, 576), (Rect{104, 52, 364, 348}));
  EXPECT_EQ(outputRect(Rect{100, 50, 499, 349}, 1024, 768, 768, 576), (Rect{100, 50, 496, 348}));
}

TEST(OutputRect, AtMostOnePictureLarge) {
  EXPECT_EQ(outputRect(Rect{0, 0, 1023, 767}, 1024, 768, 768, 576), (Rect{0, 0, 768, 576}));
  EXPECT_EQ(outputRect(Rect{8, 2, 1023, 767}, 1024, 768, 640, 480), (Rect{8, 2, 648, 482}));
}

TEST(OutputRect, StaysOnTheScreen) {
  // Negative edges are raised to 0.
  EXPECT_EQ(outputRect(Rect{-30, -9, 200, 101}, 1024, 768, 768, 576), (Rect{0, 0, 200, 100}));
  // A tile past the screen's right and bottom edges ends at them, not one
  // picture further on.
  EXPECT_EQ(outputRect(Rect{900, 700, 1299, 999}, 1024, 768, 768, 576), (Rect{900, 700, 1024, 768}));
  // Wholly off the screen: nothing.
  const Rect off = outputRect(Rect{1100, 10, 1300, 200}, 1024, 768, 768, 576);
  EXPECT_EQ(off.width(), 0);
  EXPECT_EQ(outputRect(Rect{10, 10, 12, 100}, 1024, 768, 768, 576).width(), 0);  // narrower than one step
}

TEST(KeepFrameOnScreen, RaisedToZeroAndPulledBackFromTheEdges) {
  int x = -20, y = -5;
  keepFrameOnScreen(&x, &y, 400, 300, 1024, 768);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  x = 800;
  y = 600;
  keepFrameOnScreen(&x, &y, 400, 300, 1024, 768);
  EXPECT_EQ(x, 624);
  EXPECT_EQ(y, 468);
  x = 10;
  y = 20;
  keepFrameOnScreen(&x, &y, 400, 300, 1024, 768);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
}

}  // namespace
}  // namespace lxmperf

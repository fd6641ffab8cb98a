// The video view shows the video memory under its screen position, follows
// what changes there (including drawing on its own window device context),
// and stops looking often once nothing changes. A private machine with a
// 1024 x 768 x 32 screen; the view is grabbed to read what it shows.
#include <gtest/gtest.h>
#include <windows.h>

#include <QAbstractScrollArea>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include <cstring>
#include <functional>

#include "lxqt/video_view.h"
#include "machine_first.h"
#include "video_memory.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using terncard::testing::VideoMemory;

uint32_t pattern(int x, int y) { return static_cast<uint32_t>((x * 3) << 16 | (y * 5) << 8 | ((x + y) & 0xFF)) & 0xFFFFFF; }

void paintPattern(const VideoMemory& vram) {
  for (int y = 0; y < 768; ++y) {
    for (int x = 0; x < 1024; ++x) {
      const uint32_t pixel = pattern(x, y);
      std::memcpy(vram.at(x, y), &pixel, 4);
    }
  }
}

bool pumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    lxqt::pumpMessages(10);
  }
  return done();
}

QRgb shown(lxqt::VideoView& view, int x, int y) { return view.grab().toImage().pixel(x, y) & 0xFFFFFF; }

TEST(VideoView, ShowsTheVideoMemoryUnderItAndFollowsItsChanges) {
  VideoMemory vram;
  ASSERT_TRUE(vram);
  paintPattern(vram);
  lxqt::VideoView view;
  view.setGeometry(150, 120, 100, 80);
  view.show();
  ASSERT_TRUE(pumpUntil([&] { return view.framesTaken() > 0; }));
  const QPoint at = view.mapToGlobal(QPoint(0, 0));
  const QImage picture = view.grab().toImage();
  ASSERT_EQ(picture.size(), QSize(100, 80));
  for (int y = 0; y < 80; y += 7) {
    for (int x = 0; x < 100; x += 3) {
      ASSERT_EQ(picture.pixel(x, y) & 0xFFFFFF, pattern(at.x() + x, at.y() + y)) << x << "," << y;
    }
  }

  // The card (here: the test) writes video memory: the view follows.
  const quint64 before = view.framesTaken();
  const uint32_t white = 0xFFFFFF;
  std::memcpy(vram.at(at.x() + 10, at.y() + 20), &white, 4);
  ASSERT_TRUE(pumpUntil([&] { return view.framesTaken() > before; }));
  EXPECT_EQ(shown(view, 10, 20), 0xFFFFFFu);

  // A program draws on the view's own window: into video memory, then shown.
  HDC dc = GetDC(lxqt::hwndOf(&view));
  ASSERT_NE(dc, nullptr);
  RECT rect{40, 30, 60, 50};
  HBRUSH brush = CreateSolidBrush(RGB(0x20, 0x40, 0x60));
  ASSERT_NE(FillRect(dc, &rect, brush), 0);
  ReleaseDC(lxqt::hwndOf(&view), dc);
  DeleteObject(brush);
  ASSERT_TRUE(pumpUntil([&] { return shown(view, 45, 35) == 0x204060u; }));
  EXPECT_EQ(shown(view, 39, 35), pattern(at.x() + 39, at.y() + 35));

  // Moved: it shows what lies under its new place.
  view.move(400, 300);
  ASSERT_TRUE(pumpUntil([&] {
    const QPoint now = view.mapToGlobal(QPoint(0, 0));
    return now != at && shown(view, 5, 5) == pattern(now.x() + 5, now.y() + 5);
  }));
}

TEST(VideoView, NoNewPictureWhileNothingChangesAndBlackBeyondTheScreen) {
  VideoMemory vram;
  ASSERT_TRUE(vram);
  paintPattern(vram);
  lxqt::VideoView view;
  view.setGeometry(990, 700, 60, 40);  // over the screen's right edge
  view.show();
  ASSERT_TRUE(pumpUntil([&] { return view.framesTaken() > 0; }));
  const QPoint at = view.mapToGlobal(QPoint(0, 0));
  ASSERT_LT(at.x(), 1024);
  const int inside = 1023 - at.x();
  EXPECT_EQ(shown(view, inside, 0), pattern(1023, at.y()));
  EXPECT_EQ(shown(view, inside + 1, 0), 0u) << "beyond the screen";

  // Nothing changes for 1.5 s: no further picture, and it looks less often.
  const quint64 taken = view.framesTaken();
  lxqt::pumpMessages(1500);
  EXPECT_EQ(view.framesTaken(), taken);
  EXPECT_EQ(view.pollInterval(), 100);
  // A change brings it back to the refresh rate.
  const uint32_t black = 0;
  std::memcpy(vram.at(at.x(), at.y()), &black, 4);
  ASSERT_TRUE(pumpUntil([&] { return view.framesTaken() > taken; }));
  EXPECT_LT(view.pollInterval(), 100);
  EXPECT_EQ(shown(view, 0, 0), 0u);

  // Hidden, it takes no pictures whatever changes.
  view.hide();
  const quint64 hidden = view.framesTaken();
  std::memcpy(vram.at(at.x() + 1, at.y()), &black, 4);
  lxqt::pumpMessages(300);
  EXPECT_EQ(view.framesTaken(), hidden);
}

// A scrolling view whose viewport is a video view, as a program's view is.
class ScrollingView : public QAbstractScrollArea {
 public:
  ScrollingView() : view(new lxqt::VideoView) { setViewport(view); }
  lxqt::VideoView* view;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(viewport());
    view->paintPicture(painter, event->rect());
  }
};

TEST(VideoView, AsTheViewportOfAScrollArea) {
  VideoMemory vram;
  ASSERT_TRUE(vram);
  paintPattern(vram);
  ScrollingView area;
  area.setGeometry(300, 200, 160, 120);
  area.show();
  ASSERT_TRUE(pumpUntil([&] { return area.view->framesTaken() > 0; }));
  const QPoint at = area.view->mapToGlobal(QPoint(0, 0));
  const QImage picture = area.view->grab().toImage();
  EXPECT_EQ(picture.pixel(7, 9) & 0xFFFFFF, pattern(at.x() + 7, at.y() + 9));
  EXPECT_EQ(picture.pixel(30, 40) & 0xFFFFFF, pattern(at.x() + 30, at.y() + 40));
}

}  // namespace

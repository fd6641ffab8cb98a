// Monitored capture on the program's own windows (offscreen) against a
// private machine: the mask the card gets for a whole, a covered and an
// uncovered view, the video memory under a covering window left alone, the
// card's own mask back after the stop, a window destroyed under a running
// monitor, both monitor methods; and the capture shot clipped to a window.
#include <gtest/gtest.h>
#include <windows.h>

#include <QWidget>

#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "lx/internal/card_record.h"
#include "lx/monitored_capture.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
// After the card handle type it uses.
#include "card_record_copy.h"
#include "lxqt/bridge.h"
#include "machine_first.h"
#include "monitor_test_support.h"
#include "video_memory.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using namespace lxqt::testing;
using terncard::testing::recordOf;
using terncard::testing::VideoMemory;

class MonitoredCapture : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    ASSERT_EQ(BeginLxCard(1, &card_), LX_OK);
    ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB8888), LX_OK);
    ASSERT_EQ(LxSetOutputWindow(card_, kX0, kY0, kWidth, kHeight), LX_OK);
    ASSERT_EQ(LxSetMonitorMethod(card_, GetParam()), LX_OK);
  }
  void TearDown() override {
    LxCaptureEx(card_, nullptr, 0);  // a test that failed midway leaves no monitor behind
    EXPECT_EQ(EndLxCard(card_), LX_OK);
  }
  LxCardHandle card_ = nullptr;
};

TEST_P(MonitoredCapture, TheMaskFollowsACoveringWindowAndTheScreenUnderItKeepsItsPixels) {
  // The card's own mask: all shown but one hidden pixel, switched on.
  ASSERT_EQ(LxFlushMask(card_, 1), LX_OK);
  ASSERT_EQ(LxSetPixelMask(card_, 600, 400, 1), LX_OK);
  ASSERT_EQ(LxEnableMask(card_, 1), LX_OK);
  const std::vector<uint8_t> before = maskOf(card_);

  auto view = shownWindow(kX0, kY0, kWidth, kHeight);
  const HWND window = lxqt::hwndOf(view.get());
  ASSERT_EQ(LxCaptureEx(card_, window, 1), LX_OK);
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_CAPTURE_EX);
  EXPECT_EQ(LxCaptureEx(card_, window, 1), LX_IN_WORK);

  const auto whole = [](int x, int y) { return !(x == kX0 + 600 && y == kY0 + 400); };
  EXPECT_TRUE(pumpUntil([&] { return maskIs(card_, whole); })) << "the whole view, less the pixel the card hid";

  auto cover = shownWindow(kX0 + 200, kY0 + 100, 150, 120);
  RECT coverRect{};
  ASSERT_TRUE(GetWindowRect(lxqt::hwndOf(cover.get()), &coverRect));
  const auto covered = [&](int x, int y) { return whole(x, y) && !inside(coverRect, x, y); };
  ASSERT_TRUE(pumpUntil([&] { return maskIs(card_, covered); })) << "the covering window is cut out";

  // The card writes the visible part and nothing under the cover.
  {
    VideoMemory vram;
    ASSERT_TRUE(vram);
    // (The monitoring thread may still be restarting the card.)
    ASSERT_TRUE(pumpUntil([&] { return recordOf(card_).state == LX_CAPTURE_STATE_CAPTURE_EX; }));
    paintScreen(vram);
    const auto written = [&] {
      int count = 0;
      for (int y = kY0; y < kY0 + kHeight; y += 7) {
        for (int x = kX0; x < kX0 + kWidth; x += 7) count += !inside(coverRect, x, y) && !untouched(vram, x, y);
      }
      return count;
    };
    for (int wait = 0; wait < 60 && written() < 5000; ++wait) ASSERT_EQ(LxWaitOddVSync(card_), LX_OK);
    EXPECT_GT(written(), 5000) << "video in the visible part";
    for (int wait = 0; wait < 4; ++wait) ASSERT_EQ(LxWaitOddVSync(card_), LX_OK);
    for (int y = coverRect.top; y < coverRect.bottom; ++y) {
      for (int x = coverRect.left; x < coverRect.right; ++x) {
        ASSERT_TRUE(untouched(vram, x, y)) << "under the cover at " << x << "," << y;
      }
    }
    EXPECT_TRUE(untouched(vram, kX0 - 1, kY0)) << "outside the output window";
  }

  cover->move(800, 600);
  lxqt::pumpMessages(10);
  EXPECT_TRUE(pumpUntil([&] { return maskIs(card_, whole); })) << "the full mask again";

  ASSERT_EQ(LxCaptureEx(card_, window, 0), LX_OK);
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);
  EXPECT_EQ(maskOf(card_), before);
  EXPECT_EQ(recordOf(card_).maskEnabled, 1);
  EXPECT_EQ(LxCaptureEx(card_, window, 0), LX_NOT_START_CAPTURE_EX);
}

TEST_P(MonitoredCapture, ADestroyedWindowEndsTheCaptureAndGivesTheMaskBack) {
  ASSERT_EQ(LxFlushMask(card_, 0), LX_OK);
  ASSERT_EQ(LxSetPixelMask(card_, 3, 3, 0), LX_OK);
  ASSERT_EQ(LxEnableMask(card_, 0), LX_OK);
  const std::vector<uint8_t> before = maskOf(card_);

  auto view = shownWindow(kX0, kY0, kWidth, kHeight);
  const HWND window = lxqt::hwndOf(view.get());
  ASSERT_EQ(LxCaptureEx(card_, window, 1), LX_OK);
  ASSERT_TRUE(pumpUntil([&] { return maskIs(card_, [](int, int) { return true; }); }))
      << "the application's mask is off: every visible pixel shows";
  view.reset();
  // (The card is idle for a moment during every rebuild too: wait for the end.)
  EXPECT_TRUE(pumpUntil([&] {
    const LxCardRecord record = recordOf(card_);
    return record.state == LX_CAPTURE_STATE_IDLE && record.maskEnabled == 0 && maskOf(card_) == before;
  })) << "capture stopped, the card's mask and switch back";
  EXPECT_EQ(LxCaptureEx(card_, window, 0), LX_NOT_START_CAPTURE_EX);

  // The card can be monitored again, in another window.
  auto next = shownWindow(kX0, kY0, kWidth, kHeight);
  ASSERT_EQ(LxCaptureEx(card_, lxqt::hwndOf(next.get()), 1), LX_OK);
  EXPECT_EQ(LxCaptureEx(card_, lxqt::hwndOf(next.get()), 0), LX_OK);
}

TEST_P(MonitoredCapture, AClipListLongerThanTheFirstBufferIsReadWhole) {
  auto view = shownWindow(kX0, kY0, kWidth, kHeight);
  ASSERT_EQ(LxCaptureEx(card_, lxqt::hwndOf(view.get()), 1), LX_OK);
  // A staircase of small windows cuts the view into some 50 rectangles,
  // more than the 512 bytes the monitor starts with hold.
  std::vector<std::unique_ptr<QWidget>> covers;
  std::vector<RECT> coverRects;
  for (int i = 0; i < 16; ++i) {
    covers.push_back(shownWindow(kX0 + 10 + 38 * i, kY0 + 10 + 28 * i, 20, 12));
    RECT r{};
    ASSERT_TRUE(GetWindowRect(lxqt::hwndOf(covers.back().get()), &r));
    coverRects.push_back(r);
  }
  EXPECT_TRUE(pumpUntil([&] {
    return maskIs(card_, [&](int x, int y) {
      for (const RECT& r : coverRects) {
        if (inside(r, x, y)) return false;
      }
      return true;
    });
  }));
  EXPECT_EQ(LxCaptureEx(card_, lxqt::hwndOf(view.get()), 0), LX_OK);
}

INSTANTIATE_TEST_SUITE_P(BothMethods, MonitoredCapture, ::testing::Values(0u, 1u),
                         [](const auto& info) { return info.param == 0 ? "Timer" : "Thread"; });

TEST(MonitoredCaptureCalls, RefusalsLeaveTheCardAsItWas) {
  LxCardHandle card = nullptr;
  ASSERT_EQ(BeginLxCard(1, &card), LX_OK);
  EXPECT_EQ(LxSetMonitorMethod(card, 2), LX_PARAMETER_OUT_OF_BOUND);
  EXPECT_EQ(recordOf(card).monitorMethod, 0);
  ASSERT_EQ(LxSetMonitorMethod(card, 1), LX_OK);
  EXPECT_EQ(recordOf(card).monitorMethod, 1);
  EXPECT_EQ(LxSetMonitorMethod(nullptr, 0), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(LxCaptureEx(card, nullptr, 0), LX_NOT_START_CAPTURE_EX);
  EXPECT_EQ(LxCaptureEx(card, nullptr, 1), LX_PARAMETER_INVALID);
  EXPECT_EQ(recordOf(card).state, LX_CAPTURE_STATE_IDLE);

  // Method 0 follows the window on its own thread's timer: not from another thread.
  ASSERT_EQ(LxSetMonitorMethod(card, 0), LX_OK);
  auto view = shownWindow(kX0, kY0, kWidth, kHeight);
  const HWND window = lxqt::hwndOf(view.get());
  LxStatus fromOther = LX_OK;
  std::thread([&] { fromOther = LxCaptureEx(card, window, 1); }).join();
  EXPECT_EQ(fromOther, LX_INTERNAL_ERROR);
  EXPECT_EQ(recordOf(card).state, LX_CAPTURE_STATE_IDLE);
  EXPECT_EQ(EndLxCard(card), LX_OK);
}

TEST(CaptureShotEx, ThePictureStopsAtTheClientAreasRightAndBottomEdges) {
  LxCardHandle card = nullptr;
  ASSERT_EQ(BeginLxCard(1, &card), LX_OK);
  ASSERT_EQ(LxSetVideoFormat(card, LX_VIDEO_FORMAT_RGB8888), LX_OK);
  ASSERT_EQ(LxSetOutputWindow(card, kX0, kY0, kWidth, kHeight), LX_OK);
  ASSERT_EQ(LxFlushMask(card, 1), LX_OK);
  ASSERT_EQ(LxSetPixelMask(card, 10, 10, 1), LX_OK);
  const std::vector<uint8_t> before = maskOf(card);

  // The client area ends 300 columns and 200 rows into the output window.
  auto view = shownWindow(kX0 - 50, kY0 - 40, 350, 240);
  VideoMemory vram;
  ASSERT_TRUE(vram);
  paintScreen(vram);
  ASSERT_EQ(LxCaptureShotEx(card, lxqt::hwndOf(view.get())), LX_OK);
  for (int y = kY0; y < kY0 + kHeight; ++y) {
    for (int x = kX0 + 300; x < kX0 + kWidth; ++x) ASSERT_TRUE(untouched(vram, x, y)) << x << "," << y;
  }
  for (int y = kY0 + 200; y < kY0 + kHeight; ++y) {
    for (int x = kX0; x < kX0 + 300; ++x) ASSERT_TRUE(untouched(vram, x, y)) << x << "," << y;
  }
  int written = 0;
  for (int y = kY0; y < kY0 + 200; ++y) {
    for (int x = kX0; x < kX0 + 300; ++x) written += !untouched(vram, x, y);
  }
  EXPECT_GT(written, 300 * 200 * 9 / 10);
  EXPECT_FALSE(untouched(vram, kX0 + 10, kY0 + 10)) << "the card's mask was off: its hidden pixel shows video";
  EXPECT_EQ(maskOf(card), before);
  EXPECT_EQ(recordOf(card).maskEnabled, 0);
  EXPECT_EQ(recordOf(card).state, LX_CAPTURE_STATE_IDLE);

  EXPECT_EQ(LxCaptureShotEx(nullptr, lxqt::hwndOf(view.get())), LX_INTERNAL_ERROR);
  EXPECT_EQ(EndLxCard(card), LX_OK);
}

}  // namespace

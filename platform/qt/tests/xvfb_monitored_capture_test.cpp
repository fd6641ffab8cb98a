// Monitored capture under a private Xvfb server into a video view: a window
// of another X client over part of the view is cut out of the card's mask
// within a few timer ticks, the card leaves the video memory under it alone,
// the X screen shows the video in the view up to that window's edges, and
// moving it away restores the full mask; after the stop the card's mask is
// as before. Both monitor methods. Skipped, saying why, where Xvfb is not
// installed. While the other window covers the view, the X screen is saved
// as a PNG file where $LXQT_X_SCREENSHOT names one, the machine's screen (its
// video memory) where $LXQT_SCREENSHOT does.
#include <gtest/gtest.h>
#include <windows.h>

#include <QApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "lx/monitored_capture.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lxqt/video_view.h"
#include "machine_first.h"
#include "monitor_test_support.h"
#include "x_screen.h"
#include "xvfb_server.h"
// X's headers define names Qt's use: after them.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using namespace lxqt::testing;

constexpr char kStartedVariable[] = "LXQT_TEST_XVFB";

bool onXvfb() { return std::getenv(kStartedVariable) != nullptr && std::string(std::getenv(kStartedVariable)) == "1"; }

// The other client's window, driven through its standard input.
class CoverWindow {
 public:
  CoverWindow(int x, int y, int width, int height) {
    const std::string command = std::string(LXQT_X11_COVER) + " " + std::to_string(x) + " " + std::to_string(y) +
                                " " + std::to_string(width) + " " + std::to_string(height);
    pipe_ = popen(command.c_str(), "w");
  }
  ~CoverWindow() { close(); }
  void move(int x, int y) {
    std::fprintf(pipe_, "move %d %d\n", x, y);
    std::fflush(pipe_);
  }
  void close() {
    if (pipe_ == nullptr) return;
    std::fprintf(pipe_, "quit\n");
    pclose(pipe_);
    pipe_ = nullptr;
  }
  explicit operator bool() const { return pipe_ != nullptr; }

 private:
  FILE* pipe_ = nullptr;
};

// Saves the machine's screen (its video memory) as a PNG where
// $LXQT_SCREENSHOT names one.
void saveScreen(const VideoMemory& vram) {
  const char* path = std::getenv("LXQT_SCREENSHOT");
  if (path == nullptr) return;
  QImage image(vram.at(0, 0), 1024, 768, static_cast<qsizetype>(vram.pitch()), QImage::Format_RGB32);
  image.save(QString::fromLocal8Bit(path));
}

constexpr QRgb kCoverColour = 0x303848;  // lxqt_x11_cover's background

class XvfbMonitoredCapture : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    if (!onXvfb()) GTEST_SKIP() << "Xvfb is not installed: the X11 clip-list tests need it (apt-get install xvfb)";
    ASSERT_EQ(BeginLxCard(1, &card_), LX_OK);
    ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB8888), LX_OK);
    ASSERT_EQ(LxSetOutputWindow(card_, kX0, kY0, kWidth, kHeight), LX_OK);
    ASSERT_EQ(LxSetMonitorMethod(card_, GetParam()), LX_OK);
  }
  void TearDown() override {
    if (card_ == nullptr) return;
    LxCaptureEx(card_, nullptr, 0);
    EXPECT_EQ(EndLxCard(card_), LX_OK);
  }
  LxCardHandle card_ = nullptr;
};

TEST_P(XvfbMonitoredCapture, AnotherClientsWindowIsCutOutOfTheMask) {
  ASSERT_EQ(LxFlushMask(card_, 1), LX_OK);
  const std::vector<uint8_t> before = maskOf(card_);
  auto view = std::make_unique<lxqt::VideoView>();
  view->setGeometry(kX0, kY0, kWidth, kHeight);
  view->show();
  lxqt::pumpMessages(20);
  const HWND window = lxqt::hwndOf(view.get());
  ASSERT_EQ(LxCaptureEx(card_, window, 1), LX_OK);
  const auto whole = [](int, int) { return true; };
  ASSERT_TRUE(pumpUntil([&] { return maskIs(card_, whole); })) << "the whole view shows video";

  const RECT coverRect{kX0 + 203, kY0 + 101, kX0 + 203 + 150, kY0 + 101 + 120};
  CoverWindow cover(coverRect.left, coverRect.top, 150, 120);
  ASSERT_TRUE(cover);
  const auto covered = [&](int x, int y) { return !inside(coverRect, x, y); };
  ASSERT_TRUE(pumpUntil([&] { return maskIs(card_, covered); })) << "the other client's window is cut out";

  {
    VideoMemory vram;
    ASSERT_TRUE(vram);
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
        ASSERT_TRUE(untouched(vram, x, y)) << "under the other window at " << x << "," << y;
      }
    }
    if (GetParam() == 0) saveScreen(vram);
  }

  // What a person sees: the view shows video wherever the other window
  // leaves it visible, right up to that window's edges, and the other
  // window where it lies.
  const auto screenIsRight = [&] {
    const QImage seen = xScreen();
    if (seen.isNull()) return false;
    const auto pixel = [&](int x, int y) { return seen.pixel(x, y) & 0xFFFFFF; };
    const QRgb background = kScreen * 0x010101u;
    for (int y = coverRect.top; y < coverRect.bottom; y += 3) {
      if (pixel(coverRect.left - 1, y) == background || pixel(coverRect.right, y) == background) return false;
      if (pixel(coverRect.left, y) != kCoverColour || pixel(coverRect.right - 1, y) != kCoverColour) return false;
    }
    int video = 0, samples = 0;
    for (int y = kY0; y < kY0 + kHeight; y += 9) {
      for (int x = kX0; x < kX0 + kWidth; x += 9) {
        if (inside(coverRect, x, y)) continue;
        ++samples;
        video += pixel(x, y) != background;
      }
    }
    return video > samples * 9 / 10;
  };
  EXPECT_TRUE(pumpUntil(screenIsRight)) << "the X screen shows the video stopping at the other window's edges";
  if (const char* path = std::getenv("LXQT_X_SCREENSHOT"); path != nullptr && GetParam() == 0) {
    xScreen().save(QString::fromLocal8Bit(path));
  }

  cover.move(900, 650);
  EXPECT_TRUE(pumpUntil([&] { return maskIs(card_, whole); })) << "moved away: the full mask again";
  cover.close();

  ASSERT_EQ(LxCaptureEx(card_, window, 0), LX_OK);
  EXPECT_EQ(maskOf(card_), before);
}

INSTANTIATE_TEST_SUITE_P(BothMethods, XvfbMonitoredCapture, ::testing::Values(0u, 1u),
                         [](const auto& info) { return info.param == 0 ? "Timer" : "Thread"; });

int runTests(int argc, char** argv) {
  if (!onXvfb()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  if (!lxqt::installBridge(app)) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace

int main(int argc, char** argv) {
  // The program runs twice (the machine first, then the cases in a child):
  // only the first starts the X server, the child inherits its display.
  lxqt::testing::XvfbServer server;
  if (std::getenv(kStartedVariable) == nullptr) {
    if (server.start()) {
      setenv("DISPLAY", server.display().c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
      setenv(kStartedVariable, "1", 1);
    } else {
      setenv(kStartedVariable, "0", 1);
    }
  }
  return terncard::testing::runAfterBooting(terncard::testing::machineConfig(), argc, argv, runTests);
}

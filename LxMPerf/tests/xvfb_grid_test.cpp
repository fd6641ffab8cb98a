// LxMPerf with four cards under a private Xvfb server: the X screen (what a
// person sees) shows each card's live video in its own tile, told apart by
// the stamp ID of its source. $LXMPERF_X_SCREENSHOT names a PNG file for
// the X screen at that moment. Skipped where Xvfb is not installed.
#include <gtest/gtest.h>
#include <windows.h>

#include <QApplication>
#include <QImage>

#include <cstdlib>
#include <string>

#include "frame_fixture.h"
#include "line_stamp.h"
#include "machine_first.h"
#include "x_screen.h"
#include "xvfb_server.h"
// X's headers define names Qt's use: after them.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

const char* terncard::testing::machineConfig() {
  static const std::string config = [] {
    std::string text = "[clock]\nfactor = 20\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n";
    for (int card = 0; card < 4; ++card)
      text += "[[terncard]]\nsignature = true\nsources = [\"stamp:" + std::to_string(21 + card) +
              "\", \"none\", \"none\", \"none\"]\n\n";
    return text;
  }();
  return config.c_str();
}

namespace lxmperf::testing {
namespace {

constexpr char kStartedVariable[] = "LXMPERF_TEST_XVFB";

bool onXvfb() { return std::getenv(kStartedVariable) != nullptr && std::string(std::getenv(kStartedVariable)) == "1"; }

// Rows of the card's output rectangle on the X screen stamped with `id`.
int rowsOnXScreen(const QImage& screen, const CardRecord& card, int id) {
  int rows = 0;
  for (int y = card.output.top; y < card.output.bottom && y < screen.height(); ++y) {
    const auto stamp = lxtest::decodeLineStamp(screen.constScanLine(y) + 4 * card.output.left, card.output.width(), 4);
    rows += stamp && stamp->sourceId == id;
  }
  return rows;
}

TEST_F(FrameTest, TheXScreenShowsEachCardInItsTile) {
  if (!onXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  CMainFrame& frame = open(840, 600);
  ASSERT_EQ(frame.cardCount, 4);
  frame.dispatch(cmd::kCapture);
  ASSERT_EQ(frame.state, 2);
  QImage screen;
  const auto allTiles = [&] {
    screen = xScreen();
    for (int i = 0; i < 4; ++i) {
      if (rowsOnXScreen(screen, frame.cards[i], 21 + i) < frame.cards[i].output.height() / 2) return false;
    }
    return true;
  };
  EXPECT_TRUE(pumpUntil(allTiles, 20));
  for (int i = 0; i < 4; ++i) {
    for (int other = 0; other < 4; ++other) {
      if (other != i) {
        EXPECT_EQ(rowsOnXScreen(screen, frame.cards[i], 21 + other), 0) << "card " << other << " in tile " << i;
      }
    }
  }
  if (const char* path = std::getenv("LXMPERF_X_SCREENSHOT")) screen.save(QString::fromLocal8Bit(path));
  frame.dispatch(cmd::kCapture);
  EXPECT_EQ(frame.state, 0);
}

int runTests(int argc, char** argv) {
  if (!onXvfb()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  if (!lxqt::installBridge(app)) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace
}  // namespace lxmperf::testing

int main(int argc, char** argv) {
  // Only the first run starts the X server; the child inherits its display.
  lxqt::testing::XvfbServer server;
  if (std::getenv(lxmperf::testing::kStartedVariable) == nullptr) {
    if (server.start()) {
      setenv("DISPLAY", server.display().c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
      setenv(lxmperf::testing::kStartedVariable, "1", 1);
    } else {
      setenv(lxmperf::testing::kStartedVariable, "0", 1);
    }
  }
  return terncard::testing::runAfterBooting(terncard::testing::machineConfig(), argc, argv,
                                            lxmperf::testing::runTests);
}

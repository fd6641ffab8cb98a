// Video placement in the real window: the position constraint (screen edges
// included), the scroll bars moving the input window, clip and scale, and
// snap-ex's frame-rate title restarted by a resize.
#include <QScrollBar>

#include "command_ids.h"
#include "frame_fixture.h"
#include "lxqt/bridge.h"

namespace lxperf::testing {
namespace {

using PlacementTest = FrameTest;

RECT clientOf(CMainFrame& frame) { return frame.view()->clientOnScreen(); }

TEST_F(PlacementTest, ClientAreaIsAlignedAndTheCardWindowsFollowIt) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  const demo::Borders b = frame_->borders;
  frame_->move(6 - b.left, 51 - b.top);  // client at column 6, row 51
  lxqt::pumpMessages(30);
  RECT client = clientOf(*frame_);
  EXPECT_EQ(client.left, 8);
  EXPECT_EQ(client.top, 52);
  EXPECT_EQ((client.right - client.left) % 4, 0);
  EXPECT_EQ((client.bottom - client.top) % 2, 0);
  EXPECT_EQ(v.outputX, 8) << "the output window is the client area";
  EXPECT_EQ(v.outputY, 52);
  EXPECT_EQ(v.outputWidth, client.right - client.left);

  frame_->resize(2000, 2000);
  lxqt::pumpMessages(30);
  client = clientOf(*frame_);
  EXPECT_LE(client.right - client.left, 768);
  EXPECT_LE(client.bottom - client.top, 576);
}

// Qt's offscreen platform lands a moved frame a few pixels from where it was
// asked to go (its frame margins), so the client area is expected on the
// screen, aligned, and within one alignment step of the edge it was pushed to.
TEST_F(PlacementTest, MovesOffTheScreenPutTheClientAreaBackAtItsEdges) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  // The machine's display, as the configuration gives it.
  ASSERT_EQ(frame_->screenWidth, 1024);
  ASSERT_EQ(frame_->screenHeight, 768);
  const RECT before = clientOf(*frame_);
  const int width = before.right - before.left, height = before.bottom - before.top;

  frame_->move(-300, -200);
  lxqt::pumpMessages(30);
  RECT client = clientOf(*frame_);
  EXPECT_GE(client.left, 0);
  EXPECT_LE(client.left, 4);
  EXPECT_EQ(client.left % 4, 0);
  EXPECT_GE(client.top, 0);
  EXPECT_LE(client.top, 4);
  EXPECT_EQ(client.top % 2, 0);
  EXPECT_EQ(v.outputX, client.left) << "the output window follows";
  EXPECT_EQ(v.outputY, client.top);

  frame_->move(5000, 4000);
  lxqt::pumpMessages(30);
  client = clientOf(*frame_);
  EXPECT_LE(client.right, 1024);
  EXPECT_GE(client.right, 1024 - 4);
  EXPECT_EQ(client.left % 4, 0);
  EXPECT_LE(client.bottom, 768);
  EXPECT_GE(client.bottom, 768 - 4);
  EXPECT_EQ(client.top % 2, 0);
  EXPECT_EQ(client.right - client.left, width) << "a move keeps the size";
  EXPECT_EQ(client.bottom - client.top, height);
  EXPECT_EQ(v.outputX, client.left);
  EXPECT_EQ(v.outputY, client.top);
}

TEST_F(PlacementTest, ScrollBarsMoveTheInputWindowInClipModeAndHideInScaleMode) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  QScrollBar* h = frame_->view()->horizontalBar();
  QScrollBar* vertical = frame_->view()->verticalBar();
  const RECT client = clientOf(*frame_);
  ASSERT_TRUE(h->isEnabled());
  EXPECT_EQ(h->maximum(), 768 - (client.right - client.left));
  EXPECT_EQ(vertical->maximum(), 576 - (client.bottom - client.top));
  const int width = v.inputWidth;

  frame_->ScrollView(true, demo::ScrollCode::ThumbPosition, 103);
  EXPECT_EQ(h->value(), 100);
  EXPECT_EQ(v.inputX, 100);
  EXPECT_EQ(v.inputWidth, width) << "the window keeps its size";
  frame_->ScrollView(true, demo::ScrollCode::LineUp, 0);
  EXPECT_EQ(v.inputX, 96);
  frame_->ScrollView(false, demo::ScrollCode::LineDown, 0);
  EXPECT_EQ(v.inputY, 2);
  h->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(v.inputX, h->maximum());

  menu(kScale);
  EXPECT_FALSE(h->isVisible());
  EXPECT_FALSE(vertical->isVisible());
  EXPECT_EQ(v.inputX, 0);
  EXPECT_EQ(v.inputWidth, 768) << "the whole picture, scaled by the card";
  EXPECT_EQ(v.inputHeight, 576);
  menu(kClip);
  EXPECT_TRUE(h->isVisible());
  EXPECT_EQ(v.inputWidth, client.right - client.left);
}

TEST_F(PlacementTest, SnapExShowsTheFrameRateAndAResizeRestartsIt) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  menu(kSnap);
  ASSERT_EQ(v.videoState, 4);
  lxqt::pumpMessages(600);
  EXPECT_GT(frame_->frameCounter.load(), 0);
  const QString title = frame_->windowTitle();
  EXPECT_TRUE(title.startsWith(QString::asprintf("Lx Performance [%d x %d]  ", v.image.width(), v.image.height())))
      << title.toStdString();
  EXPECT_TRUE(title.endsWith("(fps) ")) << title.toStdString();

  frame_->resize(frame_->width() - 40, frame_->height() - 40);
  lxqt::pumpMessages(20);
  EXPECT_EQ(v.videoState, 4) << "the stream runs on with the new size";
  EXPECT_EQ(v.image.width(), v.outputWidth);
  lxqt::pumpMessages(300);
  EXPECT_GT(frame_->frameCounter.load(), 0);
  menu(kSnap);
  EXPECT_EQ(v.videoState, 0);
  lxqt::pumpMessages(100);
  EXPECT_EQ(frame_->windowTitle().toStdString(), "Lx Performance [" + std::to_string(v.outputWidth) + " x " +
                                                    std::to_string(v.outputHeight) + "]")
      << "idle again: the plain title";
}

}  // namespace
}  // namespace lxperf::testing

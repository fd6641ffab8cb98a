// LxMPerf on a machine with two cards (stamp sources 11 and 12) and 1 MiB of
// static memory: Snap Shot gives both cards the same frame count with the
// second card's series after the first's, whatever their frame sizes; Save
// Serials names the files by card and frame; playback draws each card's
// frames into its tile; and a static memory too small for one frame of every
// card snaps nothing and leaves Save Serials disabled.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <windows.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <fstream>
#include <string>

#include "frame_fixture.h"
#include "line_stamp.h"
#include "lxqt/painter_dc.h"
#include "lx/video.h"
#include "stack_machine.h"
#include "video_memory.h"

extern char** environ;

namespace lxmperf::testing {
namespace {

constexpr uint32_t kStaticPages = 256;  // 1 MiB

// Rows of a stored frame whose stamp names `id`.
int stampedRows(uint32_t offset, int width, int height, int format, int bytesPerPixel, int id) {
  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  const uint32_t bytes = static_cast<uint32_t>(width * height * bytesPerPixel);
  if (LxStaticMemLock(offset, bytes, &lock, &address) != LX_OK) return -1;
  int rows = 0;
  for (int y = 0; y < height; ++y) {
    const auto stamp =
        lxtest::decodeLineStamp(static_cast<const uint8_t*>(address) + y * width * bytesPerPixel, width, format);
    if (stamp && stamp->sourceId == id) ++rows;
  }
  LxStaticMemUnlock(lock);
  return rows;
}

std::string pillow(const std::string& file) {
  const std::string out = file + ".txt";
  const std::string command = std::string(DEMO_PYTHON) + " -c \"from PIL import Image; im = Image.open('" + file +
                              "'); im.load(); open('" + out + "', 'w').write('%dx%d %s' % (im.size[0], im.size[1], im.mode))\"";
  if (std::system(command.c_str()) != 0) return "pillow failed";
  std::ifstream in(out);
  std::string line;
  std::getline(in, line);
  return line;
}

TEST_F(FrameTest, SnapShotGivesEveryCardTheSameCountOneSeriesAfterTheOther) {
  CMainFrame& frame = open(512, 256);
  ASSERT_EQ(frame.cardCount, 2);
  // Card 2 in RGB565: half the frame bytes of card 1's RGB8888.
  frame.selectedCard = 1;
  frame.dispatch(cmd::kRgb565);
  frame.selectedCard = 2;
  ASSERT_EQ(frame.cards[1].videoFormat, 2);
  EXPECT_FALSE(enabled(cmd::kSaveSerials));

  frame.dispatch(cmd::kSnapShot);
  const CardRecord& first = frame.cards[0];
  const CardRecord& second = frame.cards[1];
  const uint32_t firstBytes = first.frameBytes(), secondBytes = second.frameBytes();
  ASSERT_EQ(firstBytes, 2 * secondBytes);
  const int count = static_cast<int>(kStaticPages * 4096u / (firstBytes + secondBytes));
  ASSERT_EQ(count, 2);
  EXPECT_EQ(frame.imageCount, count);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Notice: Snap shot 2 images totally to memory ");
  EXPECT_EQ(first.staticOffset, 0u);
  EXPECT_EQ(second.staticOffset, firstBytes * 2u);
  // Each series holds its own card's frames.
  const int width = first.output.width(), height = first.output.height();
  for (int k = 0; k < count; ++k) {
    EXPECT_GT(stampedRows(first.staticOffset + k * firstBytes, width, height, 4, 4, 11), height / 2) << k;
    EXPECT_GT(stampedRows(second.staticOffset + k * secondBytes, width, height, 2, 2, 12), height / 2) << k;
  }
  EXPECT_TRUE(enabled(cmd::kSaveSerials));

  // Save Serials: base "run" from "run.bmp", card then frame.
  frame.setSaveNameChooser([this] { return (dir_ / "run.bmp").string(); });
  frame.dispatch(cmd::kSaveSerials);
  const std::string size = std::to_string(width) + "x" + std::to_string(height) + " RGB";
  for (const char* name : {"run1_1.bmp", "run1_2.bmp", "run2_1.bmp", "run2_2.bmp"}) {
    EXPECT_EQ(pillow((dir_ / name).string()), size) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "run1_3.bmp"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "run3_1.bmp"));

  // Printing scales positions and sizes: here twice the screen's.
  {
    QImage page(2400, 1200, QImage::Format_RGB32);
    page.fill(0xFF808080u);
    QPainter painter(&page);
    HDC dc = lxqt::beginPainterDC(&painter);
    ASSERT_NE(dc, nullptr);
    frame.DrawTiles(dc, 2.0);
    lxqt::endPainterDC(dc);
    painter.end();
    for (int card = 0; card < 2; ++card) {
      const CardRecord& record = frame.cards[card];
      const int x = 2 * record.outputViewX, y = 2 * record.outputViewY;
      int painted = 0;
      for (int dy = 0; dy < 2 * height; dy += 8)
        for (int dx = 0; dx < 2 * width; dx += 8) painted += page.pixel(x + dx, y + dy) != 0xFF808080u;
      EXPECT_GT(painted, (width / 4) * (height / 4) * 9 / 10) << "card " << card << " over twice its size";
      EXPECT_EQ(page.pixel(x + 2 * width + 1, y + 1), 0xFF808080u) << "nothing beyond it";
      EXPECT_EQ(page.pixel(x + 1, y + 2 * height + 1), 0xFF808080u);
    }
  }

  // Step playback draws each card's frame where its video was, in its tile.
  {
    terncard::testing::VideoMemory vram;
    ASSERT_TRUE(vram);
    for (int y = 0; y < 768; ++y) std::memset(vram.line(static_cast<uint32_t>(y)), 0, 1024 * 4);
  }
  frame.dispatch(cmd::kStep);
  EXPECT_EQ(frame.state, 5);
  EXPECT_EQ(frame.playbackIndex, 1);
  EXPECT_TRUE(checked(cmd::kStep));
  {
    terncard::testing::VideoMemory vram;
    for (int card = 0; card < 2; ++card) {
      const CardRecord& record = frame.cards[card];
      int rows = 0;
      for (int y = record.output.top; y < record.output.top + height; ++y) {
        const auto stamp = lxtest::decodeLineStamp(
            vram.at(static_cast<uint32_t>(record.output.left), static_cast<uint32_t>(y)), width, 4);
        rows += stamp && stamp->sourceId == 11 + card;
      }
      EXPECT_GT(rows, height / 2) << "card " << card << "'s frame in its tile";
    }
  }
  frame.OnLeftButtonDown();
  EXPECT_EQ(frame.playbackIndex, 2);
  frame.OnLeftButtonDown();
  EXPECT_EQ(frame.playbackIndex, 1) << "after the last frame the first again";
  frame.dispatch(cmd::kCircle);
  EXPECT_EQ(frame.stepMode, 0);
  EXPECT_EQ(frame.playbackIndex, 0);
  EXPECT_TRUE(pumpUntil([&] { return frame.playbackIndex >= 1; }, 5)) << "the 100 ms timer shows frames";
  frame.dispatch(cmd::kStop);
  EXPECT_EQ(frame.state, 0);
  EXPECT_EQ(frame.imageCount, 0);
  EXPECT_FALSE(enabled(cmd::kSaveSerials));
}

TEST_F(FrameTest, StaticMemoryTooSmallForOneFrameOfEveryCardSnapsNothing) {
  CMainFrame& frame = open(512, 256);
  frame.dispatch(cmd::kSnapShot);
  ASSERT_GE(frame.imageCount, 1);
  // Larger tiles: one RGB8888 frame of each card is more than 1 MiB together.
  frame.view()->setFixedSize(1000, 600);
  lxqt::pumpMessages(20);
  frame.Place();
  ASSERT_GT(uint64_t{frame.cards[0].frameBytes()} + frame.cards[1].frameBytes(), kStaticPages * 4096ull);
  messages_.clear();
  frame.dispatch(cmd::kSnapShot);
  EXPECT_EQ(frame.imageCount, 0);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Notice: Snap shot 0 images totally to memory ");
  EXPECT_FALSE(enabled(cmd::kSaveSerials));
  EXPECT_FALSE(enabled(cmd::kStep));
}

int runTests(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!lxqt::installBridge(app)) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace
}  // namespace lxmperf::testing

// Boots the machine, sets 1 MiB of static memory and restarts it for the
// setting to take effect, then runs the cases in a child process (whose
// libraries attach to the machine when they load).
int main(int argc, char** argv) {
  constexpr char kChild[] = "LXMPERF_SERIES_CHILD";
  if (std::getenv(kChild) != nullptr) return lxmperf::testing::runTests(argc, argv);
  hmbtest::StackMachine machine(
      "[clock]\nfactor = 20\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n"
      "[[terncard]]\nsignature = true\nsources = [\"stamp:11\", \"none\", \"none\", \"none\"]\n\n"
      "[[terncard]]\nsignature = true\nsources = [\"stamp:12\", \"none\", \"none\", \"none\"]\n");
  if (!machine.booted() || !hmbtest::writeParameter("RequiredMemorySize", lxmperf::testing::kStaticPages) ||
      !machine.reboot()) {
    std::fprintf(stderr, "the private machine did not boot with 1 MiB of static memory\n");
    return 1;
  }
  ::setenv(kChild, "1", 1);
  pid_t child = -1;
  if (::posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, environ) != 0) return 1;
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

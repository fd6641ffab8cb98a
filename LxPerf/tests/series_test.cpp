// Snap Shot into the static memory, Save Serials as numbered bitmap files
// and playback of those files, and the bitmap files of the display image.
#include <fstream>

#include "command_ids.h"
#include "democommon/bitmap_file.h"
#include "frame_fixture.h"
#include "lxqt/bridge.h"

namespace lxperf::testing {
namespace {

using SeriesTest = FrameTest;

TEST_F(SeriesTest, SnapShotFillsTheStaticMemory) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  uint32_t pages = 0;
  ASSERT_EQ(LxGetStaticMem(&pages), LX_OK);
  menu(kSnapShot);
  const uint32_t expected = pages * 4096u / v.FrameBytes();
  EXPECT_EQ(frame_->imageCount, static_cast<int>(expected));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Snap shot " + std::to_string(expected) + " images totally to memory ");
  EXPECT_EQ(messages_[0].caption, "Notice");
  EXPECT_EQ(v.image.width(), v.outputWidth);
  EXPECT_EQ(v.image.bitCount(), 24);
}

TEST_F(SeriesTest, ThreeFramesSavedAsNumberedFilesPlayBackInTurn) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  uint32_t pages = 0;
  ASSERT_EQ(LxGetStaticMem(&pages), LX_OK);
  // Room for exactly three frames after the offset.
  frame_->snapOffset = pages * 4096u - 3 * v.FrameBytes() - 100;
  menu(kSnapShot);
  ASSERT_EQ(frame_->imageCount, 3);

  const std::string base = (dir_ / "run").string();
  frame_->setFileChooser([&](bool save) { return save ? base + ".bmp" : base + "1.bmp"; });
  menu(kSaveSerials);
  for (int n = 1; n <= 3; ++n) EXPECT_TRUE(std::filesystem::exists(base + std::to_string(n) + ".bmp")) << n;
  EXPECT_FALSE(std::filesystem::exists(base + "4.bmp"));
  EXPECT_FALSE(std::filesystem::exists(base + ".bmp"));
  EXPECT_EQ(python("from PIL import Image\nim = Image.open('" + base + "2.bmp')\nprint(im.size, im.mode)\n"),
            "(" + std::to_string(v.outputWidth) + ", " + std::to_string(v.outputHeight) + ") RGB\n");

  // Mark each file's first pixel with its number, then play them.
  for (int n = 1; n <= 3; ++n) {
    std::fstream file(base + std::to_string(n) + ".bmp", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(54);
    file.put(static_cast<char>(n));
  }
  menu(kStop);
  menu(kOpenSerials);
  EXPECT_EQ(frame_->seriesBaseName, base);
  EXPECT_EQ(frame_->fromFiles, 1);
  EXPECT_EQ(frame_->playbackActive, 1);
  std::vector<int> shown{v.image.pixels[0]};
  for (int click = 0; click < 3; ++click) {
    frame_->OnLeftButtonDown();
    shown.push_back(v.image.pixels[0]);
  }
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 1}));

  // Circle playback runs on the 100 ms timer.
  menu(kCircle);
  EXPECT_EQ(frame_->stepMode, 0);
  lxqt::pumpMessages(450);
  EXPECT_GE(frame_->playbackIndex, 1) << "the timer showed frames";
  menu(kStop);
  EXPECT_EQ(frame_->fromFiles, 0);
}

TEST_F(SeriesTest, OpenAndSaveAsThroughTheFileMenu) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  const std::string path = (dir_ / "shot.bmp").string();
  frame_->setFileChooser([&](bool) { return path; });
  menu(kFileSaveAs);
  EXPECT_FALSE(std::filesystem::exists(path)) << "nothing captured yet: no file";
  menu(kCaptureShot);
  ASSERT_GT(v.image.width(), 0);
  menu(kFileSaveAs);
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 54u + static_cast<uint64_t>(v.image.width()) * 3 * v.image.height());

  // A truncated copy is refused and the image stays.
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 10);
  v.image.pixels[0] = 0x5A;
  menu(kFileOpen);
  EXPECT_EQ(v.image.pixels[0], 0x5A);
  EXPECT_TRUE(messages_.empty()) << "file failures are silent";
}

}  // namespace
}  // namespace lxperf::testing

// LxCard.ini read at start and written at exit (checked with Python's
// configparser), and the single-instance rule.
#include <fstream>

#include "command_ids.h"
#include "frame_fixture.h"
#include "lxperf_app.h"

namespace lxperf::testing {
namespace {

using SettingsTest = FrameTest;

TEST_F(SettingsTest, ReadAtStartDetectionOverridesTheSourceWrittenOnExit) {
  std::filesystem::create_directories(dir_ / "config");
  std::ofstream(settingsFile()) << "[Video Parameter]\nStandard=1\nSource=0\nBrightness=77\nPLL=200\n"
                                   "Clip=0\nInterline=0\nXDelay=5\nYDelay=-3\nHorizon=1\n";
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  EXPECT_EQ(v.videoStandard, 1);
  EXPECT_EQ(v.brightness, 77);
  EXPECT_EQ(v.pll, 200);
  EXPECT_EQ(v.delayX, 5);
  EXPECT_EQ(v.delayY, -3);
  EXPECT_EQ(frame_->clip, 0);
  EXPECT_EQ(frame_->interline, 0);
  EXPECT_EQ(v.flatSource(), 1) << "the input with a signal, not the file's";
  EXPECT_EQ(v.inputWidth, 640) << "scale mode: the whole NTSC picture";

  menu(kScale);  // unchanged
  v.SetHue(33);
  menu(kClip);
  menu(kField);
  endFrame();

  const std::string result = python(
      "import configparser\n"
      "c = configparser.ConfigParser()\n"
      "c.optionxform = str\n"
      "c.read('" + settingsFile() + "')\n"
      "s = c['Video Parameter']\n"
      "print(' '.join(k + '=' + s[k] for k in ['Standard', 'Source', 'Scan', 'Brightness', 'Contrast', 'Hue',\n"
      "  'Saturation', 'PLL', 'CryOsc', 'XDelay', 'YDelay', 'Horizon', 'Vertical', 'Chroma', 'Clip',\n"
      "  'Interline', 'Mask']))\n");
  EXPECT_EQ(result,
            "Standard=1 Source=1 Scan=1 Brightness=77 Contrast=128 Hue=33 Saturation=128 PLL=200 CryOsc=0 "
            "XDelay=5 YDelay=-3 Horizon=1 Vertical=0 Chroma=1 Clip=1 Interline=0 Mask=0\n");
}

TEST_F(SettingsTest, ASecondCopyIsRefused) {
  CLxPerfApp first;
  ASSERT_TRUE(first.InitInstance());
  ASSERT_NE(first.mainFrame(), nullptr);
  EXPECT_TRUE(messages_.empty());
  {
    CLxPerfApp second;
    EXPECT_FALSE(second.InitInstance());
    EXPECT_EQ(second.mainFrame(), nullptr) << "the card was not touched";
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "The program is running!");
  }
  first.ExitInstance();
  CLxPerfApp third;
  EXPECT_TRUE(third.InitInstance()) << "the name is free once the first copy ended";
  third.ExitInstance();
}

}  // namespace
}  // namespace lxperf::testing

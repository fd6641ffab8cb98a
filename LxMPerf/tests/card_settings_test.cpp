#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "card_record.h"
#include "selection.h"

namespace lxmperf {
namespace {

class CardSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("lxmperf-settings-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    setenv("LX_PROFILE_DIR", dir_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string file() const {
    std::ifstream in(dir_ / "LxCard.ini");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::filesystem::path dir_;
};

TEST_F(CardSettings, EachCardHasItsOwnNumberedSection) {
  char section[32];
  settingsSectionOf(0, section);
  EXPECT_STREQ(section, "Video Parameter0");
  settingsSectionOf(127, section);
  EXPECT_STREQ(section, "Video Parameter127");

  CardRecord first, second;
  first.videoStandard = 1;
  first.sourceKind = 1;
  first.sourceNumber = 2;  // flat 8
  first.scanMode = 2;
  first.brightness = 10;
  first.contrast = 20;
  first.hue = 30;
  first.saturation = 40;
  first.pll = 50;
  first.cryOsc = 1;
  second.sourceKind = 2;
  second.sourceNumber = 1;  // flat 10
  writeCardSettings(0, first);
  writeCardSettings(1, second);
  EXPECT_NE(file().find("[Video Parameter0]\nStandard=1\nSource=8\nScan=2\nBrightness=10\nContrast=20\nHue=30\n"
                        "Saturation=40\nPLL=50\nCryOsc=1\n"),
            std::string::npos)
      << file();
  EXPECT_NE(file().find("[Video Parameter1]\nStandard=0\nSource=10\n"), std::string::npos) << file();
  // Only the keys of the multi-card program: no windows, delays or mirrors.
  EXPECT_EQ(file().find("Horizon"), std::string::npos);
  EXPECT_EQ(file().find("Clip"), std::string::npos);

  CardRecord readFirst, readSecond;
  readCardSettings(0, &readFirst);
  readCardSettings(1, &readSecond);
  EXPECT_EQ(readFirst.videoStandard, 1);
  EXPECT_EQ(readFirst.sourceKind, 1);
  EXPECT_EQ(readFirst.sourceNumber, 2);
  EXPECT_EQ(readFirst.scanMode, 2);
  EXPECT_EQ(readFirst.brightness, 10);
  EXPECT_EQ(readFirst.saturation, 40);
  EXPECT_EQ(readFirst.pll, 50);
  EXPECT_EQ(readFirst.cryOsc, 1);
  // The picture and the input window follow the standard.
  EXPECT_EQ(readFirst.frameWidth, 640);
  EXPECT_EQ(readFirst.frameHeight, 480);
  EXPECT_EQ(readFirst.input, (Rect{0, 0, 640, 480}));
  EXPECT_EQ(readSecond.sourceKind, 2);
  EXPECT_EQ(readSecond.sourceNumber, 1);
  EXPECT_EQ(readSecond.frameWidth, 768);
}

TEST_F(CardSettings, MissingSectionsGiveTheDefaults) {
  CardRecord card;
  card.pll = 1;
  card.hue = 2;
  readCardSettings(5, &card);
  EXPECT_EQ(card.videoStandard, 0);
  EXPECT_EQ(card.sourceKind, 0);
  EXPECT_EQ(card.hue, 128);
  EXPECT_EQ(card.pll, 245);
  EXPECT_EQ(card.input, (Rect{0, 0, 768, 576}));
}

TEST(CardRecordSizes, FrameBytesFollowFormatOutputAndScanMode) {
  CardRecord card;
  card.output = {100, 50, 484, 338};  // 384 x 288
  card.videoFormat = 1;             // RGB888
  EXPECT_EQ(card.frameBytes(), 3u * 384u * 288u);
  card.videoFormat = 3;  // RGB555: 15 bits take 2 bytes
  EXPECT_EQ(card.frameBytes(), 2u * 384u * 288u);
  card.scanMode = 1;
  EXPECT_EQ(card.frameBytes(), 2u * 384u * 144u);
  card.videoFormat = 5;
  card.setImageToOutput();
  EXPECT_EQ(card.image.width(), 384);
  EXPECT_EQ(card.image.height(), 144);
  EXPECT_EQ(card.image.bitCount(), 8);
  card.videoFormat = 4;
  card.scanMode = 0;
  card.setImageToOutput();
  EXPECT_EQ(card.image.height(), 288);
  EXPECT_EQ(card.image.bitCount(), 24);
  card.output = {};
  EXPECT_EQ(card.frameBytes(), 0u);
}

TEST(Selection, OneCardOrAllInIndexOrder) {
  EXPECT_EQ(selectedCards(1, 3), std::vector<int>{1});
  EXPECT_EQ(selectedCards(3, 3), (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(selectedCards(0, 0).empty());
  EXPECT_TRUE(selectedCards(7, 3).empty());
  EXPECT_EQ(shownCard(1, 3), 1);
  EXPECT_EQ(shownCard(3, 3), 0);  // all cards: card 0's values
  EXPECT_EQ(shownCard(0, 0), -1);
}

}  // namespace
}  // namespace lxmperf

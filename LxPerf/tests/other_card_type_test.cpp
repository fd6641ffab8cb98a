// LxPerf on a card of another type: a fake Egret library (type 1) counts
// the first card. Its command rules follow the card type the API reports.
#include "command_ids.h"
#include "frame_fixture.h"

namespace lxperf::testing {
namespace {

using OtherCardTypeTest = FrameTest;

TEST_F(OtherCardTypeTest, EgretEnablesMirrorAndChromaTrapButNotTheCrystal) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  int32_t type = -1;
  ASSERT_EQ(LxGetCardType(frame_->video().handle(), &type), LX_OK);
  ASSERT_EQ(type, 1);
  EXPECT_FALSE(state(kCry35M).enabled);
  EXPECT_FALSE(state(kCry28M).enabled);
  EXPECT_TRUE(state(kMirrorHorizontal).enabled);
  EXPECT_TRUE(state(kMirrorVertical).enabled);
  EXPECT_TRUE(state(kChromaTrap).enabled);
  EXPECT_TRUE(state(kChromaTrap).checked);

  // The fake library has no luma control: its status is shown and the mark stays.
  messages_.clear();
  menu(kChromaTrap);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].caption, "Error message");
  EXPECT_EQ(messages_[0].text, LxGetErrorString(LX_NOT_SUPPORT_INTERFACE));
  EXPECT_TRUE(state(kChromaTrap).checked);
  menu(kMirrorHorizontal);
  EXPECT_FALSE(state(kMirrorHorizontal).checked) << "a refused mirror keeps its mark";
}

}  // namespace
}  // namespace lxperf::testing

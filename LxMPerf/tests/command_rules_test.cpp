#include <gtest/gtest.h>

#include "command_ids.h"
#include "command_rules.h"

namespace lxmperf {
namespace {

CommandInputs idleCard() {
  CommandInputs in;
  in.osCode = 5;
  in.haveCard = true;
  in.videoFormat = 4;
  return in;
}

TEST(CommandRules, LiveCaptureDisablesParametersAndTheOtherActivities) {
  CommandInputs in = idleCard();
  in.state = 2;
  EXPECT_TRUE(commandRule(cmd::kCapture, in).enabled);
  EXPECT_TRUE(commandRule(cmd::kCapture, in).checked);
  for (int id : {cmd::kCaptureShot, cmd::kSnap, cmd::kSnapShot, cmd::kMask, cmd::kRgb888, cmd::kPal, cmd::kNtsc,
                 cmd::kFrame, cmd::kField, cmd::kField1, cmd::kInterline, cmd::kStop})
    EXPECT_FALSE(commandRule(id, in).enabled) << id;
  // The crystal, mirror and chroma items stay enabled in every state.
  for (int id : {cmd::kOsc35M, cmd::kOsc28M, cmd::kHorizon, cmd::kVertical, cmd::kChroma, cmd::kClip, cmd::kScale,
                 cmd::kSelectCard, cmd::kVideoSource, cmd::kAdjust, cmd::kAllocateMemory})
    EXPECT_TRUE(commandRule(id, in).enabled) << id;
}

TEST(CommandRules, SnapExAllowsOnlyItsOwnStop) {
  CommandInputs in = idleCard();
  in.state = 4;
  EXPECT_TRUE(commandRule(cmd::kSnap, in).enabled);
  EXPECT_TRUE(commandRule(cmd::kSnap, in).checked);
  EXPECT_FALSE(commandRule(cmd::kCapture, in).enabled);
  EXPECT_FALSE(commandRule(cmd::kSnapShot, in).enabled);
}

TEST(CommandRules, NewerWorkstationsHaveNoLiveCapture) {
  for (int os : {7, 8}) {
    CommandInputs in = idleCard();
    in.osCode = os;
    EXPECT_FALSE(commandRule(cmd::kCapture, in).enabled);
    EXPECT_FALSE(commandRule(cmd::kCaptureShot, in).enabled);
    EXPECT_TRUE(commandRule(cmd::kSnap, in).enabled);
  }
}

TEST(CommandRules, SeriesCommandsFollowTheImageCountAndPlayback) {
  CommandInputs in = idleCard();
  EXPECT_FALSE(commandRule(cmd::kSaveSerials, in).enabled);
  EXPECT_FALSE(commandRule(cmd::kStep, in).enabled);
  EXPECT_FALSE(commandRule(cmd::kCircle, in).enabled);
  in.imageCount = 1;
  EXPECT_TRUE(commandRule(cmd::kSaveSerials, in).enabled);
  EXPECT_TRUE(commandRule(cmd::kStep, in).enabled);
  EXPECT_FALSE(commandRule(cmd::kStep, in).checked);  // checked only while playing
  in.state = 5;
  in.stepMode = 0;
  EXPECT_TRUE(commandRule(cmd::kStop, in).enabled);
  EXPECT_TRUE(commandRule(cmd::kCircle, in).checked);
  EXPECT_FALSE(commandRule(cmd::kStep, in).checked);
  EXPECT_FALSE(commandRule(cmd::kSnapShot, in).enabled);
  in.stepMode = 1;
  EXPECT_TRUE(commandRule(cmd::kStep, in).checked);
  EXPECT_FALSE(commandRule(cmd::kCircle, in).checked);
}

TEST(CommandRules, ChecksShowTheShownCardsValues) {
  CommandInputs in = idleCard();
  in.videoStandard = 1;
  in.scanMode = 2;
  in.cryOsc = 1;
  in.mirrorVertical = 1;
  in.lumaControl = 0;
  in.clip = 0;
  in.maskEnabled = 1;
  EXPECT_TRUE(commandRule(cmd::kRgb8888, in).checked);
  EXPECT_FALSE(commandRule(cmd::kRgb888, in).checked);
  EXPECT_TRUE(commandRule(cmd::kNtsc, in).checked);
  EXPECT_FALSE(commandRule(cmd::kPal, in).checked);
  EXPECT_TRUE(commandRule(cmd::kField1, in).checked);
  EXPECT_FALSE(commandRule(cmd::kInterline, in).enabled);  // field modes have no interline
  EXPECT_TRUE(commandRule(cmd::kOsc28M, in).checked);
  EXPECT_TRUE(commandRule(cmd::kVertical, in).checked);
  EXPECT_FALSE(commandRule(cmd::kHorizon, in).checked);
  EXPECT_FALSE(commandRule(cmd::kChroma, in).checked);
  EXPECT_TRUE(commandRule(cmd::kScale, in).checked);
  EXPECT_TRUE(commandRule(cmd::kMask, in).checked);
  // The format ids map to their values as in the single-card program.
  EXPECT_EQ(formatOfCommand(cmd::kYuv422), 0);
  EXPECT_EQ(formatOfCommand(cmd::kRgb555), 3);
  EXPECT_EQ(formatOfCommand(cmd::kRgb565), 2);
  EXPECT_EQ(formatOfCommand(cmd::kLimited8Bit), 6);
  EXPECT_EQ(formatOfCommand(cmd::kField1), -1);
}

TEST(CommandRules, WithoutCardsNothingIsChecked) {
  CommandInputs in;
  in.haveCard = false;
  for (int id : {cmd::kYuv422, cmd::kPal, cmd::kFrame, cmd::kInterline, cmd::kOsc35M, cmd::kChroma})
    EXPECT_FALSE(commandRule(id, in).checked) << id;
}

}  // namespace
}  // namespace lxmperf

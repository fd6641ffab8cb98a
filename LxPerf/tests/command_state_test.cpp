// The command-state table as the menus show it: idle, live capture,
// snap-ex and playback, the operating-system and card-type rules.
#include "command_ids.h"
#include "frame_fixture.h"
#include "lxqt/bridge.h"

namespace lxperf::testing {
namespace {

using StateTest = FrameTest;

struct Expect {
  int id;
  bool enabled;
  bool checked;
};

void expectStates(StateTest* test, std::initializer_list<Expect> expected, const char* when) {
  for (const Expect& e : expected) {
    const demo::CommandState s = test->state(e.id);
    EXPECT_EQ(s.enabled, e.enabled) << when << ": enabled of " << e.id;
    EXPECT_EQ(s.checked, e.checked) << when << ": checked of " << e.id;
  }
}


TEST_F(StateTest, IdleCaptureSnapExAndPlayback) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  demo::CVideo& v = frame_->video();
  ASSERT_NE(v.handle(), nullptr) << "card 1 opened";
  EXPECT_EQ(v.flatSource(), 1) << "the first input with a signal: the bars on Video 2";
  EXPECT_EQ(v.videoFormat, 4) << "a 32-bit screen gives RGB8888";
  EXPECT_TRUE(messages_.empty());

  expectStates(this,
               {{kCapture, true, false}, {kCaptureShot, true, false}, {kSnap, true, false}, {kSnapShot, true, false},
                {kOpenSerials, true, false}, {kSaveSerials, false, false}, {kStep, false, false},
                {kCircle, false, false}, {kStop, false, false}, {kClip, true, true}, {kScale, true, false},
                {kMask, true, false}, {kRgb8888, true, true}, {kRgb888, true, false}, {kPal, true, true},
                {kNtsc, true, false}, {kFrame, true, true}, {kField, true, false}, {kInterline, true, true},
                {kCry35M, false, true}, {kMirrorHorizontal, false, false}, {kChromaTrap, false, true},
                {kVideoSource, true, false}, {kAppAbout, true, false}},
               "idle, TernCard");

  menu(kCapture);
  ASSERT_EQ(v.videoState, 2) << (messages_.empty() ? "" : messages_.back().text);
  expectStates(this,
               {{kCapture, true, true}, {kCaptureShot, false, false}, {kSnap, false, false},
                {kSnapShot, false, false}, {kOpenSerials, false, false}, {kMask, false, false},
                {kYuv422, false, false}, {kRgb8888, false, true}, {kPal, false, true}, {kNtsc, false, false},
                {kFrame, false, true}, {kField1, false, false}, {kInterline, false, true}, {kClip, true, true}},
               "capturing");
  menu(kCapture);
  EXPECT_EQ(v.videoState, 0);
  EXPECT_EQ(v.image.width(), v.outputWidth) << "the last picture was read back";
  EXPECT_EQ(v.image.bitCount(), 24);

  menu(kSnap);
  ASSERT_EQ(v.videoState, 4);
  expectStates(this,
               {{kSnap, true, true}, {kCapture, false, false}, {kCaptureShot, false, false},
                {kSnapShot, false, false}, {kRgb888, false, false}, {kInterline, false, true}},
               "snap-ex");
  menu(kSnap);
  EXPECT_EQ(v.videoState, 0);

  menu(kSnapShot);
  ASSERT_GT(frame_->imageCount, 0);
  expectStates(this, {{kSaveSerials, true, false}, {kStep, true, false}, {kCircle, true, false}}, "a series");
  menu(kStep);
  ASSERT_EQ(frame_->playbackActive, 1);
  expectStates(this,
               {{kCapture, false, false}, {kCaptureShot, false, false}, {kSnap, false, false},
                {kSnapShot, false, false}, {kOpenSerials, false, false}, {kSaveSerials, false, false},
                {kStep, true, true}, {kCircle, true, false}, {kStop, true, false}},
               "step playback");
  menu(kCircle);
  expectStates(this, {{kStep, true, false}, {kCircle, true, true}}, "circle playback");
  menu(kStop);
  expectStates(this,
               {{kStop, false, false}, {kStep, false, false}, {kSaveSerials, false, false}, {kCapture, true, false}},
               "stopped: the series is forgotten");
}

TEST_F(StateTest, FieldModesDisableInterlineAndOtherCardTypesTheirItems) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  menu(kField);
  EXPECT_EQ(frame_->video().scanMode, 1);
  expectStates(this, {{kField, true, true}, {kFrame, true, false}, {kInterline, false, true}}, "field");
  menu(kFrame);

  int pinned = 0;
  bool known = true;
  frame_->setCardTypeQuery([&](int* type) {
    *type = pinned;
    return known;
  });
  expectStates(this,
               {{kCry35M, true, true}, {kCry28M, true, false}, {kMirrorHorizontal, false, false},
                {kMirrorVertical, false, false}, {kChromaTrap, false, true}},
               "Heron");
  pinned = 1;
  expectStates(this,
               {{kCry35M, false, true}, {kMirrorHorizontal, true, false}, {kMirrorVertical, true, false},
                {kChromaTrap, true, true}},
               "Egret");
  pinned = 2;
  expectStates(this, {{kMirrorVertical, true, false}, {kChromaTrap, true, true}}, "Stork");
  known = false;
  expectStates(this, {{kCry35M, false, true}, {kMirrorHorizontal, false, false}, {kChromaTrap, false, true}},
               "no card type");

  // The chroma trap on a card that refuses it: its status shown, the mark kept.
  pinned = 1;
  known = true;
  menu(kChromaTrap);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].caption, "Error message");
  EXPECT_EQ(frame_->video().lumaControl, 1);
}

TEST_F(StateTest, MaskItemBuildsTheMaskAndScanModeRebuildsIt) {
  ASSERT_NO_FATAL_FAILURE(startFrame());
  menu(kMask);
  EXPECT_EQ(frame_->video().maskEnabled, 1);
  EXPECT_TRUE(state(kMask).checked);
  menu(kField1);
  EXPECT_EQ(frame_->video().scanMode, 2);
  EXPECT_EQ(frame_->video().maskEnabled, 1) << "turned off and on again for the field's height";
  menu(kMask);
  EXPECT_EQ(frame_->video().maskEnabled, 0);
}

}  // namespace
}  // namespace lxperf::testing

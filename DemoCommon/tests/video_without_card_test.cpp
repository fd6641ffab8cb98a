// CVideo before any card is open: every setter records its value (the API
// answers LX_CARD_HANDLE_INVALID), the window setters do not, and the
// derived sizes follow the shadow.
#include <gtest/gtest.h>

#include "democommon/video.h"

namespace {

TEST(VideoWithoutCard, SettersRecordValuesForTheNextOpen) {
  demo::CVideo video;
  EXPECT_EQ(video.SetStandard(1), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(video.videoStandard, 1);
  EXPECT_EQ(video.SetSourceByFlat(7), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(video.sourceKind, 1);
  EXPECT_EQ(video.sourceNumber, 1);
  EXPECT_EQ(video.flatSource(), 7);
  EXPECT_EQ(video.SetSourceByFlat(11), LX_OK);
  EXPECT_EQ(video.flatSource(), 7) << "above 10 changes nothing";
  EXPECT_EQ(video.SetFormatByDepth(8), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(video.videoFormat, 6);
  EXPECT_NE(video.SetFormatByDepth(12), LX_OK);
  EXPECT_EQ(video.videoFormat, 6);
  video.SetBrightness(0x1FF);
  EXPECT_EQ(video.brightness, 0xFF) << "adjustments are bytes";
  video.SetPll(200);
  EXPECT_EQ(video.pll, 200);
  video.SetDelay(-3, 5);
  EXPECT_EQ(video.delayX, -3);
  EXPECT_EQ(video.delayY, 5);
  video.SetMirror(1, 1);
  EXPECT_EQ(video.mirrorVertical, 1);
  EXPECT_EQ(video.mirrorHorizontal, 0);
  video.SetLuma(0);
  EXPECT_EQ(video.lumaControl, 0);

  EXPECT_EQ(video.SetInputWindow(0, 0, 640, 480), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(video.inputWidth, 768) << "window setters keep their shadow unless LX_OK";
  EXPECT_EQ(video.SetOutputWindow(8, 8, 408, 308), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(video.outputWidth, 768);
}

TEST(VideoWithoutCard, FrameBytesAndImageHeaderFollowFormatAndScanMode) {
  demo::CVideo video;
  EXPECT_EQ(video.FrameBytes(), 1327104u) << "RGB888 768 x 576";
  video.SetScanMode(1);
  EXPECT_EQ(video.FrameBytes(), 663552u);
  video.SetFormat(3);
  EXPECT_EQ(video.FrameBytes(), 2u * 768u * 288u);
  video.SetImageHeader(1);
  EXPECT_EQ(video.image.bitCount(), 24);
  EXPECT_EQ(video.image.height(), 288);
  video.SetScanMode(0);
  video.SetFormat(5);
  video.SetImageHeader(0);
  EXPECT_EQ(video.image.bitCount(), 8);
  EXPECT_EQ(video.image.width(), 768);
  EXPECT_EQ(video.image.height(), 288) << "interline off: one field";
}

TEST(VideoWithoutCard, SnapCallsOutsideTheirStateDoNothing) {
  demo::CVideo video;
  EXPECT_EQ(video.StartSnapEx(0, 1, 2), LX_OK);
  EXPECT_EQ(video.CloseSnapEx(), LX_OK);
  EXPECT_EQ(video.videoState, 0);
  EXPECT_EQ(video.OpenSnapEx(nullptr, nullptr), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(video.videoState, 0);
  video.videoState = 2;
  EXPECT_EQ(video.SnapShot(0, 1, 3), LX_OK) << "not idle: not called";
  video.Stop();
  EXPECT_EQ(video.videoState, 0);
}

}  // namespace

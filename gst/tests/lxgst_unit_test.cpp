// The element's pieces without a card: property names, the raw formats and
// frame rates the caps carry, and the queue between the snap-ex thread and
// the streaming thread.
#include <gtest/gtest.h>

#include <thread>

#include "frame_queue.h"
#include "video_settings.h"

namespace {

using namespace std::chrono_literals;
using lxgst::CapturedFrame;
using lxgst::FrameQueue;
using lxgst::PopResult;

TEST(VideoSettings, NamesParseAndPrintBack) {
  const auto input = lxgst::parseInput("svideo2");
  ASSERT_TRUE(input);
  EXPECT_EQ(input->kind, LX_VIDEO_SOURCE_SVIDEO);
  EXPECT_EQ(input->number, 1);
  EXPECT_EQ(lxgst::inputName({LX_VIDEO_SOURCE_YCBCR, 7}), "ycbcr8");
  for (const char* bad : {"composite0", "composite9", "composite", "composite12", "hdmi1", ""}) {
    EXPECT_FALSE(lxgst::parseInput(bad)) << bad;
  }
  EXPECT_EQ(lxgst::parseStandard("ntsc"), LX_VIDEO_STANDARD_NTSC);
  EXPECT_FALSE(lxgst::parseStandard("secam"));
  EXPECT_EQ(lxgst::parseFormat("grey-limited"), LX_VIDEO_FORMAT_GREY8_LIMITED);
  EXPECT_EQ(lxgst::formatName(LX_VIDEO_FORMAT_RGB8888), "rgb8888");
  EXPECT_FALSE(lxgst::parseFormat("RGB888"));
}

// The card stores 24 and 32-bit pixels blue first, 16-bit pixels as
// little-endian words, YUV as Y0 U Y1 V.
TEST(VideoSettings, CardFormatsMapToRawFormats) {
  EXPECT_STREQ(lxgst::rawFormatOf(LX_VIDEO_FORMAT_RGB888), "BGR");
  EXPECT_STREQ(lxgst::rawFormatOf(LX_VIDEO_FORMAT_RGB8888), "BGRx");
  EXPECT_STREQ(lxgst::rawFormatOf(LX_VIDEO_FORMAT_RGB565), "RGB16");
  EXPECT_STREQ(lxgst::rawFormatOf(LX_VIDEO_FORMAT_RGB555), "RGB15");
  EXPECT_STREQ(lxgst::rawFormatOf(LX_VIDEO_FORMAT_YUV422), "YUY2");
  EXPECT_STREQ(lxgst::rawFormatOf(LX_VIDEO_FORMAT_GREY8_FULL), "GRAY8");
  EXPECT_STREQ(lxgst::rawFormatOf(LX_VIDEO_FORMAT_GREY8_LIMITED), "GRAY8");
  EXPECT_EQ(lxgst::rawFormatOf(LX_VIDEO_FORMAT_COUNT), nullptr);
}

TEST(VideoSettings, RatesAndFrameBytes) {
  EXPECT_EQ(lxgst::frameRateOf(LX_VIDEO_STANDARD_PAL).numerator, 25);
  EXPECT_EQ(lxgst::frameRateOf(LX_VIDEO_STANDARD_NTSC).numerator, 30000);
  EXPECT_EQ(lxgst::frameRateOf(LX_VIDEO_STANDARD_NTSC).denominator, 1001);
  EXPECT_EQ(lxgst::framePeriodNs(LX_VIDEO_STANDARD_PAL), 40'000'000u);
  EXPECT_EQ(lxgst::framePeriodNs(LX_VIDEO_STANDARD_NTSC), 33'366'667u);
  lxgst::VideoSettings settings;
  EXPECT_EQ(lxgst::frameBytesOf(settings), 921600u);  // 640x480 rgb888
  settings.format = LX_VIDEO_FORMAT_RGB555;
  settings.width = 321;
  settings.height = 243;  // two fields of 121 lines
  EXPECT_EQ(lxgst::frameBytesOf(settings), 155364u);
}

CapturedFrame frameOf(uint32_t sequence, uint32_t skipped = 0) {
  CapturedFrame frame;
  frame.bytes.assign(4, static_cast<uint8_t>(sequence));
  frame.sequence = sequence;
  frame.timestampNs = 1000u * sequence;
  frame.skipped = skipped;
  return frame;
}

TEST(FrameQueue, FramesComeOutInOrderWithTheirFields) {
  FrameQueue queue(4);
  queue.push(frameOf(1));
  queue.push(frameOf(2, 3));
  CapturedFrame out;
  ASSERT_EQ(queue.pop(&out, 0ms), PopResult::Frame);
  EXPECT_EQ(out.sequence, 1u);
  EXPECT_EQ(out.bytes, std::vector<uint8_t>(4, 1));
  ASSERT_EQ(queue.pop(&out, 0ms), PopResult::Frame);
  EXPECT_EQ(out.sequence, 2u);
  EXPECT_EQ(out.timestampNs, 2000u);
  EXPECT_EQ(out.skipped, 3u);
  EXPECT_EQ(queue.pop(&out, 10ms), PopResult::TimedOut);
}

// A full queue drops its oldest frame and the next frame out carries the
// loss, including what the dropped frame itself carried.
TEST(FrameQueue, OverflowDropsTheOldestAndCountsIt) {
  FrameQueue queue(2);
  queue.push(frameOf(1, 2));
  queue.push(frameOf(2));
  queue.push(frameOf(3));
  queue.push(frameOf(4, 1));
  CapturedFrame out;
  ASSERT_EQ(queue.pop(&out, 0ms), PopResult::Frame);
  EXPECT_EQ(out.sequence, 3u);
  EXPECT_EQ(out.skipped, 4u);  // frames 1 and 2, and the 2 that frame 1 reported
  ASSERT_EQ(queue.pop(&out, 0ms), PopResult::Frame);
  EXPECT_EQ(out.sequence, 4u);
  EXPECT_EQ(out.skipped, 1u);
}

TEST(FrameQueue, CloseWakesAWaiterAndDropsPushesUntilReopened) {
  FrameQueue queue(2);
  PopResult seen = PopResult::Frame;
  std::thread waiter([&] {
    CapturedFrame out;
    seen = queue.pop(&out, 10s);
  });
  std::this_thread::sleep_for(20ms);
  queue.close();
  waiter.join();
  EXPECT_EQ(seen, PopResult::Closed);
  queue.push(frameOf(1));
  queue.open();
  CapturedFrame out;
  EXPECT_EQ(queue.pop(&out, 0ms), PopResult::TimedOut) << "a frame pushed while closed is dropped";
  queue.push(frameOf(2));
  ASSERT_EQ(queue.pop(&out, 0ms), PopResult::Frame);
  EXPECT_EQ(out.sequence, 2u);
  EXPECT_EQ(out.skipped, 0u);
}

}  // namespace

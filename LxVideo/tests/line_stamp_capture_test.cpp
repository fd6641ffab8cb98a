// Capture through the public API from a card whose source stamps every
// line: each line of a snapped frame must come from that frame's own two
// fields and sit in its own slot, in every pixel format and both field
// layouts; a ring stopped at any moment holds whole frames but at most the
// one being filled; live capture puts each line at its place on the screen.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "line_stamp.h"
#include "lx/internal/card_record.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "card_record_copy.h"
#include "machine_first.h"
#include "static_window.h"
#include "video_memory.h"

namespace {

constexpr uint8_t kSourceId = 77;

}  // namespace

const char* terncard::testing::machineConfig() {
  return "[clock]\nfactor = 20\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n"
         "[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"stamp:77\"]\n";
}

namespace {

using terncard::testing::recordOf;
using terncard::testing::VideoMemory;

constexpr uint32_t kWidth = 768;
constexpr uint32_t kFrameLines = 576;
// Snap targets start off a page boundary.
constexpr uint32_t kStart = 2 * 4096 + 36;

using terncard::testing::StaticWindow;

// What the lines of one stored frame say about where they came from.
struct FrameCheck {
  bool allDecode = true;
  bool inTheirSlots = true;  // line k carries frame line k, from a field of its parity
  bool oneFrame = true;      // all from fields 2n and 2n + 1 of one n
  uint32_t firstField = 0;   // the first field of the frame of line 0
  std::string fault;
};

// `slotOf(k)` is where frame line k is stored in the frame.
template <typename SlotOf>
FrameCheck checkFrame(const uint8_t* frame, int format, SlotOf slotOf) {
  const uint32_t lineBytes = kWidth * static_cast<uint32_t>(LxBytesPerPixel(format));
  FrameCheck c;
  for (uint32_t k = 0; k < kFrameLines; ++k) {
    const auto stamp = lxtest::decodeLineStamp(frame + slotOf(k) * lineBytes, kWidth, format);
    if (!stamp) {
      c.allDecode = false;
      c.fault = "frame line " + std::to_string(k) + " does not decode";
      return c;
    }
    const uint32_t parity = k & 1;
    if (stamp->frameLine != k || stamp->secondField != (parity == 1) || stamp->field % 2 != parity ||
        stamp->sourceId != kSourceId) {
      c.inTheirSlots = false;
      c.fault = "slot of frame line " + std::to_string(k) + " holds frame line " + std::to_string(stamp->frameLine) +
                " of field " + std::to_string(stamp->field);
      return c;
    }
    const uint32_t first = stamp->field - parity;
    if (k == 0) {
      c.firstField = first;
    } else if (first != c.firstField && c.oneFrame) {
      c.oneFrame = false;
      c.fault = "frame line " + std::to_string(k) + " is from field " + std::to_string(stamp->field) +
                ", frame line 0 from field " + std::to_string(c.firstField);
    }
  }
  return c;
}

uint32_t interleaved(uint32_t k) { return k; }
uint32_t fieldAfterField(uint32_t k) { return (k & 1) * (kFrameLines / 2) + k / 2; }

class LineStampCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(BeginLxCard(1, &card_), LX_OK);
    ASSERT_EQ(LxSetOutputWindow(card_, 0, 0, kWidth, kFrameLines), LX_OK);
  }
  void TearDown() override {
    LxCapture(card_, 0);
    LxStopSnap(card_);
    EXPECT_EQ(EndLxCard(card_), LX_OK);
  }

  LxCardHandle card_ = nullptr;
};

TEST_F(LineStampCapture, SnapShotFramesHoldTheirOwnFieldsLineByLineInEveryFormat) {
  for (int format = 0; format < LX_VIDEO_FORMAT_COUNT; ++format) {
    SCOPED_TRACE("format " + std::to_string(format));
    ASSERT_EQ(LxSetVideoFormat(card_, format), LX_OK);
    const uint32_t frameBytes = kFrameLines * kWidth * static_cast<uint32_t>(LxBytesPerPixel(format));
    ASSERT_EQ(LxFillStaticMem(kStart, 4 * frameBytes, 0x00), LX_OK);
    ASSERT_EQ(LxSnapShot(card_, kStart, 0, 1, 4), LX_OK);
    StaticWindow window(kStart, 4 * frameBytes);
    ASSERT_NE(window.bytes(), nullptr);
    uint32_t previous = 0;
    for (uint32_t n = 0; n < 4; ++n) {
      const FrameCheck c = checkFrame(window.bytes() + n * frameBytes, format, interleaved);
      ASSERT_TRUE(c.allDecode && c.inTheirSlots && c.oneFrame) << "frame " << n << ": " << c.fault;
      if (n > 0) {
        EXPECT_GT(c.firstField, previous) << "frame " << n << " comes after frame " << n - 1;
      }
      previous = c.firstField;
    }
  }
}

TEST_F(LineStampCapture, SnapShotWithoutInterleaveStoresTheSecondFieldAfterTheFirst) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB565), LX_OK);
  const uint32_t frameBytes = kFrameLines * kWidth * 2;
  ASSERT_EQ(LxSnapShot(card_, kStart, 0, 0, 3), LX_OK);
  StaticWindow window(kStart, 3 * frameBytes);
  ASSERT_NE(window.bytes(), nullptr);
  for (uint32_t n = 0; n < 3; ++n) {
    const FrameCheck c = checkFrame(window.bytes() + n * frameBytes, LX_VIDEO_FORMAT_RGB565, fieldAfterField);
    EXPECT_TRUE(c.allDecode && c.inTheirSlots && c.oneFrame) << "frame " << n << ": " << c.fault;
  }
}

// Stopped at a moment of its own choosing, a ring holds whole frames,
// except perhaps the one the card was filling, and every line in its slot.
TEST_F(LineStampCapture, RingStoppedAnywhereHoldsWholeFramesButTheOneBeingFilled) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_GREY8_LIMITED), LX_OK);
  const uint32_t frameBytes = kFrameLines * kWidth;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(LxStartSnap(card_, kStart, 1, 4), LX_OK);
    // Long enough to fill every entry at least once, a different length each round.
    for (int wait = 0; wait < 10 + 3 * round; ++wait) {
      const LxStatus waited = LxWaitEvenVSync(card_);
      if (waited != LX_OK) {
        int32_t interrupts = 0;
        LxGet32BitParam(card_, 0x100, &interrupts);
        FAIL() << "field wait " << wait << ": status " << waited << ", interrupt status 0x" << std::hex
               << interrupts << " (DMA faults in bits 12-19)";
      }
    }
    ASSERT_EQ(LxStopSnap(card_), LX_OK);
    EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);
    StaticWindow window(kStart, 4 * frameBytes);
    ASSERT_NE(window.bytes(), nullptr);
    int cut = 0;
    std::vector<uint32_t> firsts;
    for (uint32_t n = 0; n < 4; ++n) {
      const FrameCheck c = checkFrame(window.bytes() + n * frameBytes, LX_VIDEO_FORMAT_GREY8_LIMITED, interleaved);
      ASSERT_TRUE(c.allDecode && c.inTheirSlots) << "entry " << n << ": " << c.fault;
      if (!c.oneFrame) {
        ++cut;
        continue;
      }
      for (uint32_t other : firsts) {
        EXPECT_NE(other, c.firstField) << "entry " << n << " repeats a frame";
      }
      firsts.push_back(c.firstField);
    }
    EXPECT_LE(cut, 1) << "only the entry being filled may mix two frames";
  }
}

TEST_F(LineStampCapture, LiveCapturePutsEveryLineInItsPlaceOnTheScreen) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB8888), LX_OK);
  constexpr uint32_t x0 = 130, y0 = 90;
  ASSERT_EQ(LxSetOutputWindow(card_, x0, y0, kWidth, kFrameLines), LX_OK);
  ASSERT_EQ(LxCapture(card_, 1), LX_OK);
  for (int wait = 0; wait < 4; ++wait) {
    ASSERT_EQ(LxWaitOddVSync(card_), LX_OK);
  }
  ASSERT_EQ(LxCapture(card_, 0), LX_OK);
  VideoMemory vram;
  ASSERT_TRUE(vram);
  for (uint32_t k = 0; k < kFrameLines; ++k) {
    const auto stamp = lxtest::decodeLineStamp(vram.line(y0 + k) + x0 * 4, kWidth, LX_VIDEO_FORMAT_RGB8888);
    ASSERT_TRUE(stamp) << "screen line " << y0 + k;
    EXPECT_EQ(stamp->frameLine, k);
    EXPECT_EQ(stamp->secondField, (k & 1) == 1);
    EXPECT_EQ(stamp->sourceId, kSourceId);
  }
  // The pixel left of the window is not part of any stamp.
  EXPECT_FALSE(lxtest::decodeLineStamp(vram.line(y0) + (x0 - 1) * 4, kWidth, LX_VIDEO_FORMAT_RGB8888));
}

}  // namespace

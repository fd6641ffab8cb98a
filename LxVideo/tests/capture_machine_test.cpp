// Capture and snap through the public API against a private machine with a
// fast clock: counted snap shots in every pixel format and field layout,
// the two-slot hand-over from every start phase, a ring that keeps turning,
// live capture into video memory with and without the overlay mask, a card
// without a picture, and the refusals.
#include <gtest/gtest.h>
#include <ddraw.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bars_decoder.h"
#include "lx/internal/card_record.h"
#include "lx/terncard_capture.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "card_record_copy.h"
#include "machine_first.h"
#include "static_window.h"
#include "video_memory.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using lxhw::tern::PixelFormat;
using terncard::testing::VideoMemory;

constexpr uint32_t kWidth = 768;
constexpr uint32_t kFieldLines = 288;
// Snap targets start off a page boundary.
constexpr uint32_t kStart = 3 * 4096 + 100;

PixelFormat modelFormat(int format) {
  switch (format) {
    case LX_VIDEO_FORMAT_RGB888: return PixelFormat::Rgb24;
    case LX_VIDEO_FORMAT_RGB565: return PixelFormat::Rgb565;
    case LX_VIDEO_FORMAT_RGB555: return PixelFormat::Rgb555;
    case LX_VIDEO_FORMAT_RGB8888: return PixelFormat::Rgb32;
    case LX_VIDEO_FORMAT_YUV422: return PixelFormat::Yuv422;
    default: return PixelFormat::Grey8;
  }
}

using terncard::testing::recordOf;

using terncard::testing::StaticWindow;

class CaptureMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(BeginLxCard(1, &card_), LX_OK);
    ASSERT_EQ(LxSetOutputWindow(card_, 0, 0, kWidth, 2 * kFieldLines), LX_OK);
  }
  void TearDown() override {
    LxCapture(card_, 0);
    LxStopSnap(card_);
    EXPECT_EQ(EndLxCard(card_), LX_OK);
  }

  // The field number of `lines` lines of one field at `pixels`.
  static std::optional<uint32_t> fieldNumber(const uint8_t* pixels, uint32_t stride, int format) {
    lxtest::CapturedField field;
    field.pixels = pixels;
    field.width = kWidth;
    field.lines = kFieldLines;
    field.stride = stride;
    field.format = modelFormat(format);
    return lxtest::decodeFieldNumber(field);
  }

  // Field numbers of the first and second field of each frame (frame mode).
  static std::vector<std::pair<uint32_t, uint32_t>> framePairs(const uint8_t* frames, uint32_t count, int format,
                                                               bool interleaved) {
    const uint32_t lineBytes = kWidth * LxBytesPerPixel(format);
    const uint32_t frameBytes = 2 * kFieldLines * lineBytes;
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (uint32_t k = 0; k < count; ++k) {
      const uint8_t* frame = frames + k * frameBytes;
      const auto first = fieldNumber(frame, interleaved ? 2 * lineBytes : lineBytes, format);
      const auto second = fieldNumber(frame + (interleaved ? lineBytes : kFieldLines * lineBytes),
                                      interleaved ? 2 * lineBytes : lineBytes, format);
      EXPECT_TRUE(first && second) << "frame " << k << " carries no field numbers";
      pairs.emplace_back(first.value_or(0), second.value_or(0));
    }
    return pairs;
  }

  // Each frame two consecutive fields, a first and a second; the frames in
  // the order they were taken (on a loaded host a late hand-over takes a
  // frame again, a later one, but never mixes two).
  static void expectFramesInOrder(const std::vector<std::pair<uint32_t, uint32_t>>& pairs) {
    for (size_t k = 0; k < pairs.size(); ++k) {
      EXPECT_EQ(pairs[k].first % 2, 0u) << "frame " << k << " starts with a first field";
      EXPECT_EQ(pairs[k].second, pairs[k].first + 1) << "frame " << k << " holds two consecutive fields";
      if (k > 0) {
        EXPECT_GT(pairs[k].first, pairs[k - 1].second) << "frame " << k << " comes after frame " << k - 1;
      }
    }
  }

  LxCardHandle card_ = nullptr;
};

// Pixel bytes of the red bar in each format's byte order (grey: the range of the line).
void expectRedBar(const uint8_t* line, uint32_t fieldNumber, int format) {
  const uint32_t shift = (fieldNumber * 2) % kWidth;
  const uint32_t redX = (5 * 96 + 48 + kWidth - shift) % kWidth;
  const uint8_t* red = line + redX * LxBytesPerPixel(format);
  const uint16_t word = static_cast<uint16_t>(red[0] | red[1] << 8);
  SCOPED_TRACE("format " + std::to_string(format));
  switch (format) {
    case LX_VIDEO_FORMAT_RGB8888:
      EXPECT_EQ(red[3], 0);
      [[fallthrough]];
    case LX_VIDEO_FORMAT_RGB888:
      EXPECT_LT(red[0], 40);   // blue
      EXPECT_LT(red[1], 40);   // green
      EXPECT_GT(red[2], 200);  // red
      break;
    case LX_VIDEO_FORMAT_RGB565:
      EXPECT_GT(word >> 11, 25);
      EXPECT_LT((word >> 5) & 63, 10);
      EXPECT_LT(word & 31, 5);
      break;
    case LX_VIDEO_FORMAT_RGB555:
      EXPECT_EQ(word >> 15, 0);
      EXPECT_GT((word >> 10) & 31, 25);
      EXPECT_LT((word >> 5) & 31, 5);
      EXPECT_LT(word & 31, 5);
      break;
    case LX_VIDEO_FORMAT_YUV422: {
      const uint8_t* pair = line + (redX & ~1u) * 2;
      EXPECT_NEAR(red[0], 81, 20);  // Y of this pixel
      EXPECT_NEAR(pair[1], 90, 20);  // U
      EXPECT_GT(pair[3], 200);       // V
      break;
    }
    case LX_VIDEO_FORMAT_GREY8_FULL:
    case LX_VIDEO_FORMAT_GREY8_LIMITED: {
      // One byte of luma a pixel: the white bar at full range or at 235, black at 0 or 16.
      const auto [darkest, brightest] = std::minmax_element(line, line + kWidth);
      const bool full = format == LX_VIDEO_FORMAT_GREY8_FULL;
      EXPECT_NEAR(*brightest, full ? 255 : 235, 4);
      EXPECT_NEAR(*darkest, full ? 0 : 16, 4);
      break;
    }
  }
}

// The card library's ReadDispWindow over the screen's device context; -1
// when the library or the function is missing.
int32_t readScreenWindow(int32_t x, int32_t y, int32_t width, int32_t height, void* destination) {
  HMODULE library = LoadLibraryA("TernCard.dll");
  if (library == nullptr) {
    return -1;
  }
  int32_t result = -1;
  if (auto readDispWindow = reinterpret_cast<decltype(&ReadDispWindow)>(
          reinterpret_cast<void*>(GetProcAddress(library, "ReadDispWindow")))) {
    HDC screenDc = GetDC(nullptr);
    result = readDispWindow(screenDc, x, y, width, height, destination);
    ReleaseDC(nullptr, screenDc);
  }
  FreeLibrary(library);
  return result;
}

TEST_F(CaptureMachine, SnapShotStoresConsecutiveFramesInEveryFormat) {
  for (int format = 0; format < LX_VIDEO_FORMAT_COUNT; ++format) {
    ASSERT_EQ(LxSetVideoFormat(card_, format), LX_OK);
    const uint32_t lineBytes = kWidth * LxBytesPerPixel(format);
    const uint32_t frameBytes = 2 * kFieldLines * lineBytes;
    ASSERT_EQ(LxFillStaticMem(kStart, 6 * frameBytes, 0x5A), LX_OK);
    ASSERT_EQ(LxSnapShot(card_, kStart, 0, 1, 5), LX_OK) << "format " << format;
    EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);

    StaticWindow window(kStart, 6 * frameBytes);
    ASSERT_NE(window.bytes(), nullptr);
    const auto pairs = framePairs(window.bytes(), 5, format, true);
    expectFramesInOrder(pairs);
    for (uint32_t at = 5 * frameBytes; at < 6 * frameBytes; ++at) {
      ASSERT_EQ(window.bytes()[at], 0x5A) << "byte " << at - 5 * frameBytes << " after frame 4, format " << format;
    }
    // Line 300 of frame 2 belongs to that frame's first field.
    expectRedBar(window.bytes() + 2 * frameBytes + 300 * lineBytes, pairs[2].first, format);
  }
}

TEST_F(CaptureMachine, SnapShotWithoutInterleaveStoresTheFieldsOneAfterTheOther) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB565), LX_OK);
  const uint32_t frameBytes = 2 * kFieldLines * kWidth * 2;
  ASSERT_EQ(LxSnapShot(card_, kStart, 0, 0, 3), LX_OK);
  StaticWindow window(kStart, 3 * frameBytes);
  ASSERT_NE(window.bytes(), nullptr);
  expectFramesInOrder(framePairs(window.bytes(), 3, LX_VIDEO_FORMAT_RGB565, false));
  // Read as interleaved, the first frame's lines do not decode as one field.
  EXPECT_NE(fieldNumber(window.bytes(), 2 * kWidth * 2, LX_VIDEO_FORMAT_RGB565),
            fieldNumber(window.bytes(), kWidth * 2, LX_VIDEO_FORMAT_RGB565));
}

// The two-slot hand-over from either field as the start phase, in each scan mode.
TEST_F(CaptureMachine, HandOverIsRightFromEveryStartPhase) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
  const uint32_t frameBytes = 2 * kFieldLines * kWidth;
  for (uint32_t mode = 0; mode < 3; ++mode) {
    ASSERT_EQ(LxSetScanMode(card_, mode), LX_OK);
    for (bool startInSecondField : {false, true}) {
      SCOPED_TRACE("scan mode " + std::to_string(mode) + (startInSecondField ? ", second field" : ", first field"));
      ASSERT_EQ(startInSecondField ? LxWaitEvenVSync(card_) : LxWaitOddVSync(card_), LX_OK);
      ASSERT_EQ(LxSnapShot(card_, kStart, 0, 1, 6), LX_OK);
      StaticWindow window(kStart, 6 * frameBytes);
      ASSERT_NE(window.bytes(), nullptr);
      if (mode == 0) {
        expectFramesInOrder(framePairs(window.bytes(), 6, LX_VIDEO_FORMAT_GREY8_FULL, true));
        continue;
      }
      // One field a frame: the same parity each time, every second field start.
      std::vector<uint32_t> fields;
      for (uint32_t k = 0; k < 6; ++k) {
        const auto number = fieldNumber(window.bytes() + k * kFieldLines * kWidth, kWidth, LX_VIDEO_FORMAT_GREY8_FULL);
        ASSERT_TRUE(number) << "frame " << k;
        EXPECT_EQ(*number % 2, mode == 1 ? 0u : 1u) << "frame " << k;
        if (!fields.empty()) {
          EXPECT_GT(*number, fields.back()) << "frame " << k;
        }
        fields.push_back(*number);
      }
    }
  }
  ASSERT_EQ(LxSetScanMode(card_, 0), LX_OK);
}

// A longer series: every frame whole and in order. The rate and the frames
// the card delivered in between (late hand-overs) are reported, not judged.
TEST_F(CaptureMachine, LongSeriesKeepsItsFramesWhole) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
  constexpr uint16_t kFrames = 30;
  const uint32_t frameBytes = 2 * kFieldLines * kWidth;
  const auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(LxSnapShot(card_, kStart, 0, 1, kFrames), LX_OK);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  StaticWindow window(kStart, kFrames * frameBytes);
  ASSERT_NE(window.bytes(), nullptr);
  const auto pairs = framePairs(window.bytes(), kFrames, LX_VIDEO_FORMAT_GREY8_FULL, true);
  expectFramesInOrder(pairs);
  uint32_t skipped = 0;
  for (size_t k = 1; k < pairs.size(); ++k) {
    skipped += (pairs[k].first - pairs[k - 1].first) / 2 - 1;
  }
  std::printf("snap shot of %u frames: %.1f frames/s, %u frames of the card passed between hand-overs\n",
              static_cast<unsigned>(kFrames), kFrames / took.count(), skipped);
  RecordProperty("framesPerSecond", std::to_string(kFrames / took.count()));
  RecordProperty("skippedFrames", std::to_string(skipped));
}

// The card library's own exports: a frame read back bottom-up, and the
// two-frame ring left running until live capture is switched off.
TEST_F(CaptureMachine, CardLibraryReadsFramesBackAndRunsATwoFrameRing) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB888), LX_OK);
  const uint32_t lineBytes = kWidth * 3;
  const uint32_t frameBytes = 2 * kFieldLines * lineBytes;
  ASSERT_EQ(LxSnapShot(card_, kStart, 0, 1, 3), LX_OK);
  HMODULE library = LoadLibraryA("TernCard.dll");
  ASSERT_NE(library, nullptr);
  auto symbol = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(library, name)); };
  auto readFromMem = reinterpret_cast<decltype(&TernCardReadFromMem)>(symbol("TernCardReadFromMem"));
  auto snapOneToMem = reinterpret_cast<decltype(&TernCardSnapOneToMem)>(symbol("TernCardSnapOneToMem"));
  auto capture = reinterpret_cast<decltype(&TernCardCapture)>(symbol("TernCardCapture"));
  ASSERT_TRUE(readFromMem && snapOneToMem && capture);
  const uint64_t context = recordOf(card_).context;
  {
    StaticWindow window(kStart, 3 * frameBytes);
    ASSERT_NE(window.bytes(), nullptr);
    std::vector<uint8_t> copy(frameBytes, 0);
    ASSERT_EQ(readFromMem(context, window.bytes(), 3 * frameBytes, 2, copy.data()), 1);
    const uint8_t* frame2 = window.bytes() + 2 * frameBytes;
    EXPECT_EQ(std::memcmp(copy.data(), frame2 + (2 * kFieldLines - 1) * lineBytes, lineBytes), 0) << "bottom-up";
    EXPECT_EQ(std::memcmp(copy.data() + (2 * kFieldLines - 1) * lineBytes, frame2, lineBytes), 0);
    EXPECT_EQ(readFromMem(context, window.bytes(), 3 * frameBytes, 3, copy.data()), 0) << "frame 3 lies outside";
  }
  uint32_t pages = 0;
  uint32_t physical = 0;
  auto getStaticMem = reinterpret_cast<int32_t (*)(uint32_t*, uint32_t*)>(symbol("GetStaticMem"));
  ASSERT_NE(getStaticMem, nullptr);
  ASSERT_NE(getStaticMem(&pages, &physical), 0);
  ASSERT_EQ(LxFillStaticMem(kStart, 3 * frameBytes, 0x5A), LX_OK);
  EXPECT_EQ(snapOneToMem(context, physical + kStart, 2 * frameBytes - 1, 0), 0) << "room for two frames needed";
  ASSERT_EQ(snapOneToMem(context, physical + kStart, 2 * frameBytes, 0), 1);
  for (int wait = 0; wait < 4; ++wait) {
    ASSERT_EQ(LxWaitOddVSync(card_), LX_OK);
  }
  ASSERT_EQ(capture(context, 0), 1);
  StaticWindow window(kStart, 3 * frameBytes);
  ASSERT_NE(window.bytes(), nullptr);
  // Stopped at any moment: the frame the card was filling may be cut, the other one is whole.
  const auto pairs = framePairs(window.bytes(), 2, LX_VIDEO_FORMAT_RGB888, true);
  EXPECT_TRUE(pairs[0].second == pairs[0].first + 1 || pairs[1].second == pairs[1].first + 1);
  EXPECT_EQ(window.bytes()[2 * frameBytes], 0x5A) << "the ring holds two frames";
  FreeLibrary(library);
}

TEST_F(CaptureMachine, RingKeepsTurningUntilStopped) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
  const uint32_t frameBytes = 2 * kFieldLines * kWidth;
  ASSERT_EQ(LxFillStaticMem(kStart, 5 * frameBytes, 0x5A), LX_OK);
  ASSERT_EQ(LxStartSnap(card_, kStart, 1, 4), LX_OK);
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_SNAP);
  EXPECT_EQ(LxSnapShot(card_, kStart, 0, 1, 1), LX_IN_WORK);
  EXPECT_EQ(LxStartSnap(card_, kStart, 1, 4), LX_IN_WORK);
  EXPECT_EQ(LxCapture(card_, 1), LX_IN_WORK);

  StaticWindow window(kStart, 5 * frameBytes);
  ASSERT_NE(window.bytes(), nullptr);
  // The number runs through the ring's eight field blocks.
  std::set<int32_t> seen;
  for (int poll = 0; poll < 20000 && seen.size() < 8; ++poll) {
    int32_t number = -1;
    ASSERT_EQ(LxGetSnappingNumber(card_, &number), LX_OK);
    ASSERT_GE(number, 0);
    ASSERT_LT(number, 8);
    seen.insert(number);
  }
  EXPECT_EQ(seen.size(), 8u);
  // Every frame of the ring is replaced by a later one.
  const auto before = framePairs(window.bytes(), 4, LX_VIDEO_FORMAT_GREY8_FULL, true);
  for (int wait = 0; wait < 8; ++wait) {
    ASSERT_EQ(LxWaitOddVSync(card_), LX_OK);
  }
  const auto after = framePairs(window.bytes(), 4, LX_VIDEO_FORMAT_GREY8_FULL, true);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_GT(after[k].first, before[k].first) << "frame " << k;
  }

  ASSERT_EQ(LxStopSnap(card_), LX_OK);
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);
  int32_t number = 7;
  EXPECT_EQ(LxGetSnappingNumber(card_, &number), LX_NOT_START_SNAP);
  EXPECT_EQ(number, 0);
  const std::vector<uint8_t> stopped(window.bytes(), window.bytes() + 5 * frameBytes);
  for (int wait = 0; wait < 4; ++wait) {
    ASSERT_EQ(LxWaitOddVSync(card_), LX_OK);
  }
  EXPECT_EQ(std::memcmp(stopped.data(), window.bytes(), stopped.size()), 0) << "the card wrote after the stop";
  for (uint32_t at = 4 * frameBytes; at < 5 * frameBytes; ++at) {
    ASSERT_EQ(window.bytes()[at], 0x5A) << "the ring wrote past its four frames";
  }
}

TEST_F(CaptureMachine, LiveCapturePaintsTheOutputWindowOnly) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB8888), LX_OK);
  constexpr uint32_t x0 = 200, y0 = 100, w = 640, h = 480;
  ASSERT_EQ(LxSetOutputWindow(card_, x0, y0, w, h), LX_OK);
  VideoMemory vram;
  ASSERT_TRUE(vram);
  for (uint32_t y = 0; y < 768; ++y) {
    std::memset(vram.at(0, y), 0x11, 1024 * 4);
  }
  ASSERT_EQ(LxCapture(card_, 1), LX_OK);
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_CAPTURE);
  EXPECT_EQ(LxEnableMask(card_, 1), LX_IN_WORK);
  for (int wait = 0; wait < 4; ++wait) {
    ASSERT_EQ(LxWaitOddVSync(card_), LX_OK);
  }
  ASSERT_EQ(LxCapture(card_, 0), LX_OK);
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);
  EXPECT_EQ(LxCapture(card_, 0), LX_NOT_START_CAPTURE);

  const std::vector<uint8_t> screen(vram.at(0, 0), vram.at(0, 0) + 768 * vram.pitch());
  for (int wait = 0; wait < 3; ++wait) {
    ASSERT_EQ(LxWaitOddVSync(card_), LX_OK);
  }
  EXPECT_EQ(std::memcmp(screen.data(), vram.at(0, 0), screen.size()), 0) << "written after the stop";

  // Inside the window: the picture (its field numbers decode); outside: untouched.
  lxtest::CapturedField field;
  field.pixels = vram.at(x0, y0);
  field.width = w;
  field.lines = h / 2;
  field.stride = 2 * vram.pitch();
  field.format = PixelFormat::Rgb32;
  field.samplesPerPixel = 768.0 / w;
  field.fieldLinesPerLine = 288.0 / (h / 2);
  EXPECT_TRUE(lxtest::decodeFieldNumber(field));
  for (uint32_t y = 0; y < 768; ++y) {
    for (uint32_t x : {0u, x0 - 1, x0 + w, 1023u}) {
      ASSERT_EQ(vram.at(x, y)[0], 0x11) << x << "," << y;
    }
  }
  for (uint32_t x = 0; x < 1024; ++x) {
    ASSERT_EQ(vram.at(x, y0 - 1)[1], 0x11) << x;
    ASSERT_EQ(vram.at(x, y0 + h)[1], 0x11) << x;
  }

  // The same rectangle through the screen's device context: bottom-up, blue, green, red.
  std::vector<uint8_t> readBack(w * h * 3, 0);
  ASSERT_EQ(readScreenWindow(x0, y0, w, h, readBack.data()), 1);
  for (uint32_t y = 0; y < h; y += 37) {
    for (uint32_t x = 0; x < w; x += 13) {
      const uint8_t* stored = &readBack[((h - 1 - y) * w + x) * 3];
      const uint8_t* pixel = vram.at(x0 + x, y0 + y);
      ASSERT_EQ(std::memcmp(stored, pixel, 3), 0) << x << "," << y;
    }
  }
}

// On an 8-bit screen the window is read back one byte a pixel, bottom line first.
TEST_F(CaptureMachine, ReadDispWindowOfAnEightBitScreen) {
  terncard::testing::MachineControl machine;
  ASSERT_TRUE(machine.setDisplay("1024x768x8"));
  constexpr uint32_t x0 = 5, y0 = 7, w = 300, h = 20;
  std::vector<uint8_t> readBack(w * h + 16, 0xEE);
  {
    VideoMemory vram;
    ASSERT_TRUE(vram);
    for (uint32_t y = 0; y < 40; ++y) {
      for (uint32_t x = 0; x < 320; ++x) {
        vram.line(y)[x] = static_cast<uint8_t>(x * 7 + y * 3);
      }
    }
    EXPECT_EQ(readScreenWindow(x0, y0, w, h, readBack.data()), 1);
    EXPECT_EQ(readScreenWindow(0, 0, 2321, 1, readBack.data()), 0) << "a line longer than the work buffer";
  }
  ASSERT_TRUE(machine.setDisplay("1024x768x32"));
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      ASSERT_EQ(readBack[(h - 1 - y) * w + x], static_cast<uint8_t>((x0 + x) * 7 + (y0 + y) * 3)) << x << "," << y;
    }
  }
  EXPECT_EQ(readBack[w * h], 0xEE) << "nothing past the window";
}

TEST_F(CaptureMachine, MaskKeepsTheScreenUnderHiddenPixels) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB8888), LX_OK);
  constexpr uint32_t x0 = 64, y0 = 32, w = 640, h = 480;
  ASSERT_EQ(LxSetOutputWindow(card_, x0, y0, w, h), LX_OK);
  ASSERT_EQ(LxFlushMask(card_, 1), LX_OK);
  for (uint32_t y = 50; y < 150; ++y) {
    for (uint32_t x = 100; x < 200; ++x) {
      ASSERT_EQ(LxSetPixelMask(card_, x, y, 1), LX_OK);
    }
  }
  ASSERT_EQ(LxEnableMask(card_, 1), LX_OK);
  EXPECT_EQ(recordOf(card_).maskEnabled, 1);
  VideoMemory vram;
  ASSERT_TRUE(vram);
  for (uint32_t y = 0; y < 768; ++y) {
    std::memset(vram.at(0, y), 0x22, 1024 * 4);
  }
  ASSERT_EQ(LxCapture(card_, 1), LX_OK);
  for (int wait = 0; wait < 4; ++wait) {
    ASSERT_EQ(LxWaitOddVSync(card_), LX_OK);
  }
  ASSERT_EQ(LxCapture(card_, 0), LX_OK);
  uint32_t written = 0;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const bool hidden = x >= 100 && x < 200 && y >= 50 && y < 150;
      const uint8_t* pixel = vram.at(x0 + x, y0 + y);
      const bool untouched = pixel[0] == 0x22 && pixel[1] == 0x22 && pixel[2] == 0x22 && pixel[3] == 0x22;
      if (hidden) {
        ASSERT_TRUE(untouched) << "hidden pixel " << x << "," << y << " was written";
      } else if (!untouched) {
        ++written;
      }
    }
  }
  EXPECT_GT(written, w * h * 9 / 10) << "the visible pixels show video";
  ASSERT_EQ(LxEnableMask(card_, 0), LX_OK);
}

TEST_F(CaptureMachine, DisplayChecksRefuseBeforeTheCard) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB888), LX_OK);
  EXPECT_EQ(LxCapture(card_, 1), LX_VIDEO_FORMAT_INVALID) << "3 bytes a pixel on a 4-byte screen";
  EXPECT_EQ(LxCaptureShot(card_), LX_VIDEO_FORMAT_INVALID);
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB8888), LX_OK);
  ASSERT_EQ(LxSetOutputWindow(card_, 400, 0, 640, 480), LX_OK);
  EXPECT_EQ(LxCapture(card_, 1), LX_VIDEO_WINDOW_INVALID) << "past the right edge of 1024";
  ASSERT_EQ(LxSetOutputWindow(card_, 384, 288, 640, 480), LX_OK);
  EXPECT_EQ(LxCapture(card_, 1), LX_OK) << "ends exactly at both edges";
  EXPECT_EQ(LxCapture(card_, 0), LX_OK);
  ASSERT_EQ(LxSetOutputWindow(card_, 384, 289, 640, 480), LX_OK);
  EXPECT_EQ(LxCapture(card_, 1), LX_VIDEO_WINDOW_INVALID) << "one line past the bottom";
  ASSERT_EQ(LxSetScanMode(card_, 1), LX_OK);
  EXPECT_EQ(LxCaptureShot(card_), LX_OK) << "a field mode shows half the lines";
  ASSERT_EQ(LxSetScanMode(card_, 0), LX_OK);
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);
}

TEST_F(CaptureMachine, SnapRequestsOutsideTheStaticMemoryAreRefused) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
  uint32_t pages = 0;
  ASSERT_EQ(LxGetStaticMem(&pages), LX_OK);
  const uint32_t size = pages * 4096;
  const uint32_t frameBytes = 2 * kFieldLines * kWidth;
  EXPECT_EQ(LxSnapShot(card_, size - 3 * frameBytes, 0, 1, 3), LX_OK) << "ends exactly at the end";
  ASSERT_EQ(LxSnapShot(card_, size - frameBytes, 0, 1, 1), LX_OK) << "one frame, the last of the memory";
  {
    StaticWindow last(size - frameBytes, frameBytes);
    ASSERT_NE(last.bytes(), nullptr);
    expectFramesInOrder(framePairs(last.bytes(), 1, LX_VIDEO_FORMAT_GREY8_FULL, true));
  }
  EXPECT_EQ(LxSnapShot(card_, size - 3 * frameBytes + 1, 0, 1, 3), LX_ACCESS_DEVICE_MEMORY_DENIED);
  EXPECT_EQ(LxStartSnap(card_, size - 3 * frameBytes + 1, 1, 3), LX_ACCESS_DEVICE_MEMORY_DENIED);
  EXPECT_EQ(LxSnapShot(card_, 0xFFFFFFFFu - frameBytes + 2, 0, 1, 1), LX_ACCESS_DEVICE_MEMORY_DENIED)
      << "an offset that wraps around 32 bits";
  EXPECT_EQ(LxSnapShot(card_, 0, 0, 1, 0xFFFF), LX_ACCESS_DEVICE_MEMORY_DENIED) << "bytes beyond 32 bits";
  EXPECT_EQ(LxStartSnap(card_, 0, 1, 0), LX_OK);
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);
  EXPECT_EQ(LxStopSnap(card_), LX_OK);
  EXPECT_EQ(LxWaitVSync(card_), LX_NOT_SUPPORT_INTERFACE);
  int32_t number = 5;
  EXPECT_EQ(LxGetSnappingNumber(card_, nullptr), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxGetSnappingNumberExInt(card_, &number), LX_NOT_START_SNAP_EX);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);
}

TEST_F(CaptureMachine, PixelMaskLayoutAndRefusals) {
  const uint8_t* mask = recordOf(card_).maskBuffer;
  ASSERT_NE(mask, nullptr);
  ASSERT_EQ(LxFlushMask(card_, 0), LX_OK);
  EXPECT_EQ(mask[0x6c00 - 1], 0);
  ASSERT_EQ(LxFlushMask(card_, 1), LX_OK);
  EXPECT_EQ(mask[0xd800 - 1], 0xFF);
  EXPECT_EQ(LxSetPixelMask(card_, 0, 0, 1), LX_OK);
  EXPECT_EQ(mask[0], 0xFE);
  ASSERT_EQ(LxFlushMask(card_, 0), LX_OK);
  EXPECT_EQ(LxSetPixelMask(card_, 9, 1, 0), LX_OK);
  EXPECT_EQ(mask[0x6c00 + 1], 0x02);
  EXPECT_EQ(LxSetPixelMask(card_, 767, 575, 0), LX_OK);
  EXPECT_EQ(mask[0x6c00 + 287 * 96 + 95], 0x80);
  ASSERT_EQ(LxSetScanMode(card_, 1), LX_OK);
  EXPECT_EQ(LxSetPixelMask(card_, 0, 3, 0), LX_OK);
  EXPECT_EQ(mask[288], 0x01);
  EXPECT_EQ(LxSetPixelMask(card_, 0, 288, 0), LX_PARAMETER_INVALID);
  ASSERT_EQ(LxSetScanMode(card_, 2), LX_OK);
  EXPECT_EQ(LxSetPixelMask(card_, 0, 3, 0), LX_OK);
  EXPECT_EQ(mask[0x6c00 + 288], 0x01);
  ASSERT_EQ(LxSetScanMode(card_, 0), LX_OK);
  const std::vector<uint8_t> before(mask, mask + 0xd800);
  EXPECT_EQ(LxSetPixelMask(card_, 768, 0, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxSetPixelMask(card_, 769, 0, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxSetPixelMask(card_, 0, 576, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxSetPixelMask(card_, 0xFFFFFFFFu, 0, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(std::memcmp(before.data(), mask, before.size()), 0) << "a refused pixel changed the mask";
  EXPECT_EQ(LxSetPixelMask(nullptr, 0, 0, 0), LX_CARD_HANDLE_INVALID);
}

// Last: it changes the input. Without a picture, the waits give up.
TEST_F(CaptureMachine, CardWithoutPictureTimesOut) {
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
  ASSERT_EQ(LxSetVideoSource(card_, LxVideoSource{LX_VIDEO_SOURCE_COMPOSITE, 1}), LX_OK);  // nothing connected
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(LxSnapShot(card_, kStart, 0, 1, 5), LX_SNAP_SHOT_TIME_OUT);
  EXPECT_EQ(LxSnapShot(card_, kStart, 0, 1, 1), LX_SNAP_SHOT_TIME_OUT);
  EXPECT_EQ(LxWaitOddVSync(card_), LX_INTERNAL_ERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(30)) << "bounded";
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);
  ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_RGB8888), LX_OK);
  ASSERT_EQ(LxSetOutputWindow(card_, 0, 0, 640, 480), LX_OK);
  EXPECT_EQ(LxCapture(card_, 1), LX_OK);
  EXPECT_EQ(LxCapture(card_, 0), LX_OK) << "a live capture without a picture still stops";
  EXPECT_EQ(recordOf(card_).state, LX_CAPTURE_STATE_IDLE);
  ASSERT_EQ(LxSetVideoSource(card_, LxVideoSource{LX_VIDEO_SOURCE_COMPOSITE, 0}), LX_OK);
}

}  // namespace

// Snap-ex against a private machine with a fast clock: callbacks on the
// library's thread for a turning ring, stop and restart, close while
// snapping, the refusals, and threads that do not stay behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "bars_decoder.h"
#include "lx/internal/card_record.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_first.h"
#include "snap_ex_test_support.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using snapextest::kWaitMs;
using snapextest::stateOf;
using snapextest::waitForThreads;
using snapextest::threadsOfProcess;

constexpr uint32_t kWidth = 768;
constexpr uint32_t kFieldLines = 288;
constexpr uint32_t kFrameBytes = 2 * kFieldLines * kWidth;  // grey, frame mode
constexpr uint32_t kStart = 2 * 4096;

struct Delivery {
  int32_t cardIndex;
  int32_t frameIndex;
  DWORD thread;
  void* context;
};

// What the callback saw, shared with the test's thread.
struct Recorder {
  std::mutex mutex;
  std::vector<Delivery> deliveries;
  bool closeOwnCard = false;
  LxStatus closeFromCallback = LX_OK;

  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return deliveries.size();
  }
  std::vector<Delivery> copy() {
    std::lock_guard<std::mutex> lock(mutex);
    return deliveries;
  }
};

int32_t record(SnapExInfo* info) {
  auto* recorder = static_cast<Recorder*>(info->context);
  std::lock_guard<std::mutex> lock(recorder->mutex);
  recorder->deliveries.push_back({info->cardIndex, info->frameIndex, GetCurrentThreadId(), info->context});
  if (recorder->closeOwnCard) {
    recorder->closeOwnCard = false;
    recorder->closeFromCallback = LxCloseSnapEx(info->handle);
  }
  return 0;
}

// Waits up to kWaitMs for the recorder to hold at least `count` deliveries.
bool waitForDeliveries(Recorder& recorder, size_t count) {
  for (int ms = 0; ms < kWaitMs; ms += 5) {
    if (recorder.count() >= count) {
      return true;
    }
    Sleep(5);
  }
  return false;
}

// Waits until no delivery arrives for `quietMs`, up to kWaitMs; the count then.
size_t settledCount(Recorder& recorder, int quietMs) {
  size_t last = recorder.count();
  for (int ms = 0, quiet = 0; ms < kWaitMs && quiet < quietMs; ms += 10) {
    Sleep(10);
    const size_t now = recorder.count();
    quiet = now == last ? quiet + 10 : 0;
    last = now;
  }
  return last;
}

class SnapExMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(BeginLxCard(1, &card_), LX_OK);
    ASSERT_EQ(LxSetOutputWindow(card_, 0, 0, kWidth, 2 * kFieldLines), LX_OK);
    ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
  }
  void TearDown() override {
    LxCloseSnapEx(card_);
    EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_IDLE);
    EXPECT_EQ(EndLxCard(card_), LX_OK);
  }

  LxCardHandle card_ = nullptr;
  Recorder recorder_;
};

TEST_F(SnapExMachine, CallsBackOnItsOwnThreadForEachCompletedFrame) {
  ASSERT_EQ(LxOpenSnapEx(card_, record, &recorder_), LX_OK);
  ASSERT_EQ(LxStartSnapEx(card_, kStart, 1, 4), LX_OK);
  EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_SNAP_EX);
  EXPECT_EQ(LxStartSnapEx(card_, kStart, 1, 4), LX_OK) << "a start while snapping does nothing";
  EXPECT_EQ(LxStartSnap(card_, kStart, 1, 4), LX_IN_WORK) << "the card is taken";
  ASSERT_TRUE(waitForDeliveries(recorder_, 12));

  const auto seen = recorder_.copy();
  for (size_t k = 0; k < seen.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(seen[k].cardIndex, 1);
    EXPECT_EQ(seen[k].context, &recorder_);
    EXPECT_NE(seen[k].thread, GetCurrentThreadId());
    EXPECT_EQ(seen[k].thread, seen[0].thread) << "one delivery thread per card";
    EXPECT_GE(seen[k].frameIndex, 0);
    EXPECT_LT(seen[k].frameIndex, 4);
    if (k > 0) {
      // Forward around the ring, frames in between possibly skipped.
      EXPECT_NE(seen[k].frameIndex, seen[k - 1].frameIndex);
    }
  }
  // Over many callbacks every entry of the ring comes round.
  ASSERT_TRUE(waitForDeliveries(recorder_, 40));
  bool entries[4] = {};
  for (const auto& delivery : recorder_.copy()) {
    entries[delivery.frameIndex & 3] = true;
  }
  EXPECT_TRUE(entries[0] && entries[1] && entries[2] && entries[3]);
}

// The callback reads the frame it is told of: both fields of one frame, and
// each frame newer than the one before. (A long ring, so the card comes
// round to the frame only well after the callback.)
struct FrameReader {
  const uint8_t* ring = nullptr;
  std::mutex mutex;
  std::vector<std::pair<int64_t, int64_t>> fields;  // first and second field number, -1 unreadable
};

int64_t fieldNumberAt(const uint8_t* firstLine) {
  lxtest::CapturedField field;
  field.pixels = firstLine;
  field.width = kWidth;
  field.lines = kFieldLines;
  field.stride = 2 * kWidth;  // fields interleaved line by line
  field.format = lxhw::tern::PixelFormat::Grey8;
  const auto number = lxtest::decodeFieldNumber(field);
  return number ? int64_t{*number} : -1;
}

int32_t readFrame(SnapExInfo* info) {
  auto* reader = static_cast<FrameReader*>(info->context);
  const uint8_t* frame = reader->ring + size_t{static_cast<uint32_t>(info->frameIndex)} * kFrameBytes;
  const int64_t first = fieldNumberAt(frame);
  const int64_t second = fieldNumberAt(frame + kWidth);
  std::lock_guard<std::mutex> lock(reader->mutex);
  reader->fields.emplace_back(first, second);
  return 0;
}

TEST_F(SnapExMachine, CalledBackFrameIsWhole) {
  constexpr uint16_t kFrames = 16;
  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  ASSERT_EQ(LxStaticMemLock(kStart, kFrames * kFrameBytes, &lock, &address), LX_OK);
  FrameReader reader;
  reader.ring = static_cast<const uint8_t*>(address);
  ASSERT_EQ(LxOpenSnapEx(card_, readFrame, &reader), LX_OK);
  ASSERT_EQ(LxStartSnapEx(card_, kStart, 1, kFrames), LX_OK);
  bool enough = false;
  for (int ms = 0; ms < kWaitMs && !enough; ms += 5) {
    Sleep(5);
    std::lock_guard<std::mutex> guard(reader.mutex);
    enough = reader.fields.size() >= 10;
  }
  EXPECT_TRUE(enough);
  ASSERT_EQ(LxCloseSnapEx(card_), LX_OK);
  for (size_t k = 0; k < reader.fields.size(); ++k) {
    SCOPED_TRACE(k);
    const auto [first, second] = reader.fields[k];
    ASSERT_GE(first, 0) << "first field unreadable";
    EXPECT_EQ(first % 2, 0) << "a frame starts with a first field";
    EXPECT_EQ(second, first + 1) << "two consecutive fields";
    if (k > 0) {
      EXPECT_GT(first, reader.fields[k - 1].first) << "newer than the frame before";
    }
  }
  EXPECT_EQ(LxStaticMemUnlock(lock), LX_OK);
}

TEST_F(SnapExMachine, StopEndsCallbacksAndStartResumesThem) {
  ASSERT_EQ(LxOpenSnapEx(card_, record, &recorder_), LX_OK);
  ASSERT_EQ(LxStartSnapEx(card_, kStart, 1, 4), LX_OK);
  ASSERT_TRUE(waitForDeliveries(recorder_, 5));
  ASSERT_EQ(LxStopSnapEx(card_), LX_OK);
  EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_IDLE);
  const size_t stopped = settledCount(recorder_, 100);
  Sleep(300);
  EXPECT_EQ(recorder_.count(), stopped) << "a callback after the stop";

  // Again, with the fields of a frame stored one after the other.
  ASSERT_EQ(LxStartSnapEx(card_, kStart, 0, 2), LX_OK);
  EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_SNAP_EX);
  ASSERT_TRUE(waitForDeliveries(recorder_, stopped + 8));
  const auto seen = recorder_.copy();
  for (size_t k = stopped; k < seen.size(); ++k) {
    EXPECT_GE(seen[k].frameIndex, 0);
    EXPECT_LT(seen[k].frameIndex, 4) << "two entries per frame";
  }
  ASSERT_EQ(LxStopSnapEx(card_), LX_OK);
  EXPECT_EQ(LxStopSnapEx(card_), LX_OK) << "stopping a stopped card is harmless";
  EXPECT_EQ(LxCloseSnapEx(card_), LX_OK);
  EXPECT_EQ(LxStopSnapEx(card_), LX_NOT_OPEN_SNAP_EX);
}

TEST_F(SnapExMachine, CloseWhileSnappingStopsTheCardAndTheCallbacks) {
  ASSERT_EQ(LxOpenSnapEx(card_, record, &recorder_), LX_OK);
  ASSERT_EQ(LxStartSnapEx(card_, kStart, 1, 3), LX_OK);
  ASSERT_TRUE(waitForDeliveries(recorder_, 5));
  ASSERT_EQ(LxCloseSnapEx(card_), LX_OK);
  const size_t closed = recorder_.count();
  EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_IDLE);
  Sleep(300);
  EXPECT_EQ(recorder_.count(), closed) << "a callback after the close returned";
  EXPECT_EQ(LxCloseSnapEx(card_), LX_NOT_OPEN_SNAP_EX);
  EXPECT_EQ(LxStartSnapEx(card_, kStart, 1, 3), LX_NOT_OPEN_SNAP_EX);

  // Open again after the last close: a new polling thread serves it.
  ASSERT_EQ(LxOpenSnapEx(card_, record, &recorder_), LX_OK);
  ASSERT_EQ(LxStartSnapEx(card_, kStart, 1, 3), LX_OK);
  ASSERT_TRUE(waitForDeliveries(recorder_, closed + 5));
}

TEST_F(SnapExMachine, CallbackCannotCloseItsOwnCard) {
  recorder_.closeOwnCard = true;
  ASSERT_EQ(LxOpenSnapEx(card_, record, &recorder_), LX_OK);
  ASSERT_EQ(LxStartSnapEx(card_, kStart, 1, 4), LX_OK);
  ASSERT_TRUE(waitForDeliveries(recorder_, 3)) << "callbacks go on after the refused close";
  std::lock_guard<std::mutex> lock(recorder_.mutex);
  EXPECT_EQ(recorder_.closeFromCallback, LX_IN_WORK);
}

// A callback that posts to the closing thread while the close waits for it:
// the close takes the message off the queue and dispatches it.
struct Poster {
  DWORD closingThread = 0;
  std::atomic<bool> inCallback{false};
  std::atomic<bool> closing{false};
  std::atomic<bool> posted{false};
};

// The first call holds on until the test starts closing.
int32_t postWhileClosing(SnapExInfo* info) {
  auto* poster = static_cast<Poster*>(info->context);
  if (poster->inCallback.exchange(true)) {
    return 0;
  }
  for (int ms = 0; ms < kWaitMs && !poster->closing; ++ms) {
    Sleep(1);
  }
  Sleep(20);  // the close is waiting by now
  poster->posted = PostThreadMessageA(poster->closingThread, WM_APP + 7, 0, 0) != FALSE;
  Sleep(50);  // and keeps waiting, pumping, until this returns
  return 0;
}

TEST_F(SnapExMachine, CloseRemovesMessagesWhileItWaits) {
  Poster poster;
  poster.closingThread = GetCurrentThreadId();
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread's queue
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  ASSERT_EQ(LxOpenSnapEx(card_, postWhileClosing, &poster), LX_OK);
  ASSERT_EQ(LxStartSnapEx(card_, kStart, 1, 4), LX_OK);
  for (int ms = 0; ms < kWaitMs && !poster.inCallback; ++ms) {
    Sleep(1);
  }
  ASSERT_TRUE(poster.inCallback);
  poster.closing = true;
  ASSERT_EQ(LxCloseSnapEx(card_), LX_OK);
  ASSERT_TRUE(poster.posted) << "the callback posted during the close";
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "the message is still queued";
}

TEST_F(SnapExMachine, Refusals) {
  EXPECT_EQ(LxOpenSnapEx(nullptr, record, &recorder_), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(LxStartSnapEx(nullptr, kStart, 1, 4), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(LxStopSnapEx(nullptr), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(LxCloseSnapEx(nullptr), LX_CARD_HANDLE_INVALID);
  const LxCardHandle freed = reinterpret_cast<LxCardHandle>(uintptr_t{0x7ff00002});
  EXPECT_EQ(LxOpenSnapEx(freed, record, &recorder_), LX_CARD_HANDLE_INVALID) << "a handle that does not lock";

  EXPECT_EQ(LxStartSnapEx(card_, kStart, 1, 4), LX_NOT_OPEN_SNAP_EX);
  EXPECT_EQ(LxStopSnapEx(card_), LX_NOT_OPEN_SNAP_EX);
  EXPECT_EQ(LxCloseSnapEx(card_), LX_NOT_OPEN_SNAP_EX);
  ASSERT_EQ(LxOpenSnapEx(card_, record, &recorder_), LX_OK);
  EXPECT_EQ(LxOpenSnapEx(card_, record, &recorder_), LX_IN_WORK);
  EXPECT_EQ(LxStopSnapEx(card_), LX_NOT_START_SNAP_EX);

  // A ring past the end of the static memory: refused, nothing snaps.
  uint32_t pages = 0;
  ASSERT_EQ(LxGetStaticMem(&pages), LX_OK);
  const uint32_t size = pages * 4096;
  EXPECT_EQ(LxStartSnapEx(card_, size - 4 * kFrameBytes + 1, 1, 4), LX_ACCESS_DEVICE_MEMORY_DENIED);
  EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_IDLE);
  EXPECT_EQ(LxStartSnapEx(card_, kStart, 1, 0), LX_OK) << "an empty ring starts nothing";
  EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_IDLE);
  Sleep(100);
  EXPECT_EQ(recorder_.count(), 0u);
  // The slot stayed paused: a valid start snaps.
  ASSERT_EQ(LxStartSnapEx(card_, size - 4 * kFrameBytes, 1, 4), LX_OK) << "ends exactly at the end";
  EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_SNAP_EX);
  ASSERT_TRUE(waitForDeliveries(recorder_, 3));
  EXPECT_EQ(LxCloseSnapEx(card_), LX_OK);
  EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_IDLE);
}

TEST_F(SnapExMachine, NoThreadStaysBehind) {
  const int before = threadsOfProcess();
  ASSERT_EQ(LxOpenSnapEx(card_, nullptr, nullptr), LX_OK);
  EXPECT_EQ(threadsOfProcess(), before + 2) << "a polling and a delivery thread, both waiting";
  ASSERT_EQ(LxCloseSnapEx(card_), LX_OK) << "closed without a start";
  EXPECT_TRUE(waitForThreads(before));

  // Without a callback the ring turns and nothing is called.
  ASSERT_EQ(LxOpenSnapEx(card_, nullptr, nullptr), LX_OK);
  ASSERT_EQ(LxStartSnapEx(card_, kStart, 1, 4), LX_OK);
  EXPECT_EQ(stateOf(card_), LX_CAPTURE_STATE_SNAP_EX);
  Sleep(50);
  ASSERT_EQ(LxStopSnapEx(card_), LX_OK);
  ASSERT_EQ(LxCloseSnapEx(card_), LX_OK);
  EXPECT_TRUE(waitForThreads(before));
}

}  // namespace

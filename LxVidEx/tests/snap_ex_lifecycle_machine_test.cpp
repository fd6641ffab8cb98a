// Snap-ex lifecycles that involve the callbacks and the card handle: a
// callback closing its own card or another one while the application closes,
// a stop that returns only once no callback runs, rings whose numbers cannot
// move, and the card that cannot be ended while snap-ex is open on it.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_first.h"
#include "snap_ex_test_support.h"

// Two cards with the bars, a fast clock.
const char* terncard::testing::machineConfig() {
  return "[clock]\nfactor = 20\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n"
         "[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"bars\"]\n\n"
         "[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"bars\"]\n";
}

namespace {

using snapextest::kWaitMs;
using snapextest::stateOf;

constexpr uint32_t kRingStart = 4096;
constexpr uint32_t kSecondRing = 8u << 20;  // the second card's ring, well apart

template <typename Predicate>
bool waitUntil(Predicate done) {
  for (int ms = 0; ms < kWaitMs; ++ms) {
    if (done()) return true;
    Sleep(1);
  }
  return done();
}

class SnapExLifecycle : public snapextest::TwoCards {};

// A callback that, on its first call, waits for the application to be inside
// its close and then closes `target`.
struct CloserInCallback {
  LxCardHandle target = nullptr;
  std::atomic<bool> entered{false};
  std::atomic<bool> applicationClosing{false};
  std::atomic<LxStatus> result{LX_OK};
  std::atomic<DWORD> tookMs{0};
};

int32_t closeDuringApplicationClose(SnapExInfo* info) {
  auto* closer = static_cast<CloserInCallback*>(info->context);
  if (closer->entered.exchange(true)) return 0;
  for (int ms = 0; ms < kWaitMs && !closer->applicationClosing; ++ms) Sleep(1);
  Sleep(30);  // the application's close, begun just now, is waiting for this thread by now
  const DWORD began = GetTickCount();
  closer->result = LxCloseSnapEx(closer->target);
  closer->tookMs = GetTickCount() - began;
  return 0;
}

// Runs the application's close on another thread so that a deadlock shows as
// a failed wait instead of a hung test program. `closing` is set on that
// thread just before the close, so a callback waiting for it does not race
// the thread's start (slow under a sanitizer).
LxStatus closeWithin(LxCardHandle card, int ms, bool* finished, std::atomic<bool>* closing = nullptr) {
  std::atomic<bool> done{false};
  std::atomic<LxStatus> status{LX_INTERNAL_ERROR};
  std::thread closer([&] {
    if (closing != nullptr) *closing = true;
    status = LxCloseSnapEx(card);
    done = true;
  });
  for (int waited = 0; waited < ms && !done; ++waited) Sleep(1);
  *finished = done;
  if (!done) {
    closer.detach();  // deadlocked: the program cannot end it
    return LX_INTERNAL_ERROR;
  }
  closer.join();
  return status;
}

TEST_F(SnapExLifecycle, CallbackClosingItsOwnCardDuringTheApplicationsCloseIsRefused) {
  CloserInCallback closer;
  closer.target = cards_[0];
  ASSERT_EQ(LxOpenSnapEx(cards_[0], closeDuringApplicationClose, &closer), LX_OK);
  ASSERT_EQ(LxStartSnapEx(cards_[0], kRingStart, 1, 4), LX_OK);
  ASSERT_TRUE(waitUntil([&] { return closer.entered.load(); }));
  bool finished = false;
  EXPECT_EQ(closeWithin(cards_[0], kWaitMs, &finished, &closer.applicationClosing), LX_OK);
  ASSERT_TRUE(finished) << "the close waited for the callback, the callback for the close";
  EXPECT_EQ(closer.result.load(), LX_IN_WORK);
  EXPECT_LT(closer.tookMs.load(), 100u) << "refused before any lock is waited for";
  EXPECT_EQ(stateOf(cards_[0]), LX_CAPTURE_STATE_IDLE);
}

TEST_F(SnapExLifecycle, CallbackClosingAnotherCardDuringTheApplicationsCloseGivesUpWithinTheBound) {
  CloserInCallback closer;
  closer.target = cards_[1];
  ASSERT_EQ(LxOpenSnapEx(cards_[1], nullptr, nullptr), LX_OK);
  ASSERT_EQ(LxStartSnapEx(cards_[1], kSecondRing, 1, 4), LX_OK);
  ASSERT_EQ(LxOpenSnapEx(cards_[0], closeDuringApplicationClose, &closer), LX_OK);
  ASSERT_EQ(LxStartSnapEx(cards_[0], kRingStart, 1, 4), LX_OK);
  ASSERT_TRUE(waitUntil([&] { return closer.entered.load(); }));
  bool finished = false;
  EXPECT_EQ(closeWithin(cards_[0], 3 * kWaitMs, &finished, &closer.applicationClosing), LX_OK);
  ASSERT_TRUE(finished);
  EXPECT_EQ(closer.result.load(), LX_IN_WORK) << "the close section was the application's";
  EXPECT_GE(closer.tookMs.load(), 900u);
  EXPECT_LT(closer.tookMs.load(), 3000u);
  // The second card was left as it was and closes normally.
  EXPECT_EQ(stateOf(cards_[1]), LX_CAPTURE_STATE_SNAP_EX);
  EXPECT_EQ(LxCloseSnapEx(cards_[1]), LX_OK);
  EXPECT_EQ(stateOf(cards_[1]), LX_CAPTURE_STATE_IDLE);
}

// A slow callback and a stop in the middle of it.
struct SlowCallback {
  std::atomic<int> started{0};
  std::atomic<int> finished{0};
};

int32_t slowly(SnapExInfo* info) {
  auto* slow = static_cast<SlowCallback*>(info->context);
  ++slow->started;
  Sleep(150);
  ++slow->finished;
  return 0;
}

TEST_F(SnapExLifecycle, StopReturnsOnceNoCallbackRuns) {
  SlowCallback slow;
  ASSERT_EQ(LxOpenSnapEx(cards_[0], slowly, &slow), LX_OK);
  ASSERT_EQ(LxStartSnapEx(cards_[0], kRingStart, 1, 4), LX_OK);
  ASSERT_TRUE(waitUntil([&] { return slow.started > 0; }));
  ASSERT_EQ(LxStopSnapEx(cards_[0]), LX_OK);
  EXPECT_EQ(slow.finished.load(), slow.started.load()) << "a callback still ran after the stop returned";
  const int started = slow.started;
  Sleep(300);
  EXPECT_EQ(slow.started.load(), started) << "a callback began after the stop";
}

TEST_F(SnapExLifecycle, RingsWhoseNumbersCannotMoveAreRefused) {
  // Counted on the delivery thread, read on this one.
  std::atomic<int32_t> calls{0};
  auto counter = [](SnapExInfo* info) -> int32_t {
    static_cast<std::atomic<int32_t>*>(info->context)->fetch_add(1);
    return 0;
  };
  ASSERT_EQ(LxOpenSnapEx(cards_[0], counter, &calls), LX_OK);
  ASSERT_EQ(LxSetScanMode(cards_[0], LX_SCAN_MODE_FIELD), LX_OK);
  EXPECT_EQ(LxStartSnapEx(cards_[0], kRingStart, 1, 1), LX_PARAMETER_INVALID);
  EXPECT_EQ(stateOf(cards_[0]), LX_CAPTURE_STATE_IDLE);
  ASSERT_EQ(LxSetScanMode(cards_[0], LX_SCAN_MODE_FRAME), LX_OK);
  EXPECT_EQ(LxStartSnapEx(cards_[0], kRingStart, 1, 1), LX_PARAMETER_INVALID) << "fields interleaved";
  EXPECT_EQ(stateOf(cards_[0]), LX_CAPTURE_STATE_IDLE);
  // Fields stored apart: one frame is two entries, and the ring turns.
  ASSERT_EQ(LxStartSnapEx(cards_[0], kRingStart, 0, 1), LX_OK);
  EXPECT_TRUE(waitUntil([&] { return calls.load() >= 4; }));
  EXPECT_EQ(LxStopSnapEx(cards_[0]), LX_OK);
}

TEST_F(SnapExLifecycle, CardWithSnapExOpenCannotBeEnded) {
  ASSERT_EQ(LxOpenSnapEx(cards_[0], nullptr, nullptr), LX_OK);
  EXPECT_EQ(EndLxCard(cards_[0]), LX_IN_WORK) << "open, never started";
  ASSERT_EQ(LxStartSnapEx(cards_[0], kRingStart, 1, 4), LX_OK);
  ASSERT_EQ(LxStopSnapEx(cards_[0]), LX_OK);
  EXPECT_EQ(EndLxCard(cards_[0]), LX_IN_WORK) << "stopped, still open";
  ASSERT_EQ(LxCloseSnapEx(cards_[0]), LX_OK);
  // TearDown ends it now; a new handle for the card snaps as usual.
}

}  // namespace

// The new-frame test and the ring entry of the completed frame, in every
// scan mode and field layout, fed number sequences as the card reports them.
#include <gtest/gtest.h>

#include <vector>

#include "frame_rules.h"

using lxvidex::frameIndexOf;
using lxvidex::isNewFrame;
using lxvidex::RingShape;

namespace {

// The frame indices delivered for `numbers`, with the delivery thread's
// bookkeeping from a fresh start.
std::vector<int32_t> deliveries(const RingShape& ring, const std::vector<int32_t>& numbers) {
  std::vector<int32_t> delivered;
  int32_t last = -1;
  for (int32_t n : numbers) {
    if (isNewFrame(n, last, ring)) {
      last = n;
      delivered.push_back(frameIndexOf(n, ring));
    }
  }
  return delivered;
}

using Indices = std::vector<int32_t>;

}  // namespace

TEST(FrameRules, SingleFieldModesReportTheEntryBefore) {
  for (int32_t mode : {1, 2}) {
    SCOPED_TRACE(mode);
    const RingShape ring{mode, 1, 4};
    EXPECT_EQ(deliveries(ring, {1, 2, 3, 0, 1}), (Indices{0, 1, 2, 3, 0}));
    EXPECT_EQ(deliveries(ring, {1, 1, 1, 2, 2, 3}), (Indices{0, 1, 2})) << "a number seen again is no new frame";
    EXPECT_EQ(deliveries(ring, {1, 3, 2}), (Indices{0, 2, 1})) << "skips report the newest";
    EXPECT_EQ(frameIndexOf(0, ring), 3);
    EXPECT_EQ(frameIndexOf(3, ring), 2);
    // The interleave flag does not matter outside frame mode.
    EXPECT_EQ(deliveries(RingShape{mode, 0, 4}, {1, 2, 3, 0}), (Indices{0, 1, 2, 3}));
  }
}

TEST(FrameRules, FirstEntryIsNotCompleteBeforeAnyDelivery) {
  const RingShape field{1, 1, 4};
  EXPECT_FALSE(isNewFrame(0, -1, field)) << "entry 0 is being written at the start";
  EXPECT_TRUE(isNewFrame(1, -1, field));
  EXPECT_TRUE(isNewFrame(0, 3, field)) << "after a wrap entry 0 follows a delivery";
  EXPECT_EQ(deliveries(field, {0, 0, 1, 2, 3, 0}), (Indices{0, 1, 2, 3}));
  const RingShape apart{0, 0, 2};
  EXPECT_FALSE(isNewFrame(0, -1, apart));
  EXPECT_TRUE(isNewFrame(1, -1, apart));
}

TEST(FrameRules, InterleavedFramesCountTwoFieldsPerFrame) {
  const RingShape ring{0, 1, 2};
  EXPECT_TRUE(lxvidex::countsFieldPairs(ring));
  EXPECT_EQ(deliveries(ring, {2, 3}), (Indices{0})) << "both fields of frame 1: one callback";
  EXPECT_EQ(deliveries(ring, {2, 3, 4}), (Indices{0, 1}));
  EXPECT_EQ(deliveries(ring, {2, 3, 0}), (Indices{0, 1})) << "0 after the wrap";
  EXPECT_EQ(deliveries(ring, {0, 1, 2}), (Indices{0})) << "frame 0 still being written at the start";
  EXPECT_EQ(deliveries(ring, {2, 3, 0, 1, 2, 3, 0}), (Indices{0, 1, 0, 1}));
  EXPECT_FALSE(isNewFrame(3, 2, ring));
  EXPECT_TRUE(isNewFrame(1, 3, ring));
  EXPECT_EQ(frameIndexOf(1, ring), 1);
  const RingShape four{0, 5, 4};  // any non-zero flag interleaves
  EXPECT_EQ(deliveries(four, {1, 2, 3, 4, 5, 6, 7, 0, 1, 2}), (Indices{0, 1, 2, 3, 0}));
}

TEST(FrameRules, FieldsStoredApartUseTwoEntriesPerFrame) {
  const RingShape ring{0, 0, 2};
  EXPECT_FALSE(lxvidex::countsFieldPairs(ring));
  EXPECT_EQ(deliveries(ring, {1, 2, 3, 0, 1}), (Indices{0, 1, 2, 3, 0}));
  EXPECT_EQ(frameIndexOf(0, ring), 3) << "2 x frames - 1";
  EXPECT_EQ(frameIndexOf(3, ring), 2);
}

TEST(FrameRules, NumbersOutsideTheRingNameNoEntry) {
  EXPECT_EQ(frameIndexOf(-1, RingShape{1, 1, 4}), -1);
  EXPECT_EQ(frameIndexOf(5, RingShape{1, 1, 4}), -1);
  EXPECT_EQ(frameIndexOf(4, RingShape{1, 1, 4}), 3) << "the last entry's end";
  EXPECT_EQ(frameIndexOf(0, RingShape{1, 1, 0}), -1) << "an empty ring";
  EXPECT_EQ(frameIndexOf(1, RingShape{0, 1, 0}), -1);
  EXPECT_EQ(frameIndexOf(6, RingShape{0, 1, 2}), -1);
  EXPECT_EQ(frameIndexOf(4, RingShape{0, 0, 2}), 3);
  EXPECT_EQ(frameIndexOf(5, RingShape{0, 0, 2}), -1);
}

// How far the numbers run round the ring, and whether they can move at all.
TEST(FrameRules, NumberRangesOfEveryRingShape) {
  using lxvidex::distinctNumbers;
  using lxvidex::numberRange;
  using lxvidex::numbersPerFrame;
  const RingShape interleaved{0, 1, 3}, apart{0, 0, 3}, first{1, 1, 3}, second{2, 0, 3};
  EXPECT_EQ(numberRange(interleaved), 6) << "two fields counted a frame";
  EXPECT_EQ(numberRange(apart), 6) << "one entry a field";
  EXPECT_EQ(numberRange(first), 3);
  EXPECT_EQ(numberRange(second), 3);
  EXPECT_EQ(numbersPerFrame(interleaved), 2);
  EXPECT_EQ(numbersPerFrame(first), 1);
  EXPECT_EQ(numberRange(RingShape{0, 1, 0}), 0);
  // One frame: only fields stored apart let the numbers tell frames apart.
  EXPECT_EQ(distinctNumbers(RingShape{0, 1, 1}), 1);
  EXPECT_EQ(distinctNumbers(RingShape{1, 1, 1}), 1);
  EXPECT_EQ(distinctNumbers(RingShape{2, 0, 1}), 1);
  EXPECT_EQ(distinctNumbers(RingShape{0, 0, 1}), 2);
  EXPECT_EQ(distinctNumbers(RingShape{1, 1, 2}), 2);
}

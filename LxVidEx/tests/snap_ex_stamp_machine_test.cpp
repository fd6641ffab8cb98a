// Snap-ex on a card whose source stamps every line with its field and frame
// line: in every scan mode and field layout, the ring entry each callback
// names is whole, holds one frame (or the one field an entry holds), and is
// newer than the entry of the callback before.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "line_stamp.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_first.h"
#include "snap_ex_test_support.h"

const char* terncard::testing::machineConfig() {
  return "[clock]\nfactor = 10\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n"
         "[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"stamp:9\"]\n";
}

namespace {

using snapextest::kWaitMs;

constexpr uint32_t kWidth = 768;  // unscaled, so every line's stamp reads
constexpr uint32_t kFieldLines = 288;
constexpr uint32_t kStart = 4096;
constexpr uint16_t kFrames = 8;

struct Layout {
  int32_t scanMode;
  int32_t interleave;
  const char* name;
};

// Where the lines of a ring entry come from, as its stamps say.
struct EntryCheck {
  int32_t frameIndex = -1;
  uint32_t sequence = 0;
  int64_t newestField = -1;  // the latest field in the entry
  std::string fault;         // empty: whole and one frame
};

struct Reader {
  Layout layout{};
  const uint8_t* ring = nullptr;
  std::mutex mutex;
  std::vector<EntryCheck> entries;
};

uint32_t entryLines(const Layout& layout) {
  return layout.scanMode == LX_SCAN_MODE_FRAME && layout.interleave != 0 ? 2 * kFieldLines : kFieldLines;
}

EntryCheck checkEntry(const Layout& layout, const uint8_t* entry, int32_t frameIndex) {
  EntryCheck check;
  check.frameIndex = frameIndex;
  const uint32_t lines = entryLines(layout);
  int64_t firstField = -1;
  for (uint32_t k = 0; k < lines && check.fault.empty(); ++k) {
    const auto stamp = lxtest::decodeLineStamp(entry + size_t{k} * kWidth, kWidth, LX_VIDEO_FORMAT_GREY8_FULL);
    if (!stamp || stamp->sourceId != 9) {
      check.fault = "line " + std::to_string(k) + " does not decode";
      break;
    }
    // The parity every line of the entry must have, and the frame line it must carry.
    uint32_t parity = 0;
    if (layout.scanMode == LX_SCAN_MODE_FRAME) {
      parity = layout.interleave != 0 ? k & 1 : static_cast<uint32_t>(frameIndex & 1);
    } else {
      parity = layout.scanMode == LX_SCAN_MODE_FIELD1 ? 1 : 0;
    }
    const uint32_t frameLine = layout.scanMode == LX_SCAN_MODE_FRAME && layout.interleave != 0 ? k : 2 * k + parity;
    if (stamp->secondField != (parity == 1) || stamp->frameLine != frameLine) {
      check.fault = "line " + std::to_string(k) + " holds frame line " + std::to_string(stamp->frameLine);
      break;
    }
    // One frame: the fields 2n and 2n + 1 of one n (one field for a field entry).
    const int64_t frameFirst = int64_t{stamp->field} - parity;
    if (firstField < 0) firstField = frameFirst;
    const bool fieldEntry = layout.scanMode != LX_SCAN_MODE_FRAME || layout.interleave == 0;
    const bool otherField = fieldEntry && check.newestField >= 0 && stamp->field != check.newestField;
    if (frameFirst != firstField || otherField) {
      check.fault = "line " + std::to_string(k) + " is from field " + std::to_string(stamp->field);
      break;
    }
    check.newestField = std::max<int64_t>(check.newestField, stamp->field);
  }
  return check;
}

int32_t readEntry(SnapExInfo* info) {
  auto* reader = static_cast<Reader*>(info->context);
  const size_t entryBytes = size_t{entryLines(reader->layout)} * kWidth;
  EntryCheck check = checkEntry(reader->layout, reader->ring + info->frameIndex * entryBytes, info->frameIndex);
  check.sequence = info->sequence;
  std::lock_guard<std::mutex> lock(reader->mutex);
  reader->entries.push_back(check);
  return 0;
}

class SnapExStamps : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    ASSERT_EQ(BeginLxCard(1, &card_), LX_OK);
    ASSERT_EQ(LxSetVideoFormat(card_, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
    ASSERT_EQ(LxSetInputWindow(card_, 0, 0, kWidth, 2 * kFieldLines), LX_OK);
    ASSERT_EQ(LxSetOutputWindow(card_, 0, 0, kWidth, 2 * kFieldLines), LX_OK);
  }
  void TearDown() override {
    LxCloseSnapEx(card_);
    EXPECT_EQ(EndLxCard(card_), LX_OK);
  }
  LxCardHandle card_ = nullptr;
};

TEST_P(SnapExStamps, EveryToldEntryIsWholeOneFrameAndNewer) {
  const Layout layout = GetParam();
  ASSERT_EQ(LxSetScanMode(card_, static_cast<uint32_t>(layout.scanMode)), LX_OK);
  const uint32_t entries = layout.scanMode == LX_SCAN_MODE_FRAME && layout.interleave == 0 ? 2 * kFrames : kFrames;
  LxStaticMemLockHandle lock = nullptr;
  void* ring = nullptr;
  ASSERT_EQ(LxStaticMemLock(kStart, entries * entryLines(layout) * kWidth, &lock, &ring), LX_OK);
  Reader reader;
  reader.layout = layout;
  reader.ring = static_cast<const uint8_t*>(ring);
  ASSERT_EQ(LxOpenSnapEx(card_, readEntry, &reader), LX_OK);
  ASSERT_EQ(LxStartSnapEx(card_, kStart, layout.interleave, kFrames), LX_OK);
  bool enough = false;
  for (int ms = 0; ms < kWaitMs && !enough; ms += 5) {
    Sleep(5);
    std::lock_guard<std::mutex> guard(reader.mutex);
    enough = reader.entries.size() >= 3 * entries;
  }
  ASSERT_EQ(LxStopSnapEx(card_), LX_OK);
  ASSERT_EQ(LxCloseSnapEx(card_), LX_OK);
  EXPECT_TRUE(enough);
  for (size_t k = 0; k < reader.entries.size(); ++k) {
    const EntryCheck& entry = reader.entries[k];
    SCOPED_TRACE("callback " + std::to_string(k) + ", entry " + std::to_string(entry.frameIndex));
    EXPECT_EQ(entry.fault, "");
    if (k == 0) continue;
    const EntryCheck& before = reader.entries[k - 1];
    EXPECT_GT(entry.newestField, before.newestField) << "newer than the entry told before";
    // The entry follows the one before by as many entries as the card completed.
    EXPECT_EQ(static_cast<uint32_t>(entry.frameIndex - before.frameIndex + entries) % entries,
              (entry.sequence - before.sequence) % entries);
  }
  EXPECT_EQ(LxStaticMemUnlock(lock), LX_OK);
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, SnapExStamps,
                         ::testing::Values(Layout{LX_SCAN_MODE_FRAME, 1, "FrameInterleaved"},
                                           Layout{LX_SCAN_MODE_FRAME, 0, "FrameFieldsApart"},
                                           Layout{LX_SCAN_MODE_FIELD, 1, "FirstFields"},
                                           Layout{LX_SCAN_MODE_FIELD1, 0, "SecondFields"}),
                         [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

}  // namespace

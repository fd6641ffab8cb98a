// A user's program killed with SIGKILL while its card's DMA engine runs from
// the program buffer it allocated (live capture, a snap ring, inside a
// counted series, snap-ex), or
// while it holds static-memory windows and dynamic blocks. The card stops,
// the memory comes back, dynamic blocks handed out afterwards (the dead
// program's among them) stay as their new owner wrote them, and the next
// program opens the card and captures.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bars_decoder.h"
#include "lx/devmm.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "machine_first.h"
#include "machine_report.h"
#include "stack_machine.h"
#include "static_window.h"
#include "user_program.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using terncard::testing::MachineControl;

constexpr int kReadyMs = 20000;
constexpr uint32_t kProgramBufferBytes = 0x8000;  // the card library's
constexpr uint8_t kPattern = 0xC3;

template <typename Predicate>
bool waitForReport(Predicate predicate) {
  MachineControl machine;
  for (int attempt = 0; attempt < 250; ++attempt) {
    if (predicate(machine.statusJson())) return true;
    Sleep(20);
  }
  return false;
}

// Blocks of the program buffer's size, allocated until one covers `physical`
// (at most 32), each filled with the pattern.
class PatternBlocks {
 public:
  explicit PatternBlocks(uint32_t physical) {
    while (blocks_.size() < 32 && !covers(physical)) {
      DynamicMemBlock block{};
      block.Size = kProgramBufferBytes;
      if (LxDevAllocDynamicMem(&block) != LX_OK) break;
      std::memset(bytes(block), kPattern, block.Size);
      blocks_.push_back(block);
    }
  }
  ~PatternBlocks() {
    for (const DynamicMemBlock& block : blocks_) EXPECT_EQ(LxDevFreeDynamicMem(&block), LX_OK);
  }
  bool covers(uint32_t physical) const {
    for (const DynamicMemBlock& block : blocks_)
      if (physical >= block.PhysicalAddress && physical - block.PhysicalAddress < block.Size) return true;
    return false;
  }
  // The first byte that is no longer the pattern, as "block B byte N"; empty when none.
  std::string firstChanged() const {
    for (size_t b = 0; b < blocks_.size(); ++b)
      for (uint32_t at = 0; at < blocks_[b].Size; ++at)
        if (bytes(blocks_[b])[at] != kPattern) return "block " + std::to_string(b) + " byte " + std::to_string(at);
    return "";
  }
  size_t count() const { return blocks_.size(); }

 private:
  static uint8_t* bytes(const DynamicMemBlock& block) {
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(block.UserAddress));
  }
  std::vector<DynamicMemBlock> blocks_;
};

constexpr uint32_t kWidth = 768;
constexpr uint32_t kFieldLines = 288;

// Each of three frames holds two consecutive fields of the bars.
void expectConsecutiveFields(const uint8_t* frames, uint32_t frameBytes) {
  ASSERT_NE(frames, nullptr);
  for (uint32_t k = 0; k < 3; ++k) {
    auto field = [&](uint32_t second) {
      lxtest::CapturedField captured;
      captured.pixels = frames + k * frameBytes + second * kWidth;
      captured.width = kWidth;
      captured.lines = kFieldLines;
      captured.stride = 2 * kWidth;
      captured.format = lxhw::tern::PixelFormat::Grey8;
      return lxtest::decodeFieldNumber(captured);
    };
    const auto first = field(0);
    const auto second = field(1);
    ASSERT_TRUE(first && second) << "frame " << k << " carries no field numbers";
    EXPECT_EQ(*second, *first + 1) << "frame " << k;
  }
}

// This process opens the card and snaps three frames.
void expectNormalCapture() {
  LxCardHandle card = nullptr;
  ASSERT_EQ(BeginLxCard(1, &card), LX_OK);
  ASSERT_EQ(LxSetVideoFormat(card, LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
  ASSERT_EQ(LxSetOutputWindow(card, 0, 0, kWidth, 2 * kFieldLines), LX_OK);
  const uint32_t frameBytes = kWidth * 2 * kFieldLines;
  EXPECT_EQ(LxSnapShot(card, 0, 0, 1, 3), LX_OK);
  {
    terncard::testing::StaticWindow window(0, 3 * frameBytes);
    expectConsecutiveFields(window.bytes(), frameBytes);
  }
  EXPECT_EQ(EndLxCard(card), LX_OK);
}

class KilledProgram : public ::testing::TestWithParam<const char*> {};

TEST_P(KilledProgram, CardStopsAndLeavesNewBlocksAlone) {
  const std::string before = MachineControl().statusJson();
  const size_t blocksBefore = hmbtest::processBlockCount(before);
  const uint64_t freeBefore = hmbtest::contiguousFreeBytes(before);
  const size_t processesBefore = e2e::processCount(before);
  ASSERT_FALSE(e2e::firstEngine(before).running) << before;

  e2e::UserProgram program({LX_E2E_CARD_PROGRAM, GetParam()});
  ASSERT_TRUE(program.started());
  ASSERT_EQ(program.readLine(kReadyMs).value_or("(nothing)"), "ready");
  e2e::EngineState running;
  ASSERT_TRUE(waitForReport([&](const std::string& json) {
    running = e2e::firstEngine(json);
    return running.running;
  })) << "the card does not run";
  ASSERT_NE(running.programStart, 0u);
  program.killNow();

  // The owner's clean-up stops the engine; its exit frees its blocks.
  std::string after;
  EXPECT_TRUE(waitForReport([&](const std::string& json) {
    after = json;
    return e2e::processCount(json) == processesBefore && !e2e::firstEngine(json).running &&
           hmbtest::processBlockCount(json) == blocksBefore && hmbtest::contiguousFreeBytes(json) == freeBefore;
  })) << after;
  const e2e::EngineState stopped = e2e::firstEngine(after);
  EXPECT_EQ(stopped.errorBits, 0u) << after;

  {
    // The dead program's buffer is handed out again; the card neither
    // fetches from it nor writes into any of the new blocks while the
    // fields go on.
    PatternBlocks blocks(running.programStart);
    EXPECT_TRUE(blocks.covers(running.programStart))
        << std::hex << running.programStart << " not handed out again in " << blocks.count() << " blocks";
    const uint64_t fieldFrom = e2e::firstEngine(MachineControl().statusJson()).fieldNumber;
    EXPECT_TRUE(waitForReport([&](const std::string& json) { return e2e::firstEngine(json).fieldNumber >= fieldFrom + 20; }));
    EXPECT_EQ(blocks.firstChanged(), "");
    const e2e::EngineState idle = e2e::firstEngine(MachineControl().statusJson());
    EXPECT_FALSE(idle.running);
    EXPECT_EQ(idle.errorBits, 0u);
  }
  expectNormalCapture();
}

INSTANTIATE_TEST_SUITE_P(Activities, KilledProgram, ::testing::Values("capture", "ring", "series", "snapex"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST(KilledHolder, WindowsAndBlocksAreAllFreed) {
  const std::string before = MachineControl().statusJson();
  const size_t blocksBefore = hmbtest::processBlockCount(before);
  const uint64_t freeBefore = hmbtest::contiguousFreeBytes(before);
  const size_t processesBefore = e2e::processCount(before);

  e2e::UserProgram program({LX_E2E_CARD_PROGRAM, "memory"});
  ASSERT_TRUE(program.started());
  ASSERT_EQ(program.readLine(kReadyMs).value_or("(nothing)"), "ready");
  const std::string holding = MachineControl().statusJson();
  // The program buffer, the mask and two blocks of its own.
  EXPECT_EQ(hmbtest::processBlockCount(holding), blocksBefore + 4) << holding;
  EXPECT_LE(hmbtest::contiguousFreeBytes(holding) + 0x8000 + 0xD800 + 2 * 0x10000, freeBefore) << holding;
  EXPECT_EQ(e2e::processCount(holding), processesBefore + 1) << holding;
  program.killNow();

  std::string after;
  EXPECT_TRUE(waitForReport([&](const std::string& json) {
    after = json;
    return e2e::processCount(json) == processesBefore && hmbtest::processBlockCount(json) == blocksBefore &&
           hmbtest::contiguousFreeBytes(json) == freeBefore;
  })) << after;
  expectNormalCapture();
}

}  // namespace

// Every export of the card library with null pointers, values out of range
// and a context that was freed, against the fake card: each gives its
// failure result, writes nothing through the pointers it was given (outputs
// end at an untouchable page and carry a canary), leaves the context as it
// was and unlocked, and sends nothing to the card where it refuses before
// the card. The ASan+UBSan build runs the same table.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "fake_card.h"
#include "guarded_buffer.h"
#include "lx/internal/tern_card_context.h"
#include "lx/terncard.h"
#include "lx/terncard_capture.h"
#include "lx/terncard_command.h"

namespace terncard {
namespace {

using testing::FakeCard;
using testing::GuardedBuffer;
using testing::TestContext;

struct Case {
  const char* name;
  std::function<int32_t(uint64_t handle)> run;
  int32_t expected;
  bool reachesCard;  // may send requests before it refuses
};

class BadArguments : public ::testing::Test {
 protected:
  // Outputs the cases write through: a word, a block of board information,
  // a mask and a frame's worth of bytes.
  GuardedBuffer word{4};
  GuardedBuffer size{4};
  GuardedBuffer block{256};
  GuardedBuffer frame{768 * 2 * 4};

  void refill() {
    for (GuardedBuffer* buffer : {&word, &size, &block, &frame}) buffer->refill();
  }
  bool outputsUntouched() const {
    return word.untouched() && size.untouched() && block.untouched() && frame.untouched();
  }
  std::vector<uint8_t> contextBytes(TestContext& context) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(context.lock());
    std::vector<uint8_t> copy(bytes, bytes + sizeof(TernCardContext));
    context.unlock();
    return copy;
  }

  void expectRefusals(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const std::vector<uint8_t> before = contextBytes(context);
      refill();
      card.clearLog();
      EXPECT_EQ(c.run(context.handle()), c.expected);
      EXPECT_TRUE(outputsUntouched()) << "wrote through an output it refused";
      EXPECT_EQ(contextBytes(context), before) << "the context changed";
      EXPECT_EQ(context.lockCount(), 0u);
      if (!c.reachesCard) {
        EXPECT_TRUE(card.log.empty()) << card.log.size() << " requests sent";
      }
    }
  }

  FakeCard card;
  TestContext context;
};

TEST_F(BadArguments, NullPointersAreRefused) {
  uint8_t* out = block.data();
  auto* sizeWord = size.as<uint32_t>();
  expectRefusals({
      {"TernCardGetBoardInfos", [](uint64_t h) { return TernCardGetBoardInfos(h, 0, nullptr); }, 0, false},
      {"GetSlotInfo", [](uint64_t h) { return GetSlotInfo(h, nullptr); }, 0, false},
      {"Get32BitParam", [](uint64_t h) { return Get32BitParam(h, 0x0D4, nullptr); }, 0, false},
      {"GetI2CParam", [](uint64_t h) { return GetI2CParam(h, 126, 21, nullptr, 1); }, 0, false},
      {"SetI2CParam", [](uint64_t h) { return SetI2CParam(h, 126, 80, nullptr, 1); }, 0, false},
      {"TernCardVideoPresent", [](uint64_t h) { return TernCardVideoPresent(h, nullptr); }, 0, false},
      {"TernCardGetSnappingStatus", [](uint64_t h) { return TernCardGetSnappingStatus(h, nullptr); }, 0, false},
      {"TernCardGetSnapToMemNumber", [](uint64_t h) { return TernCardGetSnapToMemNumber(h, nullptr); }, 0, false},
      {"TernCardGetSnapToMemStatus", [](uint64_t h) { return TernCardGetSnapToMemStatus(h, nullptr); }, 0, false},
      {"TernCardReadFromMem base",
       [this](uint64_t h) { return TernCardReadFromMem(h, nullptr, 1 << 20, 0, frame.data()); }, 0, false},
      {"TernCardReadFromMem destination",
       [this](uint64_t h) { return TernCardReadFromMem(h, frame.data(), 768 * 2 * 4, 0, nullptr); }, 0, false},
      // No mask: the program builder takes a null mask as masking nothing.
      {"TernCardSetMask", [](uint64_t h) { return TernCardSetMask(h, 0, nullptr); }, 1, false},
      {"TernCardCommand record", [=](uint64_t h) { return TernCardCommand(h, 0, nullptr, sizeWord); }, 0, false},
      {"TernCardCommand size",
       [=](uint64_t h) {
         TernCardCommandRecord record{nullptr, 0, 0, out, 1, 0};
         return TernCardCommand(h, 1, &record, nullptr);
       },
       0, false},
      {"TernCardCommand data",
       [=](uint64_t h) {
         TernCardCommandRecord record{nullptr, 0, 0, nullptr, 1, 0};
         return TernCardCommand(h, 1, &record, sizeWord);
       },
       0, false},
      {"StaticMemLock handle",
       [this](uint64_t) { return StaticMemLock(0, 16, nullptr, reinterpret_cast<void**>(frame.data())); }, 0, false},
      {"StaticMemLock address", [this](uint64_t) { return StaticMemLock(0, 16, frame.as<uint64_t>(), nullptr); }, 0,
       false},
      {"GetStaticMem pages", [this](uint64_t) { return GetStaticMem(nullptr, word.as<uint32_t>()); }, 0, false},
      {"GetStaticMem address", [this](uint64_t) { return GetStaticMem(word.as<uint32_t>(), nullptr); }, 0, false},
      {"ReadDispWindow context", [this](uint64_t) { return ReadDispWindow(nullptr, 0, 0, 4, 4, frame.data()); }, 0,
       false},
      // Nothing to write into: nothing is done, and that succeeds.
      {"ReadDispWindow destination", [](uint64_t) { return ReadDispWindow(GetDC(nullptr), 0, 0, 4, 4, nullptr); }, 1,
       false},
      {"TernCardDeviceControl output", [=](uint64_t h) { return TernCardDeviceControl(h, 1, nullptr, sizeWord); }, 0,
       false},
      {"TernCardDeviceControl size", [=](uint64_t h) { return TernCardDeviceControl(h, 1, out, nullptr); }, 0, false},
  });
}

TEST_F(BadArguments, ValuesOutOfRangeAreRefused) {
  uint8_t* out = block.data();
  auto* sizeWord = size.as<uint32_t>();
  auto* value = word.as<uint32_t>();
  expectRefusals({
      {"TernCardGetBoardInfos kind 8", [=](uint64_t h) { return TernCardGetBoardInfos(h, 8, out); }, 0, false},
      {"TernCardGetBoardInfos kind 255", [=](uint64_t h) { return TernCardGetBoardInfos(h, 255, out); }, 0, false},
      {"Get32BitParam past the window", [=](uint64_t h) { return Get32BitParam(h, 0x1000, value); }, 0, false},
      {"Get32BitParam at the top", [=](uint64_t h) { return Get32BitParam(h, 0xFFFFFFFC, value); }, 0, false},
      {"Set32BitParam past the window", [](uint64_t h) { return Set32BitParam(h, 0xFFFFFFFC, 1); }, 0, false},
      {"TernCardSetMask kind 2", [=](uint64_t h) { return TernCardSetMask(h, 2, out); }, 1, false},
      {"TernCardReadFromMem index past the size",
       [this](uint64_t h) { return TernCardReadFromMem(h, frame.data(), 768 * 2 * 4, 0xFFFF, word.data()); }, 0,
       false},
      {"TernCardDeviceControl type 4",
       [this, out, sizeWord](uint64_t h) {
         // Its size answer is 0; put the canary back to see that nothing else was written.
         const int32_t result = TernCardDeviceControl(h, 4, out, sizeWord);
         const bool sizeCleared = *sizeWord == 0;
         size.refill();
         return sizeCleared ? result : -99;
       },
       0, false},
  });
}

// Counts are taken as 8 bits: -1 reads 255 bytes into a 255-byte buffer that
// ends at an untouchable page, and 0x1FF the same.
TEST_F(BadArguments, ByteCountsStopAtEightBits) {
  GuardedBuffer bytes(255);
  for (int32_t count : {-1, 0x1FF}) {
    SCOPED_TRACE(count);
    bytes.refill();
    EXPECT_EQ(GetI2CParam(context.handle(), 126, 0, bytes.data(), count), 1);
    EXPECT_EQ(bytes.data()[0], card.controller[0]);
    EXPECT_EQ(bytes.data()[254], card.controller[254]);
  }
  EXPECT_EQ(SetI2CParam(context.handle(), 126, 0, bytes.data(), 0x100), 0) << "a count of 0 sends nothing";
  EXPECT_EQ(context.lockCount(), 0u);
}

TEST_F(BadArguments, AFreedContextIsRefusedEverywhere) {
  auto freed = std::make_unique<TestContext>();
  const uint64_t handle = freed->handle();
  freed.reset();
  // A block of the context's size made since takes its place in the table.
  HGLOBAL successor = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(TernCardContext));
  ASSERT_NE(successor, nullptr);
  uint8_t* out = block.data();
  auto* value = word.as<uint32_t>();
  auto* number = word.as<int32_t>();
  auto* sizeWord = size.as<uint32_t>();
  refill();
  card.clearLog();
  EXPECT_EQ(EndTernCard(handle), 0);
  EXPECT_EQ(TernCardGetBoardInfos(handle, 0, out), 0);
  EXPECT_EQ(GetSlotInfo(handle, out), 0);
  EXPECT_EQ(Get32BitParam(handle, 0x0D4, value), 0);
  EXPECT_EQ(Set32BitParam(handle, 0x0D4, 1), 0);
  EXPECT_EQ(GetI2CParam(handle, 126, 21, out, 1), 0);
  EXPECT_EQ(SetI2CParam(handle, 126, 80, out, 1), 0);
  EXPECT_EQ(TernCardSetADParam(handle, 1, 5), 0);
  EXPECT_EQ(TernCardDirectSetADParam(handle), 0);
  EXPECT_EQ(TernCardSetInpVideoWindow(handle, 0, 0, 768, 576), 0);
  EXPECT_EQ(TernCardSetDispWindow(handle, 0, 0, 640, 480), 0);
  EXPECT_EQ(TernCardSetVideoStandard(handle, 1), 0);
  EXPECT_EQ(TernCardSetPLLFreqParam(handle, 1), 0);
  EXPECT_EQ(TernCardSetDelay(handle, 1, 1), 0);
  EXPECT_EQ(TernCardSetDispMode(handle, 1), 0);
  EXPECT_EQ(TernCardSetColorSpace(handle, 1), 0);
  EXPECT_EQ(TernCardSetVideoDecimation(handle, 1), 0);
  EXPECT_EQ(TernCardVideoPresent(handle, number), 0);
  EXPECT_EQ(TernCardCaptureToMem(handle, 0x01000000, 0x100000, 0, 0, 1), 0);
  EXPECT_EQ(TernCardSnapOneToMem(handle, 0x01000000, 0x100000, 0), 0);
  EXPECT_EQ(TernCardSnapToMem(handle, 0x01000000, 0x100000, 0, 2), 0);
  EXPECT_EQ(TernCardGetSnappingStatus(handle, value), 0);
  EXPECT_EQ(TernCardGetSnapToMemNumber(handle, number), 0);
  EXPECT_EQ(TernCardGetSnapToMemStatus(handle, number), 0);
  EXPECT_EQ(TernCardReadFromMem(handle, frame.data(), 768 * 2 * 4, 0, out), 0);
  EXPECT_EQ(TernCardWaitOddVSync(handle), 0);
  EXPECT_EQ(TernCardWaitEvenVSync(handle), 0);
  EXPECT_EQ(TernCardSetMask(handle, 0, out), 0);
  EXPECT_EQ(TernCardEnableOverlay(handle, 1), 0);
  EXPECT_EQ(TernCardResetAudio(handle), 0);
  EXPECT_EQ(TernCardSetAudioRange(handle, 1), 0);
  TernCardCommandRecord record{nullptr, 0, 0, out, 1, 0};
  *sizeWord = sizeof record;
  EXPECT_EQ(TernCardCommand(handle, 1, &record, sizeWord), 0);
  size.refill();
  EXPECT_EQ(TernCardDeviceControl(handle, 1, out, sizeWord), 0);
  EXPECT_TRUE(outputsUntouched());
  EXPECT_TRUE(card.log.empty()) << card.log.size() << " requests reached the card";
  const auto* successorBytes = static_cast<const uint8_t*>(GlobalLock(successor));
  const std::vector<uint8_t> zeros(sizeof(TernCardContext), 0);
  EXPECT_EQ(std::memcmp(successorBytes, zeros.data(), zeros.size()), 0) << "the block in its place was written";
  GlobalUnlock(successor);
  GlobalFree(successor);
}

}  // namespace
}  // namespace terncard

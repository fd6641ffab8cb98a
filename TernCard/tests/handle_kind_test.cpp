// Handles of the wrong kind: movable blocks that are not card contexts (a
// static-memory lock handle of the public API, a bigger record, a block of
// the context's size that the library did not make) are
// refused by every export that locks a context, with nothing read past
// them, nothing written into them and no request sent.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_card.h"
#include "lx/terncard.h"
#include "lx/terncard_capture.h"

namespace terncard {
namespace {

using testing::FakeCard;
using testing::TestContext;

uint64_t handleOf(HGLOBAL block) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block)); }

// Calls every export that locks a context; each must give its failure result.
void expectRefusedEverywhere(uint64_t handle) {
  uint32_t word = 0;
  int32_t number = 0;
  uint8_t bytes[16] = {};
  EXPECT_EQ(Get32BitParam(handle, 0x0D4, &word), 0);
  EXPECT_EQ(Set32BitParam(handle, 0x0D4, 1), 0);
  EXPECT_EQ(GetSlotInfo(handle, bytes), 0);
  EXPECT_EQ(GetI2CParam(handle, 126, 21, bytes, 1), 0);
  EXPECT_EQ(SetI2CParam(handle, 126, 80, bytes, 1), 0);
  EXPECT_EQ(TernCardGetBoardInfos(handle, 7, bytes), 0);
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
  EXPECT_EQ(TernCardVideoPresent(handle, &number), 0);
  EXPECT_EQ(TernCardCaptureToMem(handle, 0x01000000, 0xFFFFFFFF, 0, 0, 3), 0);
  EXPECT_EQ(TernCardSnapOneToMem(handle, 0x01000000, 0xFFFFFFFF, 0), 0);
  EXPECT_EQ(TernCardSnapToMem(handle, 0x01000000, 0xFFFFFFFF, 0, 2), 0);
  EXPECT_EQ(TernCardGetSnappingStatus(handle, &word), 0);
  EXPECT_EQ(TernCardGetSnapToMemNumber(handle, &number), 0);
  EXPECT_EQ(TernCardGetSnapToMemStatus(handle, &number), 0);
  EXPECT_EQ(TernCardReadFromMem(handle, bytes, sizeof bytes, 0, bytes), 0);
  EXPECT_EQ(TernCardWaitOddVSync(handle), 0);
  EXPECT_EQ(TernCardWaitEvenVSync(handle), 0);
  EXPECT_EQ(TernCardSetMask(handle, 0, bytes), 0);
  EXPECT_EQ(TernCardEnableOverlay(handle, 1), 0);
  // No display in this process: these answer -1 before looking at the handle.
  EXPECT_NE(TernCardCapture(handle, 1), 1);
  EXPECT_NE(TernCardSnap(handle), 1);
  EXPECT_EQ(EndTernCard(handle), 0);
}

TEST(HandleKind, BlocksOfOtherKindsAreRefusedUntouched) {
  FakeCard card;
  struct Foreign {
    const char* what;
    SIZE_T bytes;
    uint8_t fill;
  };
  // A static-memory lock handle (two 64-bit values), a record larger than a
  // context, and a zeroed block of exactly a context's size.
  const Foreign kinds[] = {{"lock handle", 16, 0x40}, {"larger record", 4096, 0xFF},
                           {"context-sized, untagged", sizeof(TernCardContext), 0x00}};
  for (const Foreign& kind : kinds) {
    SCOPED_TRACE(kind.what);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, kind.bytes);
    ASSERT_NE(block, nullptr);
    std::memset(GlobalLock(block), kind.fill, kind.bytes);
    GlobalUnlock(block);
    card.clearLog();
    expectRefusedEverywhere(handleOf(block));
    EXPECT_TRUE(card.log.empty()) << "no request reached the card";
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(block));
    ASSERT_NE(bytes, nullptr) << "still allocated: not freed by EndTernCard";
    const std::vector<uint8_t> expected(kind.bytes, kind.fill);
    EXPECT_EQ(std::memcmp(bytes, expected.data(), kind.bytes), 0) << "nothing written into it";
    GlobalUnlock(block);
    EXPECT_EQ(GlobalFlags(block) & GMEM_LOCKCOUNT, 0u) << "every lock undone";
    GlobalFree(block);
  }
}

TEST(HandleKind, TheLibrarysOwnContextIsAccepted) {
  FakeCard card;
  TestContext context;
  uint32_t word = 0;
  card.setReg(0x0D4, 0x44);
  EXPECT_EQ(Get32BitParam(context.handle(), 0x0D4, &word), 1);
  EXPECT_EQ(word, 0x44u);
  EXPECT_EQ(context.lockCount(), 0u);
}

}  // namespace
}  // namespace terncard

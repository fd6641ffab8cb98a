// The audio exports on a simulated card: the range on general-purpose lines
// 2 and 3 as the card drives them, taken over by a memory transfer of the
// command channel and restored from the shadow by the next range.
#include <gtest/gtest.h>

#include "lx/terncard.h"
#include "lx/terncard_command.h"

namespace terncard {
namespace {

constexpr uint32_t kGpioEnable = 0x118;
constexpr uint32_t kGpioData = 0x200;

uint32_t reg(uint64_t handle, uint32_t offset) {
  uint32_t value = 0xDEADBEEF;
  EXPECT_EQ(Get32BitParam(handle, offset, &value), 1);
  return value;
}

TEST(AudioMachine, RangeIsDrivenOnLinesTwoAndThree) {
  const uint64_t handle = BeginTernCard(1);
  ASSERT_GT(handle, 4u);
  // Bring-up drives range 0 on lines 2 and 3.
  EXPECT_EQ(reg(handle, kGpioEnable) & 0xC, 0xCu);
  EXPECT_EQ(reg(handle, kGpioData) & 0xC, 0u);

  ASSERT_EQ(TernCardSetAudioRange(handle, 2), 1);
  EXPECT_EQ(reg(handle, kGpioEnable) & 0xC, 0xCu);
  EXPECT_EQ(reg(handle, kGpioData) & 0xC, 0x8u) << "bits 2-3 read back 0b10";
  EXPECT_EQ(reg(handle, kGpioEnable) & ~0xCu, 0u) << "no other line became an output";

  // A memory write makes every line an input again.
  uint8_t data[2] = {0x10, 0x20};
  TernCardCommandRecord record{nullptr, 0, 0x0040, data, 2, 0};
  uint32_t size = sizeof record;
  ASSERT_EQ(TernCardCommand(handle, TERN_COMMAND_WRITE, &record, &size), 1);
  EXPECT_EQ(reg(handle, kGpioEnable), 0u);
  EXPECT_EQ(reg(handle, kGpioData) & 0xC, 0u);
  ASSERT_EQ(TernCardSetAudioRange(handle, 1), 1);
  EXPECT_EQ(reg(handle, kGpioData) & 0xC, 0x4u);
  EXPECT_EQ(reg(handle, kGpioEnable), 0xCu);

  EXPECT_EQ(TernCardResetAudio(handle), 1);
  for (uint64_t rejected : {0ull, 1ull, 2ull, 3ull, 0xFFFFFFFFull}) {
    EXPECT_EQ(TernCardResetAudio(rejected), 0);
    EXPECT_EQ(TernCardSetAudioRange(rejected, 3), 0);
  }
  EXPECT_EQ(reg(handle, kGpioData) & 0xC, 0x4u);
  EXPECT_EQ(EndTernCard(handle), 1);
}

}  // namespace
}  // namespace terncard

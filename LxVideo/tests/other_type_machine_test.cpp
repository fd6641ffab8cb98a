// A card of another type, whose library never loads the static-memory
// library, through the public API on a machine with the real service: the
// mask block the API allocates at open stays the process's while the card is
// open, although the device manager loads and releases the service library
// around the allocation.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "lx/internal/card_record.h"
#include "lx/devmm.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "card_record_copy.h"
#include "machine_first.h"
#include "stack_machine.h"

namespace {

using terncard::testing::MachineControl;
using terncard::testing::recordOf;

constexpr int kEgretCard = 1;  // the fake Egret library's card comes before the TernCard

TEST(OtherCardType, OpensMasksSnapsAndEndsWithItsMaskBlockValid) {
  HMODULE egret = LoadLibraryA("Egretd32.dll");  // keeps the fake's controls reachable
  ASSERT_NE(egret, nullptr);
  ASSERT_EQ(GetModuleHandleA("Hmbseapi.dll"), nullptr) << "nothing holds the service library";
  const MachineControl machine;
  const size_t blocksBefore = hmbtest::processBlockCount(machine.statusJson());

  LxCardHandle handle = nullptr;
  ASSERT_EQ(BeginLxCard(kEgretCard, &handle), LX_OK);
  int32_t type = -1;
  ASSERT_EQ(LxGetCardType(handle, &type), LX_OK);
  EXPECT_EQ(type, 1);
  EXPECT_EQ(GetModuleHandleA("Hmbseapi.dll"), nullptr);
  LxCardRecord record = recordOf(handle);
  ASSERT_NE(record.maskBuffer, nullptr);
  EXPECT_NE(record.dynamicMemory.PhysicalAddress, 0u);
  EXPECT_EQ(hmbtest::processBlockCount(machine.statusJson()), blocksBefore + 1) << "the mask block is the process's";
  // The open filled the mask; the block is still mapped and writable.
  EXPECT_EQ(record.maskBuffer[0], 0xFF);
  EXPECT_EQ(record.maskBuffer[LX_MASK_BYTES - 1], 0xFF);

  // Layout B: pixel x is bit 7 - x % 8; the fake's scan mode 2 puts row 0
  // into the second field's half.
  EXPECT_EQ(record.scanMode, 2);
  EXPECT_EQ(LxSetPixelMask(handle, 0, 0, 1), LX_OK);
  EXPECT_EQ(record.maskBuffer[LX_MASK_FIELD_BYTES], 0x7F);
  EXPECT_EQ(record.maskBuffer[0], 0xFF);
  EXPECT_EQ(LxFlushMask(handle, 0), LX_OK);
  EXPECT_EQ(record.maskBuffer[LX_MASK_BYTES - 1], 0x00);
  EXPECT_EQ(LxFlushMask(handle, 1), LX_OK);

  EXPECT_EQ(LxSnapShot(handle, 4096, 0, 0, 2), LX_OK);
  auto fakeSnap = reinterpret_cast<int32_t (*)(uint32_t*)>(
      reinterpret_cast<void (*)()>(GetProcAddress(egret, "EgretFakeSnap")));
  ASSERT_NE(fakeSnap, nullptr);
  uint32_t address = 0;
  EXPECT_EQ(fakeSnap(&address), 2);
  uint32_t pages = 0, base = 0;
  ASSERT_EQ(LxDevGetStaticMem(&pages, &base), LX_OK);
  EXPECT_EQ(address, base + 4096u) << "the card gets the physical address of the offset";

  EXPECT_EQ(EndLxCard(handle), LX_OK);
  EXPECT_EQ(hmbtest::processBlockCount(machine.statusJson()), blocksBefore) << "the end freed the mask block";
  EXPECT_EQ(LxGetCardType(handle, &type), LX_CARD_HANDLE_INVALID);
  FreeLibrary(egret);
}

}  // namespace

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

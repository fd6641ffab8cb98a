// Opening cards of the two types with the second context layout, through
// fake card libraries and the device manager's fake static-memory service:
// start results, the context reader and the mask handed over by its
// physical address.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>
#include <utility>
#include <windows.h>

#include "fake_host.h"
#include "lx/internal/card_record.h"
#include "lx/video_card.h"
#include "lx/video_types.h"

namespace {

constexpr int kEgretCard = 1;  // global numbers: Egret's one card, then Stork's
constexpr int kStorkCard = 2;

template <typename Function>
Function fakeControl(const char* library, const char* name) {
  HMODULE module = GetModuleHandleA(library);
  return module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

class LayoutB : public ::testing::Test {
 protected:
  void SetUp() override {
    // Keep both fakes loaded so that the controls reach the copies the API uses.
    egret_ = LoadLibraryA("Egretd32.dll");
    stork_ = LoadLibraryA("Storkd32.dll");
    ASSERT_NE(egret_, nullptr);
    ASSERT_NE(stork_, nullptr);
  }
  void TearDown() override {
    FreeLibrary(egret_);
    FreeLibrary(stork_);
  }
  void setBeginResult(const char* library, const char* control, uint64_t result) {
    auto set = fakeControl<void (*)(uint64_t)>(library, control);
    ASSERT_NE(set, nullptr);
    set(result);
  }
  HMODULE egret_ = nullptr;
  HMODULE stork_ = nullptr;
};

TEST_F(LayoutB, ContextIsReadAtItsOwnPositionsAndTheMaskGoesByPhysicalAddress) {
  LxCardHandle handle = nullptr;
  ASSERT_EQ(BeginLxCard(kEgretCard, &handle), LX_OK);
  int32_t type = -1;
  ASSERT_EQ(LxGetCardType(handle, &type), LX_OK);
  EXPECT_EQ(type, 1);

  auto* record = static_cast<LxCardRecord*>(GlobalLock(handle));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->scanMode, 2);
  EXPECT_EQ(record->outputX, 11);
  EXPECT_EQ(record->outputY, 22);
  EXPECT_EQ(record->outputWidth, 333);
  EXPECT_EQ(record->outputFieldHeight, 144);
  EXPECT_EQ(record->maskEnabled, 1) << "any nonzero overlay flag reads as 1";
  EXPECT_EQ(record->maskBitOrder, 1);
  EXPECT_EQ(record->cardIndex, kEgretCard);
  EXPECT_EQ(record->state, LX_CAPTURE_STATE_IDLE);
  ASSERT_NE(record->maskBuffer, nullptr);
  EXPECT_EQ(record->dynamicMemory.Size, LX_MASK_BYTES);
  EXPECT_EQ(record->maskBuffer[0], 0xFF);
  EXPECT_EQ(record->maskBuffer[LX_MASK_BYTES - 1], 0xFF);
  GlobalUnlock(handle);

  uint64_t first = 0, second = 0;
  auto maskCalls = fakeControl<int32_t (*)(uint64_t*, uint64_t*)>("Egretd32.dll", "EgretFakeMaskCalls");
  ASSERT_NE(maskCalls, nullptr);
  EXPECT_EQ(maskCalls(&first, &second), 2);
  EXPECT_EQ(first, kFakeDynamicMemBase);
  EXPECT_EQ(second, kFakeDynamicMemBase + LX_MASK_FIELD_BYTES);

  // Operations bind "prefix + name" of the card's own library.
  EXPECT_EQ(LxSelectCryOSC(handle, 1), LX_OK);
  EXPECT_EQ(fakeControl<int32_t (*)()>("Egretd32.dll", "EgretFakeOscillator")(), 1);

  const int32_t freesBefore = fakeHost()->dynamicFreeCalls;
  ASSERT_EQ(EndLxCard(handle), LX_OK);
  EXPECT_EQ(fakeHost()->dynamicFreeCalls, freesBefore + 1);
  EXPECT_EQ(GlobalFlags(handle), static_cast<UINT>(GMEM_INVALID_HANDLE));
}

// Once the card library ended the context, the end goes through: a handle kept
// because the mask's free failed would end a dead context on every retry.
TEST_F(LayoutB, EndFinishesWhenTheMaskCannotBeFreed) {
  LxCardHandle handle = nullptr;
  ASSERT_EQ(BeginLxCard(kEgretCard, &handle), LX_OK);
  FreeLibrary(egret_);  // the open's reference is the only one left
  egret_ = nullptr;
  fakeHost()->failDynamicFree = true;
  const int32_t freesBefore = fakeHost()->dynamicFreeCalls;
  EXPECT_EQ(EndLxCard(handle), LX_OK);
  fakeHost()->failDynamicFree = false;
  std::free(std::exchange(fakeHost()->refusedBlock, nullptr));  // the process's until it ends
  EXPECT_EQ(fakeHost()->dynamicFreeCalls, freesBefore + 1);
  EXPECT_EQ(GlobalFlags(handle), static_cast<UINT>(GMEM_INVALID_HANDLE)) << "the handle is gone";
  EXPECT_EQ(EndLxCard(handle), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(GetModuleHandleA("Egretd32.dll"), nullptr) << "the open's library reference was dropped";
  egret_ = LoadLibraryA("Egretd32.dll");
}

TEST_F(LayoutB, StartResultsMapByType) {
  struct Case {
    uint64_t result;
    LxStatus status;
  };
  const Case cases[] = {
      {0, LX_CARD_HANDLE_INVALID},        {1, LX_NO_CARD_FOUND},           {2, LX_HW_MAP_MEMORY_ERROR},
      {13, LX_HW_INIT_I2C_ERROR},         {14, LX_HW_INIT_AD_ERROR},       {15, LX_HW_BOARD_TYPE_ERROR},
      {~uint64_t{0}, LX_HW_INIT_ERROR},
  };
  for (const auto& [library, control, card] :
       {std::tuple{"Egretd32.dll", "EgretFakeSetBeginResult", kEgretCard},
        std::tuple{"Storkd32.dll", "StorkFakeSetBeginResult", kStorkCard}}) {
    for (const Case& c : cases) {
      setBeginResult(library, control, c.result);
      LxCardHandle handle = reinterpret_cast<LxCardHandle>(0x1234);
      EXPECT_EQ(BeginLxCard(card, &handle), c.status) << library << " result " << c.result;
      EXPECT_EQ(handle, nullptr);
    }
  }
  // 3 is a context for these types (it is not a block, so it cannot be
  // read, and no handle is left behind).
  setBeginResult("Storkd32.dll", "StorkFakeSetBeginResult", 3);
  LxCardHandle handle = nullptr;
  EXPECT_EQ(BeginLxCard(kStorkCard, &handle), LX_NOT_ENOUGH_SYSTEM_MEMORY);
  EXPECT_EQ(handle, nullptr);

  // Every failed open dropped its library reference: the fakes are held
  // only by this test now.
  FreeLibrary(egret_);
  FreeLibrary(stork_);
  EXPECT_EQ(GetModuleHandleA("Egretd32.dll"), nullptr);
  EXPECT_EQ(GetModuleHandleA("Storkd32.dll"), nullptr);
  egret_ = LoadLibraryA("Egretd32.dll");
  stork_ = LoadLibraryA("Storkd32.dll");
}

TEST_F(LayoutB, SourcesMapPerType) {
  LxCardHandle egret = nullptr;
  LxCardHandle stork = nullptr;
  ASSERT_EQ(BeginLxCard(kEgretCard, &egret), LX_OK);
  ASSERT_EQ(BeginLxCard(kStorkCard, &stork), LX_OK);
  // Neither fake exports SetADParam: a source that maps reaches the binding,
  // one that does not is refused first.
  EXPECT_EQ(LxSetVideoSource(egret, {2, 0}), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_EQ(LxSetVideoSource(egret, {2, 1}), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxSetVideoSource(egret, {1, 2}), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_EQ(LxSetVideoSource(egret, {1, 3}), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxSetVideoSource(stork, {2, 1}), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_EQ(LxSetVideoSource(stork, {1, 2}), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxSetVideoSource(stork, {0, 6}), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxSetVideoSource(stork, {3, 0}), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxSetVideoSource(stork, {-1, 0}), LX_PARAMETER_INVALID);
  EXPECT_EQ(GlobalFlags(egret) & GMEM_LOCKCOUNT, 0u);
  EXPECT_EQ(GlobalFlags(stork) & GMEM_LOCKCOUNT, 0u);
  EXPECT_EQ(EndLxCard(egret), LX_OK);
  EXPECT_EQ(EndLxCard(stork), LX_OK);
  EXPECT_EQ(LxSetVideoSource(stork, {0, 0}), LX_CARD_HANDLE_INVALID);
}

}  // namespace

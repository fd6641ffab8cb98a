// Every handle export of the public API and the snap-ex library, called with
// handles that are not card handles (none, ended, of another kind, a caller's
// block of the record's size, the card library's context, a made-up value)
// and with null output pointers on a real card: each answers its status,
// leaves the card as it was, and nothing crashes (this runs under ASan and
// UBSan in CI).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "card_record_copy.h"
#include "lx/internal/card_record.h"
#include "lx/data_transform.h"
#include "lx/monitored_capture.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_first.h"

const char* terncard::testing::machineConfig() { return terncard::testing::kFastBarsCard; }

namespace {

using terncard::testing::recordOf;

struct Call {
  const char* name;
  std::function<LxStatus(LxCardHandle)> run;
  LxStatus refusal = LX_CARD_HANDLE_INVALID;  // its answer to what is no card handle
};

int32_t noCallback(SnapExInfo*) { return 0; }

// Each export with arguments that are fine for a real, idle card.
std::vector<Call> handleCalls() {
  static uint8_t buffer[4096];
  static int32_t word = 0, other = 4;
  static uint8_t bytes[16];
  return {
      {"EndLxCard", [](LxCardHandle h) { return EndLxCard(h); }},
      {"LxGetCardType", [](LxCardHandle h) { return LxGetCardType(h, &word); }},
      {"LxSetVideoSource", [](LxCardHandle h) { return LxSetVideoSource(h, LxVideoSource{0, 0}); }},
      {"LxSetVideoStandard", [](LxCardHandle h) { return LxSetVideoStandard(h, 0); }},
      {"LxSetVideoFormat", [](LxCardHandle h) { return LxSetVideoFormat(h, LX_VIDEO_FORMAT_GREY8_FULL); }},
      {"LxSetScanMode", [](LxCardHandle h) { return LxSetScanMode(h, 0); }},
      {"LxSetInputWindow", [](LxCardHandle h) { return LxSetInputWindow(h, 0, 0, 640, 480); }},
      {"LxSetOutputWindow", [](LxCardHandle h) { return LxSetOutputWindow(h, 0, 0, 640, 480); }},
      {"LxAdjustVideo", [](LxCardHandle h) { return LxAdjustVideo(h, 1, 128); }},
      {"LxSetDelay", [](LxCardHandle h) { return LxSetDelay(h, 10, 10); }},
      {"LxSetPLLFrequency", [](LxCardHandle h) { return LxSetPLLFrequency(h, 0); }},
      {"LxSelectCryOSC", [](LxCardHandle h) { return LxSelectCryOSC(h, 0); }},
      {"LxEnableVideoMirror", [](LxCardHandle h) { return LxEnableVideoMirror(h, 0, 1); }},
      {"LxSetVideoExtOutput", [](LxCardHandle h) { return LxSetVideoExtOutput(h, 0, 1); }},
      {"LxLumaControl", [](LxCardHandle h) { return LxLumaControl(h, 0, 1); }},
      {"LxGammaCorrControl", [](LxCardHandle h) { return LxGammaCorrControl(h, 1); }},
      {"LxSetGammaCorrCoef", [](LxCardHandle h) { return LxSetGammaCorrCoef(h, buffer); }},
      {"LxLoadCFGFile", [](LxCardHandle h) { return LxLoadCFGFile(h, "card.cfg"); }},
      {"LxReadSCMParam", [](LxCardHandle h) { return LxReadSCMParam(h, buffer); }},
      {"LxWriteSCMParam", [](LxCardHandle h) { return LxWriteSCMParam(h, buffer, 1); }},
      {"LxVideoPresent", [](LxCardHandle h) { return LxVideoPresent(h, &word); }},
      {"LxGetBoardInfo", [](LxCardHandle h) { return LxGetBoardInfo(h, 0, buffer); }},
      {"LxGetSlotInfo", [](LxCardHandle h) { return LxGetSlotInfo(h, buffer); }},
      {"LxGetI2CParam", [](LxCardHandle h) { return LxGetI2CParam(h, 126, 0, bytes, 1); }},
      {"LxSetI2CParam", [](LxCardHandle h) { return LxSetI2CParam(h, 126, 0, bytes, 1); }},
      {"LxGet32BitParam", [](LxCardHandle h) { return LxGet32BitParam(h, 0, &word); }},
      {"LxSet32BitParam", [](LxCardHandle h) { return LxSet32BitParam(h, 0x28, 0); }},
      {"LxCommand", [](LxCardHandle h) { return LxCommand(h, 16, &word, &other); }},
      {"LxDeviceControl", [](LxCardHandle h) { return LxDeviceControl(h, 0, buffer, buffer + 64); }},
      {"LxCapture", [](LxCardHandle h) { return LxCapture(h, 0); }},
      {"LxCaptureShot", [](LxCardHandle h) { return LxCaptureShot(h); }},
      {"LxSnapShot", [](LxCardHandle h) { return LxSnapShot(h, 4096, 0, 1, 1); }},
      {"LxStartSnap", [](LxCardHandle h) { return LxStartSnap(h, 4096, 1, 2); }},
      {"LxStopSnap", [](LxCardHandle h) { return LxStopSnap(h); }},
      {"LxGetSnappingNumber", [](LxCardHandle h) { return LxGetSnappingNumber(h, &word); }},
      {"LxWaitVSync", [](LxCardHandle h) { return LxWaitVSync(h); }},
      {"LxWaitOddVSync", [](LxCardHandle h) { return LxWaitOddVSync(h); }},
      {"LxWaitEvenVSync", [](LxCardHandle h) { return LxWaitEvenVSync(h); }},
      {"LxCaptureExInt", [](LxCardHandle h) { return LxCaptureExInt(h, 0); }},
      {"LxStartSnapExInt", [](LxCardHandle h) { return LxStartSnapExInt(h, 4096, 1, 2); }},
      {"LxStopSnapExInt", [](LxCardHandle h) { return LxStopSnapExInt(h); }},
      {"LxGetSnappingNumberExInt", [](LxCardHandle h) { return LxGetSnappingNumberExInt(h, &word); }},
      {"LxEnableMask", [](LxCardHandle h) { return LxEnableMask(h, 1); }},
      {"LxFlushMask", [](LxCardHandle h) { return LxFlushMask(h, 1); }},
      {"LxSetPixelMask", [](LxCardHandle h) { return LxSetPixelMask(h, 1, 1, 1); }},
      {"LxOpenSnapEx", [](LxCardHandle h) { return LxOpenSnapEx(h, noCallback, nullptr); }},
      {"LxStartSnapEx", [](LxCardHandle h) { return LxStartSnapEx(h, 4096, 1, 2); }},
      {"LxStopSnapEx", [](LxCardHandle h) { return LxStopSnapEx(h); }},
      {"LxCloseSnapEx", [](LxCardHandle h) { return LxCloseSnapEx(h); }},
      {"LxCaptureEx", [](LxCardHandle h) { return LxCaptureEx(h, reinterpret_cast<HWND>(uintptr_t{0x10010}), 1); }},
      {"LxSetMonitorMethod", [](LxCardHandle h) { return LxSetMonitorMethod(h, 1); }},
      // A handle that does not lock is an internal error here, as designed.
      {"LxCaptureShotEx", [](LxCardHandle h) { return LxCaptureShotEx(h, reinterpret_cast<HWND>(uintptr_t{0x10010})); },
       LX_INTERNAL_ERROR},
  };
}

class BadArguments : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(BeginLxCard(1, &card_), LX_OK); }
  void TearDown() override { EXPECT_EQ(EndLxCard(card_), LX_OK); }
  LxCardHandle card_ = nullptr;
};

TEST_F(BadArguments, EveryHandleExportRefusesWhatIsNoCardHandle) {
  // The card is open once only: end it and open it again for a stale handle.
  const LxCardHandle ended = card_;
  ASSERT_EQ(EndLxCard(ended), LX_OK);
  ASSERT_EQ(BeginLxCard(1, &card_), LX_OK);
  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  ASSERT_EQ(LxStaticMemLock(0, 0, &lock, &address), LX_OK);
  HGLOBAL lookalike = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(LxCardRecord));
  const auto context = reinterpret_cast<LxCardHandle>(static_cast<uintptr_t>(recordOf(card_).context));
  const struct {
    const char* what;
    LxCardHandle handle;
  } bad[] = {
      {"no handle", nullptr},
      {"an ended card", ended},
      {"a lock handle", static_cast<LxCardHandle>(lock)},
      {"a caller's block", static_cast<LxCardHandle>(lookalike)},
      {"the card library's context", context},
      {"a made-up value", reinterpret_cast<LxCardHandle>(uintptr_t{0x7ff01236})},
  };
  const LxCardRecord before = recordOf(card_);
  for (const auto& [what, handle] : bad) {
    for (const Call& call : handleCalls()) {
      EXPECT_EQ(call.run(handle), call.refusal) << call.name << " with " << what;
    }
  }
  EXPECT_EQ(GlobalFlags(lookalike) & GMEM_LOCKCOUNT, 0u);
  EXPECT_EQ(GlobalFlags(static_cast<HGLOBAL>(lock)) & GMEM_LOCKCOUNT, 0u);
  const LxCardRecord after = recordOf(card_);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "the real card's record changed";
  EXPECT_EQ(LxStaticMemUnlock(lock), LX_OK);
  GlobalFree(lookalike);
}

TEST_F(BadArguments, NullPointersAreRefusedBeforeTheCard) {
  const struct {
    const char* name;
    std::function<LxStatus()> run;
  } calls[] = {
      {"BeginLxCard", [] { return BeginLxCard(1, nullptr); }},
      {"LxGetCardTotal", [] { return LxGetCardTotal(nullptr); }},
      {"LxGetCardType", [&] { return LxGetCardType(card_, nullptr); }},
      {"LxVideoPresent", [&] { return LxVideoPresent(card_, nullptr); }},
      {"LxGetBoardInfo", [&] { return LxGetBoardInfo(card_, 0, nullptr); }},
      {"LxGetSlotInfo", [&] { return LxGetSlotInfo(card_, nullptr); }},
      {"LxGetI2CParam", [&] { return LxGetI2CParam(card_, 126, 0, nullptr, 1); }},
      {"LxSetI2CParam", [&] { return LxSetI2CParam(card_, 126, 0, nullptr, 1); }},
      {"LxGet32BitParam", [&] { return LxGet32BitParam(card_, 0, nullptr); }},
      {"LxCommand a", [&] {
         int32_t b = 4;
         return LxCommand(card_, 16, nullptr, &b);
       }},
      {"LxCommand b", [&] {
         int32_t a = 0;
         return LxCommand(card_, 16, &a, nullptr);
       }},
      {"LxDeviceControl in", [&] {
         uint8_t out[64];
         return LxDeviceControl(card_, 0, nullptr, out);
       }},
      {"LxDeviceControl out", [&] {
         uint8_t in[64] = {};
         return LxDeviceControl(card_, 0, in, nullptr);
       }},
      {"LxGetSnappingNumber", [&] { return LxGetSnappingNumber(card_, nullptr); }},
      {"LxGetSnappingNumberExInt", [&] { return LxGetSnappingNumberExInt(card_, nullptr); }},
      {"LxGetStaticMem", [] { return LxGetStaticMem(nullptr); }},
      {"LxStaticMemLock lock", [] {
         void* address = nullptr;
         return LxStaticMemLock(0, 16, nullptr, &address);
       }},
      {"LxStaticMemLock address", [] {
         LxStaticMemLockHandle lock = nullptr;
         return LxStaticMemLock(0, 16, &lock, nullptr);
       }},
      {"LxDataTransform", [] { return LxDataTransform(nullptr, nullptr, 4, 4, 24, 0); }},
      {"LxDataInterchange", [] { return LxDataInterchange(nullptr, nullptr, 4, 4, 24, 0); }},
      {"LxGetDisplayBits bits", [] {
         uint8_t pixels[4 * 4 * 3];
         return LxGetDisplayBits(GetDC(nullptr), 0, 0, 4, 4, nullptr, pixels);
       }},
      {"LxGetDisplayBits pixels", [] {
         int32_t bits = 0;
         return LxGetDisplayBits(GetDC(nullptr), 0, 0, 4, 4, &bits, nullptr);
       }},
  };
  const LxCardRecord before = recordOf(card_);
  for (const auto& call : calls) {
    EXPECT_EQ(call.run(), LX_PARAMETER_INVALID) << call.name;
  }
  const LxCardRecord after = recordOf(card_);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST_F(BadArguments, ValuesOutOfRangeChangeNothing) {
  const LxCardRecord before = recordOf(card_);
  EXPECT_NE(LxSetVideoFormat(card_, 7), LX_OK);
  EXPECT_NE(LxSetVideoFormat(card_, -1), LX_OK);
  EXPECT_NE(LxSetVideoStandard(card_, 2), LX_OK);
  EXPECT_NE(LxSetScanMode(card_, 3), LX_OK);
  EXPECT_NE(LxSetOutputWindow(card_, -1, 0, 640, 480), LX_OK);
  EXPECT_NE(LxSetOutputWindow(card_, 0, 0, 0x7fffffff, 0x7fffffff), LX_OK);
  EXPECT_EQ(LxSetPixelMask(card_, 0xFFFFFFFFu, 0, 1), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxSetPixelMask(card_, 0, 0xFFFFFFFFu, 1), LX_PARAMETER_INVALID);
  EXPECT_NE(LxSnapShot(card_, 0xFFFFFFFFu, 0, 1, 0xFFFF), LX_OK);
  EXPECT_NE(LxStartSnap(card_, 0xFFFFF000u, 1, 0xFFFF), LX_OK);
  EXPECT_NE(LxFillStaticMem(0xFFFFFFF0u, 0x100, 0), LX_OK);
  EXPECT_NE(LxStartSnapExInt(card_, 0xFFFFFFFFu, 1, 0xFFFF), LX_OK);
  uint8_t small[4] = {};
  EXPECT_NE(LxDataTransform(small, small, 0x7fffffff, 0x7fffffff, 24, 0), LX_OK);
  EXPECT_NE(LxDataTransform(small, small, 1, 1, 7, 0), LX_OK);
  EXPECT_STREQ(LxGetErrorString(12345) != nullptr ? "text" : "none", "text");
  EXPECT_NE(LxGetErrorString(-12345), nullptr);
  const LxCardRecord after = recordOf(card_);
  EXPECT_EQ(after.state, LX_CAPTURE_STATE_IDLE);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "a refused value changed the record";
}

}  // namespace

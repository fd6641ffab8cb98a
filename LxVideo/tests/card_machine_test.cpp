// The public API against a private machine with two cards: opening cards by
// global number, the open counts seen from two processes, the fresh
// context, video parameters down to the card's registers, input selection
// and signal presence, and every refused argument leaving all as it was.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstring>
#include <string>

#include "lx/internal/card_record.h"
#include "lx/internal/tern_card_context.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "card_record_copy.h"
#include "machine_first.h"

namespace {

// Card 1 carries the signature and has its picture on input 3; card 2 has
// none and its picture on input 0.
std::string twoCards(const char* card1Input3) {
  return std::string("[clock]\nfactor = 20\n\n[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"") +
         card1Input3 +
         "\"]\n\n[[terncard]]\nsignature = false\nsources = [\"bars\", \"none\", \"none\", \"none\"]\n";
}
const std::string kTwoCards = twoCards("bars");

// Registers read back (names as the card library uses them).
constexpr uint16_t kInputFormat = 0x004;
constexpr uint16_t kHighBitsA = 0x00C;
constexpr uint16_t kVDelayA = 0x010;
constexpr uint16_t kVActiveA = 0x014;
constexpr uint16_t kHDelayA = 0x018;
constexpr uint16_t kHActiveA = 0x01C;
constexpr uint16_t kHScaleHiA = 0x020;
constexpr uint16_t kHScaleLoA = 0x024;
constexpr uint16_t kControlA = 0x02C;
constexpr uint16_t kSatU = 0x034;
constexpr uint16_t kSatV = 0x038;
constexpr uint16_t kVScaleHiA = 0x04C;
constexpr uint16_t kVScaleLoA = 0x050;
constexpr uint16_t kSourceControl = 0x068;
constexpr uint16_t kPixelFormat = 0x0D4;
constexpr uint16_t kSetB = 0x80;
// Registers whose value the card itself changes.
constexpr uint16_t kVolatile[] = {0x000, 0x0E0, 0x0E4, 0x0E8, 0x100, 0x110};

}  // namespace

const char* terncard::testing::machineConfig() { return kTwoCards.c_str(); }

namespace {

terncard::testing::MachineControl machine;

uint32_t reg(LxCardHandle handle, uint16_t offset) {
  int32_t value = -1;
  EXPECT_EQ(LxGet32BitParam(handle, offset, &value), LX_OK);
  return static_cast<uint32_t>(value);
}

using terncard::testing::recordOf;

TernCardContext contextOf(LxCardHandle handle) {
  TernCardContext copy{};
  HGLOBAL block = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(recordOf(handle).context));
  if (const void* context = GlobalLock(block)) {
    std::memcpy(&copy, context, sizeof copy);
    GlobalUnlock(block);
  }
  return copy;
}

void setState(LxCardHandle handle, int32_t state) {
  static_cast<LxCardRecord*>(GlobalLock(handle))->state = state;
  GlobalUnlock(handle);
}

UINT lockCount(LxCardHandle handle) { return GlobalFlags(handle) & GMEM_LOCKCOUNT; }

uint32_t openCount(int card) {
  uint32_t count = 0xDEAD;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "OpenCountMap");
  if (mapping == nullptr) {
    return count;
  }
  if (const auto* counters = static_cast<const uint32_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 1024))) {
    count = counters[card - 1];
    UnmapViewOfFile(counters);
  }
  CloseHandle(mapping);
  return count;
}

std::string peer(const std::vector<std::string>& commands) {
  std::vector<std::string> argv{LX_CARD_PEER};
  argv.insert(argv.end(), commands.begin(), commands.end());
  return lxm::testing::runProgram(argv, 60).output;
}

// Signal presence after the card latched the selected input (bounded wait).
int32_t presenceSettled(LxCardHandle handle, int32_t expected) {
  int32_t present = -1;
  for (int attempt = 0; attempt < 400; ++attempt) {
    EXPECT_EQ(LxVideoPresent(handle, &present), LX_OK);
    if (present == expected) {
      break;
    }
    Sleep(5);
  }
  return present;
}

class OpenCard {
 public:
  explicit OpenCard(int card) { status = BeginLxCard(card, &handle); }
  ~OpenCard() {
    if (handle != nullptr) {
      setState(handle, LX_CAPTURE_STATE_IDLE);
      EXPECT_EQ(EndLxCard(handle), LX_OK);
    }
  }
  LxStatus status = LX_INTERNAL_ERROR;
  LxCardHandle handle = nullptr;
};

TEST(CardMachine, TwoCardsOpenAsInterfaceMembersInOrder) {
  int32_t total = 0;
  ASSERT_EQ(LxGetCardTotal(&total), LX_OK);
  EXPECT_EQ(total, 2);
  EXPECT_EQ(LxGetCardTotal(nullptr), LX_PARAMETER_INVALID);

  const uint32_t before = openCount(1);
  {
    OpenCard first(1);
    ASSERT_EQ(first.status, LX_OK);
    EXPECT_EQ(openCount(1), before + 1);
    EXPECT_EQ(peer({"count", "1"}), std::to_string(before + 1) + "\n");
    OpenCard second(2);
    ASSERT_EQ(second.status, LX_OK);
    EXPECT_EQ(openCount(2), 1u);

    int32_t type = -1;
    ASSERT_EQ(LxGetCardType(first.handle, &type), LX_OK);
    EXPECT_EQ(type, 4);
    EXPECT_EQ(contextOf(first.handle).cardNumber, 1);
    EXPECT_EQ(contextOf(second.handle).cardNumber, 2);
    EXPECT_EQ(recordOf(second.handle).cardIndex, 2);

    uint8_t slot1[12] = {}, slot2[12] = {};
    ASSERT_EQ(LxGetSlotInfo(first.handle, slot1), LX_OK);
    ASSERT_EQ(LxGetSlotInfo(second.handle, slot2), LX_OK);
    EXPECT_NE(std::memcmp(slot1, slot2, sizeof slot1), 0) << "interface members 0 and 1 are different cards";
    // The signature tells the boards apart as well.
    uint8_t signature[2] = {};
    ASSERT_EQ(LxGetBoardInfo(first.handle, 0, signature), LX_OK);
    EXPECT_EQ(std::memcmp(signature, "KZ", 2), 0);
    ASSERT_EQ(LxGetBoardInfo(second.handle, 0, signature), LX_OK);
    EXPECT_EQ(signature[0], 0xFF);

    for (int missing : {3, 0, -1, 129}) {
      LxCardHandle handle = reinterpret_cast<LxCardHandle>(0x77);
      EXPECT_EQ(BeginLxCard(missing, &handle), LX_NO_CARD_FOUND) << missing;
      EXPECT_EQ(handle, nullptr);
    }
    EXPECT_EQ(BeginLxCard(1, nullptr), LX_PARAMETER_INVALID);
    EXPECT_EQ(openCount(1), before + 1);
  }
  EXPECT_EQ(openCount(1), before);
  EXPECT_EQ(openCount(2), 0u);
  EXPECT_EQ(peer({"count", "1", "count", "2"}), std::to_string(before) + "\n0\n");
}

TEST(CardMachine, FreshContextAtThePositionsTheApiReads) {
  OpenCard card(1);
  ASSERT_EQ(card.status, LX_OK);
  const TernCardContext context = contextOf(card.handle);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&context);
  int32_t scanMode, overlay;
  uint16_t window[4];
  std::memcpy(&scanMode, bytes + 336, 4);
  std::memcpy(window, bytes + 352, 8);
  std::memcpy(&overlay, bytes + 364, 4);
  EXPECT_EQ(scanMode, 0);
  EXPECT_EQ(window[0], 0);
  EXPECT_EQ(window[1], 0);
  EXPECT_EQ(window[2], 640);
  EXPECT_EQ(window[3], 240);
  EXPECT_EQ(overlay, 0);
  EXPECT_EQ(context.pixelFormat, 4) << "32-bit display";
  EXPECT_EQ(context.bitsPerPixel, 32);
  EXPECT_EQ(context.inputWidth, 768);
  EXPECT_EQ(context.inputHeight, 288);
  EXPECT_EQ(context.saturationV, 91);
  EXPECT_EQ(reg(card.handle, kPixelFormat), 0x00u);

  const LxCardRecord record = recordOf(card.handle);
  EXPECT_EQ(record.cardTypeIndex, 4);
  EXPECT_EQ(record.state, LX_CAPTURE_STATE_IDLE);
  EXPECT_EQ(record.scanMode, 0);
  EXPECT_EQ(record.outputX, 0);
  EXPECT_EQ(record.outputY, 0);
  EXPECT_EQ(record.outputWidth, 640);
  EXPECT_EQ(record.outputFieldHeight, 240);
  EXPECT_EQ(record.maskEnabled, 0);
  EXPECT_EQ(record.maskBitOrder, 0);
  EXPECT_EQ(record.monitorMethod, 0);
  EXPECT_EQ(record.bytesPerPixel, 4);
  EXPECT_EQ(record.screenWidth, 1024);
  EXPECT_EQ(record.screenHeight, 768);
  EXPECT_EQ(record.dynamicMemory.Size, LX_MASK_BYTES);
  EXPECT_EQ(lockCount(card.handle), 0u);
}

TEST(CardMachine, PixelFormatFollowsTheDisplayDepth) {
  // The display is described once per process: each depth opens in a new one.
  const struct {
    const char* mode;
    const char* formatAndBits;
  } depths[] = {{"1024x768x8", "6 8\n"}, {"1024x768x15", "3 16\n"}, {"1024x768x16", "2 16\n"}, {"1024x768x24", "1 24\n"}};
  for (const auto& depth : depths) {
    ASSERT_TRUE(machine.setDisplay(depth.mode)) << depth.mode;
    EXPECT_EQ(peer({"format", "1"}), depth.formatAndBits) << depth.mode;
  }
  ASSERT_TRUE(machine.setDisplay("1024x768x32"));
  EXPECT_EQ(peer({"format", "2"}), "4 32\n");
}

// Both register sets hold the value, and it matches the shadow.
uint32_t geometry(LxCardHandle handle, uint16_t offsetA) {
  const uint32_t a = reg(handle, offsetA);
  EXPECT_EQ(reg(handle, offsetA + kSetB), a) << "set B at " << std::hex << offsetA;
  const TernCardContext context = contextOf(handle);
  EXPECT_EQ(context.registerShadow[offsetA / 4], a) << "shadow at " << std::hex << offsetA;
  EXPECT_EQ(context.registerShadow[(offsetA + kSetB) / 4], a) << "shadow at " << std::hex << offsetA + kSetB;
  return a;
}
uint32_t horizontalScale(LxCardHandle h) { return geometry(h, kHScaleHiA) << 8 | geometry(h, kHScaleLoA); }
uint32_t verticalScale(LxCardHandle h) { return (geometry(h, kVScaleHiA) & 0x1F) << 8 | geometry(h, kVScaleLoA); }
uint32_t horizontalDelay(LxCardHandle h) { return (geometry(h, kHighBitsA) >> 2 & 3) << 8 | geometry(h, kHDelayA); }
uint32_t verticalDelay(LxCardHandle h) { return (geometry(h, kHighBitsA) >> 6 & 3) << 8 | geometry(h, kVDelayA); }

TEST(CardMachine, WorkedExamplesLandInBothRegisterSets) {
  OpenCard card(1);
  ASSERT_EQ(card.status, LX_OK);
  const LxCardHandle h = card.handle;

  ASSERT_EQ(LxSetVideoStandard(h, 0), LX_OK);
  ASSERT_EQ(LxSetInputWindow(h, 0, 0, 768, 576), LX_OK);
  ASSERT_EQ(LxSetOutputWindow(h, 0, 0, 768, 576), LX_OK);
  EXPECT_EQ(horizontalScale(h), 828u);
  EXPECT_EQ(verticalScale(h), 0u);
  EXPECT_EQ(horizontalDelay(h), 154u);
  EXPECT_EQ(verticalDelay(h), 32u);
  EXPECT_EQ(geometry(h, kHighBitsA) & 0x33, 0x23u);  // active 576 lines, 768 pixels
  EXPECT_EQ(geometry(h, kVActiveA), 0x40u);
  EXPECT_EQ(geometry(h, kHActiveA), 0x00u);
  EXPECT_EQ(reg(h, kInputFormat) & 7, 3u);
  EXPECT_EQ(recordOf(h).outputFieldHeight, 288);

  ASSERT_EQ(LxSetVideoStandard(h, 1), LX_OK);
  ASSERT_EQ(LxSetInputWindow(h, 0, 0, 640, 480), LX_OK);
  ASSERT_EQ(LxSetOutputWindow(h, 0, 0, 320, 240), LX_OK);
  EXPECT_EQ(horizontalScale(h), 5461u);
  EXPECT_EQ(verticalScale(h), 0x1E00u);
  EXPECT_EQ(horizontalDelay(h), 56u);
  EXPECT_EQ(verticalDelay(h), 26u);
  EXPECT_EQ(reg(h, kInputFormat) & 7, 1u);

  ASSERT_EQ(LxSetVideoStandard(h, 0), LX_OK);
  ASSERT_EQ(LxSetInputWindow(h, 0, 0, 768, 576), LX_OK);
  ASSERT_EQ(LxSetOutputWindow(h, 0, 0, 384, 576), LX_OK);
  EXPECT_EQ(horizontalScale(h), 5753u);
  EXPECT_EQ(horizontalDelay(h), 76u);

  ASSERT_EQ(LxAdjustVideo(h, 4, 200), LX_OK);
  const TernCardContext context = contextOf(h);
  EXPECT_EQ(context.saturationU, 200);
  EXPECT_EQ(context.saturationV, 142);
  EXPECT_EQ(reg(h, kSatV), 0x1Cu);  // 284
  EXPECT_EQ(reg(h, kSatU), 0x90u);  // 400
  EXPECT_EQ(geometry(h, kControlA) & 0x03, 0x03u);
  EXPECT_EQ(context.registerShadow[kSatV / 4], 0x1Cu);

  // Format and scan mode update the record on success.
  ASSERT_EQ(LxSetVideoFormat(h, 1), LX_OK);
  EXPECT_EQ(recordOf(h).bytesPerPixel, 3);
  EXPECT_EQ(reg(h, kPixelFormat), 0x11u);
  ASSERT_EQ(LxSetScanMode(h, 2), LX_OK);
  EXPECT_EQ(recordOf(h).scanMode, 2);
  EXPECT_EQ(geometry(h, kVScaleHiA) & 0xA0, 0x80u);
  EXPECT_EQ(lockCount(h), 0u);
}

TEST(CardMachine, InputSelectionAndSignalPresence) {
  OpenCard withSignature(1);
  OpenCard without(2);
  ASSERT_EQ(withSignature.status, LX_OK);
  ASSERT_EQ(without.status, LX_OK);
  auto multiplexer = [](LxCardHandle h) { return (reg(h, kInputFormat) >> 5) & 3; };
  auto separateChroma = [](LxCardHandle h) {
    const bool a = (reg(h, kControlA) >> 6) & 1;
    EXPECT_EQ(((reg(h, kControlA + kSetB) >> 6) & 1) != 0, a);
    EXPECT_EQ(((reg(h, kSourceControl) >> 1) & 1) != 0, !a);
    return a;
  };

  // Card 1: composite 0 is multiplexer 3, where its picture is.
  const LxCardHandle one = withSignature.handle;
  ASSERT_EQ(LxSetVideoSource(one, {0, 0}), LX_OK);
  EXPECT_EQ(multiplexer(one), 3u);
  EXPECT_FALSE(separateChroma(one));
  EXPECT_EQ(presenceSettled(one, 1), 1);
  ASSERT_EQ(LxSetVideoSource(one, {0, 1}), LX_OK);
  EXPECT_EQ(multiplexer(one), 1u);
  EXPECT_EQ(presenceSettled(one, 0), 0);
  ASSERT_EQ(LxSetVideoSource(one, {0, 2}), LX_OK);
  EXPECT_EQ(multiplexer(one), 0u);
  EXPECT_TRUE(separateChroma(one));
  // S-Video is input code 3, which a board with the signature does not have.
  EXPECT_EQ(LxSetVideoSource(one, {1, 0}), LX_INTERNAL_ERROR);
  EXPECT_EQ(contextOf(one).videoSource, 2);
  EXPECT_EQ(multiplexer(one), 0u);

  // Card 2: composite 0 is multiplexer 2 (nothing there), composite 3 is
  // multiplexer 0 (its picture), S-Video multiplexer 0 with separate chroma.
  const LxCardHandle two = without.handle;
  ASSERT_EQ(LxSetVideoSource(two, {0, 0}), LX_OK);
  EXPECT_EQ(multiplexer(two), 2u);
  EXPECT_EQ(presenceSettled(two, 0), 0);
  ASSERT_EQ(LxSetVideoSource(two, {0, 3}), LX_OK);
  EXPECT_EQ(multiplexer(two), 0u);
  EXPECT_FALSE(separateChroma(two));
  EXPECT_EQ(presenceSettled(two, 1), 1);
  ASSERT_EQ(LxSetVideoSource(two, {1, 0}), LX_OK);
  EXPECT_EQ(contextOf(two).videoSource, 3);
  EXPECT_EQ(multiplexer(two), 0u);
  EXPECT_TRUE(separateChroma(two));
  ASSERT_EQ(LxSetVideoSource(two, {0, 1}), LX_OK);
  EXPECT_EQ(multiplexer(two), 3u);
  ASSERT_EQ(LxSetVideoSource(two, {0, 2}), LX_OK);
  EXPECT_EQ(multiplexer(two), 1u);
}

TEST(CardMachine, BoardAccess) {
  OpenCard card(1);
  ASSERT_EQ(card.status, LX_OK);
  const LxCardHandle h = card.handle;
  uint8_t bytes[16] = {};
  ASSERT_EQ(LxGetI2CParam(h, 126, 21, bytes, 1), LX_OK);
  EXPECT_EQ(bytes[0], 0x21);
  ASSERT_EQ(LxGetBoardInfo(h, 4, bytes), LX_OK);
  EXPECT_EQ(bytes[0], 1);
  ASSERT_EQ(LxGetBoardInfo(h, 5, bytes), LX_OK);
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(LxGetBoardInfo(h, 9, bytes), LX_INTERNAL_ERROR);
  // Kinds beyond 8 bits are refused rather than read as the kind they alias.
  for (int alias : {256, 257, -256, -1}) {
    std::memset(bytes, 0xEE, sizeof bytes);
    EXPECT_EQ(LxGetBoardInfo(h, alias, bytes), LX_PARAMETER_INVALID) << alias;
    EXPECT_EQ(bytes[0], 0xEE) << alias;
    EXPECT_EQ(bytes[11], 0xEE) << alias;
  }
  EXPECT_EQ(LxSetI2CParam(h, 126, 80, bytes, 0), LX_INTERNAL_ERROR);

  // Raw writes reach the card and leave the shadow alone.
  const uint32_t shadow = contextOf(h).registerShadow[0x03C / 4];
  ASSERT_EQ(LxSet32BitParam(h, 0x03C, 0x5A), LX_OK);
  EXPECT_EQ(reg(h, 0x03C), 0x5Au);
  EXPECT_EQ(contextOf(h).registerShadow[0x03C / 4], shadow);
  int32_t value = 77;
  EXPECT_EQ(LxGet32BitParam(h, 0xFFFE, &value), LX_INTERNAL_ERROR);
  EXPECT_EQ(value, 0) << "cleared before the call";
}

// Compares everything a refused call must leave alone.
class Unchanged {
 public:
  explicit Unchanged(LxCardHandle handle) : handle_(handle) { take(registers_, record_, context_); }
  void expectSame(const char* what) const {
    std::array<uint32_t, 72> registers;
    LxCardRecord record;
    TernCardContext context;
    take(registers, record, context);
    for (size_t k = 0; k < registers.size(); ++k) {
      EXPECT_EQ(registers[k], registers_[k]) << what << ": register " << std::hex << 4 * k;
    }
    EXPECT_EQ(std::memcmp(&record, &record_, sizeof record), 0) << what << ": record";
    EXPECT_EQ(std::memcmp(&context, &context_, sizeof context), 0) << what << ": context";
    EXPECT_EQ(lockCount(handle_), 0u) << what << ": handle left locked";
  }

 private:
  void take(std::array<uint32_t, 72>& registers, LxCardRecord& record, TernCardContext& context) const {
    for (size_t k = 0; k < registers.size(); ++k) {
      bool changing = false;
      for (uint16_t offset : kVolatile) changing = changing || offset == 4 * k;
      registers[k] = changing ? 0 : reg(handle_, static_cast<uint16_t>(4 * k));
    }
    record = recordOf(handle_);
    context = contextOf(handle_);
  }
  LxCardHandle handle_;
  std::array<uint32_t, 72> registers_;
  LxCardRecord record_;
  TernCardContext context_;
};

// Each board-information kind writes exactly the bytes the public header
// gives for it. A byte counts as written when it differs from the fill in
// either of two runs with different fills.
TEST(CardMachine, BoardInfoKindsWriteTheirDocumentedSizes) {
  OpenCard card(1);
  ASSERT_EQ(card.status, LX_OK);
  for (int kind = 0; kind < LX_BOARD_INFO_KIND_COUNT; ++kind) {
    uint8_t first[LX_BOARD_INFO_MAX_BYTES + 4];
    uint8_t second[LX_BOARD_INFO_MAX_BYTES + 4];
    std::memset(first, 0xAA, sizeof first);
    std::memset(second, 0x55, sizeof second);
    ASSERT_EQ(LxGetBoardInfo(card.handle, kind, first), LX_OK) << kind;
    ASSERT_EQ(LxGetBoardInfo(card.handle, kind, second), LX_OK) << kind;
    int written = 0;
    for (int i = 0; i < static_cast<int>(sizeof first); ++i) {
      if (first[i] != 0xAA || second[i] != 0x55) written = i + 1;
    }
    EXPECT_EQ(written, LxBoardInfoBytes(kind)) << "kind " << kind;
  }
  char signature[LX_BOARD_INFO_MAX_BYTES] = {};
  ASSERT_EQ(LxGetBoardInfo(card.handle, LX_BOARD_INFO_SIGNATURE, signature), LX_OK);
  EXPECT_EQ(std::string(signature), "KZ");
  EXPECT_EQ(LxBoardInfoBytes(LX_BOARD_INFO_KIND_COUNT), 0);
  EXPECT_EQ(LxBoardInfoBytes(-1), 0);
}

TEST(CardMachine, RefusedArgumentsLeaveCardAndRecordUnchanged) {
  OpenCard card(1);
  ASSERT_EQ(card.status, LX_OK);
  const LxCardHandle h = card.handle;
  const Unchanged before(h);
  uint8_t buffer[16];
  int32_t word;
#define EXPECT_REFUSED(call, status)     \
  do {                                   \
    EXPECT_EQ(call, status) << #call;    \
    before.expectSame(#call);            \
  } while (0)

  EXPECT_REFUSED(LxSetVideoFormat(h, 7), LX_PARAMETER_OUT_OF_BOUND);
  EXPECT_REFUSED(LxSetVideoFormat(h, -1), LX_PARAMETER_OUT_OF_BOUND);
  EXPECT_REFUSED(LxSetVideoStandard(h, 2), LX_PARAMETER_OUT_OF_BOUND);
  EXPECT_REFUSED(LxSetVideoStandard(h, -1), LX_PARAMETER_OUT_OF_BOUND);
  EXPECT_REFUSED(LxSetScanMode(h, 3), LX_PARAMETER_OUT_OF_BOUND);
  EXPECT_REFUSED(LxSetScanMode(h, 0xFFFFFFFFu), LX_PARAMETER_OUT_OF_BOUND);
  for (auto [x, y, w, hgt] : {std::array{-1, 0, 640, 480}, std::array{0, -1, 640, 480}, std::array{0, 0, 3, 480},
                              std::array{0, 0, 769, 480}, std::array{0, 0, 640, 1}, std::array{0, 0, 640, 577}}) {
    EXPECT_REFUSED(LxSetInputWindow(h, x, y, w, hgt), LX_PARAMETER_INVALID);
    EXPECT_REFUSED(LxSetOutputWindow(h, x, y, w, hgt), LX_PARAMETER_INVALID);
  }
  EXPECT_REFUSED(LxAdjustVideo(h, 0, 9), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxAdjustVideo(h, 5, 9), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSetVideoSource(h, (LxVideoSource{2, 0})), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSetVideoSource(h, (LxVideoSource{1, 1})), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSetVideoSource(h, (LxVideoSource{0, 4})), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSetVideoSource(h, (LxVideoSource{0, -1})), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSetVideoSource(h, (LxVideoSource{3, 0})), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSelectCryOSC(h, 2), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxEnableVideoMirror(h, 2, 1), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSetVideoExtOutput(h, 4, 0), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSetGammaCorrCoef(h, nullptr), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxLoadCFGFile(h, nullptr), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxReadSCMParam(h, nullptr), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxWriteSCMParam(h, nullptr, 1), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxVideoPresent(h, nullptr), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxGetBoardInfo(h, 0, nullptr), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxGetSlotInfo(h, nullptr), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxGetI2CParam(h, 126, 21, nullptr, 1), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSetI2CParam(h, 126, 21, nullptr, 1), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxGet32BitParam(h, 0, nullptr), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxGetCardType(h, nullptr), LX_PARAMETER_INVALID);

  // Functions this card library does not have.
  EXPECT_REFUSED(LxSelectCryOSC(h, 0), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_REFUSED(LxEnableVideoMirror(h, 1, 1), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_REFUSED(LxSetVideoExtOutput(h, 3, 1), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_REFUSED(LxLumaControl(h, 0, 1), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_REFUSED(LxGammaCorrControl(h, 1), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_REFUSED(LxSetGammaCorrCoef(h, buffer), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_REFUSED(LxLoadCFGFile(h, "card.cfg"), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_REFUSED(LxReadSCMParam(h, buffer), LX_NOT_SUPPORT_INTERFACE);
  EXPECT_REFUSED(LxWriteSCMParam(h, buffer, 1), LX_NOT_SUPPORT_INTERFACE);

  // Handles that cannot be locked.
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, 8);
  GlobalFree(freed);
  for (LxCardHandle bad : {static_cast<LxCardHandle>(nullptr), static_cast<LxCardHandle>(freed)}) {
    EXPECT_REFUSED(LxSetVideoSource(bad, (LxVideoSource{2, 0})), LX_CARD_HANDLE_INVALID);
    EXPECT_REFUSED(LxSetVideoStandard(bad, 0), LX_CARD_HANDLE_INVALID);
    EXPECT_REFUSED(LxGet32BitParam(bad, 0, &word), LX_CARD_HANDLE_INVALID);
    EXPECT_REFUSED(EndLxCard(bad), LX_CARD_HANDLE_INVALID);
  }

  // Blocks of another kind: a static-memory lock handle (24 bytes), a
  // caller's block of the record's own size, and the context block of the
  // card library. None is read as a card record.
  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  ASSERT_EQ(LxStaticMemLock(0, 0, &lock, &address), LX_OK);
  HGLOBAL lookalike = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(LxCardRecord));
  const auto context = reinterpret_cast<LxCardHandle>(static_cast<uintptr_t>(recordOf(h).context));
  for (LxCardHandle other : {static_cast<LxCardHandle>(lock), static_cast<LxCardHandle>(lookalike), context}) {
    int32_t type = -1;
    EXPECT_REFUSED(LxGetCardType(other, &type), LX_CARD_HANDLE_INVALID);
    EXPECT_EQ(type, -1);
    EXPECT_REFUSED(LxFlushMask(other, 1), LX_CARD_HANDLE_INVALID);
    EXPECT_REFUSED(LxSetPixelMask(other, 0, 0, 0), LX_CARD_HANDLE_INVALID);
    EXPECT_REFUSED(LxEnableMask(other, 1), LX_CARD_HANDLE_INVALID);
    EXPECT_REFUSED(EndLxCard(other), LX_CARD_HANDLE_INVALID);
    EXPECT_EQ(GlobalFlags(other) & GMEM_LOCKCOUNT, 0u) << "left unlocked";
  }
  // ... and a card handle is no lock handle: the unlock sends nothing.
  EXPECT_REFUSED(LxStaticMemUnlock(h), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxStaticMemUnlock(lock), LX_OK);
  GlobalFree(lookalike);

  // States: live capture refuses the Idle-only operations and windows that
  // leave the screen; snapping refuses the windows. The record is set the
  // way the capture operations set it.
  setState(h, LX_CAPTURE_STATE_CAPTURE);
  const Unchanged capturing(h);
#undef EXPECT_REFUSED
#define EXPECT_REFUSED(call, status)     \
  do {                                   \
    EXPECT_EQ(call, status) << #call;    \
    capturing.expectSame(#call);         \
  } while (0)
  EXPECT_REFUSED(LxSetVideoFormat(h, 1), LX_IN_WORK);
  EXPECT_REFUSED(LxSetVideoStandard(h, 1), LX_IN_WORK);
  EXPECT_REFUSED(LxSetScanMode(h, 1), LX_IN_WORK);
  EXPECT_REFUSED(EndLxCard(h), LX_IN_WORK);
  EXPECT_REFUSED(LxSetOutputWindow(h, 500, 0, 640, 480), LX_PARAMETER_INVALID);
  EXPECT_REFUSED(LxSetOutputWindow(h, 0, 300, 640, 480), LX_PARAMETER_INVALID);  // frame mode: 780 lines
  setState(h, LX_CAPTURE_STATE_SNAP_EX);
  EXPECT_EQ(LxSetInputWindow(h, 0, 0, 640, 480), LX_IN_WORK);
  EXPECT_EQ(LxSetOutputWindow(h, 0, 0, 640, 480), LX_IN_WORK);
  setState(h, LX_CAPTURE_STATE_SNAP);
  EXPECT_EQ(LxSetInputWindow(h, 0, 0, 640, 480), LX_IN_WORK);
  setState(h, LX_CAPTURE_STATE_CAPTURE);
  capturing.expectSame("snapping");
#undef EXPECT_REFUSED

  // What live capture accepts.
  EXPECT_EQ(LxSetInputWindow(h, 0, 0, 640, 480), LX_OK);
  EXPECT_EQ(LxSetOutputWindow(h, 384, 288, 640, 480), LX_OK);  // exactly to the corner
  EXPECT_EQ(recordOf(h).outputFieldHeight, 240);
  setState(h, LX_CAPTURE_STATE_CAPTURE_EX);
  EXPECT_EQ(LxSetOutputWindow(h, 385, 0, 640, 480), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxAdjustVideo(h, 1, 100), LX_OK) << "not an Idle-only operation";
  EXPECT_EQ(lockCount(h), 0u);
  setState(h, LX_CAPTURE_STATE_IDLE);
}

// A cable connected and pulled while the machine runs, and the board switch
// flipped: seen through the API without a reboot.
TEST(CardMachine, SourceAndSwitchChangedAtRunTime) {
  OpenCard card(1);
  ASSERT_EQ(card.status, LX_OK);
  const LxCardHandle h = card.handle;
  ASSERT_EQ(LxSetVideoSource(h, {0, 0}), LX_OK);  // multiplexer 3
  auto signalBit = [&] { return (reg(h, 0x000) >> 7) & 1; };

  lxm::testing::ToolResult none = machine.run({"source", "1", "3", "none"});
  ASSERT_EQ(none.exitStatus, 0) << none.output;
  EXPECT_EQ(presenceSettled(h, 0), 0);
  EXPECT_EQ(signalBit(), 0u);
  lxm::testing::ToolResult bars = machine.run({"source", "1", "3", "bars"});
  ASSERT_EQ(bars.exitStatus, 0) << bars.output;
  EXPECT_EQ(presenceSettled(h, 1), 1);
  EXPECT_EQ(signalBit(), 1u);

  // Refused: the input keeps its picture.
  lxm::testing::ToolResult missing = machine.run({"source", "1", "3", "image:/nonexistent/picture.ppm"});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_NE(missing.output.find("card 1 input 3 keeps its source"), std::string::npos) << missing.output;
  EXPECT_EQ(machine.run({"source", "3", "3", "none"}).exitStatus, 1) << "the machine has two cards";
  EXPECT_EQ(machine.run({"source", "1", "4", "none"}).exitStatus, 2);
  for (int field = 0; field < 4; ++field) {
    Sleep(5);
    EXPECT_EQ(signalBit(), 1u) << "after a refused source";
  }

  // Lines 0 and 1 are inputs reading the switch.
  constexpr uint16_t kGpioData = 0x200;
  const uint32_t original = reg(h, kGpioData) & 3;
  for (uint32_t bits : {2u, 1u, 3u, original}) {
    lxm::testing::ToolResult flipped = machine.run({"switch", "1", std::to_string(bits)});
    ASSERT_EQ(flipped.exitStatus, 0) << flipped.output;
    EXPECT_EQ(reg(h, kGpioData) & 3, bits);
  }
  EXPECT_EQ(machine.run({"switch", "1", "4"}).exitStatus, 2);
  EXPECT_EQ(machine.run({"switch", "3", "1"}).exitStatus, 1);
  EXPECT_EQ(reg(h, kGpioData) & 3, original);
}

// Last: reboots the machine with input 3 of card 1 disconnected, then
// connected again.
TEST(CardMachine, SourceConnectedAtAnInputIsReported) {
  for (const char* source : {"none", "bars"}) {
    ASSERT_TRUE(machine.shutdown());
    machine.writeConfig(twoCards(source));
    ASSERT_TRUE(machine.boot());
    OpenCard card(1);
    ASSERT_EQ(card.status, LX_OK) << source;
    ASSERT_EQ(LxSetVideoSource(card.handle, {0, 0}), LX_OK);
    const int32_t expected = std::string(source) == "bars" ? 1 : 0;
    EXPECT_EQ(presenceSettled(card.handle, expected), expected) << source;
  }
}

}  // namespace

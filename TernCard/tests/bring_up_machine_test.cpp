// Bring-up of real (simulated) cards in a private machine: card count,
// the register traffic of one bring-up, the fresh context, and the failure
// results with everything released.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "card_device.h"
#include "driver_channel.h"
#include "lx/hmbseapi.h"
#include "lx/internal/tern_card_context.h"
#include "lx/terncard.h"
#include "lx/terncard_capture.h"
#include "lx/internal/terncard_ioctl.h"
#include "register_map.h"
#include "machine_first.h"
#include "stack_machine.h"

namespace terncard {

namespace {
constexpr char kTwoCards[] =
    "[clock]\nfactor = 20\n\n"
    "[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"bars\"]\n\n"
    "[[terncard]]\nsignature = false\nsources = [\"bars\", \"none\", \"none\", \"none\"]\n";
}  // namespace

const char* testing::machineConfig() { return kTwoCards; }

namespace {

std::atomic<int> registerRequests{0};
std::atomic<bool> silentCard{false};

// Counts register requests on their way to the driver; a silent card reads
// back 0 from REG_PIXEL_FORMAT.
BOOL countingDeviceControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                           LPDWORD returned, LPOVERLAPPED overlapped) {
  const BOOL ok = DeviceIoControl(device, code, in, inBytes, out, outBytes, returned, overlapped);
  if (code == IOCTL_TERN_REG_ACCESS && inBytes == sizeof(RegisterRequest)) {
    registerRequests.fetch_add(1);
    RegisterRequest request;
    std::memcpy(&request, in, sizeof request);
    if (silentCard.load() && request.operation == TERN_REG_READ_WORD && request.offset == REG_PIXEL_FORMAT) {
      std::memset(out, 0, outBytes);
    }
  }
  return ok;
}

class BringUpMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    registerRequests = 0;
    silentCard = false;
    setDeviceControlForTesting(&countingDeviceControl);
  }
  void TearDown() override { setDeviceControlForTesting(nullptr); }

  testing::MachineControl machine_;
};

// The context of a handle, copied out under a lock.
TernCardContext contextOf(uint64_t handle) {
  HGLOBAL block = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(handle));
  TernCardContext copy{};
  if (const void* context = GlobalLock(block)) {
    std::memcpy(&copy, context, sizeof copy);
    GlobalUnlock(block);
  }
  return copy;
}

TEST_F(BringUpMachine, CountsTheCardsPresent) { EXPECT_EQ(TernCardGetCardNumber(), 2); }

TEST_F(BringUpMachine, FreshCardCarriesTheDefaults) {
  const uint64_t handle = BeginTernCard(1);
  ASSERT_GT(handle, 4u);
  ASSERT_LT(handle, 0xFFFFFFFFu);
  const int requests = registerRequests.load();
  std::printf("register requests of one BeginTernCard: %d\n", requests);
  RecordProperty("BeginTernCardRegisterRequests", requests);
  // Reset, 71 table writes, the presence read and the audio pulse at least.
  EXPECT_GE(requests, 1 + 71 + 1 + 2);

  const TernCardContext c = contextOf(handle);
  EXPECT_NE(c.device, 0u);
  EXPECT_EQ(c.cardNumber, 1);
  EXPECT_EQ(c.reserved1, 0u);
  EXPECT_EQ(c.reserved2, 976);
  EXPECT_NE(c.displayAddress, 0u);
  EXPECT_EQ(c.pixelFormat, 4) << "32-bit display";
  EXPECT_EQ(c.bitsPerPixel, 32);
  EXPECT_EQ(c.pllParam, 245);
  EXPECT_EQ(c.brightness, 128);
  EXPECT_EQ(c.contrast, 128);
  EXPECT_EQ(c.hue, 128);
  EXPECT_EQ(c.saturation, 128);
  EXPECT_EQ(c.saturationU, 128);
  EXPECT_EQ(c.saturationV, 91);
  EXPECT_EQ(c.inputWidth, 768);
  EXPECT_EQ(c.inputHeight, 288);
  EXPECT_EQ(c.outputWidth, 640);
  EXPECT_EQ(c.outputHeight, 240);
  EXPECT_EQ(c.boardRevisionFlag, 1) << "revision 0x21";
  EXPECT_EQ(c.programAllocated, 1);
  EXPECT_EQ(c.programBuffer.Size, 0x8000u);
  EXPECT_NE(c.programBuffer.UserAddress, 0u);
  EXPECT_EQ(c.registerShadow[kGpioDataShadowCell], 0u) << "audio range 0";
  EXPECT_EQ(c.registerShadow[shadowCellOf(REG_PIXEL_FORMAT)], 0x00u);
  EXPECT_EQ(c.registerShadow[shadowCellOf(REG_CLOCK_2)], 220u);
  EXPECT_EQ(c.registerShadow[shadowCellOf(REG_CLOCK_3)], 142u);
  EXPECT_EQ(c.registerShadow[shadowCellOf(REG_GPIO_ENABLE)], 0x0Cu);

  // The positions the public API reads.
  const auto* bytes = reinterpret_cast<const uint8_t*>(&c);
  int32_t scanMode;
  uint16_t window[4];
  int32_t overlay;
  std::memcpy(&scanMode, bytes + 336, 4);
  std::memcpy(window, bytes + 352, 8);
  std::memcpy(&overlay, bytes + 364, 4);
  EXPECT_EQ(scanMode, 0);
  EXPECT_EQ(window[0], 0);
  EXPECT_EQ(window[1], 0);
  EXPECT_EQ(window[2], 640);
  EXPECT_EQ(window[3], 240);
  EXPECT_EQ(overlay, 0);

  EXPECT_EQ(EndTernCard(handle), 1);
  EXPECT_EQ(EndTernCard(handle), 0) << "the context is gone";
  EXPECT_EQ(EndTernCard(3), 0);
}

TEST_F(BringUpMachine, FailuresReleaseEverything) {
  EXPECT_EQ(BeginTernCard(3), 1u);
  EXPECT_EQ(BeginTernCard(0), 1u);
  EXPECT_EQ(BeginTernCard(-7), 1u);
  EXPECT_EQ(registerRequests.load(), 0);

  const std::string before = machine_.statusJson();
  silentCard = true;
  EXPECT_EQ(BeginTernCard(2), 2u);
  silentCard = false;
  // The device was closed again: the card opens normally.
  const uint64_t handle = BeginTernCard(2);
  ASSERT_GT(handle, 4u);
  EXPECT_EQ(contextOf(handle).boardRevisionFlag, 1);
  EXPECT_EQ(EndTernCard(handle), 1);
  EXPECT_EQ(hmbtest::processBlockCount(machine_.statusJson()), hmbtest::processBlockCount(before))
      << "no program buffer is left behind";
}

// Raw register reads of card `number` (from 1) through a handle of its own,
// as no context is left to read them.
class RawCard {
 public:
  explicit RawCard(uint32_t number) : device_(OpenCardDevice(number - 1)) {}
  ~RawCard() {
    if (device_ != nullptr) CloseHandle(device_);
  }
  bool open() const { return device_ != nullptr; }
  uint32_t read(uint16_t offset) const {
    RegisterRequest request{TERN_REG_READ_WORD, offset, 0};
    uint32_t value = 0xFFFFFFFF;
    DWORD returned = 0;
    DeviceIoControl(device_, IOCTL_TERN_REG_ACCESS, &request, sizeof request, &value, sizeof value, &returned, nullptr);
    return value;
  }

 private:
  HANDLE device_;
};

// A ring left running when the card is ended: its program buffer goes back
// to the service and to the next allocations, which fill it with garbage.
// The card must have stopped first: nothing more lands in the ring and no
// fault is raised by instructions fetched from the garbage.
TEST_F(BringUpMachine, EndingTheCardWithARingRunningLeavesFreedMemoryAlone) {
  uint32_t pages = 0, base = 0;
  ASSERT_NE(HmbGetStaticMem(&pages, &base), 0);
  const uint64_t handle = BeginTernCard(1);  // the bars on the input a fresh card selects
  ASSERT_GT(handle, 4u);
  const TernCardContext fresh = contextOf(handle);
  const uint32_t frameBytes = fresh.bitsPerPixel / 8 * fresh.outputWidth * fresh.outputHeight * 2;
  ASSERT_LE(uint64_t{2} * frameBytes, uint64_t{pages} * 4096);
  StaticMemBlock ring{};
  ring.Length = 2 * frameBytes;
  ASSERT_NE(HmbStaticMemLock(&ring), 0);
  ASSERT_NE(ring.UserAddress, 0u);
  auto* ringBytes = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(ring.UserAddress));

  ASSERT_EQ(TernCardSnapToMem(handle, base, 2 * frameBytes, 0, 2), 1);
  // A person sees what the engine does in the machine's status.
  const terncard::testing::MachineControl machine;
  char start[48];
  std::snprintf(start, sizeof start, "\"programStart\":\"0x%08X\"", contextOf(handle).programBuffer.PhysicalAddress);
  std::string status = machine.statusJson();
  EXPECT_NE(status.find("\"engine\":{\"running\":true"), std::string::npos) << status;
  EXPECT_NE(status.find(start), std::string::npos) << status;
  EXPECT_NE(status.find("\"errorBits\":\"0x00000000\""), std::string::npos) << status;
  ASSERT_EQ(EndTernCard(handle), 1);
  status = machine.statusJson();
  EXPECT_NE(status.find("\"engine\":{\"running\":false"), std::string::npos) << status;

  std::memset(ringBytes, 0x5A, ring.Length);
  std::vector<DynamicMemBlock> garbage(8);
  for (DynamicMemBlock& block : garbage) {
    block.Size = 0x8000;
    ASSERT_NE(HmbDynamicMemAlloc(&block), 0);
    std::memset(reinterpret_cast<void*>(static_cast<uintptr_t>(block.UserAddress)), 0xFF, block.Size);
  }
  RawCard card(1);
  ASSERT_TRUE(card.open());
  const uint32_t counter = card.read(REG_PROGRAM_COUNTER);
  Sleep(60);  // 60 fields at this clock
  EXPECT_EQ(card.read(REG_INT_STATUS) & 0x000FF000u, 0u) << "no instruction was fetched from the garbage";
  EXPECT_EQ(card.read(REG_PROGRAM_COUNTER), counter);
  EXPECT_EQ(card.read(REG_DMA_CONTROL) & 3, 0u);
  EXPECT_TRUE(std::all_of(ringBytes, ringBytes + ring.Length, [](uint8_t b) { return b == 0x5A; }))
      << "nothing was written after the end";
  for (DynamicMemBlock& block : garbage) HmbDynamicMemFree(&block);
  HmbStaticMemUnlock(&ring);
}

TEST_F(BringUpMachine, StaticMemoryPassesThroughToTheService) {
  uint32_t pages = 0, base = 0;
  ASSERT_NE(GetStaticMem(&pages, &base), 0);
  EXPECT_GT(pages, 0u);
  EXPECT_NE(base, 0u);

  uint64_t mapping = 0;
  void* address = nullptr;
  ASSERT_NE(StaticMemLock(4096, 8192, &mapping, &address), 0);
  ASSERT_NE(address, nullptr);
  EXPECT_NE(mapping, 0u);
  std::memset(address, 0x5C, 8192);
  uint64_t again = 0;
  void* second = nullptr;
  ASSERT_NE(StaticMemLock(4096, 8192, &again, &second), 0);
  EXPECT_EQ(static_cast<const uint8_t*>(second)[8191], 0x5C) << "both windows show the same memory";
  EXPECT_NE(StaticMemUnlock(again, second), 0);
  EXPECT_NE(StaticMemUnlock(mapping, address), 0);

  // Without both outputs nothing is mapped that could not be unlocked.
  EXPECT_EQ(StaticMemLock(0, 4096, nullptr, &address), 0);
  EXPECT_EQ(StaticMemLock(0, 4096, &mapping, nullptr), 0);
}

}  // namespace
}  // namespace terncard

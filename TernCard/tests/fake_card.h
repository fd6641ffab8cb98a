// A card without a machine: a register window, an I2C engine with a small
// controller at address 126, and a log of every request, installed in place
// of DeviceIoControl. One fake card serves the whole test program.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include <windows.h>

#include "lx/internal/tern_card_context.h"

namespace terncard::testing {

struct LoggedRequest {
  uint32_t code;
  uint32_t operation;
  uint32_t offset;
  uint32_t value;
};

class FakeCard {
 public:
  FakeCard();
  ~FakeCard();

  // Register file (only the window's 32-bit cells).
  uint32_t reg(uint32_t offset) const { return registers_[offset / 4]; }
  void setReg(uint32_t offset, uint32_t value) { registers_[offset / 4] = value; }

  // Controller memory, by sub-address.
  std::array<uint8_t, 256> controller{};
  void setSignature(bool present);
  // Command channel: bytes written at sub-addresses 80 and up land here, in
  // order, instead of in controller memory; reads at 84 serve the reply block.
  std::vector<uint8_t> channelWrites;
  std::array<uint8_t, 255> replyBlock{};
  // The n-th word written to REG_I2C since clearLog() (from 1) completes
  // without the acknowledge bit; 0 acknowledges every step.
  uint32_t unacknowledgedCommand = 0;

  // I2C timing: the step-done bit shows on the n-th status read after a
  // command; 0 means never.
  uint32_t pollsUntilDone = 1;
  // Overrides pollsUntilDone for the step with this control code, when nonzero.
  uint32_t slowStepCode = 0;
  uint32_t slowStepPolls = 0;
  // Requests fail (DeviceIoControl returns FALSE) while set.
  bool failRequests = false;

  // Fields: while set, REG_VIDEO_STATUS shows a signal and its field
  // indicator turns every `readsPerField` reads.
  bool fieldsTurn = false;
  uint32_t readsPerField = 2;
  // DMA faults: these REG_INT_STATUS bits rise once the engine has been
  // enabled (both enables at 3) for `faultAfterStatusReads` reads of
  // REG_VIDEO_STATUS (0: at once).
  uint32_t faultBits = 0;
  uint32_t faultAfterStatusReads = 0;

  std::vector<LoggedRequest> log;
  std::vector<uint32_t> i2cCommands;  // every word written to REG_I2C
  uint32_t statusPolls = 0;           // reads of REG_INT_STATUS

  void clearLog();
  // Writes (operation 3) to an offset, in order.
  std::vector<uint32_t> writesTo(uint32_t offset) const;

  BOOL handle(DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned);

 private:
  void runI2cCommand(uint32_t word);
  bool dmaEnabled() const;
  void raiseFaultIfDue();
  uint32_t videoStatus();

  std::mutex mutex_;  // requests may come from several threads
  std::array<uint32_t, 0x1000 / 4> registers_{};
  uint8_t transactionSub_ = 0;
  uint32_t replyIndex_ = 0;
  bool acknowledgeStep_ = true;
  uint32_t pollsLeft_ = 0;
  bool stepPending_ = false;
  uint8_t pointer_ = 0;
  bool reading_ = false;
  uint32_t videoStatusReads_ = 0;
  uint32_t readsSinceStart_ = 0;
};

// A context block of the kind BeginTernCard makes, loaded with the initial
// register table and the defaults, without a driver behind it.
struct TestContext {
  TestContext();
  ~TestContext();
  TestContext(const TestContext&) = delete;
  TestContext& operator=(const TestContext&) = delete;

  uint64_t handle() const;
  TernCardContext* lock();  // locks once more; unlock() undoes it
  void unlock();
  UINT lockCount() const;

  HGLOBAL block;
};

}  // namespace terncard::testing

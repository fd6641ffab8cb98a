#include "fake_card.h"

#include <cstring>

#include "card_handle.h"
#include "driver_channel.h"
#include "lx/internal/terncard_ioctl.h"
#include "register_map.h"

namespace terncard::testing {

namespace {

FakeCard* current = nullptr;

BOOL fakeDeviceControl(HANDLE, DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes, LPDWORD returned,
                       LPOVERLAPPED) {
  return current->handle(code, in, inBytes, out, outBytes, returned);
}

}  // namespace

FakeCard::FakeCard() {
  current = this;
  setDeviceControlForTesting(&fakeDeviceControl);
  controller[21] = 0x21;
  setSignature(true);
}

FakeCard::~FakeCard() {
  setDeviceControlForTesting(nullptr);
  current = nullptr;
}

void FakeCard::setSignature(bool present) {
  controller[12] = present ? 'K' : 0xFF;
  controller[13] = present ? 'Z' : 0xFF;
}

void FakeCard::clearLog() {
  log.clear();
  i2cCommands.clear();
  channelWrites.clear();
  statusPolls = 0;
}

std::vector<uint32_t> FakeCard::writesTo(uint32_t offset) const {
  std::vector<uint32_t> values;
  for (const LoggedRequest& r : log) {
    if (r.code == IOCTL_TERN_REG_ACCESS && r.operation == TERN_REG_WRITE_WORD && r.offset == offset) {
      values.push_back(r.value);
    }
  }
  return values;
}

BOOL FakeCard::handle(DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned) {
  const std::lock_guard lock(mutex_);
  *returned = 0;
  if (code == IOCTL_TERN_SLOT_INFO) {
    log.push_back({code, 0, 0, 0});
    if (failRequests || outBytes != sizeof(SlotInfo)) {
      return FALSE;
    }
    SlotInfo slot{5, 1, 2, 7};
    std::memcpy(out, &slot, sizeof slot);
    *returned = sizeof slot;
    return TRUE;
  }
  if (code != IOCTL_TERN_REG_ACCESS || inBytes != sizeof(RegisterRequest)) {
    return FALSE;
  }
  RegisterRequest request;
  std::memcpy(&request, in, sizeof request);
  log.push_back({code, request.operation, request.offset, request.value});
  if (failRequests || request.offset >= 0x1000) {
    return FALSE;
  }
  if (request.operation == TERN_REG_WRITE_WORD) {
    if (request.offset == REG_INT_STATUS) {
      registers_[REG_INT_STATUS / 4] &= ~request.value;
    } else if (request.offset == REG_I2C) {
      i2cCommands.push_back(request.value);
      runI2cCommand(request.value);
    } else {
      const bool wasEnabled = dmaEnabled();
      registers_[request.offset / 4] = request.value;
      if (!wasEnabled && dmaEnabled()) {
        readsSinceStart_ = 0;
        raiseFaultIfDue();
      }
    }
    return TRUE;
  }
  if (request.operation == TERN_REG_READ_WORD && outBytes >= 4) {
    uint32_t value = registers_[request.offset / 4];
    if (request.offset == REG_INT_STATUS) {
      ++statusPolls;
      if (stepPending_ && pollsLeft_ != 0 && --pollsLeft_ == 0) {
        stepPending_ = false;
        registers_[REG_INT_STATUS / 4] |= kI2cStepDone | (acknowledgeStep_ ? kI2cAcknowledged : 0);
      }
      value = registers_[REG_INT_STATUS / 4];
    } else if (request.offset == REG_VIDEO_STATUS && fieldsTurn) {
      value = videoStatus();
    }
    std::memcpy(out, &value, 4);
    *returned = 4;
    return TRUE;
  }
  return TRUE;
}

bool FakeCard::dmaEnabled() const {
  return (registers_[REG_CAPTURE_CONTROL / 4] & 3) == 3 && (registers_[REG_DMA_CONTROL / 4] & 3) == 3;
}

void FakeCard::raiseFaultIfDue() {
  if (faultBits != 0 && dmaEnabled() && readsSinceStart_ >= faultAfterStatusReads) {
    registers_[REG_INT_STATUS / 4] |= faultBits;
  }
}

uint32_t FakeCard::videoStatus() {
  constexpr uint32_t kSignal = 1u << 7, kSecondField = 1u << 5;
  const uint32_t field = videoStatusReads_++ / readsPerField;
  ++readsSinceStart_;
  raiseFaultIfDue();
  return kSignal | (field % 2 != 0 ? kSecondField : 0);
}

// A minimal engine: the start step sets the controller's pointer, later
// steps move bytes at the pointer; received bytes appear in bits 15..8.
void FakeCard::runI2cCommand(uint32_t word) {
  const uint8_t code = static_cast<uint8_t>(word);
  const uint8_t first = static_cast<uint8_t>(word >> 24);
  uint32_t received = registers_[REG_I2C / 4] & 0xFF00;
  // The command channel keeps what it is sent apart from the memory.
  auto store = [&](uint8_t byte) {
    if (transactionSub_ >= 80) {
      channelWrites.push_back(byte);
    } else {
      controller[pointer_++] = byte;
    }
  };
  auto next = [&]() -> uint32_t {
    if (transactionSub_ == 84) {
      return replyIndex_ < replyBlock.size() ? replyBlock[replyIndex_++] : 0;
    }
    return controller[pointer_++];
  };
  switch (code) {
    case 0xAB:
      pointer_ = static_cast<uint8_t>(word >> 16);
      transactionSub_ = pointer_;
      replyIndex_ = 0;
      reading_ = false;
      break;
    case 0xBF:
      // After a read-address step the engine receives, otherwise it sends.
      if (reading_) {
        received = next() << 8;
      } else {
        store(first);
      }
      break;
    case 0x9F:
      store(first);
      break;
    case 0xAF:
      reading_ = true;
      received = next() << 8;
      break;
    case 0x8B:
    case 0x9B:
      received = next() << 8;
      reading_ = false;
      break;
    default:
      break;
  }
  // An unacknowledged step also takes away the previous step's acknowledge.
  acknowledgeStep_ = unacknowledgedCommand == 0 || i2cCommands.size() != unacknowledgedCommand;
  if (!acknowledgeStep_) {
    registers_[REG_INT_STATUS / 4] &= ~kI2cAcknowledged;
  }
  registers_[REG_I2C / 4] = received | code;
  const uint32_t polls = slowStepCode != 0 && code == slowStepCode ? slowStepPolls : pollsUntilDone;
  stepPending_ = polls != 0;
  pollsLeft_ = polls;
}

TestContext::TestContext() : block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(TernCardContext))) {
  auto* context = static_cast<TernCardContext*>(GlobalLock(block));
  context->device = 0x40;  // any open-looking handle; the fake ignores it
  for (int k = 0; k < kTableRegisterCount; ++k) {
    context->registerShadow[k] = initialRegisterTable[k];
  }
  context->pllParam = 245;
  context->brightness = context->contrast = context->hue = context->saturation = context->saturationU = 128;
  context->saturationV = 91;
  context->inputWidth = 768;
  context->inputHeight = 288;
  context->outputWidth = 640;
  context->outputHeight = 240;
  context->pixelFormat = 4;
  context->bitsPerPixel = 32;
  context->boardRevisionFlag = 1;
  context->kindTag = kContextTag;
  GlobalUnlock(block);
}

TestContext::~TestContext() { GlobalFree(block); }

uint64_t TestContext::handle() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block)); }

TernCardContext* TestContext::lock() { return static_cast<TernCardContext*>(GlobalLock(block)); }

void TestContext::unlock() { GlobalUnlock(block); }

UINT TestContext::lockCount() const { return GlobalFlags(block) & GMEM_LOCKCOUNT; }

}  // namespace terncard::testing

// Frames into the static memory: a counted snap shot, and a ring that keeps
// turning until it is stopped, with the number of the frame being filled.
#include "capture_functions.h"
#include "card_dispatch.h"
#include "frame_layout.h"
#include "lx/video_capture.h"

using namespace lxvideo;

namespace {

constexpr uint32_t kSeparateFields = 1;  // mode word bit 0

struct StaticMemory {
  uint32_t pages;
  uint32_t physicalAddress;
};

// Bytes of `frames` frames of the current format and window, without wrap-around.
uint64_t requestBytes(const LxCardRecord* record, uint16_t frames) {
  return frameBytes(record->scanMode, record->outputWidth, record->outputFieldHeight, record->bytesPerPixel) * frames;
}

// The request must lie inside the static memory: start and its bytes
// counted in 64 bits, so no offset or count can wrap past the end.
bool insideStaticMemory(const StaticMemory& memory, uint32_t start, uint64_t bytes) {
  return uint64_t{start} + bytes <= uint64_t{memory.pages} * 4096;
}

uint32_t modeWord(int32_t interleave) { return interleave == 0 ? kSeparateFields : 0; }

template <typename Call>
LxStatus snapRequest(LxCardHandle handle, uint32_t start, uint16_t frames, Call call) {
  StaticMemory memory{};
  if (const LxStatus status = LxDevGetStaticMem(&memory.pages, &memory.physicalAddress); status != LX_OK) {
    return status;
  }
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (!card.idle()) {
    return LX_IN_WORK;
  }
  if (frames == 0) {
    return LX_OK;
  }
  const uint64_t bytes = requestBytes(card.get(), frames);
  if (!insideStaticMemory(memory, start, bytes)) {
    return LX_ACCESS_DEVICE_MEMORY_DENIED;
  }
  return call(card, memory.physicalAddress + start, static_cast<uint32_t>(bytes));
}

LxStatus startSnapAs(LxCardHandle handle, uint32_t start, int32_t interleave, uint16_t frames, int32_t state) {
  return snapRequest(handle, start, frames, [&](LockedCard& card, uint32_t address, uint32_t bytes) {
    card::SnapToMem snapToMem = nullptr;
    if (const LxStatus status = card.bind("SnapToMem", NameForm::PrefixThenName, &snapToMem); status != LX_OK) {
      return status;
    }
    if (snapToMem(card->context, address, bytes, modeWord(interleave), frames) == 0) {
      return LX_INTERNAL_ERROR;
    }
    setCardState(card.get(), state);
    return LX_OK;
  });
}

LxStatus stopSnapAs(LxCardHandle handle, int32_t state) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (cardState(card.get()) != state) {
    return LX_OK;
  }
  card::Capture capture = nullptr;
  if (const LxStatus status = card.bind("Capture", NameForm::PrefixThenName, &capture); status != LX_OK) {
    return status;
  }
  if (capture(card->context, 0) == 0) {
    return LX_INTERNAL_ERROR;
  }
  setCardState(card.get(), LX_CAPTURE_STATE_IDLE);
  return LX_OK;
}

LxStatus snappingNumberAs(LxCardHandle handle, int32_t* number, int32_t state, LxStatus notRunning) {
  if (number == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  *number = 0;
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (cardState(card.get()) != state) {
    return notRunning;
  }
  card::GetSnapToMemNumber query = nullptr;
  if (const LxStatus status = card.bind("GetSnapToMemNumber", NameForm::PrefixThenName, &query); status != LX_OK) {
    return status;
  }
  return statusOfResult(query(card->context, number));
}

}  // namespace

LX_EXPORT LxStatus LxSnapShot(LxCardHandle handle, uint32_t start, uint16_t waits, int32_t interleave,
                              uint16_t frames) {
  return snapRequest(handle, start, frames, [&](LockedCard& card, uint32_t address, uint32_t bytes) {
    card::CaptureToMem captureToMem = nullptr;
    if (const LxStatus status = card.bind("CaptureToMem", NameForm::PrefixThenName, &captureToMem); status != LX_OK) {
      return status;
    }
    const int32_t arrived = captureToMem(card->context, address, bytes, waits, modeWord(interleave), frames);
    return arrived == frames ? LX_OK : LX_SNAP_SHOT_TIME_OUT;
  });
}

LX_EXPORT LxStatus LxStartSnap(LxCardHandle handle, uint32_t start, int32_t interleave, uint16_t frames) {
  return startSnapAs(handle, start, interleave, frames, LX_CAPTURE_STATE_SNAP);
}

LX_EXPORT LxStatus LxStartSnapExInt(LxCardHandle handle, uint32_t start, int32_t interleave, uint16_t frames) {
  return startSnapAs(handle, start, interleave, frames, LX_CAPTURE_STATE_SNAP_EX);
}

LX_EXPORT LxStatus LxStopSnap(LxCardHandle handle) { return stopSnapAs(handle, LX_CAPTURE_STATE_SNAP); }

LX_EXPORT LxStatus LxStopSnapExInt(LxCardHandle handle) { return stopSnapAs(handle, LX_CAPTURE_STATE_SNAP_EX); }

LX_EXPORT LxStatus LxGetSnappingNumber(LxCardHandle handle, int32_t* number) {
  return snappingNumberAs(handle, number, LX_CAPTURE_STATE_SNAP, LX_NOT_START_SNAP);
}

LX_EXPORT LxStatus LxGetSnappingNumberExInt(LxCardHandle handle, int32_t* number) {
  return snappingNumberAs(handle, number, LX_CAPTURE_STATE_SNAP_EX, LX_NOT_START_SNAP_EX);
}

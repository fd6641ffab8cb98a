// Live capture into the display, a single frame there, and the field waits.
#include "capture_functions.h"
#include "card_dispatch.h"
#include "lx/video_capture.h"
#include "screen.h"

using namespace lxvideo;

namespace {

// What the card library's display functions answer.
LxStatus displayStatus(int32_t result) {
  switch (result) {
    case -2: return LX_VGA_BASE_INVALID;
    case -1: return LX_INIT_DDRAW_ERROR;
    case 0: return LX_INTERNAL_ERROR;
    default: return LX_OK;
  }
}

// Idle, the screen's depth equal to the video format's, the output window on the screen.
LxStatus displayChecks(const LxCardRecord* record) {
  if (cardState(record) != LX_CAPTURE_STATE_IDLE) {
    return LX_IN_WORK;
  }
  if ((screenBitsPerPixel() + 7) / 8 != record->bytesPerPixel) {
    return LX_VIDEO_FORMAT_INVALID;
  }
  const int64_t lines = int64_t{record->outputFieldHeight} * (record->scanMode == LX_SCAN_MODE_FRAME ? 2 : 1);
  if (int64_t{record->outputX} + record->outputWidth > record->screenWidth ||
      int64_t{record->outputY} + lines > record->screenHeight) {
    return LX_VIDEO_WINDOW_INVALID;
  }
  return LX_OK;
}

// LxCapture and LxCaptureExInt: `running` is the state of this activity.
LxStatus captureAs(LxCardHandle handle, bool enable, int32_t running, LxStatus notRunning) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (enable) {
    if (const LxStatus refused = displayChecks(card.get()); refused != LX_OK) {
      return refused;
    }
  } else if (cardState(card.get()) != running) {
    return notRunning;
  }
  card::Capture capture = nullptr;
  if (const LxStatus status = card.bind("Capture", NameForm::PrefixThenName, &capture); status != LX_OK) {
    return status;
  }
  const LxStatus status = displayStatus(capture(card->context, enable ? 1 : 0));
  if (status == LX_OK) {
    setCardState(card.get(), enable ? running : LX_CAPTURE_STATE_IDLE);
  }
  return status;
}

LxStatus waitAs(LxCardHandle handle, const char* name) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  card::WaitVSync wait = nullptr;
  if (const LxStatus status = card.bind(name, NameForm::PrefixThenName, &wait); status != LX_OK) {
    return status;
  }
  return statusOfResult(wait(card->context));
}

}  // namespace

LX_EXPORT LxStatus LxCapture(LxCardHandle handle, uint32_t enable) {
  return captureAs(handle, enable != 0, LX_CAPTURE_STATE_CAPTURE, LX_NOT_START_CAPTURE);
}

LX_EXPORT LxStatus LxCaptureExInt(LxCardHandle handle, uint8_t enable) {
  return captureAs(handle, enable != 0, LX_CAPTURE_STATE_CAPTURE_EX, LX_NOT_START_CAPTURE_EX);
}

LX_EXPORT LxStatus LxCaptureShot(LxCardHandle handle) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (const LxStatus refused = displayChecks(card.get()); refused != LX_OK) {
    return refused;
  }
  card::Snap snap = nullptr;
  if (const LxStatus status = card.bind("Snap", NameForm::PrefixThenName, &snap); status != LX_OK) {
    return status;
  }
  return displayStatus(snap(card->context));
}

LX_EXPORT LxStatus LxWaitVSync(LxCardHandle handle) { return waitAs(handle, "WaitVSync"); }

LX_EXPORT LxStatus LxWaitOddVSync(LxCardHandle handle) { return waitAs(handle, "WaitOddVSync"); }

LX_EXPORT LxStatus LxWaitEvenVSync(LxCardHandle handle) { return waitAs(handle, "WaitEvenVSync"); }

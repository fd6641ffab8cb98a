// LxCaptureEx, LxSetMonitorMethod and LxCaptureShotEx, and the table of the
// cards' monitors.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "lx/internal/card_record.h"
#include "lx/internal/card_state.h"
#include "lx/internal/handle_kinds.h"
#include "lx/monitored_capture.h"
#include "lx/video_capture.h"
#include "monitor.h"
#include "monitor_table.h"

namespace lxvidex {

MonitorTable& monitorTable() {
  // Never destroyed: a timer may still fire while the process exits.
  static MonitorTable* table = new MonitorTable;
  return *table;
}

void monitorTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  MonitorTable& table = monitorTable();
  std::lock_guard hold(table.mutex);
  for (CMonitor* monitor : table.monitors) {
    if (monitor != nullptr && monitor->Window() == window) {
      monitor->Poll();  // results are ignored: the next tick tries again
    }
  }
}

}  // namespace lxvidex

using namespace lxvidex;

namespace {

template <typename Body>
LxStatus guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  } catch (...) {
    return LX_INTERNAL_ERROR;
  }
}

bool validSlot(int32_t cardIndex) { return cardIndex >= 1 && cardIndex <= kMonitorSlots; }

// A monitor that ended its capture itself (its window went away) is
// destroyed when the card is next started or stopped.
void dropEnded(CMonitor*& slot) {
  if (slot != nullptr && slot->Ended()) {
    std::unique_ptr<CMonitor> ended(slot);
    slot = nullptr;
    ended->Stop();
  }
}

LxStatus startMonitored(LxCardHandle handle, HWND window) {
  lxkinds::CardRecordLock card(handle);
  if (!card) return LX_CARD_HANDLE_INVALID;
  if (cardState(card.get()) != LX_CAPTURE_STATE_IDLE) return LX_IN_WORK;
  if (card->maskBuffer == nullptr) return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  const int32_t cardIndex = card->cardIndex;
  if (!validSlot(cardIndex)) return LX_INTERNAL_ERROR;
  MonitorTable& table = monitorTable();
  std::lock_guard hold(table.mutex);
  CMonitor*& slot = table.monitors[cardIndex - 1];
  dropEnded(slot);
  if (slot != nullptr) return LX_IN_WORK;
  std::unique_ptr<CMonitor> monitor(new (std::nothrow) CMonitor);
  if (monitor == nullptr) return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  if (const LxStatus status = monitor->Setup(handle, window); status != LX_OK) return status;
  if (const LxStatus status = monitor->Start(); status != LX_OK) return status;
  slot = monitor.release();
  return LX_OK;
}

LxStatus stopMonitored(LxCardHandle handle) {
  lxkinds::CardRecordLock card(handle);
  if (!card) return LX_CARD_HANDLE_INVALID;
  const int32_t cardIndex = card->cardIndex;
  const bool capturing = cardState(card.get()) == LX_CAPTURE_STATE_CAPTURE_EX;
  MonitorTable& table = monitorTable();
  std::lock_guard hold(table.mutex);
  CMonitor** slot = validSlot(cardIndex) ? &table.monitors[cardIndex - 1] : nullptr;
  if (slot != nullptr) dropEnded(*slot);
  // A running monitor's thread leaves the card idle for a moment while it
  // rebuilds the mask: the monitor, not that moment's state, says whether
  // the card is in monitored capture.
  const bool monitored = slot != nullptr && *slot != nullptr;
  if (!capturing && !monitored) return LX_NOT_START_CAPTURE_EX;
  if (!monitored) return LX_INTERNAL_ERROR;
  if (const LxStatus status = (*slot)->Stop(); status != LX_OK) return status;
  delete *slot;
  *slot = nullptr;
  return LX_OK;
}

}  // namespace

LX_EXPORT LxStatus LxCaptureEx(LxCardHandle handle, HWND window, int enable) {
  return guarded([&] { return enable != 0 ? startMonitored(handle, window) : stopMonitored(handle); });
}

LX_EXPORT LxStatus LxSetMonitorMethod(LxCardHandle handle, uint32_t method) {
  if (method > 1) return LX_PARAMETER_OUT_OF_BOUND;
  lxkinds::CardRecordLock card(handle);
  if (!card) return LX_CARD_HANDLE_INVALID;
  card->monitorMethod = static_cast<int32_t>(method);
  return LX_OK;
}

LX_EXPORT LxStatus LxCaptureShotEx(LxCardHandle handle, HWND window) {
  return guarded([&]() -> LxStatus {
    lxkinds::CardRecordLock card(handle);
    if (!card) return LX_INTERNAL_ERROR;
    // The mask below belongs to a capture already running on the card.
    if (cardState(card.get()) != LX_CAPTURE_STATE_IDLE) return LX_IN_WORK;
    if (card->maskBuffer == nullptr) return LX_NOT_ENOUGH_SYSTEM_MEMORY;
    RECT client{};
    POINT topLeft{0, 0};
    if (!GetClientRect(window, &client) || !ClientToScreen(window, &topLeft)) return LX_PARAMETER_INVALID;
    POINT bottomRight{client.right, client.bottom};
    ClientToScreen(window, &bottomRight);

    std::vector<uint8_t> keptMask(card->maskBuffer, card->maskBuffer + LX_MASK_BYTES);
    const int32_t keptEnabled = card->maskEnabled;
    std::memset(card->maskBuffer, 0xFF, LX_MASK_BYTES);

    const int32_t rows = card->outputFieldHeight * (card->scanMode == 0 ? 2 : 1);
    const int32_t width = card->outputWidth;
    const int32_t cx = bottomRight.x - card->outputX;
    const int32_t cy = bottomRight.y - card->outputY;
    if (width - cx >= 1 && rows >= 1) {
      for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = cx < 0 ? 0 : cx; x < width; ++x) LxSetPixelMask(handle, x, y, 1);
      }
    }
    for (int32_t y = cy < 0 ? 0 : cy; y < rows; ++y) {
      for (int32_t x = 0; x < width; ++x) LxSetPixelMask(handle, x, y, 1);
    }
    LxStatus result = LxEnableMask(handle, 1);
    if (result == LX_OK) {
      if (keptEnabled != 0) {
        for (uint32_t i = 0; i < LX_MASK_BYTES; ++i) card->maskBuffer[i] &= keptMask[i];
      }
      result = LxCaptureShot(handle);
    }
    if (keptEnabled == 0) LxEnableMask(handle, 0);
    std::memcpy(card->maskBuffer, keptMask.data(), LX_MASK_BYTES);
    return result;
  });
}

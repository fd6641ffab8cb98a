#include "monitor.h"

#include <cstring>
#include <new>

#include "lx/internal/card_record.h"
#include "lx/internal/handle_kinds.h"
#include "lx/video_capture.h"
#include "mask_rectangles.h"
#include "monitor_table.h"

namespace lxvidex {
namespace {

constexpr DWORD kRegionHeaderBytes = sizeof(RGNDATAHEADER);
constexpr int kClipListReads = 4;          // the list may grow between asking and reading
constexpr DWORD kThreadEndWaitMs = 5000;   // an update's card calls are bounded well below this

void presetHeader(uint8_t* buffer) {
  RGNDATAHEADER header{};
  header.dwSize = kRegionHeaderBytes;
  header.iType = RDH_RECTANGLES;
  std::memcpy(buffer, &header, sizeof header);
}

RGNDATAHEADER headerOf(const uint8_t* buffer) {
  RGNDATAHEADER header;
  std::memcpy(&header, buffer, sizeof header);
  return header;
}

}  // namespace

CMonitor::CMonitor() : savedMask_(new uint8_t[LX_MASK_BYTES]()) {}

CMonitor::~CMonitor() { Release(); }

void CMonitor::Release() {
  if (primarySurface_ != nullptr) {
    primarySurface_->Release();
    primarySurface_ = nullptr;
  }
  if (clipper_ != nullptr) {
    clipper_->Release();
    clipper_ = nullptr;
  }
  if (directDraw_ != nullptr) {
    directDraw_->SetCooperativeLevel(window_, DDSCL_NORMAL);
    directDraw_->Release();
    directDraw_ = nullptr;
  }
  clipLists_[0].reset();
  clipLists_[1].reset();
}

LxStatus CMonitor::Setup(LxCardHandle handle, HWND window) {
  if (handle == nullptr || window == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  Release();
  if (DirectDrawCreate(nullptr, &directDraw_, nullptr) != DD_OK) {
    return LX_INIT_DDRAW_ERROR;
  }
  if (directDraw_->SetCooperativeLevel(window, DDSCL_NORMAL) != DD_OK) {
    return LX_INIT_DDRAW_ERROR;
  }
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  if (directDraw_->CreateSurface(&desc, &primarySurface_, nullptr) != DD_OK) {
    return LX_INIT_DDRAW_ERROR;
  }
  if (directDraw_->CreateClipper(0, &clipper_, nullptr) != DD_OK || clipper_->SetHWnd(0, window) != DD_OK) {
    return LX_INIT_DDRAW_ERROR;
  }
  window_ = window;
  handle_ = handle;
  lxkinds::CardRecordLock card(handle);
  if (!card) {
    return LX_INTERNAL_ERROR;
  }
  monitorMethod_ = card->monitorMethod;
  return LX_OK;
}

LxStatus CMonitor::Start() {
  switch (monitorMethod_) {
    case 0:
      return StartTimer();
    case 1:
      return StartThread();
    default:
      return LX_INTERNAL_ERROR;
  }
}

LxStatus CMonitor::StartTimer() {
  // A window's timers run on its own thread: a caller on another thread
  // would get a mask that never follows the window.
  if (SetTimer(window_, kMonitorTimerId, 0, monitorTimerProc) == 0) {
    return LX_INTERNAL_ERROR;
  }
  if (const LxStatus status = LxCaptureExInt(handle_, 1); status != LX_OK) {
    KillTimer(window_, kMonitorTimerId);
    return status;
  }
  if (const LxStatus status = CopyMaskSettings(); status != LX_OK) {
    KillTimer(window_, kMonitorTimerId);
    return status;
  }
  return LX_OK;
}

LxStatus CMonitor::StartThread() {
  if (thread_ != nullptr) {
    return LX_INTERNAL_ERROR;
  }
  thread_ = CreateThread(nullptr, 0, ThreadMain, this, CREATE_SUSPENDED, &threadId_);
  if (thread_ == nullptr) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
  LxStatus status = LxCaptureExInt(handle_, 1);
  if (status == LX_OK) {
    status = CopyMaskSettings();
  }
  if (status != LX_OK) {
    // The thread never ran: with running 0 it ends at once.
    ResumeThread(thread_);
    WaitForSingleObject(thread_, kThreadEndWaitMs);
    CloseHandle(thread_);
    thread_ = nullptr;
    return status;
  }
  SetThreadPriority(thread_, THREAD_PRIORITY_IDLE);
  ResumeThread(thread_);
  return LX_OK;
}

// Takes over the card's mask: remembers it, and clears it so nothing shows
// until the first update has read the clip list.
LxStatus CMonitor::CopyMaskSettings() {
  lxkinds::CardRecordLock card(handle_);
  if (!card) {
    const LxStatus stopped = LxCaptureExInt(handle_, 0);
    return stopped != LX_OK ? stopped : LX_INTERNAL_ERROR;
  }
  mask_ = card->maskBuffer;
  maskBitOrder_ = card->maskBitOrder;
  savedMaskEnabled_ = card->maskEnabled;
  scanMode_ = card->scanMode;
  maskSize_ = LX_MASK_BYTES;
  maskLineBytes_ = LX_MASK_LINE_BYTES;
  maskField0_ = mask_;
  maskField1_ = mask_ + LX_MASK_FIELD_BYTES;
  std::memcpy(savedMask_.get(), mask_, LX_MASK_BYTES);
  std::memset(mask_, 0, LX_MASK_BYTES);
  running_.store(1);
  return LX_OK;
}

DWORD WINAPI CMonitor::ThreadMain(LPVOID self) {
  auto* monitor = static_cast<CMonitor*>(self);
  while (monitor->running_.load() != 0) {
    Sleep(1);
    if (monitor->running_.load() == 0) break;
    if (monitor->Poll() != LX_OK) break;  // capture goes on unmonitored
  }
  return 0;
}

LxStatus CMonitor::Poll() {
  if (running_.load() == 0) {
    return LX_OK;
  }
  if (!IsWindow(window_)) {
    return EndWithWindow();
  }
  BOOL changed = FALSE;
  if (clipper_ == nullptr || clipper_->IsClipListChanged(&changed) != DD_OK || !changed) {
    return LX_OK;
  }
  return Update();
}

// The window went away: nothing is left to show video in, so the capture
// stops and the card gets its own mask back.
LxStatus CMonitor::EndWithWindow() {
  running_.store(0);
  ended_.store(true);
  LxCaptureExInt(handle_, 0);
  std::memcpy(mask_, savedMask_.get(), LX_MASK_BYTES);
  LxEnableMask(handle_, savedMaskEnabled_);
  return LX_NOT_START_CAPTURE_EX;
}

LxStatus CMonitor::ReadClipList(const RECT& captureRect) {
  RECT clip = captureRect;
  DWORD needed = 0;
  if (clipper_->GetClipList(&clip, nullptr, &needed) != DD_OK) {
    return LX_INTERNAL_ERROR;
  }
  for (int read = 0; read < kClipListReads; ++read) {
    std::unique_ptr<uint8_t[]>& buffer = clipLists_[current_];
    if (buffer == nullptr || needed > clipCapacity_[current_]) {
      const uint32_t capacity = needed > clipCapacity_[current_] ? needed : clipCapacity_[current_];
      buffer.reset(new (std::nothrow) uint8_t[capacity]);
      if (buffer == nullptr) {
        return LX_NOT_ENOUGH_SYSTEM_MEMORY;
      }
      clipCapacity_[current_] = capacity;
    }
    presetHeader(buffer.get());
    DWORD size = clipCapacity_[current_];
    const HRESULT result = clipper_->GetClipList(&clip, reinterpret_cast<LPRGNDATA>(buffer.get()), &size);
    if (result == DD_OK) {
      return LX_OK;
    }
    if (result != DDERR_REGIONTOOSMALL) {
      return LX_INTERNAL_ERROR;
    }
    needed = size;  // grew since it was asked for: fetch again at its size
  }
  return LX_INTERNAL_ERROR;
}

LxStatus CMonitor::Update() {
  {
    lxkinds::CardRecordLock card(handle_);
    if (!card) {
      return LX_CARD_HANDLE_INVALID;
    }
    const int32_t rows = card->outputFieldHeight * (scanMode_ == 0 ? 2 : 1);
    // Right and bottom exclusive, as clip rectangles are: the output
    // window's last column and row belong to it.
    captureRect_[0] = card->outputX;
    captureRect_[1] = card->outputY;
    captureRect_[2] = card->outputX + card->outputWidth;
    captureRect_[3] = card->outputY + rows;
  }
  const RECT captureRect{captureRect_[0], captureRect_[1], captureRect_[2], captureRect_[3]};
  if (const LxStatus status = ReadClipList(captureRect); status != LX_OK) {
    return status;
  }
  uint8_t* list = clipLists_[current_].get();
  const RGNDATAHEADER header = headerOf(list);
  auto* rects = reinterpret_cast<RECT*>(list + kRegionHeaderBytes);
  for (DWORD i = 0; i < header.nCount; ++i) {
    rects[i].left -= captureRect.left;
    rects[i].right -= captureRect.left;
    rects[i].top -= captureRect.top;
    rects[i].bottom -= captureRect.top;
  }
  const uint8_t* previous = clipLists_[1 - current_].get();
  if (previous != nullptr) {
    const RGNDATAHEADER before = headerOf(previous);
    if (before.nCount == header.nCount &&
        std::memcmp(previous, list, kRegionHeaderBytes + header.nCount * sizeof(RECT)) == 0) {
      return LX_OK;
    }
  }
  const LxStatus status = RebuildMask();
  if (status != LX_OK) {
    return status;
  }
  RedrawWindow(nullptr, &lastWindowRect_, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASENOW | RDW_FRAME);
  if (header.nCount == 1) {
    GetWindowRect(window_, &lastWindowRect_);
  }
  current_ = 1 - current_;
  return LX_OK;
}

LxStatus CMonitor::RebuildMask() {
  LxCaptureExInt(handle_, 0);
  LxEnableMask(handle_, 1);
  std::memset(mask_, 0, LX_MASK_BYTES);
  const uint8_t* list = clipLists_[current_].get();
  const RGNDATAHEADER header = headerOf(list);
  const MaskLayout layout{maskField0_, maskField1_, maskBitOrder_, scanMode_};
  for (DWORD i = 0; i < header.nCount; ++i) {
    RECT rect;
    std::memcpy(&rect, list + kRegionHeaderBytes + i * sizeof(RECT), sizeof rect);
    setRectangleBits(layout, rect);
  }
  if (savedMaskEnabled_ != 0) {
    // Pixels the application hid stay hidden.
    for (uint32_t i = 0; i < LX_MASK_BYTES; ++i) mask_[i] &= savedMask_[i];
  }
  return LxCaptureExInt(handle_, 1);
}

LxStatus CMonitor::Stop() {
  if (monitorMethod_ == 0) {
    running_.store(0);
    KillTimer(window_, kMonitorTimerId);  // fails harmlessly for a window already gone
  } else if (monitorMethod_ == 1) {
    running_.store(0);
    if (thread_ != nullptr) {
      if (WaitForSingleObject(thread_, kThreadEndWaitMs) != WAIT_OBJECT_0) {
        return LX_INTERNAL_ERROR;  // still inside an update: the monitor must live on
      }
      CloseHandle(thread_);
      thread_ = nullptr;
    }
  }
  if (ended_.load()) {
    return LX_OK;  // the capture already stopped and the mask came back
  }
  if (const LxStatus status = LxCaptureExInt(handle_, 0); status != LX_OK) {
    return status;
  }
  std::memcpy(mask_, savedMask_.get(), LX_MASK_BYTES);
  return LxEnableMask(handle_, savedMaskEnabled_);
}

}  // namespace lxvidex

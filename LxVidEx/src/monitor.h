// CMonitor: one card's monitored capture. It watches the window's clip list
// through a DirectDraw clipper and, when it changes, stops the capture,
// rebuilds the card's mask from the visible rectangles, restarts the capture
// and has the screen repainted.
#pragma once

#include <ddraw.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "lx/status.h"
#include "lx/video_card.h"
#include "lx/video_types.h"

namespace lxvidex {

inline constexpr UINT_PTR kMonitorTimerId = 970103;

class CMonitor {
 public:
  CMonitor();
  virtual ~CMonitor();
  CMonitor(const CMonitor&) = delete;
  CMonitor& operator=(const CMonitor&) = delete;

  LxStatus Setup(LxCardHandle handle, HWND window);
  LxStatus Start();
  LxStatus Stop();
  // Runs an update when the clip list changed (or ends the capture when the
  // window is gone); the update's status, LX_OK when nothing changed.
  LxStatus Poll();
  LxStatus Update();

  HWND Window() const { return window_; }
  // Set once the monitor ended the capture itself (its window went away).
  bool Ended() const { return ended_.load(); }

 private:
  void Release();
  LxStatus StartTimer();
  LxStatus StartThread();
  LxStatus CopyMaskSettings();
  LxStatus ReadClipList(const RECT& captureRect);
  LxStatus RebuildMask();
  LxStatus EndWithWindow();
  static DWORD WINAPI ThreadMain(LPVOID self);

  IDirectDraw* directDraw_ = nullptr;
  IDirectDrawSurface* primarySurface_ = nullptr;
  IDirectDrawClipper* clipper_ = nullptr;
  HWND window_ = nullptr;
  LxCardHandle handle_ = nullptr;
  std::unique_ptr<uint8_t[]> clipLists_[2];
  uint32_t clipCapacity_[2] = {512, 512};
  int32_t current_ = 0;
  RECT lastWindowRect_{};
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  std::atomic<int32_t> running_{0};
  std::unique_ptr<uint8_t[]> savedMask_;
  int32_t savedMaskEnabled_ = 0;
  int32_t maskBitOrder_ = 0;
  uint8_t* mask_ = nullptr;
  int32_t maskSize_ = LX_MASK_BYTES;
  int32_t scanMode_ = 0;
  int32_t maskLineBytes_ = LX_MASK_LINE_BYTES;
  uint8_t* maskField0_ = nullptr;
  uint8_t* maskField1_ = nullptr;
  int32_t monitorMethod_ = 0;
  int32_t captureRect_[4] = {0, 0, 0, 0};
  std::atomic<bool> ended_{false};
};

}  // namespace lxvidex

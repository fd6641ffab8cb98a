// The screen's video memory for tests: the primary surface, locked through
// DirectDraw for one scope, in the display's current mode.
#pragma once

#include <ddraw.h>

#include <cstdint>

namespace terncard::testing {

class VideoMemory {
 public:
  VideoMemory() {
    if (DirectDrawCreate(nullptr, &draw_, nullptr) != DD_OK || draw_->SetCooperativeLevel(nullptr, DDSCL_NORMAL) != DD_OK) {
      return;
    }
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (draw_->CreateSurface(&desc, &surface_, nullptr) != DD_OK) {
      return;
    }
    DDSURFACEDESC locked{};
    locked.dwSize = sizeof locked;
    if (surface_->Lock(nullptr, &locked, DDLOCK_WAIT, nullptr) == DD_OK) {
      pixels_ = static_cast<uint8_t*>(locked.lpSurface);
      pitch_ = static_cast<uint32_t>(locked.lPitch);
    }
  }
  ~VideoMemory() {
    if (pixels_ != nullptr) {
      surface_->Unlock(nullptr);
    }
    if (surface_ != nullptr) {
      surface_->Release();
    }
    if (draw_ != nullptr) {
      draw_->Release();
    }
  }
  VideoMemory(const VideoMemory&) = delete;
  VideoMemory& operator=(const VideoMemory&) = delete;

  uint8_t* line(uint32_t y) const { return pixels_ + y * pitch_; }
  // Pixel x of line y on a 32-bit screen.
  uint8_t* at(uint32_t x, uint32_t y) const { return line(y) + 4 * x; }
  uint32_t pitch() const { return pitch_; }
  explicit operator bool() const { return pixels_ != nullptr; }

 private:
  IDirectDraw* draw_ = nullptr;
  IDirectDrawSurface* surface_ = nullptr;
  uint8_t* pixels_ = nullptr;
  uint32_t pitch_ = 0;
};

}  // namespace terncard::testing

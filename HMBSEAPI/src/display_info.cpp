// Description of the primary display and the physical address of its frame
// buffer, for capture straight onto the screen.
#include <cstring>

#include <ddraw.h>

#include "lx/hmbseapi.h"
#include "service_device.h"

namespace {

// Releases a DirectDraw object or surface on every path.
template <typename Interface>
class Released {
 public:
  Released() = default;
  ~Released() {
    if (object_ != nullptr) {
      object_->Release();
    }
  }
  Released(const Released&) = delete;
  Released& operator=(const Released&) = delete;
  Interface** out() { return &object_; }
  Interface* operator->() const { return object_; }

 private:
  Interface* object_ = nullptr;
};

constexpr DWORD kRgb555Red = 0x7C00;
constexpr DWORD kRgb555Green = 0x03E0;
constexpr DWORD kRgb555Blue = 0x001F;

void describeFormat(const DDSURFACEDESC& desc, DisplayInfo* info) {
  const DDPIXELFORMAT& format = desc.ddpfPixelFormat;
  if ((format.dwFlags & DDPF_RGB) == 0) {
    return;  // size fields stay 0 for a surface without an RGB format
  }
  info->Width = desc.dwWidth;
  info->Height = desc.dwHeight;
  info->BytesPerPixel = (format.dwRGBBitCount + 7) / 8;
  info->PitchPixels = info->BytesPerPixel != 0 ? static_cast<uint32_t>(desc.lPitch) / info->BytesPerPixel : 0;
  const bool is555 = format.dwRGBBitCount == 16 && format.dwRBitMask == kRgb555Red &&
                     format.dwGBitMask == kRgb555Green && format.dwBBitMask == kRgb555Blue;
  info->BitsPerPixel = is555 ? 15 : format.dwRGBBitCount;
}

// Locks the whole primary surface and asks the driver for the physical
// address behind the lock's address; both outcomes are ignored (0 stays).
void findFrameBuffer(IDirectDrawSurface* surface, DisplayInfo* info) {
  DDSURFACEDESC locked;
  std::memset(&locked, 0, sizeof locked);
  locked.dwSize = sizeof locked;
  const bool isLocked = surface->Lock(nullptr, &locked, 0, nullptr) == DD_OK;
  const uint64_t address = isLocked ? reinterpret_cast<uint64_t>(locked.lpSurface) : 0;
  hmb::sendServiceRequest(IOCTL_HMB_PHYSICAL_ADDRESS, &address, sizeof address, &info->FrameBufferAddress,
                          sizeof info->FrameBufferAddress);
  if (isLocked) {
    surface->Unlock(locked.lpSurface);
  }
}

}  // namespace

LX_EXPORT int32_t HmbGetDisplayInfo(DisplayInfo* info) {
  if (info == nullptr) {
    return 0;
  }
  std::memset(info, 0, sizeof *info);
  {
    Released<IDirectDraw> directDraw;
    if (DirectDrawCreate(nullptr, directDraw.out(), nullptr) != DD_OK) {
      return 0;
    }
    if (directDraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL) != DD_OK) {
      return 0;
    }
    DDSURFACEDESC request;
    std::memset(&request, 0, sizeof request);
    request.dwSize = sizeof request;
    request.dwFlags = DDSD_CAPS;
    request.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    // Declared after the object so that the surface is released first.
    Released<IDirectDrawSurface> primary;
    if (directDraw->CreateSurface(&request, primary.out(), nullptr) != DD_OK) {
      return 0;
    }
    DDSURFACEDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    if (primary->GetSurfaceDesc(&desc) != DD_OK) {
      return 0;
    }
    describeFormat(desc, info);
    findFrameBuffer(primary.operator->(), info);
  }
  // The answer is discarded; the request only tells that the driver is there.
  uint32_t adapter[2] = {0, 0};
  if (!hmb::sendServiceRequest(IOCTL_HMB_FIND_DISPLAY_ADAPTER, nullptr, 0, adapter, sizeof adapter)) {
    return 0;
  }
  info->OriginX = 0;
  info->OriginY = 0;
  return 1;
}

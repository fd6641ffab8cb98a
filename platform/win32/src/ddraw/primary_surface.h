// The primary surface of the machine's display and the DirectDraw object
// that creates it.
#pragma once

#include <ddraw.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "lxmachine/wire.h"

namespace lx::win32::ddraw {

// The display mode as the machine reports it; false when it cannot.
bool queryDisplayMode(lxm::wire::DisplayModeRecord* mode);

// Fills a surface description from a mode (caps, size, pitch, pixel format).
void describeSurface(const lxm::wire::DisplayModeRecord& mode, DDSURFACEDESC* desc);

class PrimarySurface final : public IDirectDrawSurface {
public:
    explicit PrimarySurface(const lxm::wire::DisplayModeRecord& mode) : mode_(mode) {}

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetSurfaceDesc(LPDDSURFACEDESC desc) override;
    HRESULT Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event) override;
    HRESULT Unlock(LPVOID surfaceData) override;

private:
    ~PrimarySurface() override;

    const lxm::wire::DisplayModeRecord mode_;  // taken when the surface was made
    std::atomic<ULONG> references_{1};
    std::mutex lockMutex_;
    void* lockedView_ = nullptr;  // the frame buffer mapped while locked
};

class DirectDraw final : public IDirectDraw {
public:
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT CreateSurface(LPDDSURFACEDESC desc, IDirectDrawSurface** surface, void* outer) override;
    HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** clipper, void* outer) override;

private:
    ~DirectDraw() override = default;

    std::atomic<ULONG> references_{1};
    std::atomic<bool> cooperativeLevelSet_{false};
};

}  // namespace lx::win32::ddraw

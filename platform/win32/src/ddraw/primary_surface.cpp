#include "ddraw/primary_surface.h"

#include <cstring>
#include <new>

#include "client/machine_session.h"

namespace lx::win32::ddraw {

bool queryDisplayMode(lxm::wire::DisplayModeRecord* mode) {
    auto reply = client::callMachine(lxm::wire::Op::DisplayMode, {});
    if (!reply || reply->status != 0 || reply->data.size() != sizeof *mode) {
        return false;
    }
    std::memcpy(mode, reply->data.data(), sizeof *mode);
    return mode->width != 0 && mode->height != 0 && mode->pitch != 0;
}

void describeSurface(const lxm::wire::DisplayModeRecord& mode, DDSURFACEDESC* desc) {
    const DWORD size = desc->dwSize;
    std::memset(desc, 0, sizeof *desc);
    desc->dwSize = size;
    desc->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    desc->dwWidth = mode.width;
    desc->dwHeight = mode.height;
    desc->lPitch = static_cast<LONG>(mode.pitch);
    desc->ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_VIDEOMEMORY | DDSCAPS_VISIBLE;
    DDPIXELFORMAT& format = desc->ddpfPixelFormat;
    format.dwSize = sizeof format;
    if (mode.bits == 8) {
        format.dwFlags = DDPF_PALETTEINDEXED8 | DDPF_RGB;  // palette indices, no masks
        format.dwRGBBitCount = 8;
        return;
    }
    format.dwFlags = DDPF_RGB;
    // 15-bit modes store 16-bit pixels; the masks tell the layouts apart.
    format.dwRGBBitCount = mode.bits == 15 ? 16 : mode.bits;
    format.dwRBitMask = mode.redMask;
    format.dwGBitMask = mode.greenMask;
    format.dwBBitMask = mode.blueMask;
}

// ---- surface -------------------------------------------------------------------

PrimarySurface::~PrimarySurface() {
    if (lockedView_ != nullptr) {
        client::unmapPhysicalView(lockedView_);
    }
}

ULONG PrimarySurface::AddRef() { return references_.fetch_add(1) + 1; }

ULONG PrimarySurface::Release() {
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT PrimarySurface::GetSurfaceDesc(LPDDSURFACEDESC desc) {
    if (desc == nullptr || desc->dwSize != sizeof *desc) {
        return DDERR_INVALIDPARAMS;
    }
    describeSurface(mode_, desc);
    return DD_OK;
}

HRESULT PrimarySurface::Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD, HANDLE) {
    if (rect != nullptr || desc == nullptr || desc->dwSize != sizeof *desc) {
        return DDERR_INVALIDPARAMS;  // only the whole surface can be locked
    }
    std::lock_guard hold(lockMutex_);
    if (lockedView_ != nullptr) {
        return DDERR_SURFACEBUSY;
    }
    // The frame buffer, mapped and recorded with the machine so that the
    // kernel can translate addresses inside it.
    const uint64_t bytes = uint64_t{mode_.pitch} * mode_.height;
    if (bytes == 0 || bytes > mode_.frameBufferSize) {
        return DDERR_GENERIC;
    }
    void* view = client::mapPhysicalView(mode_.frameBufferPhysical, bytes);
    if (view == nullptr) {
        return DDERR_GENERIC;
    }
    lockedView_ = view;
    describeSurface(mode_, desc);
    desc->dwFlags |= DDSD_LPSURFACE;
    desc->lpSurface = view;
    return DD_OK;
}

HRESULT PrimarySurface::Unlock(LPVOID surfaceData) {
    std::lock_guard hold(lockMutex_);
    if (lockedView_ == nullptr || (surfaceData != nullptr && surfaceData != lockedView_)) {
        return DDERR_NOTLOCKED;
    }
    client::unmapPhysicalView(lockedView_);
    lockedView_ = nullptr;
    return DD_OK;
}

// ---- DirectDraw object ---------------------------------------------------------------

ULONG DirectDraw::AddRef() { return references_.fetch_add(1) + 1; }

ULONG DirectDraw::Release() {
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT DirectDraw::SetCooperativeLevel(HWND, DWORD flags) {
    if (flags != DDSCL_NORMAL) {
        return DDERR_UNSUPPORTED;  // the machine's screen is shared, never exclusive
    }
    cooperativeLevelSet_.store(true);
    return DD_OK;
}

HRESULT DirectDraw::CreateSurface(LPDDSURFACEDESC desc, IDirectDrawSurface** surface, void* outer) {
    if (surface == nullptr) {
        return DDERR_INVALIDPARAMS;
    }
    *surface = nullptr;
    if (desc == nullptr || desc->dwSize != sizeof *desc || outer != nullptr || (desc->dwFlags & DDSD_CAPS) == 0 ||
        (desc->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) == 0) {
        return DDERR_INVALIDPARAMS;  // only the primary surface exists here
    }
    if (!cooperativeLevelSet_.load()) {
        return DDERR_NOCOOPERATIVELEVELSET;
    }
    lxm::wire::DisplayModeRecord mode{};
    if (!queryDisplayMode(&mode)) {
        return DDERR_NODIRECTDRAWHW;
    }
    auto* primary = new (std::nothrow) PrimarySurface(mode);
    if (primary == nullptr) {
        return DDERR_OUTOFMEMORY;
    }
    *surface = primary;
    return DD_OK;
}

}  // namespace lx::win32::ddraw

using lx::win32::ddraw::DirectDraw;
using lx::win32::ddraw::queryDisplayMode;

WIN32_API HRESULT WINAPI DirectDrawCreate(GUID* guid, LPDIRECTDRAW* directDraw, void* outer) {
    if (directDraw == nullptr) {
        return DDERR_INVALIDPARAMS;
    }
    *directDraw = nullptr;
    if (guid != nullptr || outer != nullptr) {
        return DDERR_INVALIDPARAMS;  // only the primary display driver
    }
    lxm::wire::DisplayModeRecord mode{};
    if (!queryDisplayMode(&mode)) {
        return DDERR_NODIRECTDRAWHW;
    }
    auto* object = new (std::nothrow) DirectDraw;
    if (object == nullptr) {
        return DDERR_OUTOFMEMORY;
    }
    *directDraw = object;
    return DD_OK;
}

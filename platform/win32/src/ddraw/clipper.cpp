#include "ddraw/clipper.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ddraw/primary_surface.h"
#include "user/gui_bridge.h"

namespace lx::win32::ddraw {
namespace {

bool intersect(const RECT& a, const RECT& b, RECT* out) {
    out->left = std::max(a.left, b.left);
    out->top = std::max(a.top, b.top);
    out->right = std::min(a.right, b.right);
    out->bottom = std::min(a.bottom, b.bottom);
    return out->left < out->right && out->top < out->bottom;
}

bool sameRects(const std::vector<RECT>& a, const std::vector<RECT>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(RECT)) == 0);
}

}  // namespace

std::vector<RECT> visibleRectangles(HWND window) {
    const Win32GuiBridge* bridge = user::guiBridge();
    if (bridge == nullptr || window == nullptr) {
        return {};
    }
    std::vector<RECT> rects(16);
    int count = bridge->visibleRegion(window, rects.data(), static_cast<int>(rects.size()));
    // The region may grow between the two calls: ask until it fits.
    for (int tries = 0; count > static_cast<int>(rects.size()) && tries < 8; ++tries) {
        rects.resize(static_cast<size_t>(count));
        count = bridge->visibleRegion(window, rects.data(), static_cast<int>(rects.size()));
    }
    if (count < 0 || count > static_cast<int>(rects.size())) {
        return {};
    }
    rects.resize(static_cast<size_t>(count));
    lxm::wire::DisplayModeRecord mode{};
    if (!queryDisplayMode(&mode)) {
        return {};
    }
    const RECT screen{0, 0, static_cast<LONG>(mode.width), static_cast<LONG>(mode.height)};
    std::vector<RECT> onScreen;
    for (const RECT& r : rects) {
        RECT inside;
        if (intersect(r, screen, &inside)) onScreen.push_back(inside);
    }
    return onScreen;
}

ULONG Clipper::AddRef() { return references_.fetch_add(1) + 1; }

ULONG Clipper::Release() {
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT Clipper::SetHWnd(DWORD flags, HWND window) {
    if (flags != 0) {
        return DDERR_INVALIDPARAMS;
    }
    std::lock_guard hold(mutex_);
    window_ = window;
    lastSeen_.reset();
    return DD_OK;
}

HRESULT Clipper::GetHWnd(HWND* window) {
    if (window == nullptr) {
        return DDERR_INVALIDPARAMS;
    }
    std::lock_guard hold(mutex_);
    *window = window_;
    return DD_OK;
}

HRESULT Clipper::GetClipList(LPRECT clip, LPRGNDATA data, LPDWORD size) {
    if (size == nullptr) {
        return DDERR_INVALIDPARAMS;
    }
    std::lock_guard hold(mutex_);
    if (window_ == nullptr) {
        return DDERR_NOCLIPLIST;
    }
    const std::vector<RECT> region = visibleRectangles(window_);
    std::vector<RECT> rects;
    for (const RECT& r : region) {
        RECT inside = r;
        if (clip == nullptr || intersect(r, *clip, &inside)) rects.push_back(inside);
    }
    const DWORD needed = static_cast<DWORD>(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
    if (data == nullptr) {
        *size = needed;
        return DD_OK;
    }
    if (*size < needed) {
        *size = needed;
        return DDERR_REGIONTOOSMALL;
    }
    RGNDATAHEADER header{};
    header.dwSize = sizeof header;
    header.iType = RDH_RECTANGLES;
    header.nCount = static_cast<DWORD>(rects.size());
    header.nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
    for (size_t i = 0; i < rects.size(); ++i) {
        const RECT& r = rects[i];
        RECT& bound = header.rcBound;
        if (i == 0) {
            bound = r;
        } else {
            bound = RECT{std::min(bound.left, r.left), std::min(bound.top, r.top), std::max(bound.right, r.right),
                         std::max(bound.bottom, r.bottom)};
        }
    }
    std::memcpy(&data->rdh, &header, sizeof header);
    if (!rects.empty()) {
        std::memcpy(data->Buffer, rects.data(), rects.size() * sizeof(RECT));
    }
    lastSeen_ = region;
    return DD_OK;
}

HRESULT Clipper::IsClipListChanged(BOOL* changed) {
    if (changed == nullptr) {
        return DDERR_INVALIDPARAMS;
    }
    std::lock_guard hold(mutex_);
    if (window_ == nullptr) {
        return DDERR_NOHWND;
    }
    *changed = !lastSeen_ || !sameRects(*lastSeen_, visibleRectangles(window_));
    return DD_OK;
}

HRESULT DirectDraw::CreateClipper(DWORD flags, IDirectDrawClipper** clipper, void* outer) {
    if (clipper == nullptr) {
        return DDERR_INVALIDPARAMS;
    }
    *clipper = nullptr;
    if (flags != 0 || outer != nullptr) {
        return DDERR_INVALIDPARAMS;
    }
    auto* made = new (std::nothrow) Clipper;
    if (made == nullptr) {
        return DDERR_OUTOFMEMORY;
    }
    *clipper = made;
    return DD_OK;
}

}  // namespace lx::win32::ddraw

// The DirectDraw clipper: a window's visible region from the GUI bridge.
#pragma once

#include <ddraw.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

namespace lx::win32::ddraw {

// The visible rectangles of window's client area on the screen (each inside
// the display mode's bounds); empty when the window is hidden, covered or
// gone.
std::vector<RECT> visibleRectangles(HWND window);

class Clipper final : public IDirectDrawClipper {
public:
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT SetHWnd(DWORD flags, HWND window) override;
    HRESULT GetHWnd(HWND* window) override;
    HRESULT GetClipList(LPRECT clip, LPRGNDATA data, LPDWORD size) override;
    HRESULT IsClipListChanged(BOOL* changed) override;

private:
    ~Clipper() override = default;

    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    HWND window_ = nullptr;
    std::optional<std::vector<RECT>> lastSeen_;  // the region the last GetClipList read
};

}  // namespace lx::win32::ddraw

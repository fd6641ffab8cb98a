// The primary screen as the API sees it at open.
#pragma once

#include <cstdint>

namespace lxvideo {

// GetSystemMetrics(SM_CXSCREEN / SM_CYSCREEN).
int32_t screenWidth();
int32_t screenHeight();
// PLANES x BITSPIXEL of the screen's device context; 0 without one.
int32_t screenBitsPerPixel();

}  // namespace lxvideo

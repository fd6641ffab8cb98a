// Monitored capture: live capture whose overlay mask follows the visible part
// of a window, and a capture shot limited to a window's client area. Every
// function returns an LxStatus.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "lx/export.h"
#include "lx/status.h"
#include "lx/video_card.h"

// enable nonzero starts live capture into window (the card's output window
// on the screen), keeping the card's mask equal to the part of the output
// window that window shows; 0 stops it and restores the card's own mask and
// mask switch. Method 0 follows the window on a timer of the window's thread
// (which must pump its messages; call from that thread); method 1 on an
// idle-priority thread. A window destroyed while monitored stops the capture.
LX_EXPORT LxStatus LxCaptureEx(LxCardHandle handle, HWND window, int enable);
// 0 timer, 1 thread; from the next LxCaptureEx start.
LX_EXPORT LxStatus LxSetMonitorMethod(LxCardHandle handle, uint32_t method);
// One frame into the output window, limited on the right and at the bottom
// by window's client area; the card's mask is as before afterwards.
LX_EXPORT LxStatus LxCaptureShotEx(LxCardHandle handle, HWND window);

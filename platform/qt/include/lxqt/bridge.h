// The GUI bridge between a Qt 6 program and the Win32 compat layer: window
// handles for widgets, window timers, the message pump and clip lists.
//
// Screen coordinates map one to one: Qt's global coordinates are the
// machine's screen coordinates (pixel (x, y) of the video memory). The
// display mode stays what the machine has (it is the machine's, shared by
// every program attached to it; its operator sets it, e.g. to the host
// screen's size with `lxmachine display WxHxBITS`). What lies beyond it
// shows no video: clip lists and drawing stop at its bounds, and a
// VideoView (lxqt/video_view.h) shows black there. Window device contexts
// (GetDC(hwndOf(widget))) draw into the video memory under the widget's
// visible client area; lxqt/painter_dc.h gives contexts that draw with a
// QPainter.
#pragma once

#include <windows.h>

class QApplication;
class QWidget;

#define LXQT_API __attribute__((visibility("default")))

namespace lxqt {

// Registers the bridge for app (call once, on app's thread, after the
// QApplication exists). Widgets of app answer the compat layer's window
// calls from then on. False when the compat layer refuses it.
LXQT_API bool installBridge(QApplication& app);

// The window handle of a widget (made at the first call, the same for the
// widget's life); null for null. Call on the widget's thread.
LXQT_API HWND hwndOf(QWidget* widget);
// The widget of a handle; null once the widget is destroyed.
LXQT_API QWidget* widgetOf(HWND window);

// Runs the calling thread's Qt events and its Win32 messages (dispatched)
// for `milliseconds`.
LXQT_API void pumpMessages(int milliseconds);

}  // namespace lxqt

// The X screen as the server shows it: the root window's pixels, what a
// person sees. For tests that run under their own Xvfb.
#pragma once

#include <QImage>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

// 0xFFRRGGBB pixels; a null image when the screen cannot be read.
inline QImage xScreen() {
  QImage image;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return image;
  const Window root = DefaultRootWindow(display);
  XWindowAttributes attributes{};
  XGetWindowAttributes(display, root, &attributes);
  if (XImage* shot = XGetImage(display, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap)) {
    image = QImage(attributes.width, attributes.height, QImage::Format_RGB32);
    for (int y = 0; y < attributes.height; ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < attributes.width; ++x) row[x] = 0xFF000000u | (XGetPixel(shot, x, y) & 0xFFFFFF);
    }
    XDestroyImage(shot);
  }
  XCloseDisplay(display);
  return image;
}

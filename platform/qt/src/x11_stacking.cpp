#include "x11_stacking.h"

#include <QGuiApplication>

#include <X11/Xlib.h>

#include <mutex>

namespace lxqt::x11 {
namespace {

// A connection of the bridge's own, used under its mutex only, so the
// monitoring thread never shares Qt's connection.
std::mutex connectionMutex;
Display* connection = nullptr;
bool tried = false;

// Silences errors about windows that vanish while the tree is read.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

Display* open() {
  if (!tried) {
    tried = true;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
      connection = XOpenDisplay(nullptr);
      if (connection != nullptr) XSetErrorHandler(ignoreErrors);
    }
  }
  return connection;
}

// The child of the root that holds `window` (itself when it is one).
Window topLevelOf(Display* display, Window root, Window window) {
  Window current = window;
  for (int depth = 0; depth < 64; ++depth) {
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, current, &rootReturn, &parent, &children, &count)) return 0;
    if (children != nullptr) XFree(children);
    if (parent == root || parent == 0) return current;
    current = parent;
  }
  return 0;
}

}  // namespace

bool available() {
  std::lock_guard hold(connectionMutex);
  return open() != nullptr;
}

bool occludersAbove(unsigned long window, std::vector<QRect>* rects) {
  std::lock_guard hold(connectionMutex);
  Display* display = open();
  if (display == nullptr || window == 0) return false;
  const Window root = DefaultRootWindow(display);
  const Window own = topLevelOf(display, root, window);
  if (own == 0) return false;
  Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) return false;
  rects->clear();
  bool above = false;  // children come bottom first
  for (unsigned int i = 0; i < count; ++i) {
    if (children[i] == own) {
      above = true;
      continue;
    }
    if (!above) continue;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, children[i], &attributes)) continue;
    if (attributes.map_state != IsViewable || attributes.c_class == InputOnly) continue;
    const int border = attributes.border_width;
    rects->emplace_back(attributes.x, attributes.y, attributes.width + 2 * border, attributes.height + 2 * border);
  }
  if (children != nullptr) XFree(children);
  return above;
}

}  // namespace lxqt::x11

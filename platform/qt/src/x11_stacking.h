// The X11 stacking order of all clients' top-level windows, for clip lists
// when the program runs on X11: windows of other programs cover ours too.
#pragma once

#include <QRect>

#include <vector>

namespace lxqt::x11 {

// Whether the program runs on X11 and the bridge has its own connection
// (opened at the first call; call once on the GUI thread before any other
// thread asks).
bool available();

// The screen rectangles of the viewable top-level windows (root children,
// with their borders) stacked above the one that holds `window`; false when
// X cannot answer. Any thread.
bool occludersAbove(unsigned long window, std::vector<QRect>* rects);

}  // namespace lxqt::x11

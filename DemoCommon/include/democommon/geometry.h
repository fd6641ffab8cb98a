// Geometry of the video area: where the frame window may go so that the
// card's transfers stay aligned, the view's scroll ranges, and the scroll
// bars' steps. Pure functions, shared by both programs.
#pragma once

#include <string>

namespace demo {

struct Borders {
  int left = 0, top = 0, right = 0, bottom = 0;  // frame's outer edge to the view's client area
};

struct FrameGeometry {
  int x = 0, y = 0, width = 0, height = 0;
};

enum class WindowShow { Normal, Minimised, Maximised };

// Largest video area: one frame (768 x 576 PAL, 640 x 480 NTSC), or one
// field's height in scan modes 1 and 2.
int maxVideoWidth(int standard);
int maxVideoHeight(int standard, int scanMode);

// Applies the position constraint to a proposed frame geometry. The client
// area then starts on a screen column that is a multiple of 4 and an even
// row, is at most one frame (or field) large with a width that is a multiple
// of 4 and an even height, and stays on the screen. skipNext is the
// "skip the next position change" flag, set on minimising and consumed by
// the first change after it.
void constrainFrame(FrameGeometry* proposed, WindowShow show, const Borders& borders, int screenWidth,
                    int screenHeight, int standard, int scanMode, int* skipNext);

// Scroll range of the view in clip mode: 0 .. max (max <= 0: disabled).
int horizontalScrollMax(int standard, int clientWidth);
int verticalScrollMax(int standard, int scanMode, int clientHeight);

// Scroll codes, as the framework's.
enum class ScrollCode { LineUp, LineDown, PageUp, PageDown, ThumbPosition, ThumbTrack, Top, Bottom, EndScroll };

// The view bars' new origin: line steps 4 (horizontal) or 2 (vertical),
// page steps of the page, thumb positions rounded toward zero to the step,
// all within min .. max. Tracking and end of scroll keep the origin.
int viewScrollOrigin(ScrollCode code, bool horizontal, int origin, int minimum, int maximum, int page, int track);

// The dialogs' bars: line 1, page 10, thumb to the tracked position, within
// min .. max; top, bottom and end of scroll keep the position.
int dialogScrollPosition(ScrollCode code, int position, int minimum, int maximum, int track);

// Save Serials: the path without its trailing '.', 'b', 'm' and 'p'
// characters (a character-set trim: "clamp.bmp" gives "cla").
std::string trimBitmapSuffix(const std::string& path);
// Open Serials: that trim, then the run of the character now last
// ("shot1.bmp" gives "shot", "shot11.bmp" gives "shot").
std::string seriesBaseOf(const std::string& firstFile);
// The name of frame n (from 1) of a series: base + n + ".bmp".
std::string seriesFileName(const std::string& base, int number);

}  // namespace demo

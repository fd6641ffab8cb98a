// What the library knows of the display, once per process: the primary
// display's description (taken at the first bring-up and never refreshed)
// and the screen size (refreshed by every bring-up).
#pragma once

#include <cstdint>

#include "lx/static_mem_records.h"

namespace terncard {

struct ProcessDisplay {
  bool available;               // HmbGetDisplayInfo succeeded
  DisplayInfo info;             // all zero when it did not
  int32_t pitchSurplusPixels;   // PitchPixels - Width
};

// Takes the display description on the first call of the process; later
// calls return the same record.
const ProcessDisplay& processDisplay();

struct ScreenSize {
  int32_t width;
  int32_t height;
};
void storeScreenSize(ScreenSize size);
ScreenSize screenSize();

// The screen's device context as bring-up reads it; false when there is no
// screen device context.
struct ScreenMetrics {
  int32_t width;         // HORZRES
  int32_t height;        // VERTRES
  int32_t bitsPerPixel;  // PLANES x BITSPIXEL
};
bool readScreenMetrics(ScreenMetrics* metrics);

}  // namespace terncard

// One card of the multi-card program: its handle, the values the program
// last set on it, where its video goes, and its display image.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "democommon/display_image.h"
#include "grid.h"
#include "lx/video.h"

namespace lxmperf {

// The record table: card numbers 1 to 128. Cards beyond are not opened.
inline constexpr int kMaxCards = 128;

// Where snap-ex frames are drawn: the view, with the grey palette.
struct ViewTarget {
  HWND view = nullptr;
  void* greyPalette = nullptr;
};

struct CardRecord {
  LxCardHandle handle = nullptr;
  int scanMode = 0;
  int videoFormat = 1;
  int videoStandard = 0;
  int sourceKind = 0;
  int sourceNumber = 0;
  int cryOsc = 0;
  uint8_t hue = 128, brightness = 128, contrast = 128, saturation = 128, pll = 245;
  int frameWidth = 768, frameHeight = 576;
  Rect input{0, 0, 768, 576};
  Rect output{};
  Rect tile{};
  // Where the card's picture sits in the view (the output rectangle's
  // origin in view coordinates): read back from there and drawn there.
  int outputViewX = 0, outputViewY = 0;
  demo::DisplayImage image;  // header storage and a buffer that starts all 0
  int mirrorHorizontal = 0, mirrorVertical = 0;
  int lumaControl = 1;
  int interline = 1;
  // Read by the card's snap-ex callback while the GUI thread places the
  // video (which stops the card's stream around its changes).
  std::atomic<uint32_t> staticOffset{0};
  const ViewTarget* viewTarget = nullptr;

  // Bytes of one frame as the card stores it: whole bytes per pixel of its
  // format x output width x output height, halved in scan modes 1 and 2.
  uint32_t frameBytes() const;
  // The image takes the output size (height halved in scan modes 1 and 2)
  // and 8 bits for the grey formats, else 24.
  void setImageToOutput();
  // Output rows of a stored frame: halved in scan modes 1 and 2.
  int storedHeight() const;
  // Frame `index` of the frames at staticOffset, each `height` rows of the
  // output width, into the image (which takes that size), rows reversed
  // into the bitmap's bottom-up order.
  LxStatus transformFrame(int index, int height);
};

// "Video Parameter" + index: the settings section of card `index` (from 0).
void settingsSectionOf(int index, char (&section)[32]);
// Reads the card's section into the record (no card calls): standard, scan,
// source, the four adjustments, PLL and crystal; the picture size and the
// input window follow the standard.
void readCardSettings(int index, CardRecord* card);
// Writes Standard, Source (flat), Scan, Brightness, Contrast, Hue,
// Saturation, PLL, CryOsc, in that order.
void writeCardSettings(int index, const CardRecord& card);

// The first input with a signal (flat order 0..10), else input 0.
void detectSource(CardRecord* card);
// Pushes the record to the card, statuses ignored: standard, source,
// format, scan mode, adjustments 1 to 4, PLL, input window, crystal.
void pushRecord(const CardRecord& card);

}  // namespace lxmperf

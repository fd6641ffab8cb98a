// CVideo: one card, the shadow copy of every video parameter and the display
// image. The setters call the API and keep the value when the card took it,
// or when no card is open (LX_CARD_HANDLE_INVALID), so values chosen before
// a card opens are pushed at Open and saved on exit.
#pragma once

#include <cstdint>

#include "democommon/display_image.h"
#include "lx/snap_ex.h"
#include "lx/video.h"

namespace demo {

// Opaque palette handles; the drawing code knows their type.
using PaletteHandle = void*;

class CVideo {
 public:
  explicit CVideo(int cardNumber = 1);
  virtual ~CVideo();
  CVideo(const CVideo&) = delete;
  CVideo& operator=(const CVideo&) = delete;

  virtual LxStatus Open();
  virtual LxStatus Close();
  virtual void DetectSource();
  virtual void ApplyParameters();
  virtual void CreateImage();
  virtual void Release();
  virtual void Stop();

  // Shadow setters: the API's status, unchanged.
  LxStatus SetStandard(int standard);
  LxStatus SetSource(int kind, int number);
  LxStatus SetSourceByFlat(int flat);  // a number above 10 changes nothing (LX_OK)
  LxStatus SetFormat(int format);
  LxStatus SetFormatByDepth(int depth);  // LX_PARAMETER_INVALID for a depth without a format
  LxStatus SetScanMode(int mode);
  LxStatus SetCryOsc(int oscillator);
  LxStatus SetBrightness(int value);
  LxStatus SetContrast(int value);
  LxStatus SetHue(int value);
  LxStatus SetSaturation(int value);
  LxStatus SetPll(int value);
  LxStatus SetDelay(int x, int y);
  LxStatus SetMirror(int direction, int on);
  LxStatus SetLuma(int on);
  LxStatus SetMask(int on);
  // Rectangles as left, top, right, bottom; stored only on LX_OK.
  LxStatus SetInputWindow(int left, int top, int right, int bottom);
  LxStatus SetOutputWindow(int left, int top, int right, int bottom);

  LxStatus SetMaskRect(int x0, int y0, int width, int height, int on);
  uint32_t FrameBytes() const;
  void SetImageHeader(int interline);
  LxStatus TransformFrame(uint32_t offset, int index);
  LxStatus FillStaticMem(uint32_t offset, uint32_t length, uint8_t value);

  // Snap calls, each in its state only (0 from a call in the wrong state).
  LxStatus OpenSnapEx(SnapExCallback callback, void* context);
  LxStatus StartSnapEx(uint32_t start, int interleave, int frames);
  LxStatus StopSnapEx();
  LxStatus CloseSnapEx();
  LxStatus SnapShot(uint32_t start, int interleave, int frames);

  int flatSource() const { return flatOfSource(sourceKind, sourceNumber); }
  LxCardHandle handle() const { return cardHandle; }

  // Fields, in the order the program's documentation gives them.
  LxCardHandle cardHandle = nullptr;
  int cardNumber;
  int videoState = 0;  // 0 idle, 2 live capture, 4 snap-ex open
  DisplayImage image;
  int scanMode = 0;
  int videoFormat = 1;
  int videoStandard = 0;
  int sourceKind = 0;
  int sourceNumber = 0;
  int cryOsc = 0;
  uint8_t hue = 128;
  uint8_t brightness = 128;
  uint8_t contrast = 128;
  uint8_t saturation = 128;
  uint8_t pll = 245;
  int inputX = 0, inputY = 0, inputWidth = 768, inputHeight = 576;
  int outputX = 0, outputY = 0, outputWidth = 768, outputHeight = 576;
  int delayX = 0, delayY = 0;
  int mirrorHorizontal = 0, mirrorVertical = 0;
  uint8_t lumaControl = 1;
  int maskEnabled = 0;
  PaletteHandle greyPalette = nullptr;
  PaletteHandle savedPalette = nullptr;

 private:
  LxStatus adjust(uint32_t item, int value, uint8_t* shadow);
};

// Statuses a setter records its value on.
inline bool shadowTakes(LxStatus status) { return status == LX_OK || status == LX_CARD_HANDLE_INVALID; }

}  // namespace demo

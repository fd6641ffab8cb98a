// LxCard.ini, section "Video Parameter": read at creation, written when the
// main frame is destroyed.
#include "democommon/settings_file.h"
#include "main_frame.h"

namespace lxperf {

namespace {
int read(const char* key, int defaultValue) { return demo::readSetting(demo::kVideoSection, key, defaultValue); }
void write(const char* key, int value) { demo::writeSetting(demo::kVideoSection, key, value); }
}  // namespace

void CMainFrame::LoadSettings() {
  demo::CVideo& v = *video_;
  v.SetStandard(read("Standard", 0));
  v.SetScanMode(read("Scan", 0));
  v.SetSourceByFlat(read("Source", 0));
  v.SetBrightness(read("Brightness", 128));
  v.SetContrast(read("Contrast", 128));
  v.SetHue(read("Hue", 128));
  v.SetSaturation(read("Saturation", 128));
  v.SetPll(read("PLL", 245));
  v.SetCryOsc(read("CryOsc", 0));
  v.SetMirror(0, read("Horizon", 0));
  v.SetMirror(1, read("Vertical", 0));
  v.SetLuma(read("Chroma", 1));
  v.SetMask(read("Mask", 0));
  if (v.videoStandard == 1)
    v.SetInputWindow(0, 0, 640, 480);
  else
    v.SetInputWindow(0, 0, 768, 576);
  clip = read("Clip", 1);
  interline = read("Interline", 1);
  const int y = read("YDelay", 0);
  const int x = read("XDelay", 0);
  v.SetDelay(x, y);
}

void CMainFrame::SaveSettings() {
  const demo::CVideo& v = *video_;
  write("Standard", v.videoStandard);
  write("Source", v.flatSource());
  write("Scan", v.scanMode);
  write("Brightness", v.brightness);
  write("Contrast", v.contrast);
  write("Hue", v.hue);
  write("Saturation", v.saturation);
  write("PLL", v.pll);
  write("CryOsc", v.cryOsc);
  write("XDelay", v.delayX);
  write("YDelay", v.delayY);
  write("Horizon", v.mirrorHorizontal);
  write("Vertical", v.mirrorVertical);
  write("Chroma", v.lumaControl);
  write("Clip", clip);
  write("Interline", interline);
  write("Mask", v.maskEnabled);
}

}  // namespace lxperf

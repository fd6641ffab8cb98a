#include "card_record.h"

#include <windows.h>

#include <cstdio>

#include "democommon/settings_file.h"
#include "democommon/video_formats.h"
#include "lx/data_transform.h"

namespace lxmperf {

int CardRecord::storedHeight() const {
  return (scanMode == 1 || scanMode == 2) ? output.height() / 2 : output.height();
}

uint32_t CardRecord::frameBytes() const {
  const int height = storedHeight();
  if (output.width() <= 0 || height <= 0) return 0;
  return static_cast<uint32_t>((demo::bitsPerPixel(videoFormat) + 7) / 8) * static_cast<uint32_t>(output.width()) *
         static_cast<uint32_t>(height);
}

void CardRecord::setImageToOutput() {
  const std::lock_guard imageLock(image.mutex);
  BITMAPINFOHEADER& info = image.header.info;
  info.biWidth = output.width();
  info.biHeight = storedHeight();
  info.biBitCount = demo::bitsPerPixel(videoFormat) == 8 ? 8 : 24;
}

LxStatus CardRecord::transformFrame(int index, int height) {
  const std::lock_guard imageLock(image.mutex);
  if (!image.pixels) return LX_OK;
  const int width = output.width();
  const int bits = demo::bitsPerPixel(videoFormat);
  if (width <= 0 || height <= 0 || bits == 0) return LX_PARAMETER_INVALID;
  const uint32_t bytes = static_cast<uint32_t>((bits + 7) / 8) * static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
  image.header.info.biWidth = width;
  image.header.info.biHeight = height;
  image.header.info.biBitCount = bits == 8 ? 8 : 24;
  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  LxStatus status = LxStaticMemLock(staticOffset + static_cast<uint32_t>(index) * bytes, bytes, &lock, &address);
  if (status != LX_OK) return status;
  status = LxDataTransform(image.pixels.get(), address, width, height, bits, 1);
  LxStaticMemUnlock(lock);
  return status;
}

void settingsSectionOf(int index, char (&section)[32]) {
  std::snprintf(section, sizeof section, "%s%d", demo::kVideoSection, index);
}

void readCardSettings(int index, CardRecord* card) {
  char section[32];
  settingsSectionOf(index, section);
  card->videoStandard = demo::readSetting(section, "Standard", 0);
  card->scanMode = demo::readSetting(section, "Scan", 0);
  demo::sourceOfFlat(demo::readSetting(section, "Source", 0), &card->sourceKind, &card->sourceNumber);
  card->brightness = static_cast<uint8_t>(demo::readSetting(section, "Brightness", 128));
  card->contrast = static_cast<uint8_t>(demo::readSetting(section, "Contrast", 128));
  card->hue = static_cast<uint8_t>(demo::readSetting(section, "Hue", 128));
  card->saturation = static_cast<uint8_t>(demo::readSetting(section, "Saturation", 128));
  card->pll = static_cast<uint8_t>(demo::readSetting(section, "PLL", 245));
  card->cryOsc = demo::readSetting(section, "CryOsc", 0);
  card->frameWidth = demo::frameWidthOf(card->videoStandard);
  card->frameHeight = demo::frameHeightOf(card->videoStandard);
  card->input = {0, 0, card->frameWidth, card->frameHeight};
}

void writeCardSettings(int index, const CardRecord& card) {
  char section[32];
  settingsSectionOf(index, section);
  demo::writeSetting(section, "Standard", card.videoStandard);
  demo::writeSetting(section, "Source", demo::flatOfSource(card.sourceKind, card.sourceNumber));
  demo::writeSetting(section, "Scan", card.scanMode);
  demo::writeSetting(section, "Brightness", card.brightness);
  demo::writeSetting(section, "Contrast", card.contrast);
  demo::writeSetting(section, "Hue", card.hue);
  demo::writeSetting(section, "Saturation", card.saturation);
  demo::writeSetting(section, "PLL", card.pll);
  demo::writeSetting(section, "CryOsc", card.cryOsc);
}

void detectSource(CardRecord* card) {
  if (!card->handle) return;
  for (int flat = 0; flat <= 10; ++flat) {
    int kind = 0, number = 0;
    demo::sourceOfFlat(flat, &kind, &number);
    LxStatus status = LxSetVideoSource(card->handle, LxVideoSource{kind, number});
    Sleep(1);
    int32_t present = 0;
    if (status == LX_OK) status = LxVideoPresent(card->handle, &present);
    if (status == LX_NOT_SUPPORT_INTERFACE) break;
    if (status == LX_OK && present != 0) {
      card->sourceKind = kind;
      card->sourceNumber = number;
      return;
    }
  }
  card->sourceKind = 0;
  card->sourceNumber = 0;
  LxSetVideoSource(card->handle, LxVideoSource{0, 0});
}

void pushRecord(const CardRecord& card) {
  if (!card.handle) return;
  LxSetVideoStandard(card.handle, card.videoStandard);
  LxSetVideoSource(card.handle, LxVideoSource{card.sourceKind, card.sourceNumber});
  LxSetVideoFormat(card.handle, card.videoFormat);
  LxSetScanMode(card.handle, static_cast<uint32_t>(card.scanMode));
  LxAdjustVideo(card.handle, 1, card.brightness);
  LxAdjustVideo(card.handle, 2, card.contrast);
  LxAdjustVideo(card.handle, 3, card.hue);
  LxAdjustVideo(card.handle, 4, card.saturation);
  LxSetPLLFrequency(card.handle, card.pll);
  LxSetInputWindow(card.handle, card.input.left, card.input.top, card.input.width(), card.input.height());
  LxSelectCryOSC(card.handle, card.cryOsc);
}

}  // namespace lxmperf

#include "democommon/video.h"

#include <windows.h>

#include <cstring>

#include "democommon/palette.h"
#include "lx/data_transform.h"
#include "lx/monitored_capture.h"

namespace demo {

CVideo::CVideo(int number) : cardNumber(number) { resetImageHeader(&image.header); }

CVideo::~CVideo() {
  Stop();
  Release();
}

LxStatus CVideo::Open() {
  if (cardHandle) return LX_OK;
  LxCardHandle opened = nullptr;
  const LxStatus status = BeginLxCard(cardNumber, &opened);
  if (status != LX_OK) return status;
  cardHandle = opened;
  DetectSource();
  ApplyParameters();
  CreateImage();
  return LX_OK;
}

LxStatus CVideo::Close() {
  Stop();
  if (!cardHandle) return LX_OK;
  const LxStatus status = EndLxCard(cardHandle);
  if (status == LX_OK) cardHandle = nullptr;
  return status;
}

void CVideo::DetectSource() {
  if (!cardHandle) return;
  for (int flat = 0; flat <= 10; ++flat) {
    sourceOfFlat(flat, &sourceKind, &sourceNumber);
    // An input the card refuses is skipped: the signal asked for would be
    // the previous input's.
    if (LxSetVideoSource(cardHandle, LxVideoSource{sourceKind, sourceNumber}) != LX_OK) continue;
    Sleep(1);
    int32_t present = 0;
    const LxStatus status = LxVideoPresent(cardHandle, &present);
    if (status == LX_NOT_SUPPORT_INTERFACE) break;  // a card without the query
    if (status == LX_OK && present != 0) return;
  }
  SetSourceByFlat(0);
}

void CVideo::ApplyParameters() {
  if (!cardHandle) return;
  LxSetVideoStandard(cardHandle, videoStandard);
  LxSetVideoSource(cardHandle, LxVideoSource{sourceKind, sourceNumber});
  LxSetVideoFormat(cardHandle, videoFormat);
  LxSetScanMode(cardHandle, static_cast<uint32_t>(scanMode));
  LxSelectCryOSC(cardHandle, cryOsc);
  LxAdjustVideo(cardHandle, 1, brightness);
  LxAdjustVideo(cardHandle, 2, contrast);
  LxAdjustVideo(cardHandle, 3, hue);
  LxAdjustVideo(cardHandle, 4, saturation);
  LxSetPLLFrequency(cardHandle, pll);
  LxSetInputWindow(cardHandle, inputX, inputY, inputWidth, inputHeight);
  LxSetOutputWindow(cardHandle, outputX, outputY, outputWidth, outputHeight);
  LxEnableMask(cardHandle, maskEnabled);
  LxSetDelay(cardHandle, static_cast<uint16_t>(delayX), static_cast<uint16_t>(delayY));
  LxEnableVideoMirror(cardHandle, 0, mirrorHorizontal);
  LxEnableVideoMirror(cardHandle, 1, mirrorVertical);
  LxLumaControl(cardHandle, 0, lumaControl);
}

void CVideo::CreateImage() {
  if (!greyPalette) greyPalette = createGreyPalette();
  resetImageHeader(&image.header);
  if (!image.pixels) image.allocate();
}

void CVideo::Release() {
  if (cardHandle && EndLxCard(cardHandle) == LX_OK) cardHandle = nullptr;
  image.pixels.reset();
  if (greyPalette) deletePalette(greyPalette);
  greyPalette = nullptr;
}

void CVideo::Stop() {
  if (videoState == 2)
    LxCaptureEx(cardHandle, nullptr, 0);
  else if (videoState == 4)
    LxCloseSnapEx(cardHandle);
  videoState = 0;
}

LxStatus CVideo::SetStandard(int standard) {
  const LxStatus status = LxSetVideoStandard(cardHandle, standard);
  if (shadowTakes(status)) videoStandard = standard;
  return status;
}

LxStatus CVideo::SetSource(int kind, int number) {
  const LxStatus status = LxSetVideoSource(cardHandle, LxVideoSource{kind, number});
  if (shadowTakes(status)) {
    sourceKind = kind;
    sourceNumber = number;
  }
  return status;
}

LxStatus CVideo::SetSourceByFlat(int flat) {
  int kind = 0, number = 0;
  if (!sourceOfFlat(flat, &kind, &number)) return LX_OK;
  return SetSource(kind, number);
}

LxStatus CVideo::SetFormat(int format) {
  const LxStatus status = LxSetVideoFormat(cardHandle, format);
  if (shadowTakes(status)) videoFormat = format;
  return status;
}

LxStatus CVideo::SetFormatByDepth(int depth) {
  const int format = formatForDepth(depth);
  if (format < 0) return LX_PARAMETER_INVALID;
  return SetFormat(format);
}

LxStatus CVideo::SetScanMode(int mode) {
  const LxStatus status = LxSetScanMode(cardHandle, static_cast<uint32_t>(mode));
  if (shadowTakes(status)) scanMode = mode;
  return status;
}

LxStatus CVideo::SetCryOsc(int oscillator) {
  const LxStatus status = LxSelectCryOSC(cardHandle, oscillator);
  if (shadowTakes(status)) cryOsc = oscillator;
  return status;
}

LxStatus CVideo::adjust(uint32_t item, int value, uint8_t* shadow) {
  const auto byte = static_cast<uint8_t>(value & 0xFF);
  const LxStatus status = LxAdjustVideo(cardHandle, item, byte);
  if (shadowTakes(status)) *shadow = byte;
  return status;
}

LxStatus CVideo::SetBrightness(int value) { return adjust(1, value, &brightness); }
LxStatus CVideo::SetContrast(int value) { return adjust(2, value, &contrast); }
LxStatus CVideo::SetHue(int value) { return adjust(3, value, &hue); }
LxStatus CVideo::SetSaturation(int value) { return adjust(4, value, &saturation); }

LxStatus CVideo::SetPll(int value) {
  const auto byte = static_cast<uint8_t>(value & 0xFF);
  const LxStatus status = LxSetPLLFrequency(cardHandle, byte);
  if (shadowTakes(status)) pll = byte;
  return status;
}

LxStatus CVideo::SetDelay(int x, int y) {
  const LxStatus status = LxSetDelay(cardHandle, static_cast<uint16_t>(x), static_cast<uint16_t>(y));
  if (shadowTakes(status)) {
    delayX = x;
    delayY = y;
  }
  return status;
}

LxStatus CVideo::SetMirror(int direction, int on) {
  const LxStatus status = LxEnableVideoMirror(cardHandle, direction, on);
  if (shadowTakes(status)) (direction == 0 ? mirrorHorizontal : mirrorVertical) = on;
  return status;
}

LxStatus CVideo::SetLuma(int on) {
  const LxStatus status = LxLumaControl(cardHandle, 0, static_cast<uint8_t>(on));
  if (shadowTakes(status)) lumaControl = static_cast<uint8_t>(on & 0xFF);
  return status;
}

LxStatus CVideo::SetMask(int on) {
  const LxStatus status = LxEnableMask(cardHandle, on);
  if (shadowTakes(status)) maskEnabled = on;
  return status;
}

LxStatus CVideo::SetInputWindow(int left, int top, int right, int bottom) {
  const LxStatus status = LxSetInputWindow(cardHandle, left, top, right - left, bottom - top);
  if (status == LX_OK) {
    inputX = left;
    inputY = top;
    inputWidth = right - left;
    inputHeight = bottom - top;
  }
  return status;
}

LxStatus CVideo::SetOutputWindow(int left, int top, int right, int bottom) {
  const LxStatus status = LxSetOutputWindow(cardHandle, left, top, right - left, bottom - top);
  if (status == LX_OK) {
    outputX = left;
    outputY = top;
    outputWidth = right - left;
    outputHeight = bottom - top;
  }
  return status;
}

LxStatus CVideo::SetMaskRect(int x0, int y0, int width, int height, int on) {
  for (int x = x0; x < x0 + width; ++x) {
    for (int y = y0; y < y0 + height; ++y) {
      const LxStatus status = LxSetPixelMask(cardHandle, static_cast<uint32_t>(x), static_cast<uint32_t>(y), on);
      if (status != LX_OK) return status;
    }
  }
  return LX_OK;
}

uint32_t CVideo::FrameBytes() const {
  const int height = (scanMode == 1 || scanMode == 2) ? outputHeight / 2 : outputHeight;
  if (outputWidth <= 0 || height <= 0) return 0;
  return static_cast<uint32_t>((bitsPerPixel(videoFormat) + 7) / 8) * static_cast<uint32_t>(outputWidth) *
         static_cast<uint32_t>(height);
}

void CVideo::SetImageHeader(int interline) {
  const std::lock_guard imageLock(image.mutex);
  image.header.info.biBitCount = bitsPerPixel(videoFormat) == 8 ? 8 : 24;
  image.header.info.biWidth = outputWidth;
  image.header.info.biHeight = (scanMode != 0 || interline == 0) ? outputHeight / 2 : outputHeight;
  image.header.info.biCompression = BI_RGB;
}

LxStatus CVideo::TransformFrame(uint32_t offset, int index) {
  const std::lock_guard imageLock(image.mutex);
  if (!image.pixels) return LX_OK;
  const int width = image.width();
  const int height = image.height();
  const int bits = bitsPerPixel(videoFormat);
  // The image must hold the converted frame: a header a file brought in may be larger.
  if (width <= 0 || height <= 0 || pixelBytesOf(image.header.info) > kImageBufferBytes) return LX_PARAMETER_INVALID;
  const uint32_t frame =
      static_cast<uint32_t>(((bits + 7) / 8 * width * 8 + 31) / 32 * 4) * static_cast<uint32_t>(height);
  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  LxStatus status = LxStaticMemLock(offset + frame * static_cast<uint32_t>(index), frame, &lock, &address);
  if (status != LX_OK) return status;
  status = LxDataTransform(image.pixels.get(), address, width, height, bits, 1);
  LxStaticMemUnlock(lock);
  return status;
}

LxStatus CVideo::FillStaticMem(uint32_t offset, uint32_t length, uint8_t value) {
  LxStaticMemLockHandle lock = nullptr;
  void* address = nullptr;
  const LxStatus status = LxStaticMemLock(offset, length, &lock, &address);
  if (status != LX_OK) return status;
  std::memset(address, value, length);
  LxStaticMemUnlock(lock);
  return LX_OK;
}

LxStatus CVideo::OpenSnapEx(SnapExCallback callback, void* context) {
  if (videoState != 0) return LX_OK;
  const LxStatus status = LxOpenSnapEx(cardHandle, callback, context);
  if (status == LX_OK) videoState = 4;
  return status;
}

LxStatus CVideo::StartSnapEx(uint32_t start, int interleave, int frames) {
  if (videoState != 4) return LX_OK;
  const LxStatus status = LxStartSnapEx(cardHandle, start, interleave, static_cast<uint16_t>(frames));
  if (status == LX_OK) SetImageHeader(interleave);
  return status;
}

LxStatus CVideo::StopSnapEx() {
  if (videoState != 4) return LX_OK;
  return LxStopSnapEx(cardHandle);
}

LxStatus CVideo::CloseSnapEx() {
  if (videoState != 4) return LX_OK;
  const LxStatus status = LxCloseSnapEx(cardHandle);
  if (status == LX_OK) videoState = 0;
  return status;
}

LxStatus CVideo::SnapShot(uint32_t start, int interleave, int frames) {
  if (videoState != 0) return LX_OK;
  const LxStatus status = LxSnapShot(cardHandle, start, 0, interleave, static_cast<uint16_t>(frames));
  if (status == LX_OK) SetImageHeader(interleave);
  return status;
}

}  // namespace demo

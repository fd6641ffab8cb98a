// The overlay mask: one bit per pixel of the output window, a set bit lets
// video through. The card reads the buffer it was given at open whenever it
// builds a program; these operations only change the bits and the switch.
#include <cstring>

#include "capture_functions.h"
#include "card_dispatch.h"
#include "lx/video_capture.h"

using namespace lxvideo;

namespace {

constexpr uint32_t kMaskPixels = 768;

// Byte of pixel (x, y) in the mask, by scan mode: frame mode alternates the
// field halves line by line, the second single-field mode uses half 1.
struct MaskBit {
  uint32_t byte;
  uint8_t bit;
};

bool locate(const LxCardRecord* record, uint32_t x, uint32_t y, MaskBit* where) {
  uint32_t half = 0;
  uint32_t line = y;
  if (record->scanMode == LX_SCAN_MODE_FRAME) {
    half = y % 2;
    line = y / 2;
  } else if (record->scanMode == LX_SCAN_MODE_FIELD1) {
    half = 1;
  }
  if (x >= kMaskPixels || line >= LX_MASK_FIELD_LINES) {
    return false;
  }
  where->byte = half * LX_MASK_FIELD_BYTES + line * LX_MASK_LINE_BYTES + x / 8;
  where->bit = static_cast<uint8_t>(record->maskBitOrder == 0 ? x % 8 : 7 - x % 8);
  return true;
}

}  // namespace

LX_EXPORT LxStatus LxEnableMask(LxCardHandle handle, int32_t enable) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (!card.idle()) {
    return LX_IN_WORK;
  }
  card::EnableOverlay enableOverlay = nullptr;
  if (const LxStatus status = card.bind("EnableOverlay", NameForm::PrefixThenName, &enableOverlay); status != LX_OK) {
    return status;
  }
  if (enableOverlay(card->context, enable) == 0) {
    return LX_INTERNAL_ERROR;
  }
  card->maskEnabled = enable;
  return LX_OK;
}

LX_EXPORT LxStatus LxFlushMask(LxCardHandle handle, int fill) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (card->maskBuffer != nullptr) {
    std::memset(card->maskBuffer, fill != 0 ? 0xFF : 0x00, LX_MASK_BYTES);
  }
  return LX_OK;
}

LX_EXPORT LxStatus LxSetPixelMask(LxCardHandle handle, uint32_t x, uint32_t y, int hide) {
  if (x >= kMaskPixels) {
    return LX_PARAMETER_INVALID;
  }
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  MaskBit where{};
  // Pixels outside the mask's lines are refused, not written beyond it.
  if (!locate(card.get(), x, y, &where)) {
    return LX_PARAMETER_INVALID;
  }
  if (card->maskBuffer == nullptr) {
    return LX_INTERNAL_ERROR;
  }
  const auto bit = static_cast<uint8_t>(1u << where.bit);
  if (hide != 0) {
    card->maskBuffer[where.byte] &= static_cast<uint8_t>(~bit);
  } else {
    card->maskBuffer[where.byte] |= bit;
  }
  return LX_OK;
}

// What the API takes from the card library's context right after opening:
// the mask handed to the card, the display depth, scan mode, output window
// and overlay flag. Two context layouts exist.
#include <cstring>

#include <windows.h>

#include "card_dispatch.h"
#include "card_functions.h"
#include "card_type_rules.h"
#include "lx/card_type.h"
#include "lx/video_types.h"
#include "screen.h"

namespace lxvideo {

namespace {

// Byte positions of the fields the API reads, per layout.
struct ContextLayout {
  bool windowIs16Bit;
  size_t scanMode;
  size_t outputX;
  size_t outputY;
  size_t outputWidth;
  size_t outputFieldHeight;
  size_t overlayEnabled;
  bool maskByPhysicalAddress;
  int32_t maskBitOrder;
};
// A: Heron, Crane, TernCard. B: Egret, Stork.
constexpr ContextLayout kLayoutA{true, 336, 352, 354, 356, 358, 364, false, 0};
constexpr ContextLayout kLayoutB{false, 28, 60, 64, 68, 72, 76, true, 1};

const ContextLayout& layoutOf(int32_t cardTypeIndex) {
  return cardTypeIndex == LX_CARD_TYPE_EGRET || cardTypeIndex == LX_CARD_TYPE_STORK ? kLayoutB : kLayoutA;
}

int32_t read32(const uint8_t* context, size_t offset) {
  int32_t value;
  std::memcpy(&value, context + offset, sizeof value);
  return value;
}

int32_t readWindowValue(const uint8_t* context, size_t offset, bool is16Bit) {
  if (!is16Bit) {
    return read32(context, offset);
  }
  uint16_t value;
  std::memcpy(&value, context + offset, sizeof value);
  return value;
}

// Every pixel visible, and both halves handed to the card.
bool setUpMask(LxCardRecord* record, const ContextLayout& layout) {
  if (record->maskBuffer == nullptr) {
    return false;
  }
  std::memset(record->maskBuffer, 0xFF, LX_MASK_BYTES);
  card::SetMask setMask = nullptr;
  if (bindCardFunction(record->cardTypeIndex, "SetMask", NameForm::PrefixThenName, &setMask) != LX_OK) {
    return false;
  }
  const uint64_t base = layout.maskByPhysicalAddress ? record->dynamicMemory.PhysicalAddress
                                                     : reinterpret_cast<uintptr_t>(record->maskBuffer);
  return setMask(record->context, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(base))) != 0 &&
         setMask(record->context, 1, reinterpret_cast<void*>(static_cast<uintptr_t>(base + LX_MASK_FIELD_BYTES))) != 0;
}

}  // namespace

LxStatus readCardContext(LxCardRecord* record) {
  const ContextLayout& layout = layoutOf(record->cardTypeIndex);
  if (!setUpMask(record, layout)) {
    // The card opens without a mask; the mask operations then report it.
    // The block is no longer held; ending the card must not free it again.
    if (record->dynamicMemory.UserAddress != 0) {
      LxDevFreeDynamicMem(&record->dynamicMemory);
    }
    const uint32_t size = record->dynamicMemory.Size;
    record->dynamicMemory = DynamicMemBlock{};
    record->dynamicMemory.Size = size;
    record->maskBuffer = nullptr;
  }
  record->bytesPerPixel = (screenBitsPerPixel() + 7) / 8;

  HGLOBAL contextBlock = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(record->context));
  const auto* context = static_cast<const uint8_t*>(GlobalLock(contextBlock));
  if (context == nullptr) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
  record->scanMode = read32(context, layout.scanMode);
  record->outputX = readWindowValue(context, layout.outputX, layout.windowIs16Bit);
  record->outputY = readWindowValue(context, layout.outputY, layout.windowIs16Bit);
  record->outputWidth = readWindowValue(context, layout.outputWidth, layout.windowIs16Bit);
  record->outputFieldHeight = readWindowValue(context, layout.outputFieldHeight, layout.windowIs16Bit);
  record->maskEnabled = read32(context, layout.overlayEnabled) != 0 ? 1 : 0;
  record->maskBitOrder = layout.maskBitOrder;
  GlobalUnlock(contextBlock);
  return LX_OK;
}

}  // namespace lxvideo

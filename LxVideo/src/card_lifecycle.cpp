// Opening and ending a card, and the card counts.
#include <windows.h>

#include "card_dispatch.h"
#include "card_functions.h"
#include "card_type_rules.h"
#include "lx/card_type.h"
#include "lx/video_types.h"
#include "open_count_map.h"
#include "screen.h"

using namespace lxvideo;

namespace {

// The card library's side of an open that has to be undone: its context
// and the library reference.
void endCardLibrary(int32_t cardTypeIndex, uint64_t context) {
  card::End end = nullptr;
  if (context != 0 && bindCardFunction(cardTypeIndex, "End", NameForm::NameThenPrefix, &end) == LX_OK) {
    end(context);
  }
  LxDevCloseDriver(cardTypeIndex);
}

// Fills a new handle for a started card; on failure nothing of it remains.
LxStatus makeCardHandle(int cardIndex, int32_t cardTypeIndex, uint64_t context, LxCardHandle* out) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(LxCardRecord));
  if (handle == nullptr) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
  auto* record = static_cast<LxCardRecord*>(GlobalLock(handle));
  if (record == nullptr) {
    GlobalFree(handle);
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
  record->context = context;
  record->cardIndex = cardIndex;
  record->cardTypeIndex = cardTypeIndex;
  setCardState(record, LX_CAPTURE_STATE_IDLE);
  record->monitorMethod = 0;
  record->dynamicMemory.Size = LX_MASK_BYTES;
  record->kindTag = lxkinds::kCardHandleTag;
  // Without the memory the card opens with no mask.
  LxDevAllocDynamicMem(&record->dynamicMemory);
  record->maskBuffer = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(record->dynamicMemory.UserAddress));

  const LxStatus status = readCardContext(record);
  record->screenWidth = screenWidth();
  record->screenHeight = screenHeight();
  if (status != LX_OK) {
    // No half-made handle is left behind.
    if (record->maskBuffer != nullptr) {
      LxDevFreeDynamicMem(&record->dynamicMemory);
    }
    GlobalUnlock(handle);
    GlobalFree(handle);
    return status;
  }
  *out = handle;
  GlobalUnlock(handle);
  return LX_OK;
}

}  // namespace

LX_EXPORT LxStatus BeginLxCard(int cardIndex, LxCardHandle* handle) {
  if (handle == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  *handle = nullptr;
  // Only numbers with an open counter name a card.
  if (cardIndex <= 0 || cardIndex > kMostCardIndex) {
    return LX_NO_CARD_FOUND;
  }
  int32_t cardTypeIndex = 0;
  int32_t numberInType = 0;
  LxStatus status = LxDevGetTypeFromIndex(cardIndex, &cardTypeIndex, &numberInType);
  if (status != LX_OK) {
    return status;
  }
  status = LxDevOpenDriver(cardTypeIndex);
  if (status != LX_OK) {
    LxDevCloseDriver(cardTypeIndex);
    return status;
  }
  card::Begin begin = nullptr;
  status = bindCardFunction(cardTypeIndex, "Begin", NameForm::NameThenPrefix, &begin);
  if (status != LX_OK) {
    LxDevCloseDriver(cardTypeIndex);
    return status;
  }
  const uint64_t context = begin(numberInType);
  status = beginResultStatus(cardTypeIndex, context);
  if (status != LX_OK) {
    LxDevCloseDriver(cardTypeIndex);
    return status;
  }
  status = makeCardHandle(cardIndex, cardTypeIndex, context, handle);
  if (status != LX_OK) {
    endCardLibrary(cardTypeIndex, context);
    return status;
  }
  // A missing map does not fail the open.
  addOpenCount(cardIndex);
  return LX_OK;
}

LX_EXPORT LxStatus EndLxCard(LxCardHandle handle) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (!card.idle()) {
    return LX_IN_WORK;
  }
  // Another holder of the record (the snap-ex library keeps it locked while
  // snap-ex is open on the card, another thread may be inside a call): the
  // card is in use and must not be ended under it.
  if ((GlobalFlags(handle) & GMEM_LOCKCOUNT) > 1) {
    return LX_IN_WORK;
  }
  card::End end = nullptr;
  LxStatus status = card.bind("End", NameForm::NameThenPrefix, &end);
  if (status != LX_OK) {
    return status;
  }
  if (end(card->context) == 0) {
    return LX_INTERNAL_ERROR;  // the card library still holds the context: the handle stays
  }
  // The context is gone, so the handle must go too whatever happens to the
  // mask: a handle kept now would end a dead context on every retry. A mask
  // block the service refuses to free stays with the process until it ends.
  dropOpenCount(card->cardIndex);
  if (card->dynamicMemory.UserAddress != 0) {
    LxDevFreeDynamicMem(&card->dynamicMemory);
  }
  const int32_t cardTypeIndex = card->cardTypeIndex;
  status = LxDevCloseDriver(cardTypeIndex);
  card->kindTag = 0;  // a stale copy of the handle is no card handle
  card.unlock();
  GlobalFree(handle);
  return status;
}

LX_EXPORT LxStatus LxGetCardTotal(int32_t* total) {
  if (total == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  int32_t sum = 0;
  for (int32_t type = 0; type < LX_CARD_TYPE_COUNT; ++type) {
    int32_t count = 0;
    if (LxDevGetCardNumber(type, &count) == LX_OK) {
      sum += count;
    }
  }
  *total = sum;
  return LX_OK;
}

LX_EXPORT LxStatus LxGetCardType(LxCardHandle handle, int32_t* type) {
  if (type == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  *type = card->cardTypeIndex;
  return LX_OK;
}

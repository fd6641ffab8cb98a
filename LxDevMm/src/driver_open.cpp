// Opening and closing a card type's library, and the snapshot that the first
// open takes of card counts and static-memory info.
#include <windows.h>

#include "card_counting.h"
#include "card_type_table.h"
#include "devmm_state.h"
#include "lx/devmm.h"
#include "static_mem_info.h"

namespace lxdevmm {
namespace {

void takeSnapshot(DevMmState& state) {
  for (int t = 0; t < LX_CARD_TYPE_COUNT; ++t) {
    int32_t* cell = state.countCells[t].exchange(nullptr);
    state.counts[t].store(cell != nullptr ? *cell : countCardsInLibrary(t));
    delete cell;
  }
  StaticMemInfo* cell = state.staticMemCell.exchange(nullptr);
  state.staticMemInfo.store(cell != nullptr ? *cell : fetchStaticMemInfo());
  delete cell;
  state.initialised.store(1);
}

}  // namespace
}  // namespace lxdevmm

using namespace lxdevmm;

LX_EXPORT LxStatus LxDevOpenDriver(int cardTypeIndex) {
  if (!LxIsCardTypeIndex(cardTypeIndex)) {
    return LX_PARAMETER_INVALID;
  }
  DevMmState& state = devMmState();
  if (state.initialised.load() == 0) {
    takeSnapshot(state);
  }
  if (LoadLibraryA(kCardTypeTable[cardTypeIndex].moduleFileName) == nullptr) {
    return LX_OPEN_DRIVER_FAILED;
  }
  state.openReferences[cardTypeIndex].fetch_add(1);
  return LX_OK;
}

LX_EXPORT LxStatus LxDevCloseDriver(int cardTypeIndex) {
  if (!LxIsCardTypeIndex(cardTypeIndex)) {
    return LX_PARAMETER_INVALID;
  }
  // Only a reference that an open took is dropped; a surplus close must not
  // unload a library that another card or module still uses.
  std::atomic<int32_t>& references = devMmState().openReferences[cardTypeIndex];
  int32_t held = references.load();
  do {
    if (held <= 0) {
      return LX_OK;
    }
  } while (!references.compare_exchange_weak(held, held - 1));
  if (HMODULE module = GetModuleHandleA(kCardTypeTable[cardTypeIndex].moduleFileName)) {
    FreeLibrary(module);
  }
  return LX_OK;
}

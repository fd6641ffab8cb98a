#include "card_counting.h"

#include <array>
#include <new>

#include <windows.h>

#include "card_type_table.h"
#include "devmm_state.h"
#include "function_binding.h"
#include "lx/devmm.h"

namespace lxdevmm {

int32_t countCardsInLibrary(int cardTypeIndex) {
  HMODULE loaded = LoadLibraryA(kCardTypeTable[cardTypeIndex].moduleFileName);
  int32_t count = 0;
  LxDevProc getCardNumber = nullptr;
  if (bindCardFunction(cardTypeIndex, "GetCardNumber", &getCardNumber, true, true) == LX_OK) {
    count = reinterpret_cast<int32_t (*)()>(getCardNumber)();
  }
  // Drop only the reference taken above, never one held by somebody else.
  if (loaded != nullptr) {
    FreeLibrary(loaded);
  }
  // A negative answer is a library's failure value, not a number of cards;
  // counted as one it would shift the global numbers of every later type.
  return count > 0 ? count : 0;
}

int32_t cardCountOfType(int cardTypeIndex) {
  if (!LxIsCardTypeIndex(cardTypeIndex)) {
    return 0;
  }
  DevMmState& state = devMmState();
  if (state.initialised.load() != 0) {
    return state.counts[cardTypeIndex].load();
  }
  if (int32_t* cell = state.countCells[cardTypeIndex].load()) {
    return *cell;
  }
  int32_t* cell = new (std::nothrow) int32_t(0);
  if (cell == nullptr) {
    return 0;  // nothing cached, so a later call retries
  }
  *cell = countCardsInLibrary(cardTypeIndex);
  int32_t* installed = nullptr;
  if (!state.countCells[cardTypeIndex].compare_exchange_strong(installed, cell)) {
    delete cell;  // another thread counted first; keep its answer
    return *installed;
  }
  return *cell;
}

}  // namespace lxdevmm

LX_EXPORT LxStatus LxDevGetCardNumber(int cardTypeIndex, int32_t* count) {
  if (count == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  *count = lxdevmm::cardCountOfType(cardTypeIndex);
  return LxIsCardTypeIndex(cardTypeIndex) ? LX_OK : LX_PARAMETER_INVALID;
}

LX_EXPORT LxStatus LxDevGetTypeFromIndex(int cardIndex, int32_t* cardTypeIndex, int32_t* indexInType) {
  if (cardTypeIndex == nullptr || indexInType == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  // Global card numbers start at 1; nothing maps to 0 or below.
  if (cardIndex <= 0) {
    return LX_NO_CARD_FOUND;
  }
  std::array<int32_t, LX_CARD_TYPE_COUNT> counts{};
  for (int t = 0; t < LX_CARD_TYPE_COUNT; ++t) {
    counts[t] = lxdevmm::cardCountOfType(t);
  }
  int64_t total = 0;  // five int32 counts cannot overflow it
  for (int t = 0; t < LX_CARD_TYPE_COUNT; ++t) {
    total += counts[t];
    if (cardIndex <= total) {
      *cardTypeIndex = t;
      *indexInType = static_cast<int32_t>(cardIndex - (total - counts[t]));
      return LX_OK;
    }
  }
  return LX_NO_CARD_FOUND;
}

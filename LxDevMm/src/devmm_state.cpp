#include "devmm_state.h"

namespace lxdevmm {
namespace {

constinit DevMmState gState;

// Library attach: the record starts zeroed (static storage); nothing to do
// beyond making that explicit for a reload into the same address space.
__attribute__((constructor)) void attachDevMm() {
  gState.initialised.store(0);
  for (int t = 0; t < LX_CARD_TYPE_COUNT; ++t) {
    gState.counts[t].store(0);
    gState.countCells[t].store(nullptr);
    gState.openReferences[t].store(0);
  }
  gState.staticMemInfo.store({});
  gState.staticMemCell.store(nullptr);
}

// Library detach: cells go; card libraries still loaded stay with whoever
// opened them.
__attribute__((destructor)) void detachDevMm() { freeStateCells(); }

}  // namespace

DevMmState& devMmState() { return gState; }

void freeStateCells() {
  for (auto& cell : gState.countCells) {
    delete cell.exchange(nullptr);
  }
  delete gState.staticMemCell.exchange(nullptr);
}

}  // namespace lxdevmm

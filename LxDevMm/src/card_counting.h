// Card counts per type: asked of each card library, cached in lazily
// allocated cells until the first open freezes them in a snapshot.
#pragma once

#include <cstdint>

namespace lxdevmm {

// Loads the type's library, calls its <prefix>GetCardNumber and releases the
// library again. A missing library or export counts 0 cards.
int32_t countCardsInLibrary(int cardTypeIndex);

// The count of a type as the device manager currently knows it: frozen
// snapshot, cached cell, or a fresh count that fills the cell. 0 for an index
// outside the table.
int32_t cardCountOfType(int cardTypeIndex);

}  // namespace lxdevmm

// The fixed table of card types: the prefix of each type's exported names and
// the file name of its card library, each in a 100-byte field.
#pragma once

#include <stddef.h>

#include "lx/card_type.h"

namespace lxdevmm {

inline constexpr size_t kCardTypeFieldBytes = 100;

struct CardTypeEntry {
  char prefix[kCardTypeFieldBytes];
  char moduleFileName[kCardTypeFieldBytes];
};

extern const CardTypeEntry kCardTypeTable[LX_CARD_TYPE_COUNT];

}  // namespace lxdevmm

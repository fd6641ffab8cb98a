#include "card_type_table.h"

namespace lxdevmm {

// Only the TernCard library belongs to this stack; the other rows work with
// whatever library of that name is installed, and count 0 cards without one.
const CardTypeEntry kCardTypeTable[LX_CARD_TYPE_COUNT] = {
    {"Heron", "Herond32.dll"},
    {"Egret", "Egretd32.dll"},
    {"Stork", "Storkd32.dll"},
    {"Crane", "Craned32.dll"},
    {"TernCard", "TernCard.dll"},
};

}  // namespace lxdevmm

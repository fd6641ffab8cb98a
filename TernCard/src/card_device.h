// Finding and opening cards: members of the card's device interface class,
// in the order the system enumerates them.
#pragma once

#include <cstdint>

#include <windows.h>

namespace terncard {

// Opens interface member `index` (card number - 1); null when there is no
// such member or it cannot be opened.
HANDLE OpenCardDevice(uint32_t index);

}  // namespace terncard
